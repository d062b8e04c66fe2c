#include "serial/win32/LineNative.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <memory>

#include "core/CancelSignal.h"
#include "serial/SerialDevices.h"

// Reads and writes are overlapped and waited for together with the wake-up,
// so a close ends them at once. The reader waits for one byte at a time
// (a one-byte read completes as soon as a byte is there, whatever the
// driver makes of interval time-outs) and then reads what the driver has
// queued, which completes at once. WaitCommEvent is not used: some drivers
// (and Wine on a pseudo-terminal) end it at once.

namespace {

// A one-byte read that finds nothing ends after this long, and the wait
// starts again: a bound on every read, should a driver report bytes it has not.
constexpr DWORD kReadWaitMs = 500;

// Not in MinGW's headers (ntddser.h): the levels of DTR and RTS.
constexpr DWORD kIoctlSerialGetDtrRts = CTL_CODE(FILE_DEVICE_SERIAL_PORT, 30, METHOD_BUFFERED, FILE_ANY_ACCESS);
constexpr DWORD kSerialDtrState = 0x1;
constexpr DWORD kSerialRtsState = 0x2;

bool IsLineGone(DWORD error)
{
    switch (error) {
    case ERROR_ACCESS_DENIED: // an unplugged USB adapter answers this
    case ERROR_BAD_COMMAND:
    case ERROR_DEVICE_REMOVED:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_INVALID_HANDLE:
    case ERROR_NOT_READY:
    case ERROR_FILE_NOT_FOUND:
    case ERROR_BROKEN_PIPE:
    case ERROR_HANDLE_EOF:
    case ERROR_OPERATION_ABORTED: // not ours: the driver gave up the line
        return true;
    default:
        return false;
    }
}

// "\\.\COM5" for "COM5": the device namespace, which also reaches COM10
// and above. A path that already names a namespace is used as given.
std::string DeviceName(const std::string& path)
{
    return path.compare(0, 2, "\\\\") == 0 ? path : "\\\\.\\" + path;
}

CSerialLine::EOpenFailure OpenFailure(DWORD error, const std::string& path, std::string& reason)
{
    using EOpenFailure = CSerialLine::EOpenFailure;
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_BAD_UNIT:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_BAD_NETPATH:
        reason = "no such device";
        return EOpenFailure::NoDevice;
    case ERROR_ACCESS_DENIED: // what Windows answers for a port another program holds
        reason = PermissionDeniedReason(path);
        return EOpenFailure::Busy;
    case ERROR_SHARING_VIOLATION:
    case ERROR_BUSY:
        reason = "busy (held by another program)";
        return EOpenFailure::Busy;
    case ERROR_INVALID_FUNCTION:
    case ERROR_NOT_SUPPORTED:
    case ERROR_INVALID_PARAMETER:
        reason = "not a serial device";
        return EOpenFailure::NotSerial;
    default:
        reason = win32::SystemMessage(error);
        return EOpenFailure::Other;
    }
}

// A driver without modem lines or break (virtual ports, some adapters)
// refuses the request as a function it does not have.
CSerialLine::EControl ControlFailure(std::string& reason)
{
    const DWORD error = ::GetLastError();
    reason = win32::SystemMessage(error);
    const bool unsupported = error == ERROR_INVALID_FUNCTION || error == ERROR_NOT_SUPPORTED ||
                             error == ERROR_INVALID_PARAMETER || error == ERROR_CALL_NOT_IMPLEMENTED;
    return unsupported ? CSerialLine::EControl::Unsupported : CSerialLine::EControl::Failed;
}

CSerialLine::EControl NotOpen(std::string& reason)
{
    reason = "the port is not open";
    return CSerialLine::EControl::Failed;
}

// DTR and RTS as the driver holds them. The handle may be opened for
// overlapped I/O, so the request gets an event of its own.
bool GetDtrRts(HANDLE handle, DWORD& state)
{
    OVERLAPPED ov{};
    ov.hEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!ov.hEvent)
        return false;
    DWORD got = 0;
    bool ok = ::DeviceIoControl(handle, kIoctlSerialGetDtrRts, nullptr, 0, &state, sizeof state, &got, &ov) ||
              (::GetLastError() == ERROR_IO_PENDING && ::GetOverlappedResult(handle, &ov, &got, TRUE));
    const DWORD error = ::GetLastError();
    ::CloseHandle(ov.hEvent);
    ::SetLastError(error);
    return ok && got >= sizeof state;
}

