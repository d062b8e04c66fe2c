#include "serial/SerialPort.h"

#include <algorithm>
#include <cerrno>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "core/CancelSignal.h"
#include "core/IUserPrompt.h"
#include "serial/IByteObserver.h"
#include "serial/ITerminalSink.h"
#include "serial/MatchBuffer.h"
#include "serial/PortMap.h"
#include "serial/ReceiveRing.h"
#include "serial/SerialLine.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kSendWaitMs = 2000;
constexpr long kChunkSize = 100;
constexpr uint32_t kDefaultBufferSize = 1000;
// One byte per write: 10 ms per byte plus 1000 ms.
constexpr int kWriteTimeoutMs = 10 * 1 + 1000;

// Printable (0x20..0x7E), white space (0x09..0x0D) and backspace pass; every
// other byte value becomes '.'.
inline char Sanitise(unsigned char c)
{
    return (c >= 0x20 && c <= 0x7E) || (c >= 0x08 && c <= 0x0D) ? static_cast<char>(c) : '.';
}

// The same for a terminal that shows escape sequences or UTF-8 itself.
inline char SanitiseKeepingEscapesAndHighBytes(unsigned char c)
{
    return c == 0x1B || c >= 0x80 ? static_cast<char>(c) : Sanitise(c);
}

// Registers a wake-up with a signal the caller may only watch: registering
// changes the signal's list of wake-ups, never whether it is set.
CCancelSignal::Subscription Subscribe(const CCancelSignal* signal, CCancelSignal::Callback wake)
{
    return signal->OnCancel(std::move(wake));
}

// One opening of a port: its line, its reader thread and the senders' turns.
// Close ends and joins the reader, and waits for a sender inside its write,
// before it closes the line; the reader uses the opening by plain pointer,
// senders hold it by shared pointer.
struct COpening {
    std::string path;
    CSerialLine line;             // settings calls on the UI thread; reads on the reader, writes by the sender in turn
    CLineWakeup wake;             // raised by Close, by a lost line and by a sender finding it lost
    CCancelSignal stop;           // set by Close and by a lost line: ends every wait, refuses further bytes
    CCancelSignal closing;        // set by Close only: abandons a message a thread is showing
    std::atomic<bool> started{false};
    std::atomic<bool> lost{false};
    std::atomic<bool> discardNul{false}; // fNull of the last applied control block
    std::atomic<bool> closeTold{false};  // the byte observers have heard that this opening ended
    std::thread reader;           // created by StartThreads under the engine lock; joined by Close

    // The senders' turns, guarded by mx. The sender whose turn it is writes
    // its own byte: no thread hand-off per byte.
    std::mutex mx;
    std::condition_variable cv;   // every change below or of stop
    std::deque<uint64_t> queue;   // tickets of senders waiting for their turn, oldest first
    uint64_t nextTicket = 0;
    bool turnTaken = false;       // a sender has the turn: only it touches the line's write side
    bool writing = false;         // that sender is inside WriteByte (or a break): Close waits before closing the line
    int lineUsers = 0;            // modem-line requests using the line now: Close waits for them too
    Clock::time_point lineFreeAt; // the last byte's transmit delay ends here; no byte goes out before
};

// Why the bytes of an opening stopped going out: the line was lost, or the
// port was closed (LineLost marks the loss before it sets stop).
ESendStatus StoppedStatus(const COpening& op)
{
    return op.lost ? ESendStatus::Unplugged : ESendStatus::Closed;
}

// What became of a byte its sender tried to write.
ESendStatus WriteStatus(CSerialLine::EWrite r, const COpening& op, const CCancelSignal* cancel)
{
    switch (r) {
    case CSerialLine::EWrite::Written:
        return ESendStatus::Sent;
    case CSerialLine::EWrite::TimedOut:
        return ESendStatus::NotReading;
    case CSerialLine::EWrite::Woken:
        return cancel && cancel->IsCancelled() ? ESendStatus::Cancelled : StoppedStatus(op);
    case CSerialLine::EWrite::Ended:
        return ESendStatus::Unplugged;
    case CSerialLine::EWrite::Failed:
    case CSerialLine::EWrite::WaitFailed:
        break;
    }
    return ESendStatus::WriteFailed;
}

const char kNoModemLines[] = "the device has no modem lines";

