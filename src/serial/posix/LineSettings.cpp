// Control-block mapping onto Linux termios. Uses the kernel's termios2 so any
// rate can be set exactly (BOTHER); <termios.h> must not be included here.
#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <linux/serial.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>

#include "serial/SerialLine.h"
#include "serial/posix/LineSettings.h"

namespace {

constexpr tcflag_t kFrameBits = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS;
constexpr tcflag_t kInputBits = IXON | IXOFF | INPCK;

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

bool HasModemLines(int fd)
{
    int lines = 0;
    return ::ioctl(fd, TIOCMGET, &lines) == 0;
}

bool SetModemLine(int fd, int line, bool on)
{
    return ::ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &line) == 0;
}

bool SetRs485(int fd, bool on)
{
    serial_rs485 rs {};
    if (on)
        rs.flags = SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND;
    return ::ioctl(fd, TIOCSRS485, &rs) == 0;
}

} // namespace

namespace posix_line {

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

} // namespace posix_line

bool CSerialLine::ApplyDcb(const DCB& dcb, std::string& reason)
{
    if (m_fd < 0) {
        reason = "the port is not open";
        return false;
    }
    if (dcb.BaudRate == 0) {
        reason = "a rate of 0 would hang up the line";
        return false;
    }
    if (dcb.ByteSize < 5 || dcb.ByteSize > 8) {
        reason = "data bits must be 5 to 8";
        return false;
    }
    if (dcb.Parity > SPACEPARITY) {
        reason = "unknown parity";
        return false;
    }
    if (dcb.StopBits > TWOSTOPBITS) {
        reason = "unknown stop bits";
        return false;
    }
    // A UART sends 1.5 stop bits when asked for two with 5 data bits, and
    // cannot otherwise.
    if ((dcb.StopBits == ONE5STOPBITS) != (dcb.StopBits != ONESTOPBIT && dcb.ByteSize == 5)) {
        reason = dcb.StopBits == ONE5STOPBITS ? "1.5 stop bits need 5 data bits"
                                              : "2 stop bits are not available with 5 data bits";
        return false;
    }

    termios2 old;
    if (!GetLine(m_fd, old)) {
        reason = std::strerror(errno);
        return false;
    }
    const bool modemLines = HasModemLines(m_fd);
    const bool rtsHandshake = dcb.fOutxCtsFlow || dcb.fRtsControl == RTS_CONTROL_HANDSHAKE;
    if (modemLines && rtsHandshake && dcb.fRtsControl == RTS_CONTROL_TOGGLE) {
        reason = "RTS cannot both toggle and follow CTS flow control";
        return false;
    }

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
    // Linux has one switch for RTS/CTS in both directions.
    if (rtsHandshake)
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
    if (!SetLine(m_fd, t)) {
        reason = std::strerror(errno);
        SetLine(m_fd, old);
        return false;
    }

    // The driver may quietly keep what it cannot do (a pseudo-terminal keeps
    // 8 data bits and no parity, some adapters drop mark/space): compare.
    termios2 now;
    const char* refused = nullptr;
    if (!GetLine(m_fd, now))
        refused = "the settings cannot be read back";
    else if (!RateClose(now.c_ospeed, dcb.BaudRate) || !RateClose(now.c_ispeed, dcb.BaudRate))
        refused = "the device does not support this rate";
    else if ((now.c_cflag & CSIZE) != (t.c_cflag & CSIZE))
        refused = "the device does not support this number of data bits";
    else if ((now.c_cflag & (PARENB | PARODD | CMSPAR)) != (t.c_cflag & (PARENB | PARODD | CMSPAR)) &&
             ((now.c_cflag | t.c_cflag) & PARENB))
        refused = "the device does not support this parity";
    else if ((now.c_cflag & CSTOPB) != (t.c_cflag & CSTOPB))
        refused = "the device does not support these stop bits";
    else if ((now.c_cflag & CRTSCTS) != (t.c_cflag & CRTSCTS))
        refused = "the device does not support RTS/CTS flow control";
    else if ((now.c_iflag & kInputBits) != (t.c_iflag & kInputBits) || now.c_cc[VSTART] != t.c_cc[VSTART] ||
             now.c_cc[VSTOP] != t.c_cc[VSTOP])
        refused = "the device does not support XON/XOFF or parity checking";
    if (refused) {
        reason = refused;
        SetLine(m_fd, old);
        return false;
    }

    // DTR and RTS levels. Devices without modem lines (pseudo-terminals, some
    // adapters) refuse the queries; settings that only concern those lines
    // then have nothing to act on.
    if (modemLines) {
        bool ok = SetModemLine(m_fd, TIOCM_DTR, dcb.fDtrControl != DTR_CONTROL_DISABLE);
        if (ok && !rtsHandshake) {
            if (dcb.fRtsControl == RTS_CONTROL_TOGGLE) {
                ok = SetRs485(m_fd, true);
                m_rs485 = ok;
                if (!ok)
                    reason = "the device cannot toggle RTS while sending";
            } else {
                if (m_rs485 && SetRs485(m_fd, false))
                    m_rs485 = false;
                ok = SetModemLine(m_fd, TIOCM_RTS, dcb.fRtsControl == RTS_CONTROL_ENABLE);
            }
        }
        if (!ok) {
            if (reason.empty())
                reason = std::strerror(errno);
            SetLine(m_fd, old);
            return false;
        }
    }
    return true;
}

bool CSerialLine::ReadDcb(DCB& dcb) const
{
    termios2 t;
    if (m_fd < 0 || !GetLine(m_fd, t))
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
    if (::ioctl(m_fd, TIOCMGET, &lines) == 0) {
        if ((lines & TIOCM_DTR) && dcb.fDtrControl == DTR_CONTROL_DISABLE)
            dcb.fDtrControl = DTR_CONTROL_ENABLE;
        else if (!(lines & TIOCM_DTR) && dcb.fDtrControl == DTR_CONTROL_ENABLE)
            dcb.fDtrControl = DTR_CONTROL_DISABLE;
        if (m_rs485)
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
    termios2 t;
    return m_fd >= 0 && GetLine(m_fd, t) && ::fcntl(m_fd, F_GETFL) >= 0;
}

bool CSerialLine::SetTimeouts()
{
    termios2 t;
    if (m_fd < 0 || !GetLine(m_fd, t))
        return false;
    int flags = ::fcntl(m_fd, F_GETFL);
    if (flags < 0 || ::fcntl(m_fd, F_SETFL, flags | O_NONBLOCK) != 0)
        return false;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    return SetLine(m_fd, t);
}
