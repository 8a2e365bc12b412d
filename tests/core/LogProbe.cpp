// Writes log records through the tool's own log configuration, for the logging
// tests. Usage: qel_log_probe MODE [logging switches...]
//   records   one INFO, one ERROR, one VERBOSE 1 and one VERBOSE 6 record
//   fill N    N INFO records of 100 bytes of text each
//   threads   two threads writing 2000 VERBOSE 1 records each
//   segv      raises SIGSEGV after one INFO record
#include "LogSetup.h"

#include <easylogging++.h>

#include <csignal>
#include <cstdlib>
#include <string>
#include <thread>

namespace {

void WriteRecords()
{
    LOG(INFO) << "probe info record";
    LOG(ERROR) << "probe error record";
    VLOG(1) << "probe verbose record";
    VLOG(6) << "probe chatty record";
}

void Fill(long count)
{
    const std::string text(100, 'x');
    for (long i = 0; i < count; ++i) {
        LOG(INFO) << text;
    }
}

void Threads()
{
    auto writer = [](char letter) {
        const std::string text(200, letter);
        for (int i = 0; i < 2000; ++i) {
            VLOG(1) << text;
        }
    };
    std::thread first(writer, 'a');
    std::thread second(writer, 'b');
    first.join();
    second.join();
}

} // namespace

int main(int argc, char* argv[])
{
    el::Helpers::setArgs(argc, argv);
    ConfigureLogging();
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "records") {
        WriteRecords();
    } else if (mode == "fill" && argc > 2) {
        Fill(std::atol(argv[2]));
    } else if (mode == "threads") {
        Threads();
    } else if (mode == "segv") {
        LOG(INFO) << "probe info record";
        std::raise(SIGSEGV);
    } else {
        return 2;
    }
    return 0;
}
