#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>

#include "core/Result.h"

class CCancelSignal;
class CPortMap;
class CSerialPort;

// Reopens the port whose device went away once the same device is back
// (Config > Reconnect Automatically), with the line settings it had, and lets
// scripts wait for that. The owner (the main window) tells it what becomes
// of the port: opened, closed, lost and closed; after each look at the
// devices it calls TryReopen. Nothing here runs by itself: no thread, no
// timer, so waiting costs nothing.
class CPortReconnect {
public:
    using Clock = std::chrono::steady_clock;
    // A device that is back but cannot be opened is reported once the
    // failure has lasted this long: udev gives a new node its group and
    // mode a moment after creating it.
    static constexpr int kReportAfterMs = 500;
    // Once reported, a refused device is tried again this often: another
    // program letting go of it makes no event to wake on.
    static constexpr int kRetryRefusedMs = 1000;

    enum class EWait { Open, TimedOut, Cancelled, Ended };

    // What one TryReopen did.
    struct SAttempt {
        enum class EKind { None, Reopened, Refused };
        EKind kind = EKind::None;
        int port = 0;
        std::string reason;   // Refused: why the device cannot be opened (said once per wait)
        SResult settings;     // Reopened: how applying the line settings went
        int recheckMs = -1;   // >= 0: the device is there but refused; try again after this long
    };

    CPortReconnect(CSerialPort& port, const CPortMap& ports);
    CPortReconnect(const CPortReconnect&) = delete;
    CPortReconnect& operator=(const CPortReconnect&) = delete;

    // The owner's thread (the UI thread).
    void SetEnabled(bool on);
    bool Enabled() const;
    void Opened(int n); // Connect opened COMn
    void Closed();      // DisConnect (also of a port waiting for its device): waits end
    // Open COMn lost its device and the engine has closed the opening. With
    // the option on it waits for the device (true); otherwise as Closed.
    bool Lost(int n);
    int WaitingPort() const; // 0 when not waiting
    // While waiting: opens the port again when its device is present, as
    // Connect does (the engine puts back the settings last applied to the
    // device). A device not there yet, or still going, costs nothing; one
    // that is there but refuses asks to be tried again (recheckMs).
    SAttempt TryReopen(Clock::time_point now = Clock::now());

    // Any thread but the owner's (Tcl's WaitForPort): waits until the port
    // is open again, while it waits for its device or its loss is being
    // handled. Open at once when a port is open; Ended when none is open or
    // waiting, or the wait ends otherwise (DisConnect, shut-down); TimedOut
    // after timeoutMs (< 0: no limit); Cancelled when cancel is set. `port`
    // names the port concerned (0 when none).
    EWait WaitForPort(int timeoutMs, const CCancelSignal* cancel, int& port);
    // Ends every wait for good (the window closes).
    void Shutdown();

private:
    enum class EState { Closed, Open, Waiting };

    CSerialPort& m_serial;
    const CPortMap& m_ports;

    mutable std::mutex m_mutex;   // guards the members up to m_shutdown
    std::condition_variable m_cv; // every change of them, and a cancel
    EState m_state = EState::Closed;
    int m_port = 0;
    bool m_enabled = false;
    bool m_shutdown = false;

    // TryReopen's own (owner's thread): the current wait's failure to open.
    std::optional<Clock::time_point> m_failingSince;
    bool m_reported = false;
};
