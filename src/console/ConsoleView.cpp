#include "console/ConsoleView.h"

#include <QApplication>
#include <QClipboard>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QTimer>

#include <algorithm>
#include <limits>
#include <string>

#include "core/IUserPrompt.h"
#include "widgets/UiBridge.h"

namespace {

// The first columns of a line, as many as the prompt is long, are not editable.
constexpr int kProtected = static_cast<int>(std::char_traits<char>::length(kConsolePrompt));
static_assert(kProtected > 1 && kConsolePrompt[kProtected - 1] == ' ', "the prompt ends with its blank");

// Queued output is shown at most once a frame, for at most kBatchMs of the
// frame (so that keys and painting keep their turn), a slice at a time.
constexpr int kFrameMs = 16;
constexpr int kBatchMs = 10;
constexpr std::size_t kSliceBytes = 64 << 10;

// The style of each kind of text; typed text is plain output.
constexpr CTextStyle kNoticeStyle = CTextStyle().SetForeground(CTextStyle::RgbColour(0x0000FF));
constexpr CTextStyle kErrorStyle = CTextStyle().SetForeground(CTextStyle::RgbColour(0xFF0000));
constexpr CTextStyle kOutputStyle = CTextStyle().SetForeground(CTextStyle::RgbColour(0x000000));

CTextStyle KindStyle(int kind)
{
    switch (kind) {
    case kConsoleNotice:
        return kNoticeStyle;
    case kConsoleError:
        return kErrorStyle;
    default:
        return kOutputStyle;
    }
}

bool IsContinuationByte(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

bool IsWordByte(char c)
{
    const auto b = static_cast<unsigned char>(c);
    return (b >= '0' && b <= '9') || (b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z') || b == '_' || b >= 0x80;
}

} // namespace

CConsoleView::CConsoleView(CUiBridge& bridge, IUserPrompt& prompt, IConsolePaneOwner& owner, QWidget* parent)
    : CTextView(kConsoleCapacity, parent), m_bridge(bridge), m_prompt(prompt), m_owner(owner)
{
    setObjectName("console");
    setAccessibleName("Console");
    setContextMenuPolicy(Qt::NoContextMenu); // the right button pastes
    setAttribute(Qt::WA_InputMethodEnabled); // composed characters arrive as input-method text
    QPalette pal = palette();
    pal.setColor(QPalette::Base, Qt::white);
    pal.setColor(QPalette::Text, Qt::black);
    setPalette(pal);

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
    std::vector<SConsoleRun> runs{MakeConsoleRun(text, kind)};
    ShowRuns(runs);
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

void CConsoleView::ShowRuns(std::vector<SConsoleRun>& runs)
{
    if (runs.empty())
        return;
    // Text runs in a row go in with one insert (the input line is taken out
    // and put back once), as if inserted one after the other.
    std::vector<SPiece> pieces;
    auto flush = [&] {
        InsertOutput(pieces);
        pieces.clear();
    };
    for (const SConsoleRun& run : runs) {
        switch (run.type) {
        case SConsoleRun::kText:
            if (!run.text.empty())
                pieces.push_back({run.text, KindStyle(run.kind)});
            break;
        case SConsoleRun::kPrompt:
            flush();
            ShowPrompt(run.kind);
            break;
        case SConsoleRun::kClear:
            pieces.clear();
            ClearPane();
            break;
        }
    }
    flush();
    KeepCaretInInput(); // and the keyboard focus stays where the user put it
}

void CConsoleView::ClearPane()
{
    Clear();
    m_outputEnd = m_inputStart = End();
}

void CConsoleView::InsertOutput(const std::vector<SPiece>& pieces)
{
    std::size_t n = 0;
    for (const SPiece& piece : pieces)
        n += piece.text.size();
    if (n == 0)
        return;
    // With nothing typed, an empty prompt line becomes part of the output.
    if (m_inputStart == End())
        SetOutputEnd(End());
    const bool hadBreak = HasBreakBeforeInput();
    const uint64_t at = m_outputEnd;
    const bool endsLine = pieces.back().text.back() == '\n';
    if (endsLine && hadBreak) {
        // The output ended its line: the break before the input is not needed any more.
        ReplaceRange(at, at + 1, pieces);
        m_inputStart = std::max(m_inputStart + n - 1, at + n);
    } else if (!endsLine && at < End() && !hadBreak) {
        // Output that has not ended its line: the input line gets a line of its own.
        std::vector<SPiece> opened = pieces;
        opened.push_back({"\n", kOutputStyle});
        ReplaceRange(at, at, opened, 1);
        m_inputStart += n + 1;
    } else {
        ReplaceRange(at, at, pieces);
        m_inputStart += n;
    }
    m_outputEnd = at + n;
}

void CConsoleView::ShowPrompt(int kind)
{
    const uint64_t lineStart = m_outputEnd + (HasBreakBeforeInput() ? 1 : 0);
    if (m_inputStart > lineStart)
        return; // the input line has its prompt already
    // A prompt ends the output's line for good; anything typed ahead follows it.
    if (!AtLineStart(m_outputEnd)) {
        OpenInputLine();
        SetOutputEnd(m_outputEnd + 1);
    }
    // The prompt in its colour; its closing blank in the colour of typed text.
    const std::string_view prompt(kConsolePrompt, kProtected);
    ReplaceRange(m_outputEnd, m_outputEnd,
                 {{prompt.substr(0, kProtected - 1), KindStyle(kind)}, {prompt.substr(kProtected - 1), kOutputStyle}},
                 2);
    m_inputStart = m_outputEnd + kProtected;
}

void CConsoleView::OpenInputLine()
{
    // The input line starts a line of its own, so that its protected first
    // columns are the prompt. After output that has not ended its line, a
    // line break goes between them; it stays only while that output line is
    // unfinished (Tcl writes a line and its line feed separately).
    if (AtLineStart(m_outputEnd) || HasBreakBeforeInput())
        return;
    ReplaceRange(m_outputEnd, m_outputEnd, {{"\n", kOutputStyle}}, 1);
    ++m_inputStart; // after the break also when it stood at the mark
}

bool CConsoleView::HasBreakBeforeInput() const
{
    return !AtLineStart(m_outputEnd) && m_outputEnd < End() && Store().At(m_outputEnd) == '\n';
}

uint64_t CConsoleView::LineStartOf(uint64_t pos) const { return Store().LineStart(Store().LineOf(pos)); }

bool CConsoleView::AtLineStart(uint64_t pos) const { return pos <= Store().Begin() || LineStartOf(pos) == pos; }

int CConsoleView::Column(uint64_t lineStart, uint64_t pos) const
{
    // Characters from the line's start to pos, counted only as far as the
    // protected columns matter; -1 for a position on an earlier line.
    if (pos < lineStart)
        return -1;
    int column = 0;
    for (uint64_t at = lineStart; at < pos && column <= kProtected; ++at)
        column += IsContinuationByte(Store().At(at)) ? 0 : 1;
    return column;
}

uint64_t CConsoleView::AfterPrompt(uint64_t lineStart) const
{
    // The position after the protected columns (the line's end if shorter).
    const uint64_t end = Store().LineEnd(Store().LineOf(lineStart));
    uint64_t at = lineStart;
    for (int column = 0; at < end && column < kProtected; ++column)
        do
            ++at;
        while (at < end && IsContinuationByte(Store().At(at)));
    return at;
}

void CConsoleView::SetOutputEnd(uint64_t position)
{
    m_outputEnd = position;
    if (m_inputStart < position)
        m_inputStart = position;
}

void CConsoleView::EndInputLine()
{
    // The entered line is output now; the next input line starts at the end.
    SetOutputEnd(End());
}

std::string CConsoleView::InputText() const
{
    std::string text;
    Store().Read(m_inputStart, static_cast<std::size_t>(End() - m_inputStart), text);
    return text;
}

void CConsoleView::EditInput(uint64_t from, uint64_t to, std::string_view text)
{
    // Input is typed in the colour of output; the marks stand before it.
    ReplaceRange(from, to, {{text, kOutputStyle}}, 1);
}

void CConsoleView::ReplaceInput(const std::string& text)
{
    if (!text.empty())
        OpenInputLine();
    EditInput(m_inputStart, End(), text);
    MoveCaretToEnd();
    ShowCaret();
}

void CConsoleView::KeepCaretInInput()
{
    // A caret inside the input stays where the user put it; anywhere else it
    // goes to the end.
    if (std::min(AnchorPos(), CaretPos()) < m_inputStart)
        MoveCaretToEnd();
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

    const uint64_t a = std::min(AnchorPos(), CaretPos());
    const uint64_t b = std::max(AnchorPos(), CaretPos());
    const uint64_t lineStart = LineStartOf(CaretPos());
    auto offset = [&](uint64_t pos) { return Column(lineStart, pos); };

    if (key == Qt::Key_Backspace && !(mods & Qt::AltModifier) && offset(a) <= kProtected)
        return true;
    if (key == Qt::Key_Left && offset(a) <= kProtected)
        return true;

    if (a != b) {
        if (Store().LineOf(CaretPos()) != Store().LineOf(b)) {
            MoveCaretToEnd();
            ShowCaret();
        } else if (offset(a) < kProtected && offset(b) > kProtected) {
            SetSelectionPos(AfterPrompt(lineStart), b);
        }
    } else if (offset(a) < kProtected) {
        MoveCaretToEnd();
        ShowCaret();
    } else if (key == Qt::Key_Home) {
        if (mods & Qt::ShiftModifier)
            SetSelectionPos(b, AfterPrompt(lineStart));
        else
            SetSelectionPos(AfterPrompt(lineStart), AfterPrompt(lineStart));
        return true;
    }

    if (key == Qt::Key_Up || key == Qt::Key_Down) {
        if (Store().LineOf(std::min(AnchorPos(), CaretPos())) + 1 != Store().LineCount()) {
            MoveCaretToEnd();
            ShowCaret();
            return true;
        }
        ReplaceInput(key == Qt::Key_Up ? m_history.Older() : m_history.Newer());
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
    return CTextView::event(event);
}

bool CConsoleView::focusNextPrevChild(bool)
{
    return false; // Tab is a character of the command
}

void CConsoleView::keyPressEvent(QKeyEvent* event)
{
    const QString text = event->text();
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter || text == QLatin1String("\r");
    if (!enter && (text.isEmpty() || (event->modifiers() & Qt::ControlModifier) || !text.at(0).isPrint())) {
        // Not a typed character: Backspace and Tab are characters too.
        if (event->key() != Qt::Key_Backspace && event->key() != Qt::Key_Tab) {
            if (!EditingKey(event))
                CTextView::keyPressEvent(event);
            return;
        }
    }
    // Caret guard: typing happens in the input, never in the prompt or the output.
    if (std::min(AnchorPos(), CaretPos()) < m_inputStart || enter)
        MoveCaretToEnd();
    if (enter) {
        OnEnter();
        return;
    }
    if (event->key() == Qt::Key_Backspace) {
        EraseInput(false, event->modifiers() & Qt::ControlModifier);
        return;
    }
    TypeText(event->key() == Qt::Key_Tab ? std::string("\t") : text.toStdString());
}

void CConsoleView::TypeText(const std::string& text)
{
    // In place of the selection, or at the caret; the caret guard has put
    // both inside the input.
    OpenInputLine();
    EditInput(std::min(AnchorPos(), CaretPos()), std::max(AnchorPos(), CaretPos()), text);
    ShowCaret();
}

void CConsoleView::EraseInput(bool forward, bool word)
{
    const uint64_t a = std::min(AnchorPos(), CaretPos());
    const uint64_t b = std::max(AnchorPos(), CaretPos());
    if (a < m_inputStart)
        return; // the output and the prompt are not editable
    uint64_t from = a;
    uint64_t to = b;
    if (a == b) {
        // The character (or word) before or after the caret, within the input.
        const uint64_t limit = forward ? End() : m_inputStart;
        auto step = [&](uint64_t pos) {
            do
                pos = forward ? pos + 1 : pos - 1;
            while (pos != limit && IsContinuationByte(Store().At(forward ? pos : pos)));
            return pos;
        };
        uint64_t& edge = forward ? to : from;
        if (edge == limit)
            return;
        auto wordAt = [&](uint64_t pos) { return IsWordByte(Store().At(forward ? pos : pos - 1)); };
        if (word) {
            while (edge != limit && !wordAt(edge))
                edge = step(edge);
            while (edge != limit && wordAt(edge))
                edge = step(edge);
        } else {
            edge = step(edge);
        }
    }
    EditInput(from, to, {});
    ShowCaret();
}

bool CConsoleView::EditingKey(QKeyEvent* event)
{
    // Keys other than typed characters that edit the input or move the caret.
    const int key = event->key();
    const bool ctrl = event->modifiers() & Qt::ControlModifier;
    if (event->matches(QKeySequence::Cut)) {
        Copy();
        if (std::min(AnchorPos(), CaretPos()) >= m_inputStart && HasSelection())
            EraseInput(false, false);
        return true;
    }
    if (key == Qt::Key_Delete) {
        if (std::min(AnchorPos(), CaretPos()) < m_inputStart) {
            MoveCaretToEnd(); // the caret guard, as for typing
            ShowCaret();
            return true;
        }
        EraseInput(true, ctrl);
        return true;
    }
    if (key == Qt::Key_Left || key == Qt::Key_Right || key == Qt::Key_Home || key == Qt::Key_End) {
        MoveCaret(event);
        return true;
    }
    return false;
}

void CConsoleView::MoveCaret(QKeyEvent* event)
{
    const int key = event->key();
    const bool ctrl = event->modifiers() & Qt::ControlModifier;
    const bool shift = event->modifiers() & Qt::ShiftModifier;
    const CLineStore& store = Store();
    uint64_t caret = CaretPos();
    const std::size_t line = store.LineOf(caret);
    if (!shift && HasSelection() && (key == Qt::Key_Left || key == Qt::Key_Right) && !ctrl) {
        // Without Shift an arrow ends the selection on its side.
        caret = key == Qt::Key_Left ? std::min(AnchorPos(), CaretPos()) : std::max(AnchorPos(), CaretPos());
    } else if (key == Qt::Key_Left || key == Qt::Key_Right) {
        const bool forward = key == Qt::Key_Right;
        auto step = [&](uint64_t pos) {
            if (forward ? pos >= store.End() : pos <= store.Begin())
                return pos;
            do
                pos = forward ? pos + 1 : pos - 1;
            while (pos > store.Begin() && pos < store.End() && IsContinuationByte(store.At(pos)));
            return pos;
        };
        caret = step(caret);
        if (ctrl) { // to the start of the next or previous word
            auto wordAt = [&](uint64_t pos) { return pos > store.Begin() && IsWordByte(store.At(pos - 1)); };
            if (forward) {
                while (caret < store.End() && wordAt(caret))
                    caret = step(caret);
                while (caret < store.End() && !IsWordByte(store.At(caret)))
                    caret = step(caret);
            } else {
                while (caret > store.Begin() && !wordAt(caret))
                    caret = step(caret);
                while (caret > store.Begin() && wordAt(caret))
                    caret = step(caret);
            }
        }
    } else if (key == Qt::Key_Home) {
        caret = ctrl ? store.Begin() : store.LineStart(line);
    } else {
        caret = ctrl ? store.End() : store.LineEnd(line);
    }
    SetSelectionPos(shift ? AnchorPos() : caret, caret);
    ShowCaret();
}

void CConsoleView::inputMethodEvent(QInputMethodEvent* event)
{
    // Only the committed text counts: it is typed as a key's text would be.
    if (!event->commitString().isEmpty()) {
        if (std::min(AnchorPos(), CaretPos()) < m_inputStart)
            MoveCaretToEnd();
        TypeText(event->commitString().toStdString());
    }
    event->accept();
}

QVariant CConsoleView::inputMethodQuery(Qt::InputMethodQuery query) const
{
    switch (query) {
    case Qt::ImEnabled:
        return true;
    case Qt::ImCursorRectangle:
        return CharacterRect(CaretPosition());
    case Qt::ImHints:
        return static_cast<int>(Qt::ImhNoPredictiveText);
    default:
        return CTextView::inputMethodQuery(query);
    }
}

void CConsoleView::OnEnter()
{
    // Output printed before Enter stands above the entered line.
    ShowAllQueuedOutput();
    // What the user typed after the prompt, exactly; the prompt is not part of it.
    const std::string input = InputText();
    MoveCaretToEnd();
    ReplaceRange(End(), End(), {{"\n", kOutputStyle}}, 1);
    EndInputLine();
    ShowCaret();
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
        const QString selection = SelectedText();
        if (selection.isEmpty()) {
            OnEditPaste();
        } else {
            m_owner.AttachConsole();
            if (m_pasteBusy) {
                m_prompt.ShowMessage("Last paste operation not yet finished");
            } else {
                MoveCaretToEnd();
                StartPaste(selection);
            }
        }
    }
    CTextView::mouseReleaseEvent(event);
}

void CConsoleView::focusInEvent(QFocusEvent* event)
{
    CTextView::focusInEvent(event);
    emit focusGained();
}

void CConsoleView::showEvent(QShowEvent* event)
{
    CTextView::showEvent(event);
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
    // Abandoned when the paste is stopped, so stopping never waits on the UI thread.
    return m_bridge.Call([&] { typedBefore = EnterPastedText(line); }, &m_pasteStop);
}

std::string CConsoleView::EnterPastedText(const std::string& text)
{
    // A pasted line is entered as if typed at the end of the input. A line
    // that ends with a line feed is then submitted whole, with whatever the
    // user typed before it: returns that typed text. Output printed before
    // it comes first.
    ShowAllQueuedOutput();
    const std::string typedBefore = InputText();
    if (!text.empty())
        OpenInputLine();
    EditInput(End(), End(), text);
    const bool complete = !text.empty() && text.back() == '\n';
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