CSerialLine::EControl ReadLines(HANDLE handle, SModemLines& lines, std::string& reason)
{
    DWORD status = 0;
    if (!::GetCommModemStatus(handle, &status))
        return ControlFailure(reason);
    lines.cts = (status & MS_CTS_ON) != 0;
    lines.dsr = (status & MS_DSR_ON) != 0;
    lines.ri = (status & MS_RING_ON) != 0;
    lines.dcd = (status & MS_RLSD_ON) != 0;
    DWORD outputs = 0;
    if (GetDtrRts(handle, outputs)) {
        lines.dtr = (outputs & kSerialDtrState) != 0;
        lines.rts = (outputs & kSerialRtsState) != 0;
    } else {
        // A driver that cannot tell: the levels its control block asks for.
        WinDcb dcb{};
        dcb.DCBlength = sizeof dcb;
        if (::GetCommState(handle, &dcb)) {
            lines.dtr = dcb.fDtrControl == DTR_CONTROL_ENABLE;
            lines.rts = dcb.fRtsControl == RTS_CONTROL_ENABLE;
        }
    }
    return CSerialLine::EControl::Done;
}

// The settings of the project's control block put into the system's; the
// reserved fields keep what the driver had.
WinDcb ToWindows(const DCB& dcb, const WinDcb& old)
{
    WinDcb w = old;
    w.DCBlength = sizeof w;
    w.BaudRate = dcb.BaudRate;
    w.fBinary = dcb.fBinary;
    w.fParity = dcb.fParity;
    w.fOutxCtsFlow = dcb.fOutxCtsFlow;
    w.fOutxDsrFlow = dcb.fOutxDsrFlow;
    w.fDtrControl = dcb.fDtrControl;
    w.fDsrSensitivity = dcb.fDsrSensitivity;
    w.fTXContinueOnXoff = dcb.fTXContinueOnXoff;
    w.fOutX = dcb.fOutX;
    w.fInX = dcb.fInX;
    w.fErrorChar = dcb.fErrorChar;
    w.fNull = dcb.fNull;
    w.fRtsControl = dcb.fRtsControl;
    w.fAbortOnError = dcb.fAbortOnError;
    w.XonLim = dcb.XonLim;
    w.XoffLim = dcb.XoffLim;
    w.ByteSize = dcb.ByteSize;
    w.Parity = dcb.Parity;
    w.StopBits = dcb.StopBits;
    w.XonChar = dcb.XonChar;
    w.XoffChar = dcb.XoffChar;
    w.ErrorChar = dcb.ErrorChar;
    w.EofChar = dcb.EofChar;
    w.EvtChar = dcb.EvtChar;
    return w;
}

void FromWindows(const WinDcb& w, DCB& dcb)
{
    dcb.BaudRate = w.BaudRate;
    dcb.fBinary = w.fBinary;
    dcb.fParity = w.fParity;
    dcb.fOutxCtsFlow = w.fOutxCtsFlow;
    dcb.fOutxDsrFlow = w.fOutxDsrFlow;
    dcb.fDtrControl = w.fDtrControl;
    dcb.fDsrSensitivity = w.fDsrSensitivity;
    dcb.fTXContinueOnXoff = w.fTXContinueOnXoff;
    dcb.fOutX = w.fOutX;
    dcb.fInX = w.fInX;
    dcb.fErrorChar = w.fErrorChar;
    dcb.fNull = w.fNull;
    dcb.fRtsControl = w.fRtsControl;
    dcb.fAbortOnError = w.fAbortOnError;
    dcb.XonLim = w.XonLim;
    dcb.XoffLim = w.XoffLim;
    dcb.ByteSize = w.ByteSize;
    dcb.Parity = w.Parity;
    dcb.StopBits = w.StopBits;
    dcb.XonChar = w.XonChar;
    dcb.XoffChar = w.XoffChar;
    dcb.ErrorChar = w.ErrorChar;
    dcb.EofChar = w.EofChar;
    dcb.EvtChar = w.EvtChar;
}

