#include "terminal/TerminalView.h"

#include <algorithm>

#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QTextBlock>

#include "core/IUserPrompt.h"
#include "terminal/ReceivedTextQueue.h"
#include "widgets/TextPane.h"

namespace {

// At most this much is inserted per turn of the event loop, so that typing,
// menus and the console stay live while a device floods.
constexpr size_t kFlushSlice = 32 << 10;

} // namespace

CVORLAView::CVORLAView(IUserPrompt& prompt, ITerminalPaneOwner& owner, CReceivedTextQueue& received,
                       QWidget* parent)
    : QPlainTextEdit(parent), m_prompt(prompt), m_owner(owner), m_received(received),
      m_keySender([this](unsigned char b, const CCancelSignal* stop) { return m_owner.SendByte(b, stop); },
                  [this] { QMetaObject::invokeMethod(this, &CVORLAView::ReportLostKeys, Qt::QueuedConnection); })
{
    SetUpPane(this, "terminal", "Terminal");
    m_received.SetDataWaitingHandler(
        [this] { QMetaObject::invokeMethod(this, &CVORLAView::FlushReceived, Qt::QueuedConnection); });
}

CVORLAView::~CVORLAView() { StopPaste(); }

void CVORLAView::FlushReceived()
{
    std::string batch;
    if (m_received.Take(kFlushSlice, batch))
        QMetaObject::invokeMethod(this, &CVORLAView::FlushReceived, Qt::QueuedConnection); // the rest, next turn

    QTextCursor cursor(document());
    cursor.movePosition(QTextCursor::End);
    // Backspaces whose characters were already inserted lead the batch.
    const size_t erase = std::min(batch.find_first_not_of('\b'), batch.size());
    EraseBeforeEnd(cursor, erase);
    batch.erase(0, erase);
    const int room = kCapacity - (document()->characterCount() - 1);
    if (static_cast<int>(batch.size()) > room)
        batch.resize(room > 0 ? room : 0); // beyond the capacity nothing more is shown
    if (!batch.empty())
        cursor.insertText(QString::fromLatin1(batch.data(), static_cast<int>(batch.size())), QTextCharFormat());
    setTextCursor(cursor); // caret to the end, any selection cleared
}

void CVORLAView::ReportLostKeys()
{
    // Shown for a while rather than for good: the line may take bytes again.
    constexpr int kShowMs = 10000;
    emit statusMessage(QStringLiteral("Typed characters not sent: the port is not taking data "
                                      "(device not reading, or flow control)"),
                       kShowMs);
}

void CVORLAView::EraseBeforeEnd(QTextCursor& cursor, size_t count)
{
    // Each removes the last character of the last line; a line break stays.
    for (; count > 0 && !cursor.atBlockStart(); --count)
        cursor.deletePreviousChar();
}

void CVORLAView::ClearText()
{
    m_received.ForgetPendingCr();
    clear();
}

bool CVORLAView::PreTranslateKey(QKeyEvent* event)
{
    const int key = event->key();
    const Qt::KeyboardModifiers mods = event->modifiers();
    if (key == Qt::Key_Control)
        return false;
    // Copy and paste keep the selection: Ctrl+C, Ctrl+V, Ctrl+Insert, Shift+Insert.
    if ((mods & Qt::ControlModifier) && (key == Qt::Key_C || key == Qt::Key_V || key == Qt::Key_Insert))
        return false;
    if ((mods & Qt::ShiftModifier) && key == Qt::Key_Insert)
        return false;
    MoveCaretToEnd(this);
    return false;
}

bool CVORLAView::event(QEvent* event)
{
    if (event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        PreTranslateKey(key);
        if (m_owner.TranslateKey(key))
            return true;
    }
    return QPlainTextEdit::event(event);
}

void CVORLAView::keyPressEvent(QKeyEvent* event) { OnChar(event); }

