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
#include "serial/ITerminalSink.h"
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

// Registers a wake-up with a signal the caller may only watch: registering
// changes the signal's list of wake-ups, never whether it is set.
CCancelSignal::Subscription Subscribe(const CCancelSignal* signal, CCancelSignal::Callback wake)
{
    return signal->OnCancel(std::move(wake));
}

// What a sender learns about its byte; owned by the waiting sender.
struct SSendResult {
    bool known = false;                    // the writer has set status
    ESendStatus status = ESendStatus::Sent;
    bool done = false;                     // the byte and its transmit delay are over
};

// One opening of a port: its line, its two threads and the one-byte slot
// between the senders and the writer. Close ends and joins the threads before
// the opening is dropped, so the threads use it by plain pointer.
struct COpening {
    std::string path;
    CSerialLine line;             // settings calls on the UI thread; I/O on reader and writer
    CLineWakeup wake;             // raised by Close, by a lost line and by the writer finding it lost
    CCancelSignal stop;           // set by Close and by a lost line: ends the writer and every wait
    CCancelSignal closing;        // set by Close only: abandons a message a thread is showing
    std::atomic<bool> started{false};
    std::atomic<bool> lost{false};
    std::atomic<bool> discardNul{false}; // fNull of the last applied control block
    std::thread reader;           // created by StartThreads under the engine lock; joined by Close
    std::thread writer;

    // The slot, guarded by mx.
    std::mutex mx;
    std::condition_variable cv;   // every change of the slot or of stop
    std::deque<uint64_t> queue;   // tickets of senders waiting for their turn, oldest first
    uint64_t nextTicket = 0;
    bool busy = false;            // a byte is in the slot until the writer has finished it
    bool taken = false;           // the writer has taken the byte
    unsigned char byte = 0;
    SSendResult* result = nullptr; // the sender still waiting for the byte in the slot, if any
};

// Why the bytes of an opening stopped going out: the line was lost, or the
// port was closed (LineLost marks the loss before it sets stop).
ESendStatus StoppedStatus(const COpening& op)
{
    return op.lost ? ESendStatus::Unplugged : ESendStatus::Closed;
}

