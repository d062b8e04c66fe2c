#include "terminal/TerminalView.h"

#include <algorithm>

#include <QApplication>
#include <QClipboard>
#include <QDateTime>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QPainter>

#include <chrono>

#include "core/IUserPrompt.h"
#include "terminal/AnsiParser.h"
#include "terminal/DeviceKeys.h"
#include "terminal/HexView.h"
#include "terminal/ReceivedTextQueue.h"

namespace {

// The queue is drained a slice at a time, and only for so long per turn of
// the event loop, so that typing, menus and the console stay live while a
// device floods.
constexpr size_t kFlushSlice = 64 << 10;
constexpr qint64 kFlushBudgetNs = 4000000;

int64_t NowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

} // namespace

// The margin left of the text that shows each line's arrival time beside
// its first row.
class CVORLAView::CTimeMargin : public QWidget {
public:
    explicit CTimeMargin(CVORLAView& view) : QWidget(&view), m_view(view) { setObjectName("timeMargin"); }
    int WidthNeeded() const { return fontMetrics().horizontalAdvance(QStringLiteral("00:00:00.000 ")) + 4; }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), palette().window());
        painter.setPen(palette().color(QPalette::Disabled, QPalette::Text));
        const int ascent = fontMetrics().ascent();
        for (const auto& [y, line] : m_view.LinesStartingOnScreen())
            if (const int64_t ms = m_view.LineTime(line))
                painter.drawText(2, y + ascent, QDateTime::fromMSecsSinceEpoch(ms).toString("HH:mm:ss.zzz"));
    }

private:
    CVORLAView& m_view;
};

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
    std::vector<CReceivedTextQueue::SLineStamp> stamps;
    bool left = true;
    while (left && spent.nsecsElapsed() < kFlushBudgetNs) {
        left = m_received.Take(kFlushSlice, slice, &stamps);
        ShowSlice(slice, stamps);
    }
    if (left)
        QMetaObject::invokeMethod(this, &CVORLAView::FlushReceived, Qt::QueuedConnection); // the rest, next turn
    MoveCaretToEnd(); // any selection cleared
}

void CVORLAView::ShowSlice(std::string& slice, const std::vector<CReceivedTextQueue::SLineStamp>& stamps)
{
    // The slice is UTF-8 text with three kinds of byte the view applies
    // itself: a Backspace whose character was already shown (it removes the
    // last character of the last line, never a line break) and, with ANSI
    // display, the marks of a style change and of a line's clearing.
    static constexpr char kApplied[] = {'\b', CAnsiParser::kStyleMark, CAnsiParser::kClearLineMark, '\0'};
    std::vector<std::pair<uint64_t, int64_t>> starts; // where each stamped line starts in the store
    std::size_t nextStamp = 0, i = 0;
    auto placeStampsBefore = [&](std::size_t end) {
        for (; nextStamp < stamps.size() && stamps[nextStamp].offset < end; ++nextStamp) {
            const std::size_t offset = stamps[nextStamp].offset;
            starts.emplace_back(Store().End() + (offset > i ? offset - i : 0), stamps[nextStamp].ms);
        }
    };
    while (i < slice.size()) {
        const std::size_t special = std::min(slice.find_first_of(kApplied, i), slice.size());
        placeStampsBefore(special);
        if (special > i)
            AppendText(std::string_view(slice).substr(i, special - i));
        i = special;
        if (i == slice.size())
            break;
        if (slice[i] == '\b') {
            EraseLastChar();
            i += 1;
        } else if (slice[i] == CAnsiParser::kClearLineMark) {
            ClearLastLine();
            i += 1;
        } else {
            // The queue never cuts a mark; a short one at the end is never read past.
            SetTextStyle(CAnsiParser::ReadStyleMark(std::string_view(slice).substr(i)));
            i = std::min(slice.size(), i + CAnsiParser::kStyleMarkSize);
        }
    }
    placeStampsBefore(std::string::npos);
    TimeNewLines(0);
    for (const auto& [pos, ms] : starts) {
        if (pos < Store().Begin() || pos >= Store().End())
            continue;
        const uint64_t line = Store().DroppedLines() + Store().LineOf(pos);
        if (line >= m_timesBase && line - m_timesBase < m_lineTimes.size() && m_lineTimes[line - m_timesBase] == 0)
            m_lineTimes[line - m_timesBase] = ms;
    }
    TimeNewLines(NowMs()); // lines begun before a Clear Screen, say
}

void CVORLAView::ClearLastLine()
{
    const uint64_t start = Store().LineStart(Store().LineCount() - 1);
    if (start < Store().End())
        ReplaceRange(start, Store().End(), {});
}

void CVORLAView::TimeNewLines(int64_t ms)
{
    const uint64_t first = Store().DroppedLines();
    const std::size_t count = Store().LineCount();
    while (!m_lineTimes.empty() && m_timesBase < first) {
        m_lineTimes.pop_front();
        ++m_timesBase;
    }
    if (m_lineTimes.empty())
        m_timesBase = first;
    m_lineTimes.resize(static_cast<std::size_t>(first + count - m_timesBase), 0);
    if (ms == 0)
        return;
    // Untimed lines are at the end; the last one only once it has text.
    for (std::size_t i = m_lineTimes.size(); i-- > 0 && m_lineTimes[i] == 0;) {
        const std::size_t line = static_cast<std::size_t>(m_timesBase + i - first);
        if (line + 1 < count || Store().LineLength(line) > 0)
            m_lineTimes[i] = ms;
    }
}

