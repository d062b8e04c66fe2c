#include "terminal/TerminalView.h"

#include <algorithm>

#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QKeyEvent>

#include "core/IUserPrompt.h"
#include "terminal/ReceivedTextQueue.h"

namespace {

// The queue is drained a slice at a time, and only for so long per turn of
// the event loop, so that typing, menus and the console stay live while a
// device floods.
constexpr size_t kFlushSlice = 64 << 10;
constexpr qint64 kFlushBudgetNs = 4000000;

// Received bytes above 0x7F (which the engine's sanitising never lets
// through, but a sink may be fed directly) show as Latin-1, as the pane has
// always shown bytes; the view holds UTF-8.
void Latin1ToUtf8(std::string& text)
{
    if (std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
        return;
    std::string utf8;
    utf8.reserve(text.size() + text.size() / 8);
    for (const char c : text) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x80) {
            utf8 += c;
        } else {
            utf8 += static_cast<char>(0xC0 | (b >> 6));
            utf8 += static_cast<char>(0x80 | (b & 0x3F));
        }
    }
    text.swap(utf8);
}

} // namespace

CVORLAView::CVORLAView(IUserPrompt& prompt, ITerminalPaneOwner& owner, CReceivedTextQueue& received,
                       QWidget* parent)
    : CTextView(kCapacity, parent), m_prompt(prompt), m_owner(owner), m_received(received),
      m_keySender([this](unsigned char b, const CCancelSignal* stop) { return m_owner.SendByte(b, stop); },
                  [this] { QMetaObject::invokeMethod(this, &CVORLAView::ReportLostKeys, Qt::QueuedConnection); })
{
    setObjectName("terminal");
    setAccessibleName("Terminal");
    setContextMenuPolicy(Qt::NoContextMenu); // the right button pastes
    m_received.SetDataWaitingHandler(
        [this] { QMetaObject::invokeMethod(this, &CVORLAView::FlushReceived, Qt::QueuedConnection); });
}

CVORLAView::~CVORLAView() { StopPaste(); }

void CVORLAView::FlushReceived()
{
    QElapsedTimer spent;
    spent.start();
    std::string slice;
    bool left = true;
    while (left && spent.nsecsElapsed() < kFlushBudgetNs) {
        left = m_received.Take(kFlushSlice, slice);
        ShowSlice(slice);
    }
    if (left)
        QMetaObject::invokeMethod(this, &CVORLAView::FlushReceived, Qt::QueuedConnection); // the rest, next turn
    MoveCaretToEnd(); // any selection cleared
}

void CVORLAView::ShowSlice(std::string& slice)
{
    // Backspaces whose characters were already shown lead the slice; each
    // removes the last character of the last line, never a line break.
    const size_t erase = std::min(slice.find_first_not_of('\b'), slice.size());
    for (size_t i = 0; i < erase && EraseLastChar(); ++i) {
    }
    slice.erase(0, erase);
    Latin1ToUtf8(slice);
    AppendText(slice);
}

void CVORLAView::ReportLostKeys()
{
    // Shown for a while rather than for good: the line may take bytes again.
    constexpr int kShowMs = 10000;
    emit statusMessage(QStringLiteral("Typed characters not sent: the port is not taking data "
                                      "(device not reading, or flow control)"),
                       kShowMs);
}

void CVORLAView::ShowNotice(const std::string& text)
{
    std::string slice;
    for (bool left = true; left;) {
        left = m_received.Take(kFlushSlice, slice);
        ShowSlice(slice);
    }
    if (!Store().Empty() && Store().At(Store().End() - 1) != '\n')
        AppendText("\n");
    AppendText(text + "\n");
    MoveCaretToEnd();
}

void CVORLAView::ClearText()
{
    m_received.ForgetPendingCr();
    Clear();
}

void CVORLAView::LoadText(const std::string& utf8)
{
    Clear();
    AppendText(utf8);
    MoveCaretToEnd();
    ScrollToEnd();
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
    MoveCaretToEnd();
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
    return CTextView::event(event);
}

bool CVORLAView::focusNextPrevChild(bool)
{
    return false; // Tab is a character for the device
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
            CTextView::keyPressEvent(event);
        return;
    }
    ScrollToEnd(); // typing shows the end, as the text comes in there
    if (m_owner.OpenPort() == 0)
        return;

    std::string out = bytes;
    if (bytes == "\r")
        out = m_options.sendCrLf ? "\r\n" : "\n"; // a CR is never sent on its own
    m_keySender.Send(out); // returns at once; the echo below need not wait for the line

    if (!m_options.localEcho)
        return;
    // Echo at the end, where the key rule has put the caret; Backspace
    // removes the character before it, a line break included.
    if (bytes == "\r")
        AppendText("\n");
    else if (bytes == "\b")
        EraseLastChar(true);
    else
        AppendText(bytes);
    MoveCaretToEnd();
}

void CVORLAView::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::RightButton) {
        const QString selection = SelectedText();
        if (m_pasteBusy) {
            m_prompt.ShowMessage("Last paste operation not yet finished");
        } else if (!selection.isEmpty()) {
            MoveCaretToEnd();
            StartPaste(selection.toUtf8().toStdString());
        } else {
            StartPaste(QApplication::clipboard()->text().toUtf8().toStdString());
        }
    }
    CTextView::mouseReleaseEvent(event);
}

void CVORLAView::focusInEvent(QFocusEvent* event)
{
    CTextView::focusInEvent(event);
    emit focusGained();
}

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
