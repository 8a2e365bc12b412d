// The RTSP client's whole response handling: the bytes a server sends, cut
// into reads where the input says, go through a connected client that asks
// DESCRIBE, then SETUP of every subsession of the SDP it gets, PLAY,
// GET_PARAMETER and TEARDOWN, each as soon as the one before is answered.
// Input: pieces of "length byte L, (L + 1) * 16 bytes" (the last one cut to
// what is left); each piece is one write of the server.
#include "MediaSession.h"
#include "RTSPClient.h"
#include "TaskScheduler.h"
#include "UsageEnvironment.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <sstream>

namespace {

class FuzzClient final : public RTSPClient {
public:
    FuzzClient(UsageEnvironment& env, int socket)
        : RTSPClient(env, "rtsp://127.0.0.1/ch0", 0, nullptr, 0, socket)
    {
    }
    ~FuzzClient() override { Medium::close(session); }
    MediaSession* session = nullptr;
};

void AfterTeardown(RTSPClient*, int, char* text)
{
    delete[] text;
}

void AfterGetParameter(RTSPClient* client, int code, char* text)
{
    delete[] text;
    auto* self = static_cast<FuzzClient*>(client);
    if (code == 0) {
        self->sendTeardownCommand(*self->session, AfterTeardown);
    }
}

void AfterPlay(RTSPClient* client, int code, char* text)
{
    delete[] text;
    auto* self = static_cast<FuzzClient*>(client);
    if (code == 0) {
        self->sendGetParameterCommand(*self->session, AfterGetParameter, nullptr);
    }
}

void AfterSetup(RTSPClient* client, int code, char* text)
{
    delete[] text;
    auto* self = static_cast<FuzzClient*>(client);
    if (code == 0) {
        self->sendPlayCommand(*self->session, AfterPlay);
    }
}

void AfterDescribe(RTSPClient* client, int code, char* text)
{
    auto* self = static_cast<FuzzClient*>(client);
    if (code == 0 && self->session == nullptr) {
        self->session = MediaSession::createNew(self->envir(), text);
        if (self->session != nullptr) {
            MediaSubsessionIterator iter(*self->session);
            while (MediaSubsession* subsession = iter.next()) {
                self->sendSetupCommand(*subsession, AfterSetup);
            }
        }
    }
    delete[] text;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    int pair[2] = {-1, -1};
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, pair) != 0) {
        return 0;
    }
    const int bufferSize = 4 * 1024 * 1024;
    setsockopt(pair[1], SOL_SOCKET, SO_SNDBUF, &bufferSize, sizeof(bufferSize));
    BasicTaskScheduler scheduler(0);
    std::ostringstream output;
    std::unique_ptr<UsageEnvironment> env(BasicUsageEnvironment::createNew(scheduler, &output));
    {
        FuzzClient client(*env, pair[0]);
        Authenticator authenticator("root", "vbnq");
        client.sendDescribeCommand(AfterDescribe, &authenticator);
        size_t offset = 0;
        char sink[65536];
        while (offset < size) {
            const size_t length =
                std::min<size_t>((static_cast<size_t>(data[offset]) + 1) * 16, size - offset - 1);
            ++offset;
            if (length > 0) {
                send(pair[1], data + offset, length, MSG_NOSIGNAL);
                offset += length;
            }
            scheduler.SingleStep(1);
            while (recv(pair[1], sink, sizeof(sink), 0) > 0) {
                // the client's requests are read and dropped
            }
        }
        for (int i = 0; i < 4; ++i) {
            scheduler.SingleStep(1);
        }
    }
    close(pair[1]);
    return 0;
}
