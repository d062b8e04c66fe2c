#include "terminal/TerminalView.h"

#include <algorithm>

#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QTextBlock>

#include "app/Globals.h"
#include "widgets/TextPane.h"
#include "core/IUserPrompt.h"
#include "terminal/TerminalOptions.h"

namespace {

// The reader waits while this much received text is not yet shown: memory
// stays bounded and nothing is dropped when the UI falls behind.
constexpr size_t kMaxPending = 4 << 20;
// At most this much is inserted per turn of the event loop, so that typing,
// menus and the console stay live while a device floods.
constexpr size_t kFlushSlice = 32 << 10;

} // namespace

CVORLAView::CVORLAView(IUserPrompt& prompt, QWidget* parent)
    : QPlainTextEdit(parent), m_prompt(prompt),
      m_keySender([this](unsigned char b, const CCancelSignal* stop) { return m_sendByte && m_sendByte(b, stop); },
                  [this] { QMetaObject::invokeMethod(this, &CVORLAView::ReportLostKeys, Qt::QueuedConnection); })
{
    SetUpPane(this, "terminal", "Terminal");
}

CVORLAView::~CVORLAView()
{
    AbortDelivery();
    StopPaste();
}

void CVORLAView::AppendReceivedText(const char* chunk)
{
    std::unique_lock<std::mutex> lock(m_rxMutex);
    if (m_rxAborted)
        return;
    m_rxText.Append(chunk, m_rxPending, m_rxTaken);
    if (!m_flushQueued) {
        m_flushQueued = true;
        QMetaObject::invokeMethod(this, &CVORLAView::FlushReceived, Qt::QueuedConnection);
    }
    m_rxCv.wait(lock, [this] { return m_rxPending.size() - m_rxTaken < kMaxPending || m_rxAborted; });
}

void CVORLAView::AbortDelivery()
{
    {
        std::lock_guard<std::mutex> lock(m_rxMutex);
        m_rxAborted = true;
    }
    m_rxCv.notify_all();
}

void CVORLAView::ResumeDelivery()
{
    std::lock_guard<std::mutex> lock(m_rxMutex);
    m_rxAborted = false;
    m_rxText.Reset();
}

void CVORLAView::FlushReceived()
{
    std::string batch;
    {
        std::lock_guard<std::mutex> lock(m_rxMutex);
        const size_t waiting = m_rxPending.size() - m_rxTaken;
        if (waiting <= kFlushSlice) {
            batch = m_rxPending.substr(m_rxTaken);
            m_rxPending.clear();
            m_rxTaken = 0;
            m_flushQueued = false;
        } else {
            // Cut after a line break where possible, and come back for the rest.
            size_t cut = m_rxPending.rfind('\n', m_rxTaken + kFlushSlice);
            cut = (cut == std::string::npos || cut < m_rxTaken + kFlushSlice / 2) ? m_rxTaken + kFlushSlice : cut + 1;
            batch = m_rxPending.substr(m_rxTaken, cut - m_rxTaken);
            m_rxTaken = cut;
            // Drop the shown front only now and then: erasing it every slice
            // would move the whole backlog each time.
            if (m_rxTaken > m_rxPending.size() / 2) {
                m_rxPending.erase(0, m_rxTaken);
                m_rxTaken = 0;
            }
            QMetaObject::invokeMethod(this, &CVORLAView::FlushReceived, Qt::QueuedConnection);
        }
    }
    m_rxCv.notify_all();

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
    if (m_showStatus)
        m_showStatus(QStringLiteral("Typed characters not sent: the port is not taking data "
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
    {
        std::lock_guard<std::mutex> lock(m_rxMutex);
        m_rxText.Reset();
    }
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
        if (m_translateKey && m_translateKey(key))
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
    if (!m_openPort || m_openPort() == 0)
        return;

    const TerminalOptions& options = GetTerminalOptions();
    std::string out = bytes;
    if (bytes == "\r")
        out = options.sendCrLf ? "\r\n" : "\n"; // a CR is never sent on its own
    m_keySender.Send(out); // returns at once; the echo below need not wait for the line

    if (!options.localEcho)
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
    g_bConsoleFocus = 0;
}

void CVORLAView::SetWrap(bool wrap) { setLineWrapMode(wrap ? QPlainTextEdit::WidgetWidth : QPlainTextEdit::NoWrap); }

void CVORLAView::OnInitialUpdate()
{
    if (m_register)
        m_register(this);
}

void CVORLAView::OnEditPaste()
{
    if (!m_openPort || m_openPort() == 0)
        return;
    if (m_pasteBusy) {
        m_prompt.ShowMessage("Last paste operation not yet finished");
        return;
    }
    const std::string text = QApplication::clipboard()->text().toUtf8().toStdString();
    if (m_beforePaste)
        m_beforePaste();
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
        if (!m_showProgress)
            return;
        QMetaObject::invokeMethod(this, [this, pos, label] { m_showProgress(pos, label); }, Qt::QueuedConnection);
    };
    if (!m_openPort || m_openPort() == 0) {
        m_pasteBusy = false;
        return;
    }
    const size_t n = text.size();
    int shown = -1;
    for (size_t i = 0; i < n; ++i) {
        // A closed port ends the paste: the rest would only wait out its time-outs.
        if (m_openPort() == 0 || m_pasteStop.IsCancelled())
            break;
        if (m_sendByte)
            m_sendByte(static_cast<unsigned char>(text[i]), &m_pasteStop);
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
