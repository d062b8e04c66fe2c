#include <gtest/gtest.h>

#include <vector>

#include "app/CommandLine.h"

namespace {

SCommandLine Parse(std::vector<const char*> args)
{
    args.insert(args.begin(), "vorla");
    return ParseCommandLine(int(args.size()), args.data());
}

} // namespace

TEST(CommandLine, PrintingOptionsWinAndBadOptionsAreRefused)
{
    EXPECT_EQ(Parse({"--demo", "--help"}).action, SCommandLine::EAction::Help);
    // --version answers even beside an option that would be an error.
    EXPECT_EQ(Parse({"--bogus", "--version"}).action, SCommandLine::EAction::Version);

    const SCommandLine unknown = Parse({"--demo", "--bogus"});
    EXPECT_EQ(unknown.action, SCommandLine::EAction::Error);
    EXPECT_NE(unknown.error.find("--bogus"), std::string::npos);
    EXPECT_EQ(Parse({"--port", "COM9=/dev/x"}).action, SCommandLine::EAction::Error);
    EXPECT_EQ(Parse({"--port"}).action, SCommandLine::EAction::Error);
}

TEST(CommandLine, RunArgumentsAndQtOptionsPassThrough)
{
    const SCommandLine line =
        Parse({"-platform", "offscreen", "--port", "COM2=/dev/ttyUSB0", "--demo", "-style=fusion", "log.txt"});
    ASSERT_EQ(line.action, SCommandLine::EAction::Run) << line.error;
    EXPECT_TRUE(line.demo);
    EXPECT_EQ(line.file, "log.txt");
    EXPECT_EQ(line.portPaths.at(2), "/dev/ttyUSB0");
    // The value of a Qt option is not taken for the file.
    EXPECT_EQ(Parse({"-style", "fusion"}).file, "");
}
