// COM names to device paths: arguments, environment, devices present.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <string>

#include "serial/PortMap.h"
#include "serial/SerialLine.h"

namespace {

bool Parse(std::vector<const char*> args, std::map<int, std::string>& paths, std::string& error)
{
    args.insert(args.begin(), "vorla");
    return CPortMap::ParseArguments(static_cast<int>(args.size()), args.data(), paths, error);
}

} // namespace

TEST(PortMap, ArgumentsMapPortsAndLeaveOtherArgumentsAlone)
{
    std::map<int, std::string> paths;
    std::string error;
    ASSERT_TRUE(Parse({"--demo", "--port", "COM2=/dev/ttyUSB0", "file.txt", "--port=com8=/tmp/a=b",
                       "--port", "COM2=/dev/ttyACM1"},
                      paths, error))
        << error;
    EXPECT_EQ(paths, (std::map<int, std::string>{{2, "/dev/ttyACM1"}, {8, "/tmp/a=b"}}));
}

TEST(PortMap, BadArgumentsGiveAClearError)
{
    struct {
        std::vector<const char*> args;
        const char* says;
    } cases[] = {
        {{"--port", "COM9=/dev/x"}, "COM1 to COM8"},
        {{"--port", "COM0=/dev/x"}, "COM1 to COM8"},
        {{"--port", "LPT1=/dev/x"}, "COM1 to COM8"},
        {{"--port", "=/dev/x"}, "COM1 to COM8"},
        {{"--port", "COM1"}, "expected COMn=PATH"},
        {{"--port", "COM1="}, "path is empty"},
        {{"--port"}, "needs COMn=PATH"},
        {{"--port=COM12=/dev/x"}, "COM1 to COM8"},
    };
    for (auto& c : cases) {
        std::map<int, std::string> paths;
        std::string error;
        EXPECT_FALSE(Parse(c.args, paths, error)) << c.args.back();
        EXPECT_NE(error.find(c.says), std::string::npos) << error;
    }
}

TEST(PortMap, ArgumentsThenEnvironmentThenPresentDevices)
{
    std::map<std::string, std::string> env = {{"VORLA_COM1", "/dev/env1"}, {"VORLA_COM2", "/dev/env2"},
                                              {"VORLA_COM5", ""}};
    auto getEnv = [&](const char* name) -> const char* {
        auto it = env.find(name);
        return it == env.end() ? nullptr : it->second.c_str();
    };
    CPortMap map;
    map.Build({{2, "/dev/arg2"}}, getEnv,
              {"/dev/ttyUSB0", "/dev/arg2", "/dev/ttyUSB1", "/dev/ttyACM0", "/dev/ttyS0", "/dev/ttyS1", "/dev/ttyS2",
               "/dev/ttyS3", "/dev/ttyS4"});
    const char* expected[] = {"", "/dev/env1", "/dev/arg2", "/dev/ttyUSB0", "/dev/ttyUSB1",
                              "/dev/ttyACM0", "/dev/ttyS0", "/dev/ttyS1", "/dev/ttyS2"};
    for (int n = 1; n <= 8; ++n)
        EXPECT_EQ(map.PathFor(n), expected[n]) << n;
    EXPECT_EQ(map.SourceOf(1), CPortMap::ESource::Environment);
    EXPECT_EQ(map.SourceOf(2), CPortMap::ESource::Argument);
    EXPECT_EQ(map.SourceOf(3), CPortMap::ESource::Present);
    EXPECT_EQ(map.Description(2), "/dev/arg2 (from --port)");
    EXPECT_EQ(map.Description(1), "/dev/env1 (from VORLA_COM1)");
    EXPECT_EQ(map.Description(3), "/dev/ttyUSB0 (found at start)");
    EXPECT_EQ(map.PathFor(0), "");
    EXPECT_EQ(map.PathFor(9), "");

    map.Map(1, "/dev/pts/9");
    EXPECT_EQ(map.Description(1), "/dev/pts/9 (simulated modem)");
    map.Map(4, "");
    EXPECT_EQ(map.Description(4), "COM4 is not mapped to a device");
    map.Map(12, "/dev/x"); // ignored
    EXPECT_EQ(map.PathFor(12), "");
}

TEST(PortMap, PortNumbers)
{
    EXPECT_EQ(CPortMap::PortNumber("COM1"), 1);
    EXPECT_EQ(CPortMap::PortNumber("COM8"), 8);
    for (const char* bad : {"COM0", "COM9", "COM10", "COM", "com1", "", "XCOM1"})
        EXPECT_EQ(CPortMap::PortNumber(bad), 0) << bad;
}

namespace {

std::string Unresolved(const std::string&) { return {}; }

SSerialDevice Usb(const std::string& id, const std::string& node)
{
    return {"/dev/serial/by-id/" + id, node, "/real/" + id, "Maker " + id};
}

} // namespace

