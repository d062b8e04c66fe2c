// Control-block mapping onto Linux termios. Uses the kernel's termios2 so any
// rate can be set exactly (BOTHER); <termios.h> must not be included here.
#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <linux/serial.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>

#include "serial/linux/LineNative.h"
#include "serial/linux/LineSettings.h"

namespace {

constexpr tcflag_t kFrameBits = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS;
constexpr tcflag_t kInputBits = IXON | IXOFF | INPCK;
constexpr tcflag_t kParityBits = PARENB | PARODD | CMSPAR;

bool GetLine(int fd, termios2& t)
{
    return ::ioctl(fd, TCGETS2, &t) == 0;
}

bool SetLine(int fd, const termios2& t)
{
    return ::ioctl(fd, TCSETS2, &t) == 0;
}

// A UART divides a base clock, so a rate it cannot make exactly comes out
// near it; within 2 % both ends still understand each other.
bool RateClose(speed_t actual, uint32_t wanted)
{
    uint64_t diff = actual > wanted ? actual - wanted : wanted - actual;
    return diff * 100 <= uint64_t(wanted) * 2;
}

bool GetModemLines(int fd, int& lines)
{
    return ::ioctl(fd, TIOCMGET, &lines) == 0;
}

bool HasModemLines(int fd)
{
    int lines = 0;
    return GetModemLines(fd, lines);
}

bool SetModemLine(int fd, int line, bool on)
{
    return ::ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &line) == 0;
}

bool SetRs485(int fd, const serial_rs485& rs)
{
    return ::ioctl(fd, TIOCSRS485, &rs) == 0;
}

bool SetRs485(int fd, bool on)
{
    serial_rs485 rs {};
    if (on)
        rs.flags = SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND;
    return SetRs485(fd, rs);
}

// Linux has one switch for RTS/CTS in both directions.
bool WantsRtsCts(const DCB& dcb)
{
    return dcb.fOutxCtsFlow || dcb.fRtsControl == RTS_CONTROL_HANDSHAKE;
}

// Translation: `old` with the control block's rate, frame, flow control and
// characters put in.
termios2 Translate(const termios2& old, const DCB& dcb)
{
    termios2 t = old;
    static const tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
    t.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT) | kFrameBits);
    t.c_cflag |= BOTHER | (BOTHER << IBSHIFT) | kSizes[dcb.ByteSize - 5] | CREAD | CLOCAL;
    t.c_ispeed = t.c_ospeed = dcb.BaudRate;
    switch (dcb.Parity) {
    case ODDPARITY: t.c_cflag |= PARENB | PARODD; break;
    case EVENPARITY: t.c_cflag |= PARENB; break;
    case MARKPARITY: t.c_cflag |= PARENB | CMSPAR | PARODD; break;
    case SPACEPARITY: t.c_cflag |= PARENB | CMSPAR; break;
    default: break;
    }
    if (dcb.StopBits != ONESTOPBIT)
        t.c_cflag |= CSTOPB;
    if (WantsRtsCts(dcb))
        t.c_cflag |= CRTSCTS;
    t.c_iflag &= ~(kInputBits | IXANY);
    if (dcb.fOutX)
        t.c_iflag |= IXON;
    if (dcb.fInX)
        t.c_iflag |= IXOFF;
    if (dcb.fParity)
        t.c_iflag |= INPCK;
    t.c_cc[VSTART] = static_cast<cc_t>(dcb.XonChar);
    t.c_cc[VSTOP] = static_cast<cc_t>(dcb.XoffChar);
    return t;
}

// Verification: the driver may quietly keep what it cannot do (a
// pseudo-terminal keeps 8 data bits and no parity, some adapters drop
// mark/space). Names what the device holds other than `asked`, or null.
const char* Refusal(int fd, const termios2& asked, uint32_t rate)
{
    termios2 now;
    if (!GetLine(fd, now))
        return "the settings cannot be read back";
    if (!RateClose(now.c_ospeed, rate) || !RateClose(now.c_ispeed, rate))
        return "the device does not support this rate";
    if ((now.c_cflag & CSIZE) != (asked.c_cflag & CSIZE))
        return "the device does not support this number of data bits";
    if ((now.c_cflag & kParityBits) != (asked.c_cflag & kParityBits) && ((now.c_cflag | asked.c_cflag) & PARENB))
        return "the device does not support this parity";
    if ((now.c_cflag & CSTOPB) != (asked.c_cflag & CSTOPB))
        return "the device does not support these stop bits";
    if ((now.c_cflag & CRTSCTS) != (asked.c_cflag & CRTSCTS))
        return "the device does not support RTS/CTS flow control";
    if ((now.c_iflag & kInputBits) != (asked.c_iflag & kInputBits) || now.c_cc[VSTART] != asked.c_cc[VSTART] ||
        now.c_cc[VSTOP] != asked.c_cc[VSTOP])
        return "the device does not support XON/XOFF or parity checking";
    return nullptr;
}

} // namespace

