#pragma once

// The serial devices of this machine as the port list names them: each with
// the path that keeps leading to the same physical device across replugs,
// and for USB adapters the maker, product and serial number. The platform
// folder implements the scan (serial/linux/ reads /dev, /dev/serial/by-id
// and sysfs).

#include <string>
#include <vector>

// Where the platform keeps its device nodes, the stable links to them and
// its device descriptions. Parameters, so that tests can use directories of
// their own.
struct SDeviceDirs {
    std::string dev = "/dev";
    std::string byId = "/dev/serial/by-id";
    std::string sys = "/sys";
};

// One serial device present now.
struct SSerialDevice {
    std::string path;        // what a COM name leads to: the by-id link where there is one, else the node
    std::string node;        // the device node, e.g. /dev/ttyUSB0
    std::string target;      // the file both resolve to: two paths with one target are one device
    std::string description; // e.g. "FTDI FT232R USB UART (A10KXYZ)"; empty when the device has none
};

// What a USB device says about itself (its descriptor strings and ids).
struct SUsbIdentity {
    bool found = false; // a USB device lies behind the tty
    std::string maker;
    std::string product;
    std::string serial;
    std::string vendorId;  // four hex digits, e.g. "0403"
    std::string productId;
};

// Reads the USB identity behind a tty (e.g. "ttyUSB0") from the sysfs tree
// under sysRoot. Not found for a device on no USB bus (on-board UARTs).
SUsbIdentity ReadUsbIdentity(const std::string& ttyName, const std::string& sysRoot);

// "maker product (serial)", leaving out what is missing; the vendor and
// product ids when the device names neither maker nor product; empty when
// not found.
std::string DescribeUsbIdentity(const SUsbIdentity& identity);

// The serial devices present now, in the order they should fill free COM
// names: USB adapters, ACM modems, on-board UARTs (each in numeric order),
// then by-id links to anything else. A device with a by-id link is listed
// once, under its link.
std::vector<SSerialDevice> ScanSerialDevices(const SDeviceDirs& dirs);

// The file a path leads to after every link, or empty when it leads nowhere.
std::string ResolveDevicePath(const std::string& path);