SResult NotOpenResult() { return SResult::Failure("the port is not open", ""); }

SResult StoppedResult(const COpening& op)
{
    return SResult::Failure(op.lost ? "the device was unplugged" : "the port was closed", "");
}

SResult CancelledResult() { return SResult::Failure("cancelled", ""); }

// A refused modem-line or break request: `unsupported` when the device has
// no such thing, `failed` otherwise, each with the system's reason.
SResult ControlResult(CSerialLine::EControl r, const char* unsupported, const char* failed, std::string reason)
{
    if (r == CSerialLine::EControl::Done)
        return SResult::Success();
    return SResult::Failure(r == CSerialLine::EControl::Unsupported ? unsupported : failed, std::move(reason));
}

SResult SetOutput(COpening& op, CSerialLine::EOutputLine line, bool asserted)
{
    std::string reason;
    const CSerialLine::EControl r = op.line.SetOutputLine(line, asserted, reason);
    return ControlResult(r, kNoModemLines,
                         line == CSerialLine::EOutputLine::Dtr ? "Unable to set DTR" : "Unable to set RTS", reason);
}

SResult ReadLines(COpening& op, SModemLines& lines)
{
    std::string reason;
    const CSerialLine::EControl r = op.line.ReadModemLines(lines, reason);
    return ControlResult(r, kNoModemLines, "Unable to read the modem lines", reason);
}

} // namespace

struct CSerialPort::Impl {
    Impl(IUserPrompt& p, const CPortMap& m) : prompt(p), ports(m) {}

    IUserPrompt& prompt;
    const CPortMap& ports;

    mutable std::mutex mx;                            // guards the members up to lineLost
    std::shared_ptr<COpening> current;                // the opening Open made, until Close
    std::vector<std::shared_ptr<COpening>> finished;  // closed from one of their own threads, joined later
    std::string lastOpenError;
    CSerialLine::EOpenFailure lastOpenFailure = CSerialLine::EOpenFailure::None;
    DCB dcb;                                          // the engine's control block
    std::map<std::string, DCB> applied;               // last control block applied, per device
    std::function<void()> lineLost;

    std::atomic<ITerminalSink*> sink{nullptr};        // AttachTerminal; read by the reader
    std::atomic<int> charDelay{0};                    // CharDelay, LineDelay: read by each sender per byte
    std::atomic<int> lineDelay{0};
    std::atomic<int> readDelay{200};
    std::atomic<int> internalReadDelay{5};
    std::atomic<uint32_t> readBufferSize{kDefaultBufferSize};

    std::mutex observerLock;                          // guards observers; held during each call to one
    std::vector<IByteObserver*> observers;

    std::mutex receiveLock;                           // ReceiveLock: guards receiveBuffer
    CReceiveRing receiveBuffer;                       // ReceiveBuffer; ReceiveCount is its size
    CMatchBuffer matchBuffer;                         // what scripts expect; raw bytes, its own lock

    std::shared_ptr<COpening> Current() const
    {
        std::lock_guard<std::mutex> lock(mx);
        return current;
    }

    void JoinFinished();
    void StopOpening(COpening& op, bool closing);
    ESendStatus TakeTurn(COpening& op, Clock::time_point deadline, const CCancelSignal* cancel,
                         std::unique_lock<std::mutex>& lock);
    ESendStatus Send(COpening* op, unsigned char b, const CCancelSignal* cancel);
    template <typename F>
    SResult UseLine(F use);
    void ShowWriteError(COpening& op, const char* text, const CCancelSignal* cancel);
    SSendReport SendText(COpening* op, const std::string& text, const CCancelSignal* cancel);
    void Wait(COpening* op, int ms, const CCancelSignal* cancel);
    void ReaderThread(COpening* op);
    void Deliver(COpening* op, const char* raw, long count);
    void Store(const char* chunk, std::size_t length);
    void LineLost(COpening* op);
    template <typename F>
    void Observe(F call);
    void TellClosed(COpening& op);
};

template <typename F>
void CSerialPort::Impl::Observe(F call)
{
    std::lock_guard<std::mutex> lock(observerLock);
    for (IByteObserver* observer : observers)
        call(*observer);
}

