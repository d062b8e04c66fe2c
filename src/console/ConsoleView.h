#pragma once

#include <QElapsedTimer>
#include <QTimer>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "core/CancelSignal.h"
#include "console/CommandHistory.h"
#include "console/ConsoleOutputQueue.h"
#include "console/IConsole.h"
#include "widgets/TextView.h"

class CUiBridge;
class IUserPrompt;

// What the console pane needs from the window that holds it: the
// interpreter host's entry points and the window's keys.
class IConsolePaneOwner {
public:
    virtual ~IConsolePaneOwner() = default;
    // Makes the console the interpreter's output again. UI thread.
    virtual void AttachConsole() = 0;
    // Queues text for evaluation. Called on the UI thread and, for pasted
    // lines, on the paste thread, in the order the lines are entered.
    virtual void SubmitCommandText(const std::string& text) = 0;
    // The window's translation (Ctrl+Tab, Ctrl+Break, accelerators), run
    // after the pane's own key rules; true when it took the key. UI thread.
    virtual bool TranslateKey(QKeyEvent* key) = 0;
};

// The Tcl console pane: shows the prompt, guards it from editing, keeps the
// history of entered lines, hands entered and pasted lines to the interpreter
// host, and prints coloured output for every subsystem (PrintToConsole).
//
// The text is the output followed by the input line: the prompt, when one
// is shown, and what the user has typed after it.
//
//     ...output...  VORLA > typed input
//                   ^        ^
//          m_outputEnd      m_inputStart
//
// While the user has typed something, output goes in at m_outputEnd, above
// the input line, so printing never splits the input; with nothing typed it
// goes at the end, after an empty prompt. Enter submits the text after
// m_inputStart. The input line starts a line of its own, so its protected
// first columns (as many as kConsolePrompt is long) are the prompt: after
// output that has not ended its line a line break stands between them (see
// OpenInputLine).
//
// The pane is a text view over a line store: output is appended at the end
// or, above unfinished input, in front of the input line, which is taken out
// and appended again, so that an insert costs the output and the input
// line, never the text held. Only the input after m_inputStart is editable.
//
// Output printed on other threads waits in a queue (CConsoleOutputQueue) and
// is shown in batches, at most once a frame. Whatever the UI thread does with
// the text in order with output (print, clear, Enter, a pasted line) first
// shows everything queued before it. The pane keeps the newest
// kConsoleCapacity characters, dropping whole lines from the top; the input
// line and the output line above it stay (a single longer output line keeps
// its newest part).
class CConsoleView : public CTextView, public IConsole {
    Q_OBJECT
public:
    CConsoleView(CUiBridge& bridge, IUserPrompt& prompt, IConsolePaneOwner& owner, QWidget* parent = nullptr);
    ~CConsoleView() override;

    // The most characters the pane keeps (line breaks count).
    static constexpr int kConsoleCapacity = 0xFFFFFF;
    // The output a writer may queue before it waits. The prompt after
    // Ctrl+Break and anything the UI thread prints wait behind no more than
    // this (a tenth of a second of short lines). Short lines come slower than
    // the pane takes them; one long print waits a frame per bound's worth
    // (10 MB in about 0.2 s).
    static constexpr std::size_t kOutputBacklog = 1 << 20;

    // IConsole. A worker's print or clear is queued; on the UI thread it
    // takes effect at once, after everything queued before it.
    void PrintToConsole(const std::string& text, int kind) override;
    void ClearAll() override;
    void AbortOutput() override;
    int HistoryCount() const override;
    std::string HistoryAt(int index) const override;

    // Output queued by workers and not yet shown (bytes, as the queue counts).
    std::size_t QueuedOutput() const { return m_output.Waiting(); }

    CCommandHistory& History() { return m_history; }

    // The key rules, run before the main window's accelerators. Returns true
    // when the key is swallowed.
    bool PreTranslateKey(QKeyEvent* event);
    // Edit Paste: enters the clipboard's text line by line.
    void OnEditPaste();
    bool IsPasteBusy() const { return m_pasteBusy.load(); }
    // Ends a running paste at once and joins its thread (shut-down).
    void StopPaste();

signals:
    // The pane gained the keyboard focus.
    void focusGained();

protected:
    bool event(QEvent* event) override;
    bool focusNextPrevChild(bool next) override;
    void keyPressEvent(QKeyEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;
    QVariant inputMethodQuery(Qt::InputMethodQuery query) const override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void OnOutputWaiting();
    void ShowOutputFrame();
    void ShowAllQueuedOutput();
    void ShowRuns(std::vector<SConsoleRun>& runs);
    void ClearPane();
    void InsertOutput(const std::vector<SPiece>& pieces);
    void ShowPrompt(int kind);
    void OpenInputLine();
    bool HasBreakBeforeInput() const;
    bool AtLineStart(uint64_t pos) const;
    uint64_t LineStartOf(uint64_t pos) const;
    int Column(uint64_t lineStart, uint64_t pos) const;
    uint64_t AfterPrompt(uint64_t lineStart) const;
    void SetOutputEnd(uint64_t position);
    void EndInputLine();
    uint64_t End() const { return Store().End(); }
    std::string InputText() const;
    void EditInput(uint64_t from, uint64_t to, std::string_view text);
    void ReplaceInput(const std::string& text);
    void TypeText(const std::string& text);
    bool EditingKey(QKeyEvent* event);
    void EraseInput(bool forward, bool word);
    void MoveCaret(QKeyEvent* event);
    void OnEnter();
    void StartPaste(const QString& text);
    void PasteThread(std::string text);
    bool EnterFromPaste(const std::string& line, std::string& typedBefore);
    std::string EnterPastedText(const std::string& text);
    void KeepCaretInInput();

    CUiBridge& m_bridge;
    IUserPrompt& m_prompt;
    IConsolePaneOwner& m_owner;
    CConsoleOutputQueue m_output{kOutputBacklog}; // written by any thread, drained on the UI thread (locks inside)
    QTimer m_outputTimer;           // the next batch of queued output (UI thread)
    QElapsedTimer m_lastBatch;      // when the last batch started (UI thread)
    CCommandHistory m_history;      // written on the UI thread, read by the Tcl thread (locks inside)
    std::thread m_pasteThread;      // started and joined on the UI thread
    std::atomic<bool> m_pasteBusy{false}; // set on the UI thread, cleared by the paste thread
    CCancelSignal m_pasteStop;      // ends the paste's waits at shut-down
    // The input line's marks, absolute positions of the store (UI thread).
    // Text typed at a mark stays after it; the marks move past output only
    // where the code says so.
    uint64_t m_outputEnd = 0;       // the end of the output, where output goes in
    uint64_t m_inputStart = 0;      // the start of the user's input, after the prompt
};
