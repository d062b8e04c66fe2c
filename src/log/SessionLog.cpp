#include "log/SessionLog.h"

#include <cerrno>
#include <chrono>
#include <system_error>

#include "log/FileSizeSignal.h"

namespace {

int64_t NowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

// errno values are the C library's codes, not the system's own (on Windows
// those are another numbering), so they take the generic wording.
std::string SystemReason(int error) { return std::generic_category().message(error); }

} // namespace

CSessionLog::CSessionLog(std::size_t queueLimit) : m_queueLimit(queueLimit) {}

CSessionLog::~CSessionLog() { Stop(); }

void CSessionLog::SetStoppedHandler(std::function<void(const std::string&)> handler)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_stoppedHandler = std::move(handler);
}

SResult CSessionLog::Start(const std::string& path, const SLogOptions& options)
{
    std::lock_guard<std::mutex> control(m_control);
    if (path.empty())
        return SResult::Failure("Unable to start the log", "no file name");
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_running)
            return SResult::Failure("Unable to start the log", "a log is already running (" + m_path + ")");
    }
    JoinWriter(); // a log that ended by itself: its writer is on its way out
    std::lock_guard<std::mutex> lock(m_mutex);
    errno = 0;
    std::FILE* file = std::fopen(path.c_str(), options.append ? "ab" : "wb");
    if (!file)
        return SResult::Failure("Unable to open the log file " + path, SystemReason(errno));
    m_file = file;
    m_options = options;
    m_path = path;
    m_queue.clear();
    m_queued = 0;
    m_written = 0;
    m_endReason.clear();
    m_writeError.clear();
    m_stopRequested = false;
    try {
        m_writer = std::thread(&CSessionLog::WriterThread, this);
    } catch (const std::system_error& e) {
        std::fclose(m_file);
        m_file = nullptr;
        return SResult::Failure("Unable to start the log", e.what());
    }
    m_running = true;
    m_accepting = true;
    return SResult::Success();
}

SResult CSessionLog::Stop()
{
    std::lock_guard<std::mutex> control(m_control);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_accepting = false;
        m_stopRequested = true;
    }
    m_wake.notify_all();
    JoinWriter();
    std::lock_guard<std::mutex> lock(m_mutex);
    m_stopRequested = false;
    if (!m_writeError.empty()) {
        std::string error;
        error.swap(m_writeError);
        return SResult::Failure("Writing the log " + m_path + " failed", error);
    }
    return SResult::Success();
}

void CSessionLog::JoinWriter()
{
    // Under m_control: one thread at a time; the writer never joins itself.
    if (m_writer.joinable())
        m_writer.join();
}

CSessionLog::SStatus CSessionLog::Status() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return {m_running, m_path, m_written};
}

void CSessionLog::BytesReceived(const char* data, std::size_t n) { Queue(CLogFormatter::EDirection::Received, data, n); }

void CSessionLog::ByteSent(unsigned char b)
{
    const char c = static_cast<char>(b);
    Queue(CLogFormatter::EDirection::Sent, &c, 1);
}

void CSessionLog::LineClosed(bool unplugged)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_accepting)
        Finish(unplugged ? "the device was unplugged" : "the port was closed");
}

void CSessionLog::Finish(const std::string& reason)
{
    m_accepting = false;
    m_endReason = reason;
    m_wake.notify_all();
}

void CSessionLog::Queue(CLogFormatter::EDirection direction, const char* data, std::size_t n)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_accepting || n == 0)
        return;
    if ((direction == CLogFormatter::EDirection::Sent && !m_options.sent) ||
        (direction == CLogFormatter::EDirection::Sent && m_options.raw))
        return;
    if (m_queued + n > m_queueLimit) {
        Finish("the disk did not keep up: " + std::to_string(m_queued) +
               " bytes were waiting to be written");
        return;
    }
    const int64_t ms = m_options.timestamps ? NowMs() : 0;
    const bool wasEmpty = m_queued == 0;
    // Pieces of one direction and millisecond join: a flood makes few pieces.
    if (!m_queue.empty() && m_queue.back().direction == direction && m_queue.back().ms == ms)
        m_queue.back().bytes.append(data, n);
    else
        m_queue.push_back({direction, ms, std::string(data, n)});
    m_queued += n;
    if (wasEmpty)
        m_wake.notify_all();
}

void CSessionLog::WriterThread()
{
    BlockFileSizeSignalInThisThread();
    std::unique_lock<std::mutex> lock(m_mutex);
    CLogFormatter formatter(m_options);
    std::FILE* const file = m_file;
    std::vector<SPiece> batch;
    std::string text;
    bool failed = false;
    for (;;) {
        // Wait for bytes, then a moment longer so that writes come in
        // blocks, but never past the flush interval.
        m_wake.wait(lock, [&] { return m_queued > 0 || !m_accepting; });
        if (m_accepting && m_queued < (256u << 10))
            m_wake.wait_for(lock, std::chrono::milliseconds(kFlushEveryMs),
                            [&] { return m_queued >= (256u << 10) || !m_accepting; });
        batch.swap(m_queue);
        m_queued = 0;
        const bool last = !m_accepting;
        lock.unlock();
        text.clear();
        for (const SPiece& piece : batch)
            formatter.Add(piece.direction, piece.ms, piece.bytes.data(), piece.bytes.size(), text);
        batch.clear();
        int error = 0;
        if (!failed && !text.empty()) {
            errno = 0;
            if (std::fwrite(text.data(), 1, text.size(), file) != text.size() || std::fflush(file) != 0)
                error = errno ? errno : EIO;
        }
        lock.lock();
        if (error) {
            failed = true;
            m_writeError = SystemReason(error);
            if (m_accepting)
                Finish("writing " + m_path + " failed: " + m_writeError);
        } else if (!failed) {
            m_written += text.size();
        }
        if (last && m_queued == 0)
            break;
    }
    errno = 0;
    if (std::fclose(file) != 0 && !failed) {
        m_writeError = SystemReason(errno ? errno : EIO);
        if (m_endReason.empty() && !m_stopRequested)
            m_endReason = "closing " + m_path + " failed: " + m_writeError;
    }
    m_file = nullptr;
    m_running = false;
    const std::string reason = m_stopRequested ? std::string() : m_endReason;
    auto handler = m_stoppedHandler;
    lock.unlock();
    if (!reason.empty() && handler)
        handler(reason);
}
