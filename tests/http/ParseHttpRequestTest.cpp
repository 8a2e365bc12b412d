#include "ParseHttpRequest.h"

#include <gtest/gtest.h>

using Map = std::map<std::string, std::string>;

TEST(ParseHttpRequest, SplitsLinesEndedByCrLfOrLf)
{
    EXPECT_EQ(ParseHttpRequest("host=10.0.0.5\r\nlogin=admin\r\n"),
              (Map{{"host", "10.0.0.5"}, {"login", "admin"}}));
    EXPECT_EQ(ParseHttpRequest("\n\r\nmodel=axis\rport=554"), (Map{{"model", "axis"}, {"port", "554"}}));
}

TEST(ParseHttpRequest, FirstOccurrenceOfAKeyWins)
{
    EXPECT_EQ(ParseHttpRequest("a=1\na=2\n"), (Map{{"a", "1"}}));
}

TEST(ParseHttpRequest, SplitsAtTheFirstEqualsSignOnly)
{
    // Values keep further "=" (base64 padding) and may be empty; a line
    // without "=" or without a key is skipped.
    EXPECT_EQ(ParseHttpRequest("login=YWRtaW4=\nhost=\nx=1=2\n=3\ny\n"),
              (Map{{"login", "YWRtaW4="}, {"host", ""}, {"x", "1=2"}}));
    EXPECT_TRUE(ParseHttpRequest("").empty());
}

TEST(ParseHttpRequest, KeepsSpacesAroundTheSeparator)
{
    EXPECT_EQ(ParseHttpRequest("k = v\n"), (Map{{"k ", " v"}}));
}

TEST(ParseHttpRequest, KeepsBytesAfterNulAndNonAscii)
{
    const std::string text("a=\x01\xff\nb=c\0d\n", 12);
    EXPECT_EQ(ParseHttpRequest(text), (Map{{"a", "\x01\xff"}, {"b", std::string("c\0d", 3)}}));
}

TEST(FindSourceHostAndLogin, GivesBothOrAClearFailure)
{
    std::string host = "old";
    std::string login = "old";
    QString error;
    ASSERT_TRUE(FindSourceHostAndLogin(ParseHttpRequest("host=10.0.0.5\nlogin=admin\n"), host, login, error));
    EXPECT_EQ(host, "10.0.0.5");
    EXPECT_EQ(login, "admin");

    host = login = "old";
    EXPECT_FALSE(FindSourceHostAndLogin(ParseHttpRequest("host=10.0.0.5\n"), host, login, error));
    EXPECT_EQ(error, QStringLiteral("The device's video source reply has no \"login\" value"));
    EXPECT_FALSE(FindSourceHostAndLogin(ParseHttpRequest("login=admin\n"), host, login, error));
    EXPECT_EQ(error, QStringLiteral("The device's video source reply has no \"host\" value"));
    EXPECT_EQ(host, "old");
    EXPECT_EQ(login, "old");
}
