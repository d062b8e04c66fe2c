#include "console/ExpectSource.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <string>

#include "core/CancelSignal.h"
#include "console/TclCommands.h"

namespace {

using Clock = std::chrono::steady_clock;

void WakeOnly(ClientData, int) {}

} // namespace

void CChannelSource::Pull()
{
    if (!m_channel)
        return;
    Tcl_DString mode;
    Tcl_DStringInit(&mode);
    Tcl_GetChannelOption(nullptr, m_channel, "-blocking", &mode);
    const bool blocking = std::string(Tcl_DStringValue(&mode)) != "0";
    Tcl_DStringFree(&mode);
    if (blocking)
        Tcl_SetChannelOption(nullptr, m_channel, "-blocking", "0");
    char block[4096];
    for (;;) {
        const int n = Tcl_ReadRaw(m_channel, block, sizeof block);
        if (n > 0) {
            m_buffer.Append(block, static_cast<std::size_t>(n));
            continue;
        }
        if ((n == 0 && Tcl_Eof(m_channel)) || (n < 0 && Tcl_GetErrno() != EAGAIN && Tcl_GetErrno() != EWOULDBLOCK))
            m_buffer.MarkEof(); // the device hung up (EIO) or the file ended
        break;
    }
    if (blocking)
        Tcl_SetChannelOption(nullptr, m_channel, "-blocking", "1");
}


CMatchBuffer::EWait CChannelSource::Wait(uint64_t seen, Deadline deadline, const CCancelSignal* cancel)
{
    bool timedOut = false;
    Tcl_TimerToken timer = nullptr;
    if (deadline) {
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(*deadline - Clock::now()).count() + 1;
        timer = Tcl_CreateTimerHandler(static_cast<int>(std::clamp<long long>(ms, 0, INT_MAX)),
                                       [](ClientData flag) { *static_cast<bool*>(flag) = true; }, &timedOut);
    }
    const Tcl_Channel channel = m_channel;
    if (channel)
        Tcl_CreateChannelHandler(channel, TCL_READABLE, WakeOnly, this);
    CCancelSignal::Subscription wake;
    if (cancel)
        wake = cancel->OnCancel([thread = m_thread] { QueueTclThreadEvent(thread, nullptr, nullptr); });
    CMatchBuffer::EWait result = CMatchBuffer::EWait::Changed;
    for (;;) {
        Pull();
        if (m_buffer.Snapshot(UINT64_MAX).generation != seen)
            break;
        if (cancel && cancel->IsCancelled()) {
            result = CMatchBuffer::EWait::Cancelled;
            break;
        }
        if (timedOut || (deadline && Clock::now() >= *deadline)) {
            result = CMatchBuffer::EWait::TimedOut;
            break;
        }
        Tcl_DoOneEvent(TCL_ALL_EVENTS);
    }
    if (channel && m_channel) // a handler in the loop may have closed it
        Tcl_DeleteChannelHandler(channel, WakeOnly, this);
    if (timer && !timedOut)
        Tcl_DeleteTimerHandler(timer);
    return result;
}
