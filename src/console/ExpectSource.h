#pragma once

#include <tcl.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "console/MatchView.h"
#include "serial/MatchBuffer.h"

class CCancelSignal;
enum class EKind { Glob, Regexp, Exact, Timeout, Eof, Default };

// One pattern and its body, as expect and expect_background take them.
struct SPattern {
    EKind kind = EKind::Glob;
    bool nocase = false;
    CObjRef pattern;   // the pattern as given (a regexp compiles into it)
    std::string bytes; // glob and exact: the pattern's bytes
    CObjRef body;      // none: the one-pattern form
};
using CPatternList = std::vector<SPattern>;
using Deadline = std::optional<std::chrono::steady_clock::time_point>;

// Where an expect command reads and a send writes: the window's port, whose
// buffer the engine's reader fills, or a Tcl channel, read on the Tcl thread.
class CByteSource {
public:
    virtual ~CByteSource() = default;
    virtual CMatchBuffer& Buffer() = 0;
    virtual CMatchView& View() = 0;
    // Reads what has arrived into the buffer (a channel; the port's reader
    // needs no help).
    virtual void Pull() {}
    // Waits until the buffer's generation differs from `seen`.
    virtual CMatchBuffer::EWait Wait(uint64_t seen, Deadline deadline, const CCancelSignal* cancel) = 0;
};

class CPortSource : public CByteSource {
public:
    CPortSource(CMatchBuffer& buffer, CMatchView& view) : m_buffer(buffer), m_view(view) {}
    CMatchBuffer& Buffer() override { return m_buffer; }
    CMatchView& View() override { return m_view; }
    CMatchBuffer::EWait Wait(uint64_t seen, Deadline deadline, const CCancelSignal* cancel) override
    {
        return m_buffer.WaitForChange(seen, deadline, cancel);
    }

private:
    CMatchBuffer& m_buffer;
    CMatchView& m_view;
};


// A Tcl channel as a byte source. Its bytes are read raw (no encoding, no
// translation) without blocking; the wait runs the Tcl event loop with a
// readable handler, a timer for the deadline and a wake-up for the cancel.
class CChannelSource : public CByteSource {
public:
    CChannelSource(Tcl_Channel channel, Tcl_ThreadId thread) : m_channel(channel), m_thread(thread) {}
    CMatchBuffer& Buffer() override { return m_buffer; }
    CMatchView& View() override { return m_view; }
    void Pull() override;
    CMatchBuffer::EWait Wait(uint64_t seen, Deadline deadline, const CCancelSignal* cancel) override;
    // The channel is closing: nothing more is read from it.
    void Closed()
    {
        m_channel = nullptr;
        m_buffer.MarkEof();
    }
    Tcl_Channel Channel() const { return m_channel; }

    std::shared_ptr<const CPatternList> background; // expect_background on this channel
    bool handlerSet = false;                         // a readable handler serves `background`
    void* closeHandlerData = nullptr;                // for the close handler, until it runs

private:
    Tcl_Channel m_channel;
    Tcl_ThreadId m_thread;
    CMatchBuffer m_buffer;
    CMatchView m_view;
};
