#include <gtest/gtest.h>

#include "server/server_options.h"

namespace speech_server {
namespace {

using Action = ParsedCommandLine::Action;

TEST(CommandLine, DefaultsToLoopbackPort8080AndTwoWorkers) {
    const ParsedCommandLine parsed = ParseCommandLine({});
    ASSERT_EQ(parsed.action, Action::kRun);
    EXPECT_EQ(parsed.options.host, "127.0.0.1");
    EXPECT_EQ(parsed.options.port, 8080);
    EXPECT_EQ(parsed.options.workers, 2);
}

TEST(CommandLine, TakesValuesSeparateOrAfterAnEqualsSign) {
    const ParsedCommandLine parsed = ParseCommandLine({"--host", "::1", "--port=0", "--workers", "16"});
    ASSERT_EQ(parsed.action, Action::kRun) << parsed.error;
    EXPECT_EQ(parsed.options.host, "::1");
    EXPECT_EQ(parsed.options.port, 0);
    EXPECT_EQ(parsed.options.workers, 16);
}

TEST(CommandLine, HelpWinsOverLaterArguments) {
    EXPECT_EQ(ParseCommandLine({"--help", "--bogus"}).action, Action::kHelp);
    EXPECT_EQ(ParseCommandLine({"--port", "9000", "-h"}).action, Action::kHelp);
}

TEST(CommandLine, RefusesBadArgumentsWithAMessage) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--bogus"}, "unknown option --bogus"},
        {{"serve"}, "unexpected argument serve"},
        {{"--port"}, "option --port needs a value"},
        {{"--port", "65536"}, "--port must be a number from 0 to 65535, not \"65536\""},
        {{"--port", "-1"}, "--port must be a number from 0 to 65535, not \"-1\""},
        {{"--port=80x"}, "--port must be a number from 0 to 65535, not \"80x\""},
        {{"--port", ""}, "--port must be a number from 0 to 65535, not \"\""},
        {{"--workers", "0"}, "--workers must be a number from 1 to 16, not \"0\""},
        {{"--workers", "17"}, "--workers must be a number from 1 to 16, not \"17\""},
        {{"--workers", "99999999999"}, "--workers must be a number from 1 to 16, not \"99999999999\""},
        {{"--host="}, "--host needs a non-empty address"},
        {{"--help=yes"}, "option --help takes no value"},
    };
    for (const auto& [args, message] : cases) {
        const ParsedCommandLine parsed = ParseCommandLine(args);
        EXPECT_EQ(parsed.action, Action::kError) << message;
        EXPECT_EQ(parsed.error, message);
    }
}

TEST(CommandLine, UsageNamesEveryOptionAndTheLimits) {
    const std::string usage = UsageText("valdrin-server");
    for (const char* part : {"Usage: valdrin-server", "--host", "--port", "--workers", "--help", "POST /inference",
                             "GET /health", "16 MiB", "60 s", "422"})
        EXPECT_NE(usage.find(part), std::string::npos) << part;
}

}  // namespace
}  // namespace speech_server
