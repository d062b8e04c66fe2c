#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/Result.h"
#include "log/LogFormat.h"
#include "serial/IByteObserver.h"

// A log of the session in a file. The engine hands it the bytes of the line
// (IByteObserver); while a log runs they are queued with their arrival time
// and a writer thread of its own formats and writes them, so the serial
// reader never waits for the disk. The queue is bounded: when the disk falls
// that far behind, the log stops with a message instead of holding the line
// or dropping bytes unnoticed. What is queued is written at least once a
// second and at stop. A log ends by Stop, by a write error (disk full, file
// too large), by that overflow, or when the port's opening ends.
class CSessionLog : public IByteObserver {
public:
    static constexpr std::size_t kDefaultQueueLimit = 64u << 20;
    static constexpr int kFlushEveryMs = 250;

    struct SStatus {
        bool running = false;
        std::string path;
        uint64_t bytesWritten = 0; // bytes in the file written by this log (timestamps and tags included)
    };

    explicit CSessionLog(std::size_t queueLimit = kDefaultQueueLimit);
    ~CSessionLog() override; // stops a running log and joins its writer
    CSessionLog(const CSessionLog&) = delete;
    CSessionLog& operator=(const CSessionLog&) = delete;

    // Opens (creates, truncates or with append extends) the file and starts
    // the writer. Fails with the system's reason and leaves nothing running
    // when the file cannot be opened, or when a log already runs.
    SResult Start(const std::string& path, const SLogOptions& options);
    // Writes everything queued, closes the file and joins the writer. The
    // result tells a write error met on the way. Nothing running: success.
    SResult Stop();
    SStatus Status() const;
    bool IsRunning() const { return Status().running; }

    // Called once when a log ends by itself (write error, overflow, line
    // closed), with the reason in words, once everything that could be
    // written is in the file. Runs on the writer thread: post, do not wait.
    void SetStoppedHandler(std::function<void(const std::string& reason)> handler);

    // IByteObserver
    void BytesReceived(const char* data, std::size_t n) override;
    void ByteSent(unsigned char b) override;
    void LineClosed(bool unplugged) override;

private:
    struct SPiece {
        CLogFormatter::EDirection direction;
        int64_t ms;        // arrival time, ms since the epoch (0 without timestamps)
        std::string bytes;
    };

    void Queue(CLogFormatter::EDirection direction, const char* data, std::size_t n);
    void Finish(const std::string& reason); // under m_mutex: no more bytes; the writer ends by itself
    void WriterThread();
    void JoinWriter();

    const std::size_t m_queueLimit;
    std::function<void(const std::string&)> m_stoppedHandler; // set before logs start

    std::mutex m_control;              // serialises Start and Stop (UI and Tcl threads); guards m_writer
    mutable std::mutex m_mutex;        // guards every member below but m_writer
    std::condition_variable m_wake;    // the writer waits here for bytes or the end
    bool m_accepting = false;          // bytes are queued (a log runs and has not been told to end)
    bool m_running = false;            // the writer has not yet closed the file
    bool m_stopRequested = false;      // Stop: the writer drains and ends without telling the handler
    std::string m_endReason;           // why the log ends by itself; empty for Stop
    std::string m_writeError;          // the first write error, for Stop's result
    SLogOptions m_options;
    std::string m_path;
    std::vector<SPiece> m_queue;
    std::size_t m_queued = 0;          // bytes in m_queue
    uint64_t m_written = 0;
    std::FILE* m_file = nullptr;       // used by the writer thread only, until it is joined
    std::thread m_writer;              // started by Start, joined by Start, Stop and the destructor
};
