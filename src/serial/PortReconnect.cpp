#include "serial/PortReconnect.h"

#include <algorithm>

#include "core/CancelSignal.h"
#include "serial/PortMap.h"
#include "serial/SerialPort.h"

CPortReconnect::CPortReconnect(CSerialPort& port, const CPortMap& ports) : m_serial(port), m_ports(ports) {}

void CPortReconnect::SetEnabled(bool on)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_enabled = on;
}

bool CPortReconnect::Enabled() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_enabled;
}

void CPortReconnect::Opened(int n)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_state = EState::Open;
    m_port = n;
    m_cv.notify_all();
}

void CPortReconnect::Closed()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_state = EState::Closed;
    m_cv.notify_all();
}

bool CPortReconnect::Lost(int n)
{
    m_failingSince.reset();
    m_reported = false;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_port = n;
    m_state = m_enabled && !m_shutdown ? EState::Waiting : EState::Closed;
    m_cv.notify_all();
    return m_state == EState::Waiting;
}

int CPortReconnect::WaitingPort() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_state == EState::Waiting ? m_port : 0;
}

CPortReconnect::SAttempt CPortReconnect::TryReopen(Clock::time_point now)
{
    SAttempt attempt;
    attempt.port = WaitingPort();
    if (attempt.port == 0 || !m_ports.IsPresent(attempt.port))
        return attempt;
    if (!m_serial.Open("COM" + std::to_string(attempt.port))) {
        // A node on its way out (or in) answers "no such device": wait on.
        if (m_serial.LastOpenFailure() == CSerialLine::EOpenFailure::NoDevice)
            return attempt;
        // Said once; a program letting go of the device makes no event in
        // its directory, so look again now and then.
        if (m_reported) {
            attempt.recheckMs = kRetryRefusedMs;
            return attempt;
        }
        if (!m_failingSince)
            m_failingSince = now;
        const auto failing = std::chrono::duration_cast<std::chrono::milliseconds>(now - *m_failingSince).count();
        if (failing < kReportAfterMs) {
            attempt.recheckMs = static_cast<int>(kReportAfterMs - failing);
            return attempt;
        }
        m_reported = true;
        attempt.kind = SAttempt::EKind::Refused;
        attempt.reason = m_serial.LastOpenError();
        attempt.recheckMs = kRetryRefusedMs;
        return attempt;
    }
    // As Connect: the line as the engine left it for this device, applied
    // again with its time-outs, then the reader.
    m_serial.ReadState();
    attempt.settings = m_serial.ApplySettings(m_serial.Dcb());
    m_serial.StartThreads();
    attempt.kind = SAttempt::EKind::Reopened;
    Opened(attempt.port);
    return attempt;
}

CPortReconnect::EWait CPortReconnect::WaitForPort(int timeoutMs, const CCancelSignal* cancel, int& port)
{
    // Subscribed before the lock is taken, dropped after it is released:
    // the wake-up takes the lock.
    CCancelSignal::Subscription wake;
    if (cancel)
        wake = cancel->OnCancel([this] {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_cv.notify_all();
        });
    const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(0, timeoutMs));
    std::unique_lock<std::mutex> lock(m_mutex);
    for (bool timedOut = false;;) {
        port = m_port;
        if (cancel && cancel->IsCancelled())
            return EWait::Cancelled;
        if (m_shutdown || m_state == EState::Closed)
            return EWait::Ended;
        // An open port whose device is gone waits for the owner to handle
        // the loss; then it waits for the device or is closed.
        if (m_state == EState::Open && m_serial.IsOpen())
            return EWait::Open;
        if (timedOut)
            return EWait::TimedOut;
        if (timeoutMs < 0)
            m_cv.wait(lock);
        else
            timedOut = m_cv.wait_until(lock, deadline) == std::cv_status::timeout;
    }
}

void CPortReconnect::Shutdown()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_shutdown = true;
    m_state = EState::Closed;
    m_cv.notify_all();
}
