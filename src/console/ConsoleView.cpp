#include "console/ConsoleView.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QTextBlock>
#include <QTimer>

#include <algorithm>
#include <limits>
#include <string>

#include "core/IUserPrompt.h"
#include "widgets/TextPane.h"
#include "widgets/UiBridge.h"

namespace {

// The first columns of a line, as many as the prompt is long, are not editable.
constexpr int kProtected = static_cast<int>(std::char_traits<char>::length(kConsolePrompt));
static_assert(kProtected > 1 && kConsolePrompt[kProtected - 1] == ' ', "the prompt ends with its blank");

// Queued output is shown at most once a frame, for at most kBatchMs of the
// frame (so that keys and painting keep their turn), a slice at a time.
constexpr int kFrameMs = 16;
constexpr int kBatchMs = 10;
constexpr std::size_t kSliceBytes = 16 << 10;

QColor KindColour(int kind)
{
    switch (kind) {
    case kConsoleNotice:
        return QColor(0, 0, 255);
    case kConsoleError:
        return QColor(255, 0, 0);
    default:
        return QColor(0, 0, 0);
    }
}

QTextCharFormat ColourFormat(const QColor& colour)
{
    QTextCharFormat format;
    format.setForeground(colour);
    return format;
}

} // namespace

CConsoleView::CConsoleView(CUiBridge& bridge, IUserPrompt& prompt, IConsolePaneOwner& owner, QWidget* parent)
    : QPlainTextEdit(parent), m_bridge(bridge), m_prompt(prompt), m_owner(owner)
{
    SetUpPane(this, "console", "Console");
    QPalette pal = palette();
    pal.setColor(QPalette::Base, Qt::white);
    pal.setColor(QPalette::Text, Qt::black);
    setPalette(pal);
    // Typing at a mark leaves the mark before the typed text.
    m_outputEnd = QTextCursor(document());
    m_outputEnd.setKeepPositionOnInsert(true);
    m_inputStart = QTextCursor(document());
    m_inputStart.setKeepPositionOnInsert(true);

    m_outputTimer.setSingleShot(true);
    connect(&m_outputTimer, &QTimer::timeout, this, &CConsoleView::ShowOutputFrame);
    // Runs on the writer's thread: only posts. A call still posted when the
    // pane goes is dropped with it.
    m_output.SetDataWaitingHandler(
        [this] { QMetaObject::invokeMethod(this, [this] { OnOutputWaiting(); }, Qt::QueuedConnection); });
}

CConsoleView::~CConsoleView()
{
    m_output.Abort();
    StopPaste();
}

void CConsoleView::PrintToConsole(const std::string& text, int kind)
{
    if (!m_bridge.OnUiThread()) {
        m_output.Print(text, kind);
        return;
    }
    // The UI thread never waits for room: it is the one that makes it.
    ShowAllQueuedOutput();
    ShowRuns({MakeConsoleRun(text, kind)});
}

void CConsoleView::ClearAll()
{
    if (!m_bridge.OnUiThread()) {
        m_output.Clear();
        return;
    }
    std::vector<SConsoleRun> cleared; // shown and cleared at once: not shown at all
    m_output.Take(std::numeric_limits<std::size_t>::max(), cleared);
    ClearPane();
}

void CConsoleView::AbortOutput() { m_output.Abort(); }

void CConsoleView::OnOutputWaiting()
{
    if (m_outputTimer.isActive())
        return;
    const qint64 since = m_lastBatch.isValid() ? m_lastBatch.elapsed() : kFrameMs;
    m_outputTimer.start(static_cast<int>(std::max<qint64>(0, kFrameMs - since)));
}

void CConsoleView::ShowOutputFrame()
{
    m_lastBatch.start();
    std::vector<SConsoleRun> runs;
    bool left = true;
    while (left && m_lastBatch.elapsed() < kBatchMs) {
        runs.clear();
        left = m_output.Take(kSliceBytes, runs);
        ShowRuns(runs);
    }
    if (left) // the next frame comes back for the rest without being told
        m_outputTimer.start(static_cast<int>(std::max<qint64>(0, kFrameMs - m_lastBatch.elapsed())));
}

void CConsoleView::ShowAllQueuedOutput()
{
    std::vector<SConsoleRun> runs;
    m_output.Take(std::numeric_limits<std::size_t>::max(), runs);
    ShowRuns(runs);
}