void CSerialPort::Impl::TellClosed(COpening& op)
{
    if (!op.closeTold.exchange(true))
        Observe([&](IByteObserver& o) { o.LineClosed(op.lost); });
}

void CSerialPort::Impl::JoinFinished()
{
    std::vector<std::shared_ptr<COpening>> list;
    {
        std::lock_guard<std::mutex> lock(mx);
        list.swap(finished);
    }
    std::vector<std::shared_ptr<COpening>> keep;
    for (auto& op : list) {
        bool self = false;
        if (op->reader.joinable()) {
            if (op->reader.get_id() == std::this_thread::get_id())
                self = true;
            else
                op->reader.join();
        }
        if (self)
            keep.push_back(op);
    }
    if (!keep.empty()) {
        std::lock_guard<std::mutex> lock(mx);
        finished.insert(finished.end(), keep.begin(), keep.end());
    }
}

void CSerialPort::Impl::StopOpening(COpening& op, bool closing)
{
    if (closing)
        op.closing.Cancel();
    op.stop.Cancel();
    matchBuffer.MarkEof(); // a waiting expect sees the end; later chunks are not appended
    {
        // Waiters test stop under mx: taking it here means none can miss the wake.
        std::lock_guard<std::mutex> lock(op.mx);
    }
    op.cv.notify_all();
    op.wake.Raise();
}

// Waits, holding op.mx through `lock`, for the caller's turn at the line
// (oldest first) and for the previous byte's transmit delay. Returns Sent
// with the turn taken (turnTaken: the caller gives it back), or why the
// caller stopped waiting. The caller wakes op.cv on its cancel.
ESendStatus CSerialPort::Impl::TakeTurn(COpening& op, Clock::time_point deadline, const CCancelSignal* cancel,
                                        std::unique_lock<std::mutex>& lock)
{
    auto givenUp = [&] { return op.stop.IsCancelled() || (cancel && cancel->IsCancelled()); };
    auto notTaken = [&] {
        if (cancel && cancel->IsCancelled())
            return ESendStatus::Cancelled;
        return op.stop.IsCancelled() ? StoppedStatus(op) : ESendStatus::Busy;
    };
    const uint64_t ticket = op.nextTicket++;
    op.queue.push_back(ticket);
    bool myTurn = op.cv.wait_until(lock, deadline, [&] {
        return givenUp() || (!op.turnTaken && op.queue.front() == ticket);
    });
    if (!myTurn || givenUp()) {
        op.queue.erase(std::find(op.queue.begin(), op.queue.end(), ticket));
        op.cv.notify_all(); // the next in line may now be first
        return notTaken();
    }
    op.queue.pop_front();
    op.turnTaken = true;
    // The previous byte's transmit delay still holds the line. (Only the
    // sender with the turn changes lineFreeAt.)
    if (Clock::now() < op.lineFreeAt)
        op.cv.wait_until(lock, std::min(deadline, op.lineFreeAt), givenUp);
    if (givenUp() || Clock::now() < op.lineFreeAt) {
        op.turnTaken = false;
        op.cv.notify_all();
        return notTaken();
    }
    return ESendStatus::Sent;
}