namespace linux_line {

bool SaveLine(int fd, SSavedLine& saved)
{
    saved = SSavedLine();
    if (!GetLine(fd, saved.settings))
        return false;
    saved.hasModemLines = GetModemLines(fd, saved.modemLines);
    saved.hasRs485 = ::ioctl(fd, TIOCGRS485, &saved.rs485) == 0;
    return true;
}

void RestoreLine(int fd, const SSavedLine& saved, bool rs485Changed)
{
    // At once, not after the output drains: flow control may hold the line
    // for ever, and a close must not hang.
    SetLine(fd, saved.settings);
    if (saved.hasModemLines) {
        SetModemLine(fd, TIOCM_DTR, (saved.modemLines & TIOCM_DTR) != 0);
        SetModemLine(fd, TIOCM_RTS, (saved.modemLines & TIOCM_RTS) != 0);
    }
    if (rs485Changed && saved.hasRs485)
        SetRs485(fd, saved.rs485);
    else if (rs485Changed)
        SetRs485(fd, false);
}

bool MakeRaw(int fd)
{
    termios2 t;
    if (!GetLine(fd, t))
        return false;
    t.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IUCLC | IXON | IXOFF | IXANY |
                   IMAXBEL);
    t.c_oflag &= ~OPOST;
    t.c_lflag &= ~(ECHO | ECHONL | ECHOE | ECHOK | ICANON | ISIG | IEXTEN);
    t.c_cflag |= CREAD | CLOCAL;
    // With O_NONBLOCK an empty line then reads as EAGAIN, and a read of 0
    // bytes means the line was hung up.
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    return SetLine(fd, t);
}

} // namespace linux_line

namespace {

// DTR and RTS levels, and RTS toggling while sending. Devices without modem
// lines (pseudo-terminals, some adapters) never get here: settings that only
// concern those lines then have nothing to act on.
bool ApplyModemLines(CSerialLine::Native& line, const DCB& dcb, std::string& reason)
{
    bool ok = SetModemLine(line.fd, TIOCM_DTR, dcb.fDtrControl != DTR_CONTROL_DISABLE);
    if (ok && !WantsRtsCts(dcb)) { // with RTS/CTS the driver moves RTS
        if (dcb.fRtsControl == RTS_CONTROL_TOGGLE) {
            line.rs485 = SetRs485(line.fd, true);
            line.rs485Changed |= line.rs485;
            if (!line.rs485) {
                reason = "the device cannot toggle RTS while sending";
                return false;
            }
        } else {
            if (line.rs485 && SetRs485(line.fd, false)) {
                line.rs485 = false;
                line.rs485Changed = true;
            }
            ok = SetModemLine(line.fd, TIOCM_RTS, dcb.fRtsControl == RTS_CONTROL_ENABLE);
        }
    }
    if (!ok)
        reason = std::strerror(errno);
    return ok;
}

} // namespace

bool CSerialLine::ApplyDcb(const DCB& dcb, std::string& reason)
{
    const int fd = m_native->fd;
    if (fd < 0) {
        reason = "the port is not open";
        return false;
    }
    if (const char* problem = FrameProblem(dcb)) {
        reason = problem;
        return false;
    }
    termios2 old;
    if (!GetLine(fd, old)) {
        reason = std::strerror(errno);
        return false;
    }
    const bool modemLines = HasModemLines(fd);
    if (modemLines && WantsRtsCts(dcb) && dcb.fRtsControl == RTS_CONTROL_TOGGLE) {
        reason = "RTS cannot both toggle and follow CTS flow control";
        return false;
    }

    const termios2 asked = Translate(old, dcb);
    if (!SetLine(fd, asked)) {
        reason = std::strerror(errno);
        SetLine(fd, old);
        return false;
    }
    if (const char* refused = Refusal(fd, asked, dcb.BaudRate)) {
        reason = refused;
        SetLine(fd, old);
        return false;
    }
    if (modemLines && !ApplyModemLines(*m_native, dcb, reason)) {
        SetLine(fd, old);
        return false;
    }
    return true;
}

