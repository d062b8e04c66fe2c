// The serial devices as the port list names them: USB identities from a
// fake sysfs tree, by-id links, and the hint for a refused open.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include "serial/SerialDevices.h"
#include "serial/SerialLine.h"

namespace {

const std::string kSys = std::string(VORLA_TEST_DATA) + "/sysfs";

// A temporary directory, removed with what it holds.
struct STempDir {
    std::string path;
    STempDir()
    {
        char name[] = "/tmp/vorla-devices-XXXXXX";
        path = mkdtemp(name) ? name : "";
    }
    ~STempDir() { std::filesystem::remove_all(path); }
};

} // namespace

TEST(PortDevices, UsbIdentityComesFromTheNearestUsbDeviceInSysfs)
{
    const SUsbIdentity ftdi = ReadUsbIdentity("ttyUSB0", kSys);
    EXPECT_TRUE(ftdi.found);
    EXPECT_EQ(ftdi.vendorId + ":" + ftdi.productId, "0403:6001"); // the adapter, not its root hub
    EXPECT_EQ(DescribeUsbIdentity(ftdi), "FTDI FT232R USB UART (A10KXYZ)");

    // Strings as a device may send them: a control byte shown as '?', blanks
    // trimmed, an overlong maker cut without splitting a character.
    std::string maker;
    for (int i = 0; i < 15; ++i)
        maker += "M\xc3\xbcller ";
    maker += "M\xc3\xbcll";
    EXPECT_EQ(DescribeUsbIdentity(ReadUsbIdentity("ttyACM0", kSys)), maker + " Uno?R3 (7583335)");
    EXPECT_EQ(DescribeUsbIdentity(ReadUsbIdentity("ttyUSB1", kSys)), "USB device 1a86:7523");
    for (const char* notUsb : {"ttyS0", "ttyUSB7", "../class", ""})
        EXPECT_FALSE(ReadUsbIdentity(notUsb, kSys).found) << notUsb;
    EXPECT_EQ(DescribeUsbIdentity(ReadUsbIdentity("ttyS0", kSys)), "");
}

TEST(PortDevices, ScanNamesEachDeviceOnceByItsStableLink)
{
    STempDir root;
    const SDeviceDirs dirs{root.path + "/dev", root.path + "/dev/serial/by-id", kSys};
    std::filesystem::create_directories(dirs.byId);
    for (const char* name : {"ttyS0", "ttyACM0", "ttyUSB1", "ttyUSB0"})
        std::ofstream(dirs.dev + "/" + name).put('\n');
    const std::string link = dirs.byId + "/usb-FTDI_FT232R_USB_UART_A10KXYZ-if00-port0";
    ASSERT_EQ(symlink("../../ttyUSB0", link.c_str()), 0);
    ASSERT_EQ(symlink("../../ttyUSB9", (dirs.byId + "/usb-gone").c_str()), 0); // left behind by an unplug

    const std::vector<SSerialDevice> found = ScanSerialDevices(dirs);
    ASSERT_EQ(found.size(), 4u);
    EXPECT_EQ(found[0].path, link);
    EXPECT_EQ(found[0].node, dirs.dev + "/ttyUSB0");
    EXPECT_EQ(found[0].target, ResolveDevicePath(link));
    EXPECT_EQ(found[0].description, "FTDI FT232R USB UART (A10KXYZ)");
    EXPECT_EQ(found[1].path, dirs.dev + "/ttyUSB1");
    EXPECT_EQ(found[2].path, dirs.dev + "/ttyACM0");
    EXPECT_EQ(found[3].path, dirs.dev + "/ttyS0");
    EXPECT_EQ(found[3].description, "");
    EXPECT_EQ(ResolveDevicePath(dirs.byId + "/usb-gone"), "");
}

TEST(PortDevices, PermissionHintNamesTheGroupAndTheFix)
{
    const group* dialout = getgrnam("dialout");
    if (!dialout || getegid() == dialout->gr_gid)
        GTEST_SKIP() << "needs a group dialout that this session is not in";
    STempDir root;
    const std::string device = root.path + "/ttyUSB0", link = root.path + "/by-id-link";
    std::ofstream(device).put('\n');
    ASSERT_EQ(symlink(device.c_str(), link.c_str()), 0);
    ASSERT_EQ(chown(device.c_str(), geteuid(), dialout->gr_gid), 0);
    // The device behind the link is named, with its group and the fix.
    EXPECT_EQ(PermissionDeniedReason(link), "permission denied: " + ResolveDevicePath(device) +
                                                " belongs to group dialout; add yourself with: sudo usermod -aG "
                                                "dialout $USER, then log in again");
    // A group the session is in already: the mode is what stands in the way.
    ASSERT_EQ(chown(device.c_str(), geteuid(), getegid()), 0);
    ASSERT_EQ(chmod(device.c_str(), 0600), 0);
    const std::string reason = PermissionDeniedReason(device);
    EXPECT_NE(reason.find("which this session is in, but its mode 0600"), std::string::npos) << reason;
}

// The Linux scan of /dev and sysfs behind CPortMap::Build.
TEST(PortMap, PresentDevicesInFamilyThenNumericOrder)
{
    char dir[] = "/tmp/vorla-dev-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    std::string dev = std::string(dir) + "/dev", sys = std::string(dir) + "/sys";
    mkdir(dev.c_str(), 0700);
    mkdir(sys.c_str(), 0700);
    for (const char* name : {"ttyS1", "ttyUSB10", "ttyACM0", "ttyUSB2", "ttyS0", "ttyS5", "tty0", "ttyUSBx", "ttyS"})
        std::ofstream(dev + "/" + name).put('\n');
    // ttyS0 has no UART behind it (type 0); ttyS1 has one; ttyS5 has no sysfs entry.
    for (auto [name, type] : {std::pair{"ttyS0", "0"}, std::pair{"ttyS1", "4"}}) {
        mkdir((sys + "/" + name).c_str(), 0700);
        std::ofstream(sys + "/" + name + "/type") << type << "\n";
    }
    auto found = FindSerialDevices(dev, sys);
    std::vector<std::string> expected;
    for (const char* name : {"ttyUSB2", "ttyUSB10", "ttyACM0", "ttyS1", "ttyS5"})
        expected.push_back(dev + "/" + name);
    EXPECT_EQ(found, expected);
    EXPECT_TRUE(FindSerialDevices(std::string(dir) + "/missing", sys).empty());
    std::string cleanup = std::string("rm -rf ") + dir;
    EXPECT_EQ(std::system(cleanup.c_str()), 0);
}