// A UART divides a base clock, so a rate it cannot make exactly comes out
// near it; within 2 % both ends still understand each other.
bool RateClose(uint32_t actual, uint32_t wanted)
{
    const uint64_t diff = actual > wanted ? actual - wanted : wanted - actual;
    return diff * 100 <= uint64_t(wanted) * 2;
}

// Verification: a driver may quietly keep what it cannot do (Wine on a
// pseudo-terminal keeps 8 data bits and no parity, and has no DSR flow).
// Names the first setting of the line itself that the port holds other than
// asked, or null. The rest (buffer limits, error and event characters,
// abort on error) changes nothing on the wire; drivers differ in what they
// keep of it, and ReadDcb shows what they kept.
const char* Refusal(const WinDcb& asked, const WinDcb& now)
{
    if (!RateClose(now.BaudRate, asked.BaudRate))
        return "the device does not support this rate";
    if (now.ByteSize != asked.ByteSize)
        return "the device does not support this number of data bits";
    if (now.Parity != asked.Parity)
        return "the device does not support this parity";
    if (now.StopBits != asked.StopBits)
        return "the device does not support these stop bits";
    if (now.fOutxCtsFlow != asked.fOutxCtsFlow || now.fRtsControl != asked.fRtsControl)
        return "the device does not support this RTS/CTS setting";
    if (now.fOutxDsrFlow != asked.fOutxDsrFlow || now.fDtrControl != asked.fDtrControl)
        return "the device does not support this DTR/DSR setting";
    if (now.fOutX != asked.fOutX || now.fInX != asked.fInX || now.XonChar != asked.XonChar ||
        now.XoffChar != asked.XoffChar)
        return "the device does not support XON/XOFF or parity checking";
    // Parity checking means something only with a parity bit.
    if (asked.Parity != NOPARITY && now.fParity != asked.fParity)
        return "the device does not support XON/XOFF or parity checking";
    return nullptr;
}

// Reads return when a byte comes or after kReadWaitMs; writes have no
// time-out of the driver's, WriteByte times them.
COMMTIMEOUTS LineTimeouts()
{
    COMMTIMEOUTS t{};
    t.ReadIntervalTimeout = 0;
    t.ReadTotalTimeoutMultiplier = 0;
    t.ReadTotalTimeoutConstant = kReadWaitMs;
    t.WriteTotalTimeoutMultiplier = 0;
    t.WriteTotalTimeoutConstant = 0;
    return t;
}

// Ends an overlapped request that is still running and waits until the
// driver lets go of its buffer. True when it completed after all, with
// `done` bytes.
bool CancelAndWait(HANDLE handle, OVERLAPPED& ov, DWORD& done)
{
    ::CancelIoEx(handle, &ov);
    done = 0;
    return ::GetOverlappedResult(handle, &ov, &done, TRUE) != FALSE;
}

} // namespace

CLineWakeup::CLineWakeup() : m_native(std::make_unique<Native>())
{
    m_native->event = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!m_native->event)
        errno = ENOMEM; // the callers word the failure from errno
}

CLineWakeup::~CLineWakeup()
{
    if (m_native->event)
        ::CloseHandle(m_native->event);
}

bool CLineWakeup::IsValid() const { return m_native->event != nullptr; }

void CLineWakeup::Raise()
{
    if (m_native->event)
        ::SetEvent(m_native->event);
}

CSerialLine::CSerialLine() : m_native(std::make_unique<Native>()) {}

CSerialLine::~CSerialLine()
{
    Close();
}

bool CSerialLine::IsOpen() const { return m_native->handle != INVALID_HANDLE_VALUE; }

