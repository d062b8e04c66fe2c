#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

// A simulated serial device on a pseudo-terminal: the port side is a device
// path that VORLA opens like any serial port, the device side plays a modem,
// an echo or a flood. Tests and benchmarks also use it to inject bytes, to
// see what VORLA sent and to unplug the device mid-stream.
// In Windows builds the device is played by a Linux devsim bridge (Bridge.h)
// and Path() is the COM port Wine maps to its pseudo-terminal.
class CDevSim {
public:
    enum class EMode {
        Modem,  // echoes (unless ATE0) and answers AT, ATI, ATE0, ATE1; anything else is ERROR
        Echo,   // sends back every byte
        Flood,  // sends floodBytes bytes of 80-character lines as fast as the line takes them
        Silent  // sends only what is injected
    };
    struct SOptions {
        EMode mode = EMode::Modem;
        int answerDelayMs = 0;       // modem: time between a command's end and its answer
        std::size_t floodBytes = 0;  // flood: total bytes, then it stops sending
        std::string link;            // if set, a symlink to the device path, removed by Stop
    };

    CDevSim() = default;
    ~CDevSim();
    CDevSim(const CDevSim&) = delete;
    CDevSim& operator=(const CDevSim&) = delete;

    // Opens the pseudo-terminal (raw, both directions) and starts playing.
    bool Start(const SOptions& options, std::string& error);
    // Ends the device's thread and releases the pseudo-terminal and the link.
    void Stop();
    // Unplugs: the device side closes now, whatever is still queued.
    void HangUp();

    // The path the port opens, e.g. /dev/pts/7 (empty before Start).
    const std::string& Path() const { return m_path; }

    // Sends these bytes to the port after everything queued before them.
    void Inject(const std::string& bytes);
    // Starts (or restarts) a flood of `bytes` bytes in any mode.
    void Flood(std::size_t bytes);

    // Every byte the port has written to the device so far.
    std::string Received() const;
    std::size_t ReceivedCount() const;
    void ClearReceived();
    // Waits until at least `count` bytes have been received.
    bool WaitForReceived(std::size_t count, int timeoutMs) const;

    // Holds the line towards the device, as a device that raised flow control
    // would: stops reading and fills what the line buffers, so the port's
    // next write has to wait. ReleaseLine reads again; the filler bytes then
    // count as received (FillerByte() each).
    bool HoldLine();
    void ReleaseLine();
    static constexpr char FillerByte() { return '~'; }

    // The byte at position pos of a flood (80-character lines ending CR LF).
    static char FloodByte(std::size_t pos);

    // Bytes put on the line by the device so far (injected, echoed, answered, flooded).
    std::size_t SentCount() const;
    // Waits until everything queued and the flood are on the line.
    bool WaitUntilAllSent(int timeoutMs) const;
    // Bytes on the line that the port has not read yet.
    std::size_t WaitingAtPort() const;

private:
    struct SAnswer {
        std::chrono::steady_clock::time_point due;
        std::string text;
    };

    void Run();
    void Wake();
    void OnReceived(const char* data, std::size_t n);  // device thread, under m_mutex
    void Answer(const std::string& command);           // device thread, under m_mutex
    void RefillFlood();                                // device thread, under m_mutex
    void CloseDevice();

    struct SRemote;                 // Windows builds: the connection to the bridge
    std::shared_ptr<SRemote> m_remote;

    SOptions m_options;
    std::string m_path;             // set by Start
    int m_master = -1;              // device side; used by the device thread, closed after it ends
    int m_slave = -1;               // held open so the line stays up while the port is closed
    int m_wake = -1;                // eventfd that wakes the device thread
    std::thread m_thread;

    mutable std::mutex m_mutex;     // guards everything below
    mutable std::condition_variable m_changed;
    bool m_stop = false;
    bool m_holding = false;         // HoldLine: the device thread does not read
    bool m_holdSeen = false;        // the device thread has noticed m_holding
    bool m_echo = true;             // modem: ATE0/ATE1
    std::string m_line;             // modem: command being typed
    std::string m_out;              // queued for the line
    std::deque<SAnswer> m_answers;  // modem answers waiting for their time
    std::size_t m_floodLeft = 0;
    std::size_t m_floodPos = 0;     // position within the flood's line pattern
    std::string m_received;
    std::size_t m_sent = 0;
};