ESendStatus CSerialPort::Impl::Send(COpening* op, unsigned char b, const CCancelSignal* cancel)
{
    if (!op || !op->started)
        return op ? StoppedStatus(*op) : ESendStatus::Closed;
    const auto deadline = Clock::now() + std::chrono::milliseconds(kSendWaitMs);
    CCancelSignal::Subscription wakeOnCancel;
    if (cancel)
        wakeOnCancel = Subscribe(cancel, [op] {
            std::lock_guard<std::mutex> lock(op->mx);
            op->cv.notify_all();
        });
    auto givenUp = [&] { return op->stop.IsCancelled() || (cancel && cancel->IsCancelled()); };

    std::unique_lock<std::mutex> lock(op->mx); // released before wakeOnCancel is dropped
    const ESendStatus turn = TakeTurn(*op, deadline, cancel, lock);
    if (turn != ESendStatus::Sent)
        return turn;

    // Close has not stopped the opening (tested under mx above), and it
    // closes the line only once `writing` is false again.
    op->writing = true;
    lock.unlock();
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    // The write time-out, cut short by the sender's own 2000 ms: a byte
    // reported as not sent is never written later.
    const int timeoutMs = static_cast<int>(std::clamp<long long>(left, 0, kWriteTimeoutMs));
    int error = 0;
    const CSerialLine::EWrite r = op->line.WriteByte(b, timeoutMs, op->wake, cancel, error);
    const ESendStatus status = WriteStatus(r, *op, cancel);
    // Still `writing`: Close tells the observers the line ended only after this.
    if (r == CSerialLine::EWrite::Written)
        Observe([b](IByteObserver& o) { o.ByteSent(b); });
    lock.lock();
    op->writing = false;
    // A byte lost to the time-out counts as done, delay included.
    if (r == CSerialLine::EWrite::Written || r == CSerialLine::EWrite::TimedOut) {
        const int delay = (b == '\r' || b == '\n') ? lineDelay.load() : charDelay.load();
        op->lineFreeAt = Clock::now() + std::chrono::milliseconds(std::max(0, delay));
    }
    if (r == CSerialLine::EWrite::Failed || r == CSerialLine::EWrite::WaitFailed) {
        // Shown with the turn still held: one refusal, one message, not one
        // per waiting sender. Close does not wait for it.
        op->cv.notify_all();
        lock.unlock();
        const bool writeRefused = r == CSerialLine::EWrite::Failed;
        ShowWriteError(*op, writeRefused ? "Unable to write" : "Error occured while waiting for object", cancel);
        lock.lock();
    }
    if (r == CSerialLine::EWrite::Ended) {
        // The line is gone: the reader reports it once.
        op->lost = true;
        op->wake.Raise();
    }
    op->turnTaken = false;
    op->cv.notify_all();
    // The sender returns once its byte's transmit delay is over; the next
    // sender may take the turn meanwhile, but waits for lineFreeAt too.
    if (status == ESendStatus::Sent && Clock::now() < op->lineFreeAt)
        op->cv.wait_until(lock, std::min(deadline, op->lineFreeAt), givenUp);
    return status;
}

// Runs use(opening) on the current opening's line unless the opening has
// stopped; Close waits until it is done before it closes the line.
template <typename F>
SResult CSerialPort::Impl::UseLine(F use)
{
    std::shared_ptr<COpening> op = Current();
    if (!op)
        return NotOpenResult();
    {
        std::lock_guard<std::mutex> lock(op->mx);
        if (op->stop.IsCancelled())
            return StoppedResult(*op);
        ++op->lineUsers;
    }
    SResult result = use(*op);
    std::lock_guard<std::mutex> lock(op->mx);
    --op->lineUsers;
    op->cv.notify_all();
    return result;
}

void CSerialPort::Impl::ShowWriteError(COpening& op, const char* text, const CCancelSignal* cancel)
{
    // Neither Close nor the sender's cancel waits for the person to answer.
    CCancelSignal abandon;
    auto giveUp = [&abandon] { abandon.Cancel(); };
    CCancelSignal::Subscription onClose = Subscribe(&op.closing, giveUp);
    CCancelSignal::Subscription onCancel;
    if (cancel)
        onCancel = Subscribe(cancel, giveUp);
    if (op.closing.IsCancelled() || (cancel && cancel->IsCancelled()))
        abandon.Cancel();
    prompt.ShowMessage(text, &abandon);
}

SSendReport CSerialPort::Impl::SendText(COpening* op, const std::string& text, const CCancelSignal* cancel)
{
    SSendReport report;
    report.total = text.size();
    for (unsigned char c : text) {
        report.status = Send(op, c, cancel);
        if (report.status != ESendStatus::Sent)
            break;
        ++report.sent;
    }
    return report;
}

void CSerialPort::Impl::Wait(COpening* op, int ms, const CCancelSignal* cancel)
{
    if (ms <= 0)
        return;
    const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    std::mutex ownMutex;
    std::condition_variable ownCv;
    std::mutex& m = op ? op->mx : ownMutex;
    std::condition_variable& cv = op ? op->cv : ownCv;
    CCancelSignal::Subscription wakeOnCancel;
    if (cancel)
        wakeOnCancel = Subscribe(cancel, [&] {
            std::lock_guard<std::mutex> lock(m);
            cv.notify_all();
        });
    std::unique_lock<std::mutex> lock(m);
    cv.wait_until(lock, deadline,
                  [&] { return (op && op->stop.IsCancelled()) || (cancel && cancel->IsCancelled()); });
}