// Replugs: a name follows its device by its by-id link, whatever node the
// device gets; a new device never takes the name of one that is away.
TEST(PortMap, HotPlugKeepsEachNameWithItsDevice)
{
    CPortMap map;
    map.Build({}, [](const char*) { return nullptr; }, {"/dev/ttyUSB0"});
    EXPECT_TRUE(map.Update({Usb("A", "/dev/ttyUSB0")}, Unresolved));
    EXPECT_EQ(map.PathFor(1), "/dev/serial/by-id/A"); // the node found at start now goes by its link
    EXPECT_EQ(map.ListText(1), "COM1 — /dev/ttyUSB0 — Maker A");
    EXPECT_FALSE(map.Update({Usb("A", "/dev/ttyUSB0")}, Unresolved));

    EXPECT_TRUE(map.Update({}, Unresolved)); // A unplugged
    EXPECT_FALSE(map.IsPresent(1));
    EXPECT_EQ(map.ListText(1), "COM1 — /dev/ttyUSB0 — Maker A (absent)");
    EXPECT_EQ(map.Description(1), "/dev/serial/by-id/A (found at start, absent)");

    map.Update({Usb("B", "/dev/ttyUSB0")}, Unresolved); // another device on A's old node
    EXPECT_FALSE(map.IsPresent(1));
    EXPECT_EQ(map.PathFor(2), "/dev/serial/by-id/B");
    EXPECT_EQ(map.SourceOf(2), CPortMap::ESource::Plugged);

    map.Update({Usb("B", "/dev/ttyUSB0"), Usb("A", "/dev/ttyUSB1")}, Unresolved); // A back, on another node
    EXPECT_TRUE(map.IsPresent(1));
    EXPECT_EQ(map.Entry(1).node, "/dev/ttyUSB1");
    EXPECT_EQ(map.PathFor(2), "/dev/serial/by-id/B");
    EXPECT_EQ(map.PathFor(3), "");
}

// Names given by --port or VORLA_COMn stay as given and keep their device
// from taking a second name; with every name taken, a newcomer takes the
// name of a device that is away, but never the one kept for the open port.
TEST(PortMap, GivenNamesStayAndFreeNamesRunOut)
{
    CPortMap map;
    map.Build({{2, "/dev/mine"}}, [](const char*) { return nullptr; }, {});
    auto resolve = [](const std::string& path) { return path == "/dev/mine" ? std::string("/real/G") : std::string(); };
    map.Update({Usb("G", "/dev/ttyUSB3")}, resolve);
    EXPECT_EQ(map.PathFor(2), "/dev/mine");
    EXPECT_EQ(map.Entry(2).description, "Maker G");
    EXPECT_EQ(map.PathFor(1), "");
    map.Update({}, Unresolved);
    EXPECT_EQ(map.PathFor(2), "/dev/mine");
    EXPECT_FALSE(map.IsPresent(2));

    std::vector<SSerialDevice> many;
    for (char id = 'a'; id < 'h'; ++id)
        many.push_back(Usb(std::string(1, id), std::string("/dev/ttyACM") + id));
    map.Update(many, Unresolved);
    map.Update({}, Unresolved); // all away: COM1 and COM3..COM8
    map.Update({Usb("new", "/dev/ttyUSB9")}, Unresolved, 1);
    EXPECT_EQ(map.PathFor(1), "/dev/serial/by-id/a"); // kept
    EXPECT_EQ(map.PathFor(3), "/dev/serial/by-id/new");
    EXPECT_EQ(map.PathFor(2), "/dev/mine");
}

// udev makes the node before its by-id link: the name the node took for a
// moment goes once the link leads the device back to its own name.
TEST(PortMap, NodeSeenBeforeItsLinkLeavesNoSecondName)
{
    CPortMap map;
    map.Build({}, [](const char*) { return nullptr; }, {});
    map.Update({Usb("A", "/dev/ttyUSB0")}, Unresolved);
    map.Update({}, Unresolved);
    const SSerialDevice bare{"/dev/ttyUSB0", "/dev/ttyUSB0", "/real/A", "Maker A"};
    map.Update({bare}, Unresolved, 1);
    EXPECT_EQ(map.PathFor(2), "/dev/ttyUSB0");
    map.Update({Usb("A", "/dev/ttyUSB0")}, Unresolved, 1);
    EXPECT_TRUE(map.IsPresent(1));
    EXPECT_EQ(map.PathFor(2), "");
}

// Windows lists its ports as COM names: each keeps its own number, others
// (COM12) fill the numbers left, and one plugged in later takes its own.
TEST(PortMap, DevicesNamedLikePortsKeepTheirNumbers)
{
    CPortMap map;
    map.Build({}, [](const char*) -> const char* { return nullptr; }, {"COM3", "COM5", "COM12"});
    EXPECT_EQ(map.PathFor(3), "COM3");
    EXPECT_EQ(map.PathFor(5), "COM5");
    EXPECT_EQ(map.PathFor(1), "COM12");
    std::vector<SSerialDevice> devices;
    for (const char* name : {"COM3", "COM5", "COM12", "COM7"})
        devices.push_back({name, name, name, ""});
    map.Update(devices, [](const std::string& path) { return path; });
    EXPECT_EQ(map.PathFor(7), "COM7");
    EXPECT_EQ(map.PathFor(2), "");
}
