#pragma once

#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>

#include "serial/ITerminalSink.h"
#include "terminal/TerminalText.h"

// The received text on its way from the serial reader to the terminal view.
// The reader pushes chunks, shaped by CTerminalText (line breaks, Backspace);
// the view takes the text in slices on its own thread, so a flooding device
// never costs it a repaint per chunk. When the bound is reached the reader
// waits instead of dropping: memory stays bounded and no byte is lost.
// AbortDelivery releases a waiting reader (port close, shut-down).
//
// A Backspace whose character was already taken stays in the text as '\b'.
// Such Backspaces only ever lead a slice; the view applies them to the text
// it shows by the same rule (the previous character of the line, never a
// line break).
class CReceivedTextQueue : public ITerminalSink {
public:
    static constexpr std::size_t kDefaultBound = 4 << 20;

    explicit CReceivedTextQueue(std::size_t bound = kDefaultBound) : m_bound(bound) {}

    // The reader's side (ITerminalSink). An empty chunk also tells the view.
    void AppendReceivedText(const char* chunk) override;
    void AbortDelivery() override;
    void ResumeDelivery() override;

    // The view's side. The handler runs on the reader's thread, under the
    // queue's lock, when text starts waiting: it only posts work to the
    // view's thread and never calls back into the queue. No further call
    // comes until the view has taken everything. It must stay callable as
    // long as a reader may push.
    void SetDataWaitingHandler(std::function<void()> handler);
    // Moves at most maxBytes (at least 1) of the waiting text into `slice`,
    // cut after a line break where one lies in its second half. Returns true
    // when text is left: the view comes back for it without being told.
    bool Take(std::size_t maxBytes, std::string& slice);
    // Forgets a CR whose line break still waits for the next byte (the view
    // was cleared).
    void ForgetPendingCr();
    std::size_t Waiting() const;

private:
    const std::size_t m_bound;
    mutable std::mutex m_mutex;         // guards every member below
    std::condition_variable m_room;     // the reader waits here while the bound is reached
    std::string m_pending;              // shaped text; from m_taken on not yet taken
    std::size_t m_taken = 0;
    CTerminalText m_shaper;
    std::function<void()> m_dataWaiting;
    bool m_viewTold = false;            // the handler ran and the view has not yet taken everything
    bool m_aborted = false;
};
