// The platform layer on a pseudo-terminal of the test's own.
//
// The kernel's termios2 header clashes with <termios.h>; nothing here
// includes the latter.
#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "serial/SerialLine.h"

namespace {

// A pseudo-terminal pair: the test holds the controlling side, the line
// opens the device side. Settings read on the controlling side are the
// device side's.
class CPty {
public:
    CPty() : m_master(posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC))
    {
        if (m_master >= 0 && grantpt(m_master) == 0 && unlockpt(m_master) == 0)
            if (const char* name = ptsname(m_master))
                m_path = name;
    }
    ~CPty()
    {
        if (m_master >= 0)
            close(m_master);
    }
    const std::string& Path() const { return m_path; }
    bool Get(termios2& t) const
    {
        std::memset(&t, 0, sizeof t);
        return ioctl(m_master, TCGETS2, &t) == 0;
    }
    bool Set(const termios2& t) const { return ioctl(m_master, TCSETS2, &t) == 0; }

private:
    int m_master;
    std::string m_path;
};

bool Same(const termios2& a, const termios2& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

} // namespace

// Careful terminal programs leave the line as they found it: a cooked line
// at 4800 with 2 stop bits, XON/XOFF and its own start character comes back
// after being opened raw and set to 115 200, 1 stop bit, no XON/XOFF.
TEST(SerialLine, CloseRestoresTheSettingsFoundAtOpen)
{
    CPty pty;
    ASSERT_FALSE(pty.Path().empty());
    termios2 original;
    ASSERT_TRUE(pty.Get(original));
    original.c_cflag = (original.c_cflag & ~(CBAUD | (CBAUD << IBSHIFT))) | B4800 | (B4800 << IBSHIFT) | CSTOPB;
    original.c_ispeed = original.c_ospeed = 4800;
    original.c_iflag |= IXON | ICRNL;
    original.c_lflag |= ICANON | ECHO | ISIG;
    original.c_cc[VSTART] = 0x05;
    original.c_cc[VMIN] = 0;
    ASSERT_TRUE(pty.Set(original));
    ASSERT_TRUE(pty.Get(original)); // as the driver keeps it

    CSerialLine line;
    std::string reason;
    ASSERT_TRUE(line.Open(pty.Path(), reason)) << reason;
    DCB dcb;
    dcb.BaudRate = 115200;
    ASSERT_TRUE(line.ApplyDcb(dcb, reason)) << reason;
    ASSERT_TRUE(line.SetTimeouts());
    termios2 open;
    ASSERT_TRUE(pty.Get(open));
    EXPECT_EQ(open.c_ospeed, 115200u);
    EXPECT_EQ(open.c_lflag & ICANON, 0u);
    EXPECT_EQ(open.c_iflag & IXON, 0u);

    line.Close();
    termios2 after;
    ASSERT_TRUE(pty.Get(after));
    EXPECT_TRUE(Same(after, original)) << "speed " << after.c_ospeed << " cflag " << std::oct << after.c_cflag
                                       << " iflag " << after.c_iflag << " lflag " << after.c_lflag;

    // A second opening finds the original settings too, and so does the
    // destructor's close.
    {
        CSerialLine again;
        ASSERT_TRUE(again.Open(pty.Path(), reason)) << reason;
        DCB read;
        ASSERT_TRUE(again.ReadDcb(read));
        EXPECT_EQ(read.BaudRate, 4800u);
        EXPECT_EQ(read.StopBits, TWOSTOPBITS);
    }
    ASSERT_TRUE(pty.Get(after));
    EXPECT_TRUE(Same(after, original));
}