bool CSerialLine::Open(const std::string& path, std::string& reason, EOpenFailure* failure)
{
    Close();
    if (failure)
        *failure = EOpenFailure::None;
    auto fail = [&](DWORD error, HANDLE handle) {
        if (handle != INVALID_HANDLE_VALUE)
            ::CloseHandle(handle);
        const EOpenFailure kind = OpenFailure(error, path, reason);
        if (failure)
            *failure = kind;
        return false;
    };
    // No sharing: a port held by another program (or another opening here)
    // does not open.
    HANDLE handle = ::CreateFileW(win32::WideFromUtf8(DeviceName(path)).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                  nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return fail(::GetLastError(), handle);
    Native line;
    line.savedDcb.DCBlength = sizeof line.savedDcb;
    if (!::GetCommState(handle, &line.savedDcb) || !::GetCommTimeouts(handle, &line.savedTimeouts))
        return fail(::GetLastError(), handle);
    // Windows has no cooked mode; applying the block once makes the line
    // binary (Wine, serving the port from a Unix tty, then turns off echo
    // and line editing there).
    WinDcb raw = line.savedDcb;
    raw.fBinary = TRUE;
    COMMTIMEOUTS timeouts = LineTimeouts();
    if (!::SetCommState(handle, &raw) || !::SetCommTimeouts(handle, &timeouts)) {
        const DWORD error = ::GetLastError();
        ::SetCommState(handle, &line.savedDcb);
        return fail(error, handle);
    }
    line.readEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    line.writeEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!line.readEvent || !line.writeEvent) {
        const DWORD error = ::GetLastError();
        if (line.readEvent)
            ::CloseHandle(line.readEvent);
        if (line.writeEvent)
            ::CloseHandle(line.writeEvent);
        ::SetCommState(handle, &line.savedDcb);
        ::SetCommTimeouts(handle, &line.savedTimeouts);
        return fail(error, handle);
    }
    line.handle = handle;
    *m_native = line;
    return true;
}

void CSerialLine::Close()
{
    Native& line = *m_native;
    if (line.handle == INVALID_HANDLE_VALUE)
        return;
    // A device that is gone refuses quietly: there is nothing left to restore.
    ::SetCommState(line.handle, &line.savedDcb);
    ::SetCommTimeouts(line.handle, &line.savedTimeouts);
    ::CloseHandle(line.handle);
    ::CloseHandle(line.readEvent);
    ::CloseHandle(line.writeEvent);
    line = Native();
}

CSerialLine::EWait CSerialLine::WaitReadable(const CLineWakeup& wake) const
{
    Native& line = *m_native;
    const HANDLE wakeEvent = wake.m_native->event;
    for (;;) {
        if (::WaitForSingleObject(wakeEvent, 0) == WAIT_OBJECT_0)
            return EWait::Woken;
        // Bytes that arrived before the end are read first; the read that
        // follows them reports it.
        if (line.hasPending)
            return EWait::Readable;
        if (line.readError != 0 || line.handle == INVALID_HANDLE_VALUE)
            return EWait::Ended;

        OVERLAPPED ov{};
        ov.hEvent = line.readEvent;
        ::ResetEvent(line.readEvent);
        DWORD got = 0;
        const DWORD started = ::GetTickCount();
        bool ok = ::ReadFile(line.handle, &line.pending, 1, &got, &ov);
        if (!ok && ::GetLastError() == ERROR_IO_PENDING) {
            const HANDLE waits[2] = {line.readEvent, wakeEvent};
            const DWORD r = ::WaitForMultipleObjects(2, waits, FALSE, INFINITE);
            if (r != WAIT_OBJECT_0) {
                // Woken (or the wait failed): the read must end before its
                // buffer can be used again. A byte it took anyway is kept.
                line.hasPending = CancelAndWait(line.handle, ov, got) && got == 1;
                return r == WAIT_OBJECT_0 + 1 ? EWait::Woken : EWait::Ended;
            }
            ok = ::GetOverlappedResult(line.handle, &ov, &got, FALSE);
        }
        // Nothing within kReadWaitMs: wait again. (Windows reports the
        // time-out as a success with no byte, Wine as ERROR_TIMEOUT.)
        const DWORD error = ok ? 0 : ::GetLastError();
        if (ok || error == ERROR_TIMEOUT) {
            line.hasPending = ok && got == 1;
            // A driver that ignores the time-out and answers "nothing" at
            // once would turn this loop into a spin: such answers come at
            // most every kReadWaitMs, and the wake-up still ends the wait.
            const DWORD took = ::GetTickCount() - started;
            if (!line.hasPending && took < kReadWaitMs / 2 &&
                ::WaitForSingleObject(wakeEvent, kReadWaitMs - took) == WAIT_OBJECT_0)
                return EWait::Woken;
            continue;
        }
        // With fAbortOnError set, a line error (parity, framing, overrun)
        // aborts reads until it has been cleared: the line itself is fine.
        DWORD errors = 0;
        if (error == ERROR_OPERATION_ABORTED && ::ClearCommError(line.handle, &errors, nullptr) && errors != 0)
            continue;
        line.readError = error;
    }
}