void CConsoleView::ShowRuns(const std::vector<SConsoleRun>& runs)
{
    if (runs.empty())
        return;
    HoldPainting();
    for (const SConsoleRun& run : runs) {
        switch (run.type) {
        case SConsoleRun::kText:
            InsertOutput(QString::fromUtf8(run.text.data(), static_cast<int>(run.text.size())),
                         ColourFormat(KindColour(run.kind)));
            break;
        case SConsoleRun::kPrompt:
            ShowPrompt(ColourFormat(KindColour(run.kind)));
            break;
        case SConsoleRun::kClear:
            ClearPane();
            break;
        }
    }
    DropOldestLines();
    KeepCaretInInput(); // and the keyboard focus stays where the user put it
    if (currentCharFormat().foreground().color() != QColor(0, 0, 0))
        setCurrentCharFormat(ColourFormat(Qt::black));
}

void CConsoleView::ClearPane()
{
    QTextCursor all(document());
    all.select(QTextCursor::Document);
    all.removeSelectedText();
    SetOutputEnd(0);
    m_inputStart.setPosition(0);
}

void CConsoleView::DropOldestLines()
{
    const int excess = EndOfText() - m_capacity;
    if (excess <= 0)
        return;
    // Whole lines from the top, up to the one that holds the last character
    // that must go. The input and the output line still being written stay:
    // only a single output line longer than the capacity loses its start.
    const QTextBlock last = document()->findBlock(excess - 1);
    int cut = last.position() + last.length();
    if (cut > m_outputEnd.position())
        cut = std::min(excess, m_outputEnd.position());
    if (cut <= 0)
        return;
    QTextCursor front(document());
    front.setPosition(cut, QTextCursor::KeepAnchor);
    front.removeSelectedText();
}

void CConsoleView::InsertOutput(const QString& text, const QTextCharFormat& format)
{
    if (text.isEmpty())
        return;
    // With nothing typed, an empty prompt line becomes part of the output.
    if (m_inputStart.position() == EndOfText())
        SetOutputEnd(EndOfText());
    const bool hadBreak = HasBreakBeforeInput();
    QTextCursor cursor(document());
    cursor.setPosition(m_outputEnd.position());
    cursor.insertText(text, format);
    SetOutputEnd(cursor.position());
    if (m_outputEnd.atBlockStart()) {
        if (hadBreak) { // the output ended its line: the break is not needed any more
            cursor.setPosition(m_outputEnd.position() + 1, QTextCursor::KeepAnchor);
            cursor.removeSelectedText();
        }
    } else if (m_outputEnd.position() < EndOfText()) {
        OpenInputLine();
    }
}

void CConsoleView::ShowPrompt(const QTextCharFormat& format)
{
    const int lineStart = m_outputEnd.position() + (HasBreakBeforeInput() ? 1 : 0);
    if (m_inputStart.position() > lineStart)
        return; // the input line has its prompt already
    // A prompt ends the output's line for good; anything typed ahead follows it.
    if (!m_outputEnd.atBlockStart()) {
        OpenInputLine();
        SetOutputEnd(m_outputEnd.position() + 1);
    }
    QTextCursor cursor(document());
    cursor.setPosition(m_outputEnd.position());
    // The prompt in its colour; its closing blank in the colour of typed text.
    cursor.insertText(QString::fromLatin1(kConsolePrompt, kProtected - 1), format);
    cursor.insertText(QString::fromLatin1(kConsolePrompt + kProtected - 1, 1), ColourFormat(Qt::black));
    m_inputStart.setPosition(cursor.position());
}

void CConsoleView::OpenInputLine()
{
    // The input line starts a line of its own, so that its protected first
    // columns are the prompt. After output that has not ended its line, a
    // line break goes between them; it stays only while that output line is
    // unfinished (Tcl writes a line and its line feed separately).
    if (m_outputEnd.atBlockStart() || HasBreakBeforeInput())
        return;
    const int at = m_outputEnd.position();
    const bool inputAtMark = m_inputStart.position() == at;
    QTextCursor cursor(document());
    cursor.setPosition(at);
    cursor.insertText(QStringLiteral("\n"));
    if (inputAtMark)
        m_inputStart.setPosition(at + 1);
}

bool CConsoleView::HasBreakBeforeInput() const
{
    const int at = m_outputEnd.position();
    return !m_outputEnd.atBlockStart() && at < EndOfText() && document()->characterAt(at) == QChar::ParagraphSeparator;
}

void CConsoleView::SetOutputEnd(int position)
{
    m_outputEnd.setPosition(position);
    if (m_inputStart.position() < position)
        m_inputStart.setPosition(position);
}