void CVORLAView::OnChar(QKeyEvent* event)
{
    const int key = event->key();
    const Qt::KeyboardModifiers mods = event->modifiers();
    std::string bytes;
    if ((mods & Qt::ControlModifier) && key >= Qt::Key_A && key <= Qt::Key_Z) {
        bytes = std::string(1, static_cast<char>(key - Qt::Key_A + 1)); // Ctrl+letter: its control character
    } else if ((mods & Qt::ControlModifier) && key >= Qt::Key_BracketLeft && key <= Qt::Key_Underscore) {
        bytes = std::string(1, static_cast<char>(key - Qt::Key_At)); // Ctrl+[ \ ] ^ _
    } else if (key == Qt::Key_Return || key == Qt::Key_Enter) {
        bytes = "\r";
    } else if (key == Qt::Key_Backspace) {
        bytes = "\b";
    } else if (key == Qt::Key_Tab) {
        bytes = "\t";
    } else if (key == Qt::Key_Escape) {
        bytes = "\x1b";
    } else if (!event->text().isEmpty() && !(mods & Qt::ControlModifier)) {
        bytes = event->text().toUtf8().toStdString();
    }
    if (bytes.empty() || (mods & Qt::AltModifier)) {
        // Navigation keys and Alt combinations never reach the port.
        if (!(mods & Qt::AltModifier))
            QPlainTextEdit::keyPressEvent(event);
        return;
    }
    if (m_owner.OpenPort() == 0)
        return;

    std::string out = bytes;
    if (bytes == "\r")
        out = m_options.sendCrLf ? "\r\n" : "\n"; // a CR is never sent on its own
    m_keySender.Send(out); // returns at once; the echo below need not wait for the line

    if (!m_options.localEcho)
        return;
    QTextCursor cursor = textCursor();
    if (bytes == "\r")
        cursor.insertText(QStringLiteral("\n"));
    else if (bytes == "\b")
        cursor.deletePreviousChar();
    else
        cursor.insertText(QString::fromUtf8(bytes.c_str()));
    setTextCursor(cursor);
}

void CVORLAView::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::RightButton) {
        const QString selection = SelectedPlainText(textCursor());
        if (m_pasteBusy) {
            m_prompt.ShowMessage("Last paste operation not yet finished");
        } else if (!selection.isEmpty()) {
            MoveCaretToEnd(this);
            StartPaste(selection.toUtf8().toStdString());
        } else {
            StartPaste(QApplication::clipboard()->text().toUtf8().toStdString());
        }
    }
    QPlainTextEdit::mouseReleaseEvent(event);
}

void CVORLAView::focusInEvent(QFocusEvent* event)
{
    QPlainTextEdit::focusInEvent(event);
    emit focusGained();
}

void CVORLAView::SetWrap(bool wrap) { setLineWrapMode(wrap ? QPlainTextEdit::WidgetWidth : QPlainTextEdit::NoWrap); }

void CVORLAView::OnEditPaste()
{
    if (m_owner.OpenPort() == 0)
        return;
    if (m_pasteBusy) {
        m_prompt.ShowMessage("Last paste operation not yet finished");
        return;
    }
    const std::string text = QApplication::clipboard()->text().toUtf8().toStdString();
    emit pasteStarting();
    StartPaste(text);
}

void CVORLAView::StartPaste(const std::string& text)
{
    if (m_pasteThread.joinable())
        m_pasteThread.join(); // the previous paste has ended: busy is clear
    m_pasteStop.Reset();
    m_pasteBusy = true;
    m_pasteThread = std::thread(&CVORLAView::PasteThread, this, text);
}

void CVORLAView::PasteThread(std::string text)
{
    auto progress = [this](int pos, const QString& label) {
        QMetaObject::invokeMethod(this, [this, pos, label] { emit pasteProgress(pos, label); }, Qt::QueuedConnection);
    };
    if (m_owner.OpenPort() == 0) {
        m_pasteBusy = false;
        return;
    }
    const size_t n = text.size();
    int shown = -1;
    for (size_t i = 0; i < n; ++i) {
        // A closed port ends the paste: the rest would only wait out its time-outs.
        if (m_owner.OpenPort() == 0 || m_pasteStop.IsCancelled())
            break;
        m_owner.SendByte(static_cast<unsigned char>(text[i]), &m_pasteStop);
        const int pos = static_cast<int>((i * 1000) / n);
        if (pos != shown) // the display changes at most 1000 times, however long the text
            progress(pos, QString::asprintf(" %d%% ", pos / 10));
        shown = pos;
    }
    progress(1000, QStringLiteral(" "));
    progress(0, QStringLiteral(" "));
    m_pasteBusy = false;
}

void CVORLAView::StopPaste()
{
    m_pasteStop.Cancel();
    if (m_pasteThread.joinable())
        m_pasteThread.join();
    m_keySender.Stop();
}