// What the writer tells the sender about a byte it tried to write.
ESendStatus WriteStatus(CSerialLine::EWrite r, const COpening& op)
{
    switch (r) {
    case CSerialLine::EWrite::Written:
        return ESendStatus::Sent;
    case CSerialLine::EWrite::TimedOut:
        return ESendStatus::NotReading;
    case CSerialLine::EWrite::Woken:
        return StoppedStatus(op);
    case CSerialLine::EWrite::Ended:
        return ESendStatus::Unplugged;
    case CSerialLine::EWrite::Failed:
    case CSerialLine::EWrite::WaitFailed:
        break;
    }
    return ESendStatus::WriteFailed;
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
    DCB dcb;                                          // the engine's control block
    std::map<std::string, DCB> applied;               // last control block applied, per device
    std::function<void()> lineLost;

    std::atomic<ITerminalSink*> sink{nullptr};        // AttachTerminal; read by the reader
    std::atomic<int> charDelay{0};                    // CharDelay, LineDelay: read by the writer per byte
    std::atomic<int> lineDelay{0};
    std::atomic<int> readDelay{200};
    std::atomic<int> internalReadDelay{5};
    std::atomic<uint32_t> readBufferSize{kDefaultBufferSize};

    std::mutex receiveLock;                           // ReceiveLock: guards receiveBuffer
    CReceiveRing receiveBuffer;                       // ReceiveBuffer; ReceiveCount is its size

    std::shared_ptr<COpening> Current() const
    {
        std::lock_guard<std::mutex> lock(mx);
        return current;
    }

    void JoinFinished();
    void StopOpening(COpening& op, bool closing);
    ESendStatus Send(COpening* op, unsigned char b, const CCancelSignal* cancel);
    SSendReport SendText(COpening* op, const std::string& text, const CCancelSignal* cancel);
    void Wait(COpening* op, int ms, const CCancelSignal* cancel);
    void ReaderThread(COpening* op);
    void WriterThread(COpening* op);
    void Deliver(COpening* op, const char* raw, long count);
    void Store(const char* chunk, std::size_t length);
    void LineLost(COpening* op);
};

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
        for (std::thread* t : {&op->reader, &op->writer}) {
            if (!t->joinable())
                continue;
            if (t->get_id() == std::this_thread::get_id())
                self = true;
            else
                t->join();
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
    {
        // Waiters test stop under mx: taking it here means none can miss the wake.
        std::lock_guard<std::mutex> lock(op.mx);
    }
    op.cv.notify_all();
    op.wake.Raise();
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

    SSendResult result;
    std::unique_lock<std::mutex> lock(op->mx); // released before wakeOnCancel is dropped
    const uint64_t ticket = op->nextTicket++;
    op->queue.push_back(ticket);
    bool myTurn = op->cv.wait_until(lock, deadline, [&] {
        return givenUp() || (!op->busy && op->queue.front() == ticket);
    });
    if (!myTurn || givenUp()) {
        op->queue.erase(std::find(op->queue.begin(), op->queue.end(), ticket));
        op->cv.notify_all(); // the next in line may now be first
        if (cancel && cancel->IsCancelled())
            return ESendStatus::Cancelled;
        return op->stop.IsCancelled() ? StoppedStatus(*op) : ESendStatus::Busy;
    }
    op->queue.pop_front();
    op->busy = true;
    op->taken = false;
    op->byte = b;
    op->result = &result;
    op->cv.notify_all();
    op->cv.wait_until(lock, deadline, [&] { return result.done || givenUp(); });
    // Stopped while the writer holds this byte: the stop has woken the writer
    // too, so its word on the byte comes at once. Waiting for it keeps the
    // count of bytes sent exact when the port closes mid-text.
    if (!result.known && op->stop.IsCancelled() && op->result == &result && op->taken)
        op->cv.wait_until(lock, deadline, [&] { return result.known; });
    // Given up: the writer may still finish this byte, but its completion
    // must reach nobody, least of all the next sender.
    if (op->result == &result)
        op->result = nullptr;
    if (result.known)
        return result.status;
    if (cancel && cancel->IsCancelled())
        return ESendStatus::Cancelled;
    if (op->stop.IsCancelled())
        return StoppedStatus(*op);
    // The 2000 ms are over while the writer still waits for room on the line.
    return ESendStatus::NotReading;
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
        long n = 0;
        do {
            const char* chunk = nullptr;
            n = readChunk(chunk);
            if (n < 0)
                break;
            Deliver(op, chunk, n);
        } while (n == kChunkSize && !op->stop.IsCancelled());
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
    char chunk[kChunkSize + 1];
    std::size_t length = 0;
    const bool discardNul = op->discardNul;
    for (long i = 0; i < count; ++i) {
        unsigned char c = static_cast<unsigned char>(raw[i]);
        if (c == 0 && discardNul)
            continue;
        chunk[length++] = Sanitise(c);
    }
    chunk[length] = '\0';
    // Every chunk goes to the terminal, an empty one included (it still moves
    // the terminal's caret to the end); a backspace erases on the terminal's
    // current line. Every chunk is filed below as it came.
    if (ITerminalSink* sink = this->sink.load())
        sink->AppendReceivedText(chunk);
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

void CSerialPort::Impl::WriterThread(COpening* op)
{
    for (;;) {
        unsigned char b = 0;
        {
            std::unique_lock<std::mutex> lock(op->mx);
            op->cv.wait(lock, [&] { return op->stop.IsCancelled() || (op->busy && !op->taken); });
            // A byte still in the slot when the port closes is never written.
            if (op->stop.IsCancelled())
                break;
            op->taken = true;
            b = op->byte;
        }
        int error = 0;
        CSerialLine::EWrite r = op->line.WriteByte(b, kWriteTimeoutMs, op->wake, error);
        {
            // The sender learns the outcome now, before a message box or the
            // transmit delay can outlast its wait.
            std::lock_guard<std::mutex> lock(op->mx);
            if (op->result) {
                op->result->status = WriteStatus(r, *op);
                op->result->known = true;
            }
        }
        op->cv.notify_all();
        if (r == CSerialLine::EWrite::Failed) {
            prompt.ShowMessage("Unable to write", &op->closing);
        } else if (r == CSerialLine::EWrite::WaitFailed) {
            prompt.ShowMessage("Error occured while waiting for object", &op->closing);
        }
        // A byte lost to the time-out counts as done, delay included.
        if (r == CSerialLine::EWrite::Written || r == CSerialLine::EWrite::TimedOut) {
            const int delay = (b == '\r' || b == '\n') ? lineDelay.load() : charDelay.load();
            op->stop.WaitFor(delay); // Close ends the delay early
        }
        {
            std::lock_guard<std::mutex> lock(op->mx);
            if (op->result)
                op->result->done = true;
            op->result = nullptr;
            op->busy = op->taken = false;
        }
        op->cv.notify_all();
        if (r == CSerialLine::EWrite::Ended) {
            // The line is gone: the reader reports it once.
            op->lost = true;
            op->wake.Raise();
            break;
        }
        if (r == CSerialLine::EWrite::Woken)
            break;
    }
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
        error = name + ": " + std::system_category().message(errno);
    else if (std::string reason; !op->line.Open(path, reason))
        error = name + " (" + path + "): " + reason;

    std::lock_guard<std::mutex> lock(m_impl->mx);
    m_impl->lastOpenError = error;
    if (!error.empty())
        return false;
    // Close puts the line back as it was found; a reconnect starts from the
    // settings last applied to this device, as if the line had kept them.
    // A device that refuses them now shows what it has.
    if (auto it = m_impl->applied.find(path); it != m_impl->applied.end()) {
        std::string ignored;
        op->line.ApplyDcb(it->second, ignored);
    }
    m_impl->current = op;
    return true;
}

std::string CSerialPort::LastOpenError() const
{
    std::lock_guard<std::mutex> lock(m_impl->mx);
    return m_impl->lastOpenError;
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
        op->writer = std::thread([this, raw] { m_impl->WriterThread(raw); });
    } catch (const std::system_error&) {
        // No thread to be had: the opening stays silent and Close joins
        // whichever thread did start.
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
    for (std::thread* t : {&op->reader, &op->writer}) {
        if (!t->joinable())
            continue;
        if (t->get_id() == std::this_thread::get_id())
            fromOwnThread = true; // e.g. the line-lost handler closing the port directly
        else
            t->join();
    }
    // The thread still running (if any) is this one, on its way out without
    // touching the line again.
    op->line.Close();
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

void CSerialPort::SetLineLostHandler(std::function<void()> handler)
{
    std::lock_guard<std::mutex> lock(m_impl->mx);
    m_impl->lineLost = std::move(handler);
}
