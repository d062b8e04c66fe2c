#pragma once

#include <QPlainTextEdit>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "core/CancelSignal.h"
#include "serial/ITerminalSink.h"
#include "terminal/KeySender.h"
#include "terminal/TerminalText.h"

class IUserPrompt;

// The terminal pane: shows what the device sends, sends typed keys out of the
// port on a sender thread of their own (the UI never waits for the line), and
// sends pasted text on a worker thread with progress in the status bar.
// Received chunks are collected from the reader thread and inserted in
// batches on the UI thread, so a flooding device never costs a repaint per
// chunk.
class CVORLAView : public QPlainTextEdit, public ITerminalSink {
    Q_OBJECT
public:
    static constexpr int kCapacity = 0xFFFFFF; // characters the pane holds at most

    explicit CVORLAView(IUserPrompt& prompt, QWidget* parent = nullptr);
    ~CVORLAView() override;

    // ITerminalSink, called on the reader thread.
    void AppendReceivedText(const char* chunk) override;
    void AbortDelivery() override;
    void ResumeDelivery() override;

    // Shows what has arrived so far (UI thread).
    void FlushReceived();
    // The key rule, run before the main window's accelerators.
    bool PreTranslateKey(QKeyEvent* event);
    void SetWrap(bool wrap);
    void OnInitialUpdate();
    void OnEditPaste();
    bool IsPasteBusy() const { return m_pasteBusy.load(); }
    // True while typed keys wait to go out or one is being written.
    bool IsTypingBusy() const { return m_keySender.IsBusy(); }
    // Ends the paste and the typed keys' sender and joins their threads.
    void StopPaste();
    // Empties the pane (Clear Screen) and forgets a CR left over from the line.
    void ClearText();

    // Wired by the main window.
    std::function<int()> m_openPort;                                 // m_openPort, read from any thread
    std::function<bool(unsigned char, const CCancelSignal*)> m_sendByte; // the engine's SendByte
    std::function<void(int pos, const QString& label)> m_showProgress;   // paste progress, UI thread
    std::function<void()> m_beforePaste;                             // CreateStatusControls
    std::function<void(CVORLAView*)> m_register;                     // AttachTerminal
    std::function<bool(QKeyEvent*)> m_translateKey; // the main window's keys, after the key rule
    std::function<void(const QString&, int timeoutMs)> m_showStatus; // a status bar message, UI thread

protected:
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;

private:
    void OnChar(QKeyEvent* event);
    void StartPaste(const std::string& text);
    void PasteThread(std::string text);
    void EraseBeforeEnd(QTextCursor& cursor, size_t count);
    void ReportLostKeys();

    IUserPrompt& m_prompt;

    std::mutex m_rxMutex;           // guards the five members below
    std::condition_variable m_rxCv; // the reader waits here while the UI is far behind
    std::string m_rxPending;        // shown form of received chunks; from m_rxTaken on not yet inserted
    size_t m_rxTaken = 0;
    CTerminalText m_rxText;
    bool m_flushQueued = false;
    bool m_rxAborted = false;

    std::thread m_pasteThread;            // started and joined on the UI thread
    std::atomic<bool> m_pasteBusy{false}; // set on the UI thread, cleared by the paste thread
    CCancelSignal m_pasteStop;            // ends a paste's waits at shut-down

    CKeySender m_keySender; // owns the typed keys' thread; fed on the UI thread
};