long CSerialLine::Read(char* buffer, std::size_t size) const
{
    Native& line = *m_native;
    if (size == 0)
        return 0;
    std::size_t have = 0;
    if (line.hasPending) {
        buffer[have++] = line.pending;
        line.hasPending = false;
    }
    if (line.readError != 0 || line.handle == INVALID_HANDLE_VALUE)
        return have > 0 ? static_cast<long>(have) : -1;
    // What the driver holds now; a read of no more than that completes at once.
    DWORD errors = 0;
    COMSTAT status{};
    if (!::ClearCommError(line.handle, &errors, &status)) {
        if (have == 0)
            line.readError = ::GetLastError();
        return have > 0 ? static_cast<long>(have) : -1;
    }
    const DWORD wanted = static_cast<DWORD>(std::min<std::size_t>(status.cbInQue, std::min<std::size_t>(size - have, MAXDWORD)));
    if (wanted == 0)
        return static_cast<long>(have);
    OVERLAPPED ov{};
    ov.hEvent = line.readEvent;
    ::ResetEvent(line.readEvent);
    DWORD got = 0;
    bool ok = ::ReadFile(line.handle, buffer + have, wanted, &got, &ov);
    if (!ok && ::GetLastError() == ERROR_IO_PENDING)
        ok = ::GetOverlappedResult(line.handle, &ov, &got, TRUE); // bounded by kReadWaitMs
    if (!ok) {
        const DWORD error = ::GetLastError();
        if (error != ERROR_TIMEOUT &&
            !(error == ERROR_OPERATION_ABORTED && ::ClearCommError(line.handle, &errors, nullptr) && errors != 0)) {
            line.readError = error;
            got = 0;
        }
    }
    have += got;
    return have > 0 || line.readError == 0 ? static_cast<long>(have) : -1;
}

CSerialLine::EWrite CSerialLine::WriteByte(unsigned char byte, int timeoutMs, const CLineWakeup& wake,
                                           const CCancelSignal* cancel, int& error) const
{
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    Native& line = *m_native;
    error = 0;
    if (line.handle == INVALID_HANDLE_VALUE) {
        error = ERROR_INVALID_HANDLE;
        return EWrite::Ended;
    }
    OVERLAPPED ov{};
    ov.hEvent = line.writeEvent;
    ::ResetEvent(line.writeEvent);
    DWORD done = 0;
    if (::WriteFile(line.handle, &byte, 1, &done, &ov))
        return done == 1 ? EWrite::Written : EWrite::TimedOut;
    if (::GetLastError() != ERROR_IO_PENDING) {
        error = static_cast<int>(::GetLastError());
        return IsLineGone(static_cast<DWORD>(error)) ? EWrite::Ended : EWrite::Failed;
    }

    // The driver has no room now (flow control holds the line): wait for it,
    // for the wake-up, for cancel or for the time-out. The cancel signal
    // gets an event only here: most bytes go out at once and need none.
    // Declared before the subscription that raises it, so it outlives it.
    std::unique_ptr<CLineWakeup> cancelWake;
    CCancelSignal::Subscription raiseOnCancel;
    if (cancel) {
        cancelWake = std::make_unique<CLineWakeup>();
        if (cancelWake->IsValid())
            raiseOnCancel = cancel->OnCancel([w = cancelWake.get()] { w->Raise(); });
        if (cancel->IsCancelled())
            cancelWake->Raise();
    }
    HANDLE waits[3] = {line.writeEvent, wake.m_native->event, nullptr};
    DWORD count = 2;
    if (cancelWake && cancelWake->IsValid())
        waits[count++] = cancelWake->m_native->event;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    const DWORD r = ::WaitForMultipleObjects(count, waits, FALSE, left > 0 ? static_cast<DWORD>(left) : 0);
    if (r == WAIT_OBJECT_0) {
        if (::GetOverlappedResult(line.handle, &ov, &done, FALSE))
            return done == 1 ? EWrite::Written : EWrite::TimedOut;
        error = static_cast<int>(::GetLastError());
        return IsLineGone(static_cast<DWORD>(error)) ? EWrite::Ended : EWrite::Failed;
    }
    const DWORD waitError = r == WAIT_FAILED ? ::GetLastError() : 0;
    // The byte is not sent later: the request ends here. If it completed
    // meanwhile, it was written after all.
    if (CancelAndWait(line.handle, ov, done) && done == 1)
        return EWrite::Written;
    if (r == WAIT_TIMEOUT)
        return EWrite::TimedOut;
    if (r == WAIT_FAILED) {
        error = static_cast<int>(waitError);
        return EWrite::WaitFailed;
    }
    return EWrite::Woken;
}