void CSerialPort::Impl::ReaderThread(COpening* op)
{
    // Chunks are at most 100 bytes, but the kernel is asked for what it has
    // in one go: the chunks come out the same, with far fewer system calls.
    // A chunk shorter than 100 bytes always leaves `block` empty, so nothing
    // waits here while the reader sleeps.
    char block[4096];
    long have = 0, at = 0;
    auto readChunk = [&](const char*& chunk) -> long {
        if (at == have) {
            have = op->line.Read(block, sizeof block);
            at = 0;
            if (have < 0) {
                have = 0;
                return -1;
            }
        }
        long n = std::min(kChunkSize, have - at);
        chunk = block + at;
        at += n;
        return n;
    };
    bool lost = false;
    while (!op->stop.IsCancelled()) {
        CSerialLine::EWait w = op->line.WaitReadable(op->wake);
        if (w == CSerialLine::EWait::Woken) {
            // Close, or the writer found the line gone.
            lost = op->lost;
            break;
        }
        if (w == CSerialLine::EWait::Ended) {
            lost = true;
            break;
        }
        // Bytes taken off the line are delivered even when Close comes
        // meanwhile: only a further read waits for the next opening.
        long n = 0;
        do {
            const char* chunk = nullptr;
            n = readChunk(chunk);
            if (n < 0)
                break;
            Deliver(op, chunk, n);
        } while (at < have || (n == kChunkSize && !op->stop.IsCancelled()));
        if (n < 0) {
            lost = true;
            break;
        }
    }
    if (lost && !op->closing.IsCancelled())
        LineLost(op);
}

void CSerialPort::Impl::Deliver(COpening* op, const char* raw, long count)
{
    // Scripts match the bytes as they came, before NUL discarding and sanitising.
    matchBuffer.Append(raw, static_cast<std::size_t>(count));
    Observe([&](IByteObserver& o) { o.BytesReceived(raw, static_cast<std::size_t>(count)); });
    char chunk[kChunkSize + 1];
    char shown[kChunkSize + 1]; // the terminal's form, when it differs from the filed one
    std::size_t length = 0;
    const bool discardNul = op->discardNul;
    ITerminalSink* sink = this->sink.load();
    const bool keepHigh = sink && sink->WantsEscapesAndHighBytes();
    for (long i = 0; i < count; ++i) {
        unsigned char c = static_cast<unsigned char>(raw[i]);
        if (c == 0 && discardNul)
            continue;
        if (keepHigh)
            shown[length] = SanitiseKeepingEscapesAndHighBytes(c);
        chunk[length++] = Sanitise(c);
    }
    chunk[length] = '\0';
    shown[length] = '\0';
    // Every chunk goes to the terminal, an empty one included (it still moves
    // the terminal's caret to the end); a backspace erases on the terminal's
    // current line. Every chunk is filed below as it came.
    if (sink)
        sink->AppendReceivedText(keepHigh ? shown : chunk);
    Store(chunk, length);
}

void CSerialPort::Impl::Store(const char* chunk, std::size_t length)
{
    // Full (or larger than a size restored since): the newest bytes
    // displace the oldest. A size of 0 keeps nothing.
    std::lock_guard<std::mutex> lock(receiveLock);
    receiveBuffer.Push(chunk, length, readBufferSize);
}

void CSerialPort::Impl::LineLost(COpening* op)
{
    op->lost = true;
    StopOpening(*op, false);
    TellClosed(*op); // before the message, which may wait for the user
    prompt.ShowMessage("Unable to wait for commevent", &op->closing);
    if (op->closing.IsCancelled())
        return; // closed meanwhile: nothing left to report
    std::function<void()> handler;
    {
        std::lock_guard<std::mutex> lock(mx);
        handler = lineLost;
    }
    if (handler)
        handler();
}

const char* SendStatusText(ESendStatus status)
{
    switch (status) {
    case ESendStatus::Sent:
        return "sent";
    case ESendStatus::NotReading:
        return "the device is not reading (write timed out)";
    case ESendStatus::Busy:
        return "the port was busy with other senders (timed out)";
    case ESendStatus::Closed:
        return "the port was closed";
    case ESendStatus::Unplugged:
        return "the device was unplugged";
    case ESendStatus::WriteFailed:
        return "the port refused the write";
    case ESendStatus::Cancelled:
        return "cancelled";
    }
    return "unknown";
}