void CConsoleView::EndInputLine()
{
    // The entered line is output now; the next input line starts at the end.
    SetOutputEnd(EndOfText());
}

int CConsoleView::EndOfText() const { return document()->characterCount() - 1; }

QString CConsoleView::InputText() const
{
    QTextCursor cursor(document());
    cursor.setPosition(m_inputStart.position());
    cursor.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
    return SelectedPlainText(cursor);
}

void CConsoleView::ReplaceInput(const QString& text)
{
    if (!text.isEmpty())
        OpenInputLine();
    QTextCursor cursor(document());
    cursor.setPosition(m_inputStart.position());
    cursor.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
    cursor.insertText(text, ColourFormat(Qt::black));
    setTextCursor(cursor);
}

void CConsoleView::KeepCaretInInput()
{
    // A caret inside the input stays where the user put it; anywhere else it
    // goes to the end. Moving it costs a relayout, so only when it must.
    if (textCursor().selectionStart() < m_inputStart.position())
        MoveCaretToEnd(this);
}

void CConsoleView::HoldPainting()
{
    // A script that prints line after line would otherwise repaint and
    // scroll the pane once per line: paint at most once a frame instead.
    if (m_paintHeld)
        return;
    m_paintHeld = true;
    setUpdatesEnabled(false);
    QTimer::singleShot(16, this, [this] {
        m_paintHeld = false;
        setUpdatesEnabled(true);
        ensureCursorVisible();
    });
}

int CConsoleView::HistoryCount() const { return m_history.GetCount(); }

std::string CConsoleView::HistoryAt(int index) const { return m_history.GetAt(index); }

bool CConsoleView::PreTranslateKey(QKeyEvent* event)
{
    const int key = event->key();
    const Qt::KeyboardModifiers mods = event->modifiers();
    const bool ctrl = mods & Qt::ControlModifier;
    if (key == Qt::Key_Control || (ctrl && (key == Qt::Key_C || key == Qt::Key_V)))
        return false;

    QTextCursor cursor = textCursor();
    int a = cursor.selectionStart();
    int b = cursor.selectionEnd();
    int lineStart = cursor.block().position();
    auto offset = [&](int pos) { return pos - lineStart; };

    if (key == Qt::Key_Backspace && !(mods & Qt::AltModifier) && offset(a) <= kProtected)
        return true;
    if (key == Qt::Key_Left && offset(a) <= kProtected)
        return true;

    if (a != b) {
        if (cursor.block() != document()->findBlock(b)) {
            MoveCaretToEnd(this);
        } else if (offset(a) < kProtected && offset(b) > kProtected) {
            cursor.setPosition(lineStart + kProtected);
            cursor.setPosition(b, QTextCursor::KeepAnchor);
            setTextCursor(cursor);
        }
    } else if (offset(a) < kProtected) {
        MoveCaretToEnd(this);
    } else if (key == Qt::Key_Home) {
        if (mods & Qt::ShiftModifier) {
            cursor.setPosition(b);
            cursor.setPosition(lineStart + kProtected, QTextCursor::KeepAnchor);
        } else {
            cursor.setPosition(lineStart + kProtected);
        }
        setTextCursor(cursor);
        return true;
    }

    if (key == Qt::Key_Up || key == Qt::Key_Down) {
        if (document()->findBlock(textCursor().selectionStart()) != document()->lastBlock()) {
            MoveCaretToEnd(this);
            return true;
        }
        const std::string recalled = key == Qt::Key_Up ? m_history.Older() : m_history.Newer();
        ReplaceInput(QString::fromUtf8(recalled.c_str()));
        return true;
    }
    return false;
}

bool CConsoleView::event(QEvent* event)
{
    if (event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (PreTranslateKey(key) || m_owner.TranslateKey(key))
            return true;
    }
    return QPlainTextEdit::event(event);
}

void CConsoleView::keyPressEvent(QKeyEvent* event)
{
    const QString text = event->text();
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter || text == QLatin1String("\r");
    if (!enter && (text.isEmpty() || (event->modifiers() & Qt::ControlModifier) || !text.at(0).isPrint())) {
        // Not a typed character: Backspace and Tab are characters too.
        if (event->key() != Qt::Key_Backspace && event->key() != Qt::Key_Tab) {
            QPlainTextEdit::keyPressEvent(event);
            return;
        }
    }
    // Caret guard: typing happens in the input, never in the prompt or the output.
    if (textCursor().selectionStart() < m_inputStart.position() || enter)
        MoveCaretToEnd(this);
    if (enter) {
        OnEnter();
        return;
    }
    if (event->key() == Qt::Key_Backspace) {
        const QTextCursor caret = textCursor();
        if (!caret.hasSelection() && caret.position() <= m_inputStart.position())
            return; // nothing typed before the caret to erase
    } else {
        OpenInputLine();
    }
    SetInputColour();
    QPlainTextEdit::keyPressEvent(event);
}

