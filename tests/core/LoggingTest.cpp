// Runs the log probe with the tool's log configuration in a fresh working
// directory and checks what reaches logs/myeasylog.log.
#include "UrlLogText.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

class LoggingTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ = fs::temp_directory_path() /
               ("qel-log-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    int Probe(const std::string& arguments)
    {
        const std::string command = "cd '" + dir_.string() + "' && '" QEL_LOG_PROBE "' " + arguments +
                                    " >/dev/null 2>'" + (dir_ / "stderr").string() + "'";
        return std::system(command.c_str());
    }

    std::string Stderr() const
    {
        std::ifstream in(dir_ / "stderr");
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    std::vector<std::string> Lines() const
    {
        std::ifstream in(LogFile());
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);) {
            lines.push_back(line);
        }
        return lines;
    }

    fs::path LogFile() const { return dir_ / "logs" / "myeasylog.log"; }

    fs::path dir_;
};

TEST_F(LoggingTest, WithoutSwitchesOnlyInfoAndErrorRecordsAreWritten)
{
    ASSERT_EQ(Probe("records"), 0);
    const auto lines = Lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[0].find(" INFO [default] probe info record"), std::string::npos) << lines[0];
    EXPECT_NE(lines[1].find(" ERROR [default] probe error record"), std::string::npos) << lines[1];
}

TEST_F(LoggingTest, VerboseSwitchWritesVerboseRecordsInTheToolsFormat)
{
    ASSERT_EQ(Probe("records --v=1"), 0);
    const auto lines = Lines();
    ASSERT_EQ(lines.size(), 3u);
    // day.month.year time, level, verbose level, thread, user, function, file:line: message
    const std::regex verbose(
        R"(^\d\d\.\d\d\.\d{4} \d\d:\d\d:\d\d\.\d{3} VERBOSE 1 \d* \S+ .*WriteRecords.* \S*LogProbe\.cpp:\d+: probe verbose record$)");
    EXPECT_TRUE(std::regex_match(lines[2], verbose)) << lines[2];

    fs::remove_all(dir_ / "logs");
    ASSERT_EQ(Probe("records -v"), 0);
    EXPECT_EQ(Lines().size(), 4u) << "-v enables every verbose level";
}

TEST_F(LoggingTest, LogFileSwitchIsHonouredAndAnUnwritableFileIsReportedOnce)
{
    ASSERT_EQ(Probe("records --default-log-file=mine.log"), 0);
    std::ifstream mine(dir_ / "mine.log");
    std::string all((std::istreambuf_iterator<char>(mine)), {});
    EXPECT_NE(all.find("probe info record"), std::string::npos) << all;
    EXPECT_NE(all.find("probe error record"), std::string::npos) << all;
    EXPECT_EQ(fs::status(dir_ / "mine.log").permissions(), fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(Lines().size(), 0u);
    EXPECT_EQ(Stderr(), "");

    // A file where the log folder should be: no record can be written.
    fs::remove_all(dir_ / "logs");
    std::ofstream(dir_ / "logs") << "not a folder";
    ASSERT_EQ(Probe("records"), 0);
    EXPECT_EQ(Stderr(), "Cannot write the log file logs/myeasylog.log: Not a directory\n");
}

TEST_F(LoggingTest, FileStartsAgainEmptyAtTheSizeLimit)
{
    // Each record is about 160 bytes: 15000 of them pass 2097152 bytes once.
    ASSERT_EQ(Probe("fill 15000"), 0);
    const auto size = fs::file_size(LogFile());
    EXPECT_LT(size, 2097152u + 400u);
    const auto lines = Lines();
    const size_t kept = lines.size();
    EXPECT_GT(kept, 0u);
    EXPECT_LT(kept, 15000u) << "the older records were dropped when the file restarted";
}

TEST_F(LoggingTest, RecordsFromTwoThreadsDoNotInterleave)
{
    ASSERT_EQ(Probe("threads --v=1"), 0);
    const auto lines = Lines();
    ASSERT_EQ(lines.size(), 4000u);
    const std::regex whole(R"(^.*: (a{200}|b{200})$)");
    for (const auto& line : lines) {
        ASSERT_TRUE(std::regex_match(line, whole)) << line;
    }
}

TEST_F(LoggingTest, CrashHandlerWritesAFatalRecordAndAborts)
{
    const int status = Probe("segv");
    EXPECT_NE(status, 0);
    std::ostringstream all;
    for (const auto& line : Lines()) {
        all << line << '\n';
    }
    EXPECT_NE(all.str().find("CRASH HANDLED; Application has crashed due to [SIGSEGV] signal"),
              std::string::npos)
        << all.str();
}

// Texts that reach the log may quote requests and configurations: every
// password value is masked however it is spaced, the rest is kept.
TEST(SecretFreeText, MasksPasswordValuesHoweverSpaced)
{
    const std::pair<std::string, std::string> cases[] = {
        {"password=abc def&login=x", "password=***&login=x"},
        {"a?Password = abc def\nnext", "a?Password = ***\nnext"},
        {"password =\t'a b'&c", "password =\t'***'&c"},
        {"source { password : \"x\\\" y\" }", "source { password : \"***\" }"},
        {"{\"password\": \"x\"}", "{\"password\": \"***\"}"},
        {"newpassword=x\"rest", "newpassword=***\"rest"},
        {"Failed to change password: invalid password", "Failed to change password: invalid password"},
        {"Passwords are not equal", "Passwords are not equal"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SecretFreeText(c.first), c.second) << c.first;
    }
}

} // namespace