int64_t CVORLAView::LineTime(std::size_t line) const
{
    const uint64_t absolute = Store().DroppedLines() + line;
    if (absolute < m_timesBase || absolute - m_timesBase >= m_lineTimes.size())
        return 0;
    return std::max<int64_t>(0, m_lineTimes[absolute - m_timesBase]);
}

void CVORLAView::SendBytes(const std::string& bytes)
{
    if (m_owner.OpenPort() != 0 && !bytes.empty())
        m_keySender.Send(bytes);
}

void CVORLAView::SetHexView(CHexView* hex)
{
    m_hex = hex;
    m_hex->hide();
    m_hex->SetKeyForwarder([this](QKeyEvent* key) { OnChar(key); });
    connect(m_hex, &CHexView::focusGained, this, &CVORLAView::focusGained);
}

void CVORLAView::ShowHex(bool on)
{
    if (!m_hex || on == IsHexShown())
        return;
    const bool hadFocus = hasFocus() || m_hex->hasFocus();
    m_hex->setGeometry(rect());
    m_hex->setVisible(on);
    if (on) {
        m_hex->raise();
        m_hex->Refresh();
    }
    setFocusProxy(on ? m_hex : nullptr);
    if (hadFocus)
        (on ? static_cast<QWidget*>(m_hex) : this)->setFocus(Qt::OtherFocusReason);
}

bool CVORLAView::IsHexShown() const { return m_hex && m_hex->isVisible(); }

void CVORLAView::ShowTimestamps(bool on)
{
    m_timestamps = on;
    if (on && !m_margin)
        m_margin = new CTimeMargin(*this);
    PlaceMargin();
}

void CVORLAView::PlaceMargin()
{
    if (!m_margin)
        return;
    const int width = m_timestamps ? m_margin->WidthNeeded() : 0;
    setViewportMargins(width, 0, 0, 0);
    const QRect area = viewport()->geometry();
    m_margin->setGeometry(area.left() - width, area.top(), width, area.height());
    m_margin->setVisible(m_timestamps);
}

void CVORLAView::resizeEvent(QResizeEvent* event)
{
    CTextView::resizeEvent(event);
    PlaceMargin();
    if (m_hex)
        m_hex->setGeometry(rect());
}

void CVORLAView::paintEvent(QPaintEvent* event)
{
    CTextView::paintEvent(event);
    if (m_margin && m_timestamps)
        m_margin->update(); // the rows beside it may have moved
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
    TimeNewLines(NowMs());
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
    TimeNewLines(0);
    std::fill(m_lineTimes.begin(), m_lineTimes.end(), -1); // a document's lines did not arrive: no times
    MoveCaretToEnd();
    ScrollToEnd();
}

bool CVORLAView::PreTranslateKey(QKeyEvent* event)
{
    const int key = event->key();
    const Qt::KeyboardModifiers mods = event->modifiers();
    // A modifier on its own leaves the selection: Ctrl+Shift+C copies it.
    if (key == Qt::Key_Control || key == Qt::Key_Shift || key == Qt::Key_Alt || key == Qt::Key_Meta)
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
        if (m_options.keysToDevice && SendKeyToDevice(key))
            return true;
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
    const bool isEnter = bytes == "\r";
    SendTyped(isEnter ? EnterBytes() : bytes, isEnter);
}

void CVORLAView::SetSendCrLf(bool on)
{
    if (on)
        m_options.enter = EEnterSends::CrLf;
    else if (m_options.enter == EEnterSends::CrLf)
        m_options.enter = EEnterSends::Lf;
}

std::string CVORLAView::EnterBytes() const
{
    switch (m_options.enter) {
    case EEnterSends::Cr: return "\r";
    case EEnterSends::CrLf: return "\r\n";
    case EEnterSends::Lf: break;
    }
    return "\n";
}

bool CVORLAView::SendKeyToDevice(QKeyEvent* event)
{
    const int key = event->key();
    const Qt::KeyboardModifiers mods = event->modifiers() & ~Qt::KeypadModifier;
    if (mods == (Qt::ControlModifier | Qt::ShiftModifier) && (key == Qt::Key_C || key == Qt::Key_V)) {
        if (key == Qt::Key_V)
            OnEditPaste();
        else if (IsHexShown())
            m_hex->Copy();
        else
            Copy();
        return true;
    }
    if ((key == Qt::Key_Return || key == Qt::Key_Enter) && !(mods & (Qt::AltModifier | Qt::MetaModifier))) {
        SendTyped(EnterBytes(), true);
        return true;
    }
    const std::string bytes = DeviceKeyBytes(*event);
    if (bytes.empty())
        return false;
    SendTyped(bytes, false);
    return true;
}

void CVORLAView::SendTyped(const std::string& bytes, bool isEnter)
{
    ScrollToEnd(); // typing shows the end, as the text comes in there
    if (m_owner.OpenPort() == 0)
        return;
    m_keySender.Send(bytes); // returns at once; the echo below need not wait for the line

    if (!m_options.localEcho)
        return;
    // Echo at the end, where the key rule has put the caret; Backspace
    // removes the character before it, a line break included. A key's
    // escape sequence is not echoed: it would show as garbage.
    if (isEnter)
        AppendText("\n");
    else if (bytes == "\b" || bytes == "\x7f")
        EraseLastChar(true);
    else if (bytes[0] != '\x1b' || bytes.size() == 1)
        AppendText(bytes);
    TimeNewLines(NowMs());
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
