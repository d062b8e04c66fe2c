#pragma once

// The operating-system side of a serial port: the few operations the port
// engine needs. Each platform implements them in its own folder (serial/linux/
// with termios2) and keeps its native handles and state there, behind Native.

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "serial/Dcb.h"
#include "serial/ModemLines.h"

class CCancelSignal;

// A wake-up that ends the waits of CSerialLine: once raised it stays raised,
// so every wait that starts or is running afterwards returns at once.
class CLineWakeup {
public:
    CLineWakeup();
    ~CLineWakeup();
    CLineWakeup(const CLineWakeup&) = delete;
    CLineWakeup& operator=(const CLineWakeup&) = delete;

    // False when the platform gave no wake-up; errno then says why.
    bool IsValid() const;
    void Raise();

    struct Native; // the platform's handle, defined in its folder

private:
    friend class CSerialLine; // its waits watch the wake-up
    std::unique_ptr<Native> m_native;
};

// One open serial device. Open takes it exclusively; Close and the destructor
// restore and release it. The reader thread uses Read/WaitReadable while one
// sender at a time uses WriteByte; settings calls come from the thread that
// owns the port.
class CSerialLine {
public:
    enum class EWait { Readable, Woken, Ended };
    enum class EWrite { Written, TimedOut, Woken, Ended, Failed, WaitFailed };
    // What became of a request on the modem lines or the break: Unsupported
    // when the device has no such thing (pseudo-terminals and some USB
    // adapters have no modem lines), Failed for any other refusal.
    enum class EControl { Done, Unsupported, Failed };
    enum class EOutputLine { Dtr, Rts };

    CSerialLine();
    ~CSerialLine();
    CSerialLine(const CSerialLine&) = delete;
    CSerialLine& operator=(const CSerialLine&) = delete;

    // Why an Open failed, for callers that act on it (a reconnect goes on
    // waiting quietly while the device is not there yet).
    enum class EOpenFailure { None, NoDevice, Permission, Busy, NotSerial, Other };

    // Opens the device for exclusive use (no other program, and no other
    // opening in this one, may hold it), saves its settings and makes the
    // line raw: bytes pass unchanged, without echo, signals or translation.
    // On failure `reason` says why in a few words (no such device, permission
    // denied with how to get it, busy) and `failure`, if given, which kind.
    bool Open(const std::string& path, std::string& reason, EOpenFailure* failure = nullptr);
    // Puts back the settings saved by Open, then releases the device, so the
    // next program finds the line as it was before.
    void Close();
    bool IsOpen() const;

    // Applies the fields of the control block that the line has a place for.
    // Fails, leaving the line as it was, when the device refuses a value or
    // would put something else on the wire than asked for.
    bool ApplyDcb(const DCB& dcb, std::string& reason);
    // Overwrites the fields of `dcb` that the line holds with its real
    // settings; the other fields keep the values passed in.
    bool ReadDcb(DCB& dcb) const;

    // The platform's time-out set-up, the engine's last configure step after
    // the control block: ReadTimeouts checks that the line's time-out state
    // can be read, SetTimeouts makes reads return at once with what has
    // arrived (possibly nothing); writes wait in WriteByte.
    bool ReadTimeouts() const;
    bool SetTimeouts();

    // Sleeps until bytes can be read, the wake-up is raised, or the line is
    // gone (hang-up, device removed, lasting error).
    EWait WaitReadable(const CLineWakeup& wake) const;
    // Reads at most `size` bytes that have already arrived. Returns the count
    // (0 when nothing is waiting), or -1 when the line is gone.
    long Read(char* buffer, std::size_t size) const;
    // Writes one byte, waiting at most timeoutMs for the driver to take it.
    // The wait for room ends early (Woken, the byte not written) when the
    // wake-up is raised or `cancel`, if given, is set. `error` holds the
    // system's error code after Failed (the write) or WaitFailed (the wait
    // for room).
    EWrite WriteByte(unsigned char byte, int timeoutMs, const CLineWakeup& wake, const CCancelSignal* cancel,
                     int& error) const;

    // The modem lines and the break. They may be called while the reader
    // reads and a sender writes; `reason` holds the system's words after a
    // failure.
    EControl SetOutputLine(EOutputLine line, bool asserted, std::string& reason);
    EControl ReadModemLines(SModemLines& lines, std::string& reason) const;
    // Holds the transmit line in the break state (true) until called with false.
    EControl SetBreak(bool on, std::string& reason);

    struct Native; // the platform's handle and state, defined in its folder

private:
    // Open and Close change it on the owner's thread while neither the
    // reader nor a sender uses the line.
    std::unique_ptr<Native> m_native;
};

// The modem lines of a device opened elsewhere, given by the native handle
// its owner reports (Tcl_GetChannelHandle: on Linux the file descriptor).
CSerialLine::EControl ReadModemLinesOf(void* handle, SModemLines& lines, std::string& reason);

// The reason for a refused open of `path`: the device's group and how to
// join it, e.g. "permission denied: /dev/ttyUSB0 belongs to group dialout;
// add yourself with: sudo usermod -aG dialout $USER, then log in again".
std::string PermissionDeniedReason(const std::string& path);

// The serial devices present now, in the order they should fill COM1..COM8:
// USB adapters, then ACM modems, then on-board UARTs, each in numeric order.
// `devDir` and `sysDir` are parameters so tests can use directories of their
// own.
std::vector<std::string> FindSerialDevices(const std::string& devDir = "/dev",
                                           const std::string& sysDir = "/sys/class/tty");
