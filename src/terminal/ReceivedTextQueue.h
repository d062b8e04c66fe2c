#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>
#include <functional>
#include <mutex>
#include <string>

#include "serial/ITerminalSink.h"
#include "terminal/AnsiParser.h"
#include "terminal/TerminalText.h"
#include "text/Utf8Decoder.h"

// The received text on its way from the serial reader to the terminal view.
// The reader pushes chunks, turned into UTF-8 text (each byte above 0x7F as
// its Latin-1 character, or decoded as UTF-8 with View > UTF-8) and shaped
// by CTerminalText (line breaks, Backspace);
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

    // The first byte of a line lies at `offset` in a slice and arrived at
    // `ms` (milliseconds since the epoch).
    struct SLineStamp {
        std::size_t offset;
        int64_t ms;
    };

    explicit CReceivedTextQueue(std::size_t bound = kDefaultBound) : m_bound(bound) {}

    // The reader's side (ITerminalSink). An empty chunk also tells the view.
    void AppendReceivedText(const char* chunk) override;
    void AbortDelivery() override;
    void ResumeDelivery() override;
    bool WantsEscapesAndHighBytes() const override { return m_utf8.load() || m_ansi.load(); }

    // View > UTF-8 (any thread): received bytes are decoded as UTF-8, also
    // when a character is split across chunks; off, each byte is one character.
    void SetShowUtf8(bool on);
    bool ShowsUtf8() const { return m_utf8.load(); }
    // View > ANSI Colours (any thread): escape sequences are taken out of the
    // text (see CAnsiParser; its marks reach the view in the text) and a lone
    // CR clears the line; off, the text is as before and the colour goes back
    // to the default.
    void SetShowAnsi(bool on);
    bool ShowsAnsi() const { return m_ansi.load(); }

    // The view's side. The handler runs on the reader's thread, under the
    // queue's lock, when text starts waiting: it only posts work to the
    // view's thread and never calls back into the queue. No further call
    // comes until the view has taken everything. It must stay callable as
    // long as a reader may push.
    void SetDataWaitingHandler(std::function<void()> handler);
    // Moves at most maxBytes (at least 1) of the waiting text into `slice`,
    // cut after a line break where one lies in its second half. Returns true
    // when text is left: the view comes back for it without being told.
    // With `stamps`, also the arrival times of the lines that start in it.
    bool Take(std::size_t maxBytes, std::string& slice, std::vector<SLineStamp>* stamps = nullptr);
    // Forgets a CR whose line break still waits for the next byte (the view
    // was cleared).
    void ForgetPendingCr();
    std::size_t Waiting() const;

private:
    // Queues shaped text (under m_mutex) and tells the view when text starts waiting.
    void Queue(const std::string& text);

    const std::size_t m_bound;
    mutable std::mutex m_mutex;         // guards every member below
    std::condition_variable m_room;     // the reader waits here while the bound is reached
    std::string m_pending;              // shaped text; from m_taken on not yet taken
    std::size_t m_taken = 0;
    CTerminalText m_shaper;
    CUtf8Decoder m_decoder;
    CAnsiParser m_ansiParser;
    std::string m_bytes;                // the chunk with ANSI display, marks' bytes made '.' (reused)
    std::string m_parsed;               // the same without escape sequences (reused)
    std::string m_text;                 // the chunk as text, before shaping (reused)
    std::function<void()> m_dataWaiting;
    bool m_viewTold = false;            // the handler ran and the view has not yet taken everything
    bool m_aborted = false;
    uint64_t m_base = 0;                // stream offset of m_pending[0]
    bool m_lineStamped = false;         // the current line's first byte has its time
    std::deque<std::pair<uint64_t, int64_t>> m_stamps; // (stream offset, ms) of lines' first bytes not yet taken
    std::atomic<bool> m_utf8{false};    // written under m_mutex, read by the engine without it
    std::atomic<bool> m_ansi{false};    // the same
};