void CConsoleView::SetInputColour()
{
    // What the user types is black, whatever colour the text before it has.
    mergeCurrentCharFormat(ColourFormat(Qt::black));
}

void CConsoleView::OnEnter()
{
    // Output printed before Enter stands above the entered line.
    ShowAllQueuedOutput();
    // What the user typed after the prompt, exactly; the prompt is not part of it.
    const std::string input = InputText().toUtf8().toStdString();
    MoveCaretToEnd(this);
    textCursor().insertText(QStringLiteral("\n"));
    EndInputLine();
    ensureCursorVisible();
    m_owner.AttachConsole();
    m_owner.SubmitCommandText(input + "\n");

    m_history.AddEnteredLine(input);
}

void CConsoleView::OnEditPaste()
{
    m_owner.AttachConsole();
    if (m_pasteBusy) {
        m_prompt.ShowMessage("Last paste operation not yet finished");
        return;
    }
    StartPaste(QApplication::clipboard()->text());
}

void CConsoleView::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::RightButton) {
        const QString selection = SelectedPlainText(textCursor());
        if (selection.isEmpty()) {
            OnEditPaste();
        } else {
            m_owner.AttachConsole();
            if (m_pasteBusy) {
                m_prompt.ShowMessage("Last paste operation not yet finished");
            } else {
                MoveCaretToEnd(this);
                StartPaste(selection);
            }
        }
    }
    QPlainTextEdit::mouseReleaseEvent(event);
}

void CConsoleView::focusInEvent(QFocusEvent* event)
{
    QPlainTextEdit::focusInEvent(event);
    emit focusGained();
}

void CConsoleView::showEvent(QShowEvent* event)
{
    QPlainTextEdit::showEvent(event);
    // The window starts with the keyboard focus at the console prompt;
    // later the focus moves only when the user moves it.
    if (!window()->focusWidget())
        setFocus(Qt::OtherFocusReason);
}

void CConsoleView::StartPaste(const QString& text)
{
    if (m_pasteThread.joinable())
        m_pasteThread.join(); // the previous paste has finished: busy is clear
    m_pasteStop.Reset();
    m_pasteBusy = true;
    m_pasteThread = std::thread(&CConsoleView::PasteThread, this, text.toUtf8().toStdString());
}

void CConsoleView::PasteThread(std::string text)
{
    std::string line;
    for (char ch : text) {
        line += ch;
        if (ch != '\n')
            continue;
        std::string typedBefore;
        if (!EnterFromPaste(line, typedBefore))
            break;
        m_owner.SubmitCommandText(typedBefore + line);
        line.clear();
        if (!m_pasteStop.WaitFor(100))
            break;
    }
    std::string unused;
    if (!line.empty())
        EnterFromPaste(line, unused); // left on the input line, not submitted
    m_pasteBusy = false;
}

bool CConsoleView::EnterFromPaste(const std::string& line, std::string& typedBefore)
{
    const QString qline = QString::fromUtf8(line.data(), static_cast<int>(line.size()));
    // Abandoned when the paste is stopped, so stopping never waits on the UI thread.
    return m_bridge.Call([&] { typedBefore = EnterPastedText(qline); }, &m_pasteStop);
}

std::string CConsoleView::EnterPastedText(const QString& text)
{
    // A pasted line is entered as if typed at the end of the input. A line
    // that ends with a line feed is then submitted whole, with whatever the
    // user typed before it: returns that typed text. Output printed before
    // it comes first.
    ShowAllQueuedOutput();
    HoldPainting();
    const std::string typedBefore = InputText().toUtf8().toStdString();
    if (!text.isEmpty())
        OpenInputLine();
    QTextCursor cursor(document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(text, ColourFormat(KindColour(kConsoleOutput)));
    const bool complete = text.endsWith(QChar('\n'));
    if (complete)
        EndInputLine();
    KeepCaretInInput();
    return complete ? typedBefore : std::string();
}

void CConsoleView::StopPaste()
{
    m_pasteStop.Cancel();
    if (m_pasteThread.joinable())
        m_pasteThread.join();
}