CSerialPort::CSerialPort(IUserPrompt& prompt, const CPortMap& ports) : m_impl(std::make_unique<Impl>(prompt, ports))
{
}

CSerialPort::~CSerialPort()
{
    Close();
    m_impl->JoinFinished();
}

bool CSerialPort::Open(const std::string& name)
{
    m_impl->JoinFinished();
    {
        std::shared_ptr<COpening> old = m_impl->Current();
        if (old && old->lost)
            Close(); // the device went away; its opening only waits to be released
    }
    std::string error;
    CSerialLine::EOpenFailure failure = CSerialLine::EOpenFailure::Other;
    const int n = CPortMap::PortNumber(name);
    const std::string path = n ? m_impl->ports.PathFor(n) : std::string();
    auto op = std::make_shared<COpening>();
    op->path = path;
    if (n == 0)
        error = name + " is not a port name (COM1 to COM8)";
    else if (path.empty())
        error = name + " is not mapped to a device";
    else if (m_impl->Current())
        error = name + ": a port is already open";
    else if (!op->wake.IsValid())
        error = name + ": " + std::generic_category().message(errno);
    else if (std::string reason; !op->line.Open(path, reason, &failure))
        error = name + " (" + path + "): " + reason;

    std::lock_guard<std::mutex> lock(m_impl->mx);
    m_impl->lastOpenError = error;
    m_impl->lastOpenFailure = error.empty() ? CSerialLine::EOpenFailure::None : failure;
    if (!error.empty())
        return false;
    // Close puts the line back as it was found; a reconnect starts from the
    // settings last applied to this device, as if the line had kept them.
    // A device that refuses them now shows what it has.
    if (auto it = m_impl->applied.find(path); it != m_impl->applied.end()) {
        std::string ignored;
        op->line.ApplyDcb(it->second, ignored);
    }
    m_impl->matchBuffer.Reopen();
    m_impl->current = op;
    return true;
}

std::string CSerialPort::LastOpenError() const
{
    std::lock_guard<std::mutex> lock(m_impl->mx);
    return m_impl->lastOpenError;
}

CSerialLine::EOpenFailure CSerialPort::LastOpenFailure() const
{
    std::lock_guard<std::mutex> lock(m_impl->mx);
    return m_impl->lastOpenFailure;
}

bool CSerialPort::ReadState()
{
    std::shared_ptr<COpening> op = m_impl->Current();
    if (!op)
        return false;
    DCB dcb;
    {
        std::lock_guard<std::mutex> lock(m_impl->mx);
        auto it = m_impl->applied.find(op->path);
        if (it != m_impl->applied.end())
            dcb = it->second;
    }
    if (!op->line.ReadDcb(dcb))
        return false;
    dcb.DCBlength = sizeof(DCB);
    std::lock_guard<std::mutex> lock(m_impl->mx);
    m_impl->dcb = dcb;
    return true;
}

DCB CSerialPort::Dcb() const
{
    std::lock_guard<std::mutex> lock(m_impl->mx);
    return m_impl->dcb;
}

SResult CSerialPort::ApplySettings(const DCB& requested)
{
    DCB dcb = requested;
    dcb.DCBlength = sizeof(DCB);
    std::shared_ptr<COpening> op = m_impl->Current();
    std::string reason = "the port is not open";
    if (!op || !op->line.ApplyDcb(dcb, reason))
        return SResult::Failure("Unable to configure new configuration ", reason);
    {
        std::lock_guard<std::mutex> lock(m_impl->mx);
        m_impl->applied[op->path] = dcb;
        m_impl->dcb = dcb;
    }
    op->discardNul = dcb.fNull != 0;
    if (!op->line.ReadTimeouts())
        return SResult::Failure("Unable to get timeout info", "the time-outs cannot be read");
    if (!op->line.SetTimeouts())
        return SResult::Failure("Unable to set timout configs", "the time-outs cannot be set");
    return SResult::Success();
}