bool CSerialLine::ReadDcb(DCB& dcb) const
{
    const int fd = m_native->fd;
    termios2 t;
    if (fd < 0 || !GetLine(fd, t))
        return false;
    dcb.BaudRate = t.c_ospeed;
    switch (t.c_cflag & CSIZE) {
    case CS5: dcb.ByteSize = 5; break;
    case CS6: dcb.ByteSize = 6; break;
    case CS7: dcb.ByteSize = 7; break;
    default: dcb.ByteSize = 8; break;
    }
    if (!(t.c_cflag & PARENB))
        dcb.Parity = NOPARITY;
    else if (t.c_cflag & CMSPAR)
        dcb.Parity = (t.c_cflag & PARODD) ? MARKPARITY : SPACEPARITY;
    else
        dcb.Parity = (t.c_cflag & PARODD) ? ODDPARITY : EVENPARITY;
    if (!(t.c_cflag & CSTOPB))
        dcb.StopBits = ONESTOPBIT;
    else
        dcb.StopBits = (t.c_cflag & CSIZE) == CS5 ? ONE5STOPBITS : TWOSTOPBITS;
    dcb.fParity = (t.c_iflag & INPCK) ? 1 : 0;
    dcb.fOutX = (t.c_iflag & IXON) ? 1 : 0;
    dcb.fInX = (t.c_iflag & IXOFF) ? 1 : 0;
    dcb.XonChar = static_cast<char>(t.c_cc[VSTART]);
    dcb.XoffChar = static_cast<char>(t.c_cc[VSTOP]);

    // CRTSCTS stands for two fields; keep the caller's pair while it agrees.
    const bool crtscts = (t.c_cflag & CRTSCTS) != 0;
    const bool wanted = dcb.fOutxCtsFlow || dcb.fRtsControl == RTS_CONTROL_HANDSHAKE;
    if (crtscts && !wanted) {
        dcb.fOutxCtsFlow = 1;
        dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
    } else if (!crtscts && wanted) {
        dcb.fOutxCtsFlow = 0;
        if (dcb.fRtsControl == RTS_CONTROL_HANDSHAKE)
            dcb.fRtsControl = RTS_CONTROL_ENABLE;
    }

    int lines = 0;
    if (GetModemLines(fd, lines)) {
        if ((lines & TIOCM_DTR) && dcb.fDtrControl == DTR_CONTROL_DISABLE)
            dcb.fDtrControl = DTR_CONTROL_ENABLE;
        else if (!(lines & TIOCM_DTR) && dcb.fDtrControl == DTR_CONTROL_ENABLE)
            dcb.fDtrControl = DTR_CONTROL_DISABLE;
        if (m_native->rs485)
            dcb.fRtsControl = RTS_CONTROL_TOGGLE;
        else if (!crtscts && (lines & TIOCM_RTS) && dcb.fRtsControl == RTS_CONTROL_DISABLE)
            dcb.fRtsControl = RTS_CONTROL_ENABLE;
        else if (!crtscts && !(lines & TIOCM_RTS) && dcb.fRtsControl == RTS_CONTROL_ENABLE)
            dcb.fRtsControl = RTS_CONTROL_DISABLE;
    }
    return true;
}

bool CSerialLine::ReadTimeouts() const
{
    const int fd = m_native->fd;
    termios2 t;
    return fd >= 0 && GetLine(fd, t) && ::fcntl(fd, F_GETFL) >= 0;
}

// Linux has no time-out block: a non-blocking descriptor with VMIN 1 and
// VTIME 0 gives reads that return at once, and WriteByte times its waits.
bool CSerialLine::SetTimeouts()
{
    const int fd = m_native->fd;
    termios2 t;
    if (fd < 0 || !GetLine(fd, t))
        return false;
    int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0)
        return false;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    return SetLine(fd, t);
}
