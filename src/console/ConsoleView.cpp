#include "console/ConsoleView.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QTextBlock>
#include <QTimer>

#include "app/Globals.h"
#include "widgets/TextPane.h"
#include "app/IUserPrompt.h"
#include "app/UiBridge.h"

namespace {

constexpr int kProtected = 8; // "VORLA > ": the first 8 characters of a line are not editable
const char* const kPromptWithoutBlank = "VORLA >";

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

} // namespace

mytclview::mytclview(CUiBridge& bridge, IUserPrompt& prompt, QWidget* parent)
    : QPlainTextEdit(parent), m_bridge(bridge), m_prompt(prompt)
{
    SetUpPane(this, "console", "Console");
    QPalette pal = palette();
    pal.setColor(QPalette::Base, Qt::white);
    pal.setColor(QPalette::Text, Qt::black);
    setPalette(pal);
}

mytclview::~mytclview() { StopPaste(); }

void mytclview::PrintToConsole(const std::string& text, int kind)
{
    const QString qtext = QString::fromUtf8(text.data(), static_cast<int>(text.size()));
    m_bridge.Call([&] { PrintOnUiThread(qtext, kind); });
}

void mytclview::PrintOnUiThread(const QString& text, int kind)
{
    QString toPrint = text;
    const bool blankOwed = text == QLatin1String(kConsolePrompt);
    if (blankOwed)
        toPrint = QString::fromLatin1(kPromptWithoutBlank);
    QTextCursor cursor(document());
    cursor.movePosition(QTextCursor::End);
    QTextCharFormat format;
    format.setForeground(KindColour(kind));
    HoldPainting();
    cursor.insertText(toPrint, format);
    // A caret at the end follows the insertion by itself; only a caret
    // elsewhere, or a selection, needs moving (which costs a relayout).
    const QTextCursor caret = textCursor();
    if (caret.hasSelection() || caret.position() != cursor.position())
        setTextCursor(cursor);
    if (!hasFocus())
        setFocus();
    if (currentCharFormat().foreground().color() != QColor(0, 0, 0)) {
        QTextCharFormat black;
        black.setForeground(QColor(0, 0, 0));
        setCurrentCharFormat(black);
    }
    if (blankOwed)
        PrintOnUiThread(QStringLiteral(" "), kConsoleOutput);
}

void mytclview::HoldPainting()
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

void mytclview::ClearAll()
{
    m_bridge.Call([this] { clear(); });
}

int mytclview::HistoryCount() const { return m_history.GetCount(); }

std::string mytclview::HistoryAt(int index) const { return m_history.GetAt(index); }

bool mytclview::PreTranslateKey(QKeyEvent* event)
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
        cursor = textCursor();
        a = cursor.selectionStart();
        b = cursor.selectionEnd();
        if (document()->findBlock(a) != document()->lastBlock()) {
            MoveCaretToEnd(this);
            return true;
        }
        const std::string recalled = key == Qt::Key_Up ? m_history.Older() : m_history.Newer();
        lineStart = cursor.block().position();
        cursor.setPosition(lineStart + kProtected);
        cursor.setPosition(b, QTextCursor::KeepAnchor);
        QTextCharFormat black;
        black.setForeground(QColor(0, 0, 0));
        cursor.insertText(QString::fromUtf8(recalled.c_str()), black);
        setTextCursor(cursor);
        return true;
    }
    return false;
}

bool mytclview::event(QEvent* event)
{
    if (event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (PreTranslateKey(key) || (m_translateKey && m_translateKey(key)))
            return true;
    }
    return QPlainTextEdit::event(event);
}

void mytclview::keyPressEvent(QKeyEvent* event)
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
    // Caret guard: typing happens on the last line, never elsewhere.
    const QTextBlock last = document()->lastBlock();
    const int s = last.position();
    const int e = s + last.length() - 1;
    const QTextCursor cursor = textCursor();
    const bool inside = cursor.selectionStart() >= s && cursor.selectionEnd() <= e;
    if (!inside || enter)
        MoveCaretToEnd(this);
    if (enter) {
        OnEnter();
        return;
    }
    SetInputColour();
    QPlainTextEdit::keyPressEvent(event);
}

void mytclview::SetInputColour()
{
    // What the user types is black, whatever colour the text before it has.
    QTextCharFormat black;
    black.setForeground(QColor(0, 0, 0));
    mergeCurrentCharFormat(black);
}

void mytclview::OnEnter()
{
    const QString lastLine = document()->lastBlock().text();
    std::string entered = lastLine.toUtf8().toStdString() + "\n";
    MoveCaretToEnd(this);
    textCursor().insertText(QStringLiteral("\n"));
    ensureCursorVisible();
    if (m_attachConsole)
        m_attachConsole();
    for (size_t pos; (pos = entered.find(kPromptWithoutBlank)) != std::string::npos;)
        entered.erase(pos, 7);
    if (m_submit)
        m_submit(entered);

    m_history.AddEnteredLine(entered);
}

void mytclview::OnEditPaste()
{
    if (m_attachConsole)
        m_attachConsole();
    if (m_pasteBusy) {
        m_prompt.ShowMessage("Last paste operation not yet finished");
        return;
    }
    StartPaste(QApplication::clipboard()->text());
}

void mytclview::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::RightButton) {
        const QString selection = SelectedPlainText(textCursor());
        if (selection.isEmpty()) {
            OnEditPaste();
        } else {
            if (m_attachConsole)
                m_attachConsole();
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

void mytclview::focusInEvent(QFocusEvent* event)
{
    QPlainTextEdit::focusInEvent(event);
    g_bConsoleFocus = 1;
}

void mytclview::StartPaste(const QString& text)
{
    if (m_pasteThread.joinable())
        m_pasteThread.join(); // the previous paste has finished: busy is clear
    m_pasteStop.Reset();
    m_pasteBusy = true;
    m_pasteThread = std::thread(&mytclview::PasteThread, this, text.toUtf8().toStdString());
}

void mytclview::PasteThread(std::string text)
{
    std::string line;
    for (char ch : text) {
        line += ch;
        if (ch != '\n')
            continue;
        if (!PrintFromPaste(line))
            break;
        if (m_submit)
            m_submit(line);
        line.clear();
        if (!m_pasteStop.WaitFor(100))
            break;
    }
    if (!line.empty())
        PrintFromPaste(line); // left on the input line, not submitted
    m_pasteBusy = false;
}

bool mytclview::PrintFromPaste(const std::string& line)
{
    const QString qline = QString::fromUtf8(line.data(), static_cast<int>(line.size()));
    // Abandoned when the paste is stopped, so stopping never waits on the UI thread.
    return m_bridge.Call([&] { PrintOnUiThread(qline, kConsoleOutput); }, &m_pasteStop);
}

void mytclview::StopPaste()
{
    m_pasteStop.Cancel();
    if (m_pasteThread.joinable())
        m_pasteThread.join();
}