CSerialLine::EControl CSerialLine::SetOutputLine(EOutputLine line, bool asserted, std::string& reason)
{
    if (!IsOpen())
        return NotOpen(reason);
    const DWORD function = line == EOutputLine::Dtr ? (asserted ? SETDTR : CLRDTR) : (asserted ? SETRTS : CLRRTS);
    if (!::EscapeCommFunction(m_native->handle, function))
        return ControlFailure(reason);
    return EControl::Done;
}

CSerialLine::EControl CSerialLine::ReadModemLines(SModemLines& lines, std::string& reason) const
{
    if (!IsOpen())
        return NotOpen(reason);
    return ReadLines(m_native->handle, lines, reason);
}

CSerialLine::EControl CSerialLine::SetBreak(bool on, std::string& reason)
{
    if (!IsOpen())
        return NotOpen(reason);
    if (!(on ? ::SetCommBreak(m_native->handle) : ::ClearCommBreak(m_native->handle)))
        return ControlFailure(reason);
    return EControl::Done;
}

bool CSerialLine::ApplyDcb(const DCB& dcb, std::string& reason)
{
    const HANDLE handle = m_native->handle;
    if (handle == INVALID_HANDLE_VALUE) {
        reason = "the port is not open";
        return false;
    }
    if (const char* problem = FrameProblem(dcb)) {
        reason = problem;
        return false;
    }
    WinDcb old{};
    old.DCBlength = sizeof old;
    if (!::GetCommState(handle, &old)) {
        reason = win32::SystemMessage(::GetLastError());
        return false;
    }
    WinDcb asked = ToWindows(dcb, old);
    if (!::SetCommState(handle, &asked)) {
        reason = win32::SystemMessage(::GetLastError());
        ::SetCommState(handle, &old);
        return false;
    }
    WinDcb now{};
    now.DCBlength = sizeof now;
    const char* refused = ::GetCommState(handle, &now) ? Refusal(asked, now) : "the settings cannot be read back";
    if (refused) {
        reason = refused;
        ::SetCommState(handle, &old);
        return false;
    }
    return true;
}

bool CSerialLine::ReadDcb(DCB& dcb) const
{
    WinDcb now{};
    now.DCBlength = sizeof now;
    if (!IsOpen() || !::GetCommState(m_native->handle, &now))
        return false;
    FromWindows(now, dcb);
    return true;
}

bool CSerialLine::ReadTimeouts() const
{
    COMMTIMEOUTS t{};
    return IsOpen() && ::GetCommTimeouts(m_native->handle, &t);
}

bool CSerialLine::SetTimeouts()
{
    COMMTIMEOUTS t = LineTimeouts();
    return IsOpen() && ::SetCommTimeouts(m_native->handle, &t);
}

CSerialLine::EControl ReadModemLinesOf(void* handle, SModemLines& lines, std::string& reason)
{
    // Tcl's serial channels hand out their HANDLE.
    return ReadLines(static_cast<HANDLE>(handle), lines, reason);
}

std::string PermissionDeniedReason(const std::string& path)
{
    std::string name = ResolveDevicePath(path);
    if (name.empty())
        name = path;
    return "access denied: " + name + " is in use by another program, or this account may not open it";
}