void CSerialPort::StartThreads()
{
    std::shared_ptr<COpening> op = m_impl->Current();
    if (!op || op->started)
        return;
    if (ITerminalSink* sink = m_impl->sink.load())
        sink->ResumeDelivery();
    std::lock_guard<std::mutex> lock(m_impl->mx);
    if (m_impl->current != op || op->started)
        return;
    op->started = true;
    COpening* raw = op.get();
    try {
        op->reader = std::thread([this, raw] { m_impl->ReaderThread(raw); });
    } catch (const std::system_error&) {
        // No thread to be had: the opening stays silent.
        m_impl->StopOpening(*op, false);
    }
}

void CSerialPort::Close()
{
    m_impl->JoinFinished();
    std::shared_ptr<COpening> op;
    {
        std::lock_guard<std::mutex> lock(m_impl->mx);
        op = std::move(m_impl->current);
    }
    if (!op)
        return;
    m_impl->StopOpening(*op, true);
    if (op->started) {
        // A reader waiting for the terminal to show a chunk must come back.
        if (ITerminalSink* sink = m_impl->sink.load())
            sink->AbortDelivery();
    }
    bool fromOwnThread = false;
    if (op->reader.joinable()) {
        if (op->reader.get_id() == std::this_thread::get_id())
            fromOwnThread = true; // e.g. the line-lost handler closing the port directly
        else
            op->reader.join();
    }
    {
        // The stop has woken a sender inside its write, a break and a DTR
        // pulse; none starts once stop is set.
        std::unique_lock<std::mutex> lock(op->mx);
        op->cv.wait(lock, [&] { return !op->writing && op->lineUsers == 0; });
    }
    // The reader still running (if any) is this thread, on its way out
    // without touching the line again.
    op->line.Close();
    m_impl->TellClosed(*op);
    if (fromOwnThread) {
        std::lock_guard<std::mutex> lock(m_impl->mx);
        m_impl->finished.push_back(op);
    }
}

bool CSerialPort::IsOpen() const
{
    std::lock_guard<std::mutex> lock(m_impl->mx);
    return m_impl->current && !m_impl->current->lost;
}

bool CSerialPort::SendByte(unsigned char b, const CCancelSignal* cancel)
{
    std::shared_ptr<COpening> op = m_impl->Current();
    return m_impl->Send(op.get(), b, cancel) == ESendStatus::Sent;
}

SSendReport CSerialPort::SendText(const std::string& text, const CCancelSignal* cancel)
{
    std::shared_ptr<COpening> op = m_impl->Current();
    return m_impl->SendText(op.get(), text, cancel);
}

void CSerialPort::AttachTerminal(ITerminalSink* terminal) { m_impl->sink = terminal; }

void CSerialPort::AddByteObserver(IByteObserver* observer)
{
    std::lock_guard<std::mutex> lock(m_impl->observerLock);
    m_impl->observers.push_back(observer);
}

void CSerialPort::RemoveByteObserver(IByteObserver* observer)
{
    std::lock_guard<std::mutex> lock(m_impl->observerLock);
    auto& list = m_impl->observers;
    list.erase(std::remove(list.begin(), list.end(), observer), list.end());
}

std::string CSerialPort::SendAndCollect(const std::string& text, const CCancelSignal* cancel, SSendReport* report)
{
    std::shared_ptr<COpening> op = m_impl->Current();
    COpening* raw = op.get();
    const SSendReport sent = m_impl->SendText(raw, text, cancel);
    if (report)
        *report = sent;
    // No open port, or part of the text missing: no answer is due.
    if (!raw || !sent.Complete())
        return {};
    m_impl->Wait(raw, std::max(0, m_impl->internalReadDelay.load()), cancel);
    ClearReceiveBuffer();
    m_impl->Wait(raw, std::max(0, m_impl->readDelay.load()), cancel);
    return ReceiveBufferContents();
}

void CSerialPort::ClearReceiveBuffer()
{
    std::lock_guard<std::mutex> lock(m_impl->receiveLock);
    m_impl->receiveBuffer.Clear(m_impl->readBufferSize);
}

std::string CSerialPort::ReceiveBufferContents() const
{
    std::lock_guard<std::mutex> lock(m_impl->receiveLock);
    return m_impl->receiveBuffer.Contents();
}

