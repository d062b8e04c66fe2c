#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <string>
#include <thread>
#include <vector>

#include "core/CancelSignal.h"
#include "terminal/KeySender.h"
#include "terminal/ReceivedTextQueue.h"
#include "terminal/TerminalOptions.h"
#include "widgets/TextView.h"

class CHexView;
class CReceivedTextQueue;
class IUserPrompt;

// What the terminal pane needs answered by the window that holds it.
class ITerminalPaneOwner {
public:
    virtual ~ITerminalPaneOwner() = default;
    // The open port's number, 0 when none is open. Read from any thread.
    virtual int OpenPort() const = 0;
    // Sends one byte out of the open port; true once it went out. Called on
    // the pane's sender and paste threads.
    virtual bool SendByte(unsigned char b, const CCancelSignal* cancel) = 0;
    // The window's keys (Ctrl+Tab, Ctrl+Break, accelerators), run after the
    // pane's key rule; true when the window took the key. UI thread.
    virtual bool TranslateKey(QKeyEvent* key) = 0;
};

// The terminal pane: shows what the device sends, sends typed keys out of the
// port on a sender thread of their own (the UI never waits for the line), and
// sends pasted text on a worker thread with progress in the status bar.
// Received text waits in a CReceivedTextQueue filled by the serial reader;
// the pane drains it in slices on the UI thread into its text view, which
// drops the oldest lines once it holds kCapacity characters and paints at
// most once per frame, so a flooding device never holds up the window.
class CVORLAView : public CTextView {
    Q_OBJECT
public:
    static constexpr int kCapacity = 0xFFFFFF; // characters the pane holds at most

    // The queue's reader must be stopped before the pane goes: the queue
    // posts to the pane when text starts waiting.
    CVORLAView(IUserPrompt& prompt, ITerminalPaneOwner& owner, CReceivedTextQueue& received,
               QWidget* parent = nullptr);
    ~CVORLAView() override;

    // Shows what has arrived so far, a few slices per turn of the event loop (UI thread).
    void FlushReceived();
    // The key rule, run before the main window's accelerators.
    bool PreTranslateKey(QKeyEvent* event);
    void SetWrap(bool wrap) { SetWrapping(wrap); }
    void SetLocalEcho(bool on) { m_options.localEcho = on; }
    // The CR+LF check box: on chooses CR LF; off goes back to LF from CR LF
    // and leaves a CR choice alone (the box shows only the CR LF choice).
    void SetSendCrLf(bool on);
    void SetEnterSends(EEnterSends enter) { m_options.enter = enter; }
    // While on, every typed key goes to the device (see DeviceKeyBytes);
    // copy and paste move to Ctrl+Shift+C and Ctrl+Shift+V.
    void SetKeysToDevice(bool on) { m_options.keysToDevice = on; }
    // Keys to Device: sends or handles the key (also for the hex view that
    // covers the pane); false when it stays with the window.
    bool SendKeyToDevice(QKeyEvent* event);
    const TerminalOptions& Options() const { return m_options; }
    void OnEditPaste();
    bool IsPasteBusy() const { return m_pasteBusy.load(); }
    // True while typed keys wait to go out or one is being written.
    bool IsTypingBusy() const { return m_keySender.IsBusy(); }
    // Ends the paste and the typed keys' sender and joins their threads.
    void StopPaste();
    // A line of VORLA's own (a port reconnected), on a line of its own after
    // everything received before it.
    void ShowNotice(const std::string& text);
    // Empties the pane (Clear Screen) and forgets a CR left over from the line.
    void ClearText();
    // Replaces the text with a document's (UTF-8), the caret at its end.
    void LoadText(const std::string& utf8);
    // Sends bytes as typed keys are sent: in order, after the keys before them.
    void SendBytes(const std::string& bytes);

    // View > Hex: the hex view (a child that covers the pane) shows the
    // received bytes instead of the text; both stay filled all the time.
    void SetHexView(CHexView* hex);
    void ShowHex(bool on);
    bool IsHexShown() const;
    CHexView* HexView() const { return m_hex; }
    // View > Timestamps: each line's arrival time in a margin beside its first row.
    void ShowTimestamps(bool on);
    bool IsShowingTimestamps() const { return m_timestamps; }
    // The arrival time of a line of the store (ms since the epoch), 0 if it has none.
    int64_t LineTime(std::size_t line) const;

signals:
    // A message for the status bar, shown for timeoutMs.
    void statusMessage(const QString& text, int timeoutMs);
    // Edit Paste is about to send the clipboard: the window sets up its progress controls.
    void pasteStarting();
    // How far a paste got, 0..1000, and the label to show beside the bar.
    void pasteProgress(int pos, const QString& label);
    // The pane gained the keyboard focus.
    void focusGained();

protected:
    bool event(QEvent* event) override;
    bool focusNextPrevChild(bool next) override;
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;

private:
    void OnChar(QKeyEvent* event);
    void SendTyped(const std::string& bytes, bool isEnter);
    std::string EnterBytes() const;
    void StartPaste(const std::string& text);
    void PasteThread(std::string text);
    void ShowSlice(std::string& slice, const std::vector<CReceivedTextQueue::SLineStamp>& stamps = {});
    void ReportLostKeys();
    // Empties the last line (ANSI display: a lone CR, an erase of the line).
    void ClearLastLine();
    // Keeps one time per line of the store, then gives `ms` to lines with text and no time yet.
    void TimeNewLines(int64_t ms);
    void PlaceMargin();
    class CTimeMargin;

    IUserPrompt& m_prompt;
    ITerminalPaneOwner& m_owner;
    CReceivedTextQueue& m_received;
    TerminalOptions m_options; // the command bar's Local Echo and CR+LF switches (UI thread)

    std::thread m_pasteThread;            // started and joined on the UI thread
    std::atomic<bool> m_pasteBusy{false}; // set on the UI thread, cleared by the paste thread
    CCancelSignal m_pasteStop;            // ends a paste's waits at shut-down

    CKeySender m_keySender; // owns the typed keys' thread; fed on the UI thread

    CHexView* m_hex = nullptr;      // a child, made by the window
    bool m_timestamps = false;
    CTimeMargin* m_margin = nullptr; // a child, shown with timestamps
    std::deque<int64_t> m_lineTimes; // per line of the store from m_timesBase on (absolute numbers); 0: none yet
    uint64_t m_timesBase = 0;
};