void CSerialPort::ResizeReceiveBuffer(uint32_t size)
{
    std::lock_guard<std::mutex> lock(m_impl->receiveLock);
    m_impl->receiveBuffer.Clear(0);
    m_impl->readBufferSize = size;
}

void CSerialPort::RestoreReceiveBufferSize()
{
    m_impl->readBufferSize = kDefaultBufferSize;
}

uint32_t CSerialPort::ReadBufferSize() const
{
    return m_impl->readBufferSize;
}

int CSerialPort::ReadDelay() const
{
    return m_impl->readDelay;
}

void CSerialPort::SetReadDelay(int ms)
{
    m_impl->readDelay = ms;
}

int CSerialPort::InternalReadDelay() const
{
    return m_impl->internalReadDelay;
}

void CSerialPort::SetInternalReadDelay(int ms)
{
    m_impl->internalReadDelay = ms;
}

void CSerialPort::SetTransmitDelays(int charDelay, int lineDelay)
{
    m_impl->charDelay = charDelay;
    m_impl->lineDelay = lineDelay;
}

SResult CSerialPort::SetDtr(bool asserted)
{
    return m_impl->UseLine([&](COpening& op) { return SetOutput(op, CSerialLine::EOutputLine::Dtr, asserted); });
}

SResult CSerialPort::SetRts(bool asserted)
{
    return m_impl->UseLine([&](COpening& op) { return SetOutput(op, CSerialLine::EOutputLine::Rts, asserted); });
}

SResult CSerialPort::ReadModemLines(SModemLines& lines)
{
    return m_impl->UseLine([&](COpening& op) { return ReadLines(op, lines); });
}

SResult CSerialPort::PulseDtr(int ms, const CCancelSignal* cancel)
{
    return m_impl->UseLine([&](COpening& op) {
        SModemLines lines;
        SResult result = ReadLines(op, lines);
        if (result.ok)
            result = SetOutput(op, CSerialLine::EOutputLine::Dtr, !lines.dtr);
        if (!result.ok)
            return result;
        m_impl->Wait(&op, ms, cancel);
        // Back to where it was, also after a cancel or a close.
        result = SetOutput(op, CSerialLine::EOutputLine::Dtr, lines.dtr);
        if (op.stop.IsCancelled())
            return StoppedResult(op);
        if (cancel && cancel->IsCancelled())
            return CancelledResult();
        return result;
    });
}

SResult CSerialPort::SendBreak(int ms, const CCancelSignal* cancel)
{
    std::shared_ptr<COpening> op = m_impl->Current();
    if (!op)
        return NotOpenResult();
    const auto deadline = Clock::now() + std::chrono::milliseconds(kSendWaitMs);
    CCancelSignal::Subscription wakeOnCancel;
    if (cancel)
        wakeOnCancel = Subscribe(cancel, [raw = op.get()] {
            std::lock_guard<std::mutex> lock(raw->mx);
            raw->cv.notify_all();
        });
    std::unique_lock<std::mutex> lock(op->mx); // released before wakeOnCancel is dropped
    const ESendStatus turn = m_impl->TakeTurn(*op, deadline, cancel, lock);
    if (turn != ESendStatus::Sent)
        return SResult::Failure(SendStatusText(turn), "");
    // As a sender in its write: Close waits until the break is over.
    op->writing = true;
    lock.unlock();
    std::string reason;
    CSerialLine::EControl r = op->line.SetBreak(true, reason);
    if (r == CSerialLine::EControl::Done) {
        m_impl->Wait(op.get(), ms, cancel);
        r = op->line.SetBreak(false, reason); // also after a cancel or a close
    }
    lock.lock();
    op->writing = false;
    op->turnTaken = false;
    op->cv.notify_all();
    lock.unlock();
    if (r != CSerialLine::EControl::Done)
        return ControlResult(r, "the device cannot send a break", "Unable to send a break", reason);
    if (op->stop.IsCancelled())
        return StoppedResult(*op);
    if (cancel && cancel->IsCancelled())
        return CancelledResult();
    return SResult::Success();
}

CMatchBuffer& CSerialPort::MatchBuffer() { return m_impl->matchBuffer; }

void CSerialPort::SetLineLostHandler(std::function<void()> handler)
{
    std::lock_guard<std::mutex> lock(m_impl->mx);
    m_impl->lineLost = std::move(handler);
}
