// Soak run: the engine, the port session and the Tcl host against simulated
// devices for a chosen time, headless.
//
//   bench_soak [--minutes N | --seconds N]      (default 30 minutes)
//
// What runs:
//   - a feeder thread floods COM1 from the device with a deterministic
//     pseudo-random stream (CFloodStream): lines of 0..300 bytes ending in
//     CR LF, one byte in eight any value 0..255 (NUL, CR, LF, XON, XOFF
//     included), the rest printable;
//   - every second `SendOutR "Q<seq>\r"` through the Tcl host (when the
//     previous one has finished), and with one chance in four a paste
//     starts (when none runs): a pseudo-random text of lowercase letters,
//     spaces and LF sent byte by byte through SendByte as the terminal's
//     paste does, ending early when the port closes;
//   - every 10 s a reconnect: Disconnect then Connect through the session;
//   - every 60 s an unplug: the device hangs up, the engine reports the lost
//     line, the session closes, a new device appears behind the same link
//     and the session connects again.
//
// What is checked, continuously (CStreamChecker, on the engine's reader):
//   - within one opening the raw bytes given to byte observers are exactly a
//     contiguous run of the flood stream: no byte lost, duplicated, altered
//     or reordered;
//   - each opening starts at or after where the previous one ended (found
//     by looking for its first 64 bytes in the stream from there): a byte is
//     never delivered twice. A reconnect on the same device must lose
//     nothing (the device holds what it sends while the port is closed); an
//     unplug loses what the gone device still held, which is counted;
//   - every chunk given to the terminal sink is the observers' chunk with
//     each byte sanitised as the engine documents (NUL discarding is off);
// and when a device goes (unplug, end of run), on what it received:
//   - the paste bytes (a-z, space, LF) are exactly the bytes SendByte said
//     went to that device, or for an unplugged device a prefix of them (the
//     device may not have read the last ones);
//   - the SendOutR texts (Q, digits, CR) arrive in order, each at most once;
//     every SendOutR that returned a result arrived complete (except the
//     last one of an unplugged device, which may have been cut);
//   - no other byte arrives.
// Every 10 s (runs of 5 minutes or less) or every minute: resident memory,
// threads and open descriptors, sampled with no paste running and the port
// open. The exit status is non-zero on any failure above, or when threads or
// descriptors at the end exceed those after the first minute (the first
// sample for runs under two minutes).

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "core/CancelSignal.h"
#include "core/IUserPrompt.h"
#include "console/IConsole.h"
#include "console/TclHost.h"
#include "devsim/DevSim.h"
#include "serial/IByteObserver.h"
#include "serial/ITerminalSink.h"
#include "serial/PortMap.h"
#include "serial/PortReconnect.h"
#include "serial/PortSession.h"
#include "serial/SerialPort.h"

namespace {

using Clock = std::chrono::steady_clock;

// Failures found by any thread; the first ones are kept for the report.
class CFailures {
public:
    void Add(const std::string& text)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_count++ < kKept) {
            m_texts.push_back(text);
            std::fprintf(stderr, "FAILURE: %s\n", text.c_str());
        }
    }
    long Count() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_count;
    }
    std::vector<std::string> Texts() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_texts;
    }

private:
    static constexpr long kKept = 20;
    mutable std::mutex m_mutex;
    long m_count = 0;
    std::vector<std::string> m_texts;
};

CFailures g_failures;

// The flood: a pseudo-random byte stream that the feeder and the checker
// both run from the same seed. Copyable, so a copy can look ahead.
class CFloodStream {
public:
    static constexpr int kMaxLine = 300;

    unsigned char Next()
    {
        ++m_pos;
        if (m_left > 0) {
            --m_left;
            const uint64_t r = Random();
            if ((r & 7) == 0)
                return static_cast<unsigned char>(r >> 8); // any value
            return static_cast<unsigned char>(' ' + (r >> 8) % 95);
        }
        if (!m_crSent) {
            m_crSent = true;
            return '\r';
        }
        m_crSent = false;
        m_left = static_cast<int>(Random() % (kMaxLine + 1));
        return '\n';
    }
    void Skip(uint64_t n)
    {
        while (n--)
            Next();
    }
    uint64_t Position() const { return m_pos; }

private:
    uint64_t Random() // xorshift64*
    {
        m_state ^= m_state >> 12;
        m_state ^= m_state << 25;
        m_state ^= m_state >> 27;
        return m_state * 2685821657736338717ULL;
    }

    uint64_t m_state = 0x9E3779B97F4A7C15ULL;
    uint64_t m_pos = 0;
    int m_left = 40;
    bool m_crSent = false;
};

// The engine's rule for the terminal: printable and 0x08..0x0D pass, every
// other byte becomes '.'.
char Sanitised(unsigned char c)
{
    return (c >= 0x20 && c <= 0x7E) || (c >= 0x08 && c <= 0x0D) ? static_cast<char>(c) : '.';
}

// Counts the entries of a /proc/self directory, or reads a status field.
long CountEntries(const char* dir)
{
    long n = 0;
    if (DIR* d = opendir(dir)) {
        while (dirent* e = readdir(d))
            if (e->d_name[0] != '.')
                ++n;
        closedir(d);
        --n; // the descriptor opendir itself holds
    }
    return n;
}

long StatusField(const char* field)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::size_t length = std::strlen(field);
    while (std::getline(status, line))
        if (line.compare(0, length, field) == 0 && line.size() > length && line[length] == ':')
            return std::stol(line.substr(length + 1));
    return -1;
}

struct SSample {
    double atSeconds = 0;
    long rssKb = 0, threads = 0, fds = 0;
};

SSample TakeSample(Clock::time_point start)
{
    SSample s;
    s.atSeconds = std::chrono::duration<double>(Clock::now() - start).count();
    s.rssKb = StatusField("VmRSS");
    s.threads = StatusField("Threads");
    s.fds = CountEntries("/proc/self/fd");
    return s;
}

// Checks what the engine delivers against the flood, per opening: the raw
// bytes of the observers and the sanitised chunks of the terminal sink.
class CStreamChecker : public IByteObserver, public ITerminalSink {
public:
    enum class EBoundary { Reconnect, Unplug };

    explicit CStreamChecker(const std::atomic<uint64_t>& fed) : m_fed(fed) {}

    // The driver says how the current opening is going to end.
    void NextBoundary(EBoundary kind)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_boundary = kind;
    }

    void BytesReceived(const char* data, std::size_t n) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_raw += n;
        m_lastChunk.assign(data, n);
        if (m_synced) {
            Verify(data, n);
        } else {
            m_head.append(data, n);
            if (m_head.size() >= kSyncBytes)
                Sync();
        }
    }
    void LineClosed(bool) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_synced && !m_head.empty()) {
            ++m_shortOpenings;
            Sync();
        }
        ++m_openings;
        m_openingKind = m_boundary; // how the next opening began
        m_synced = false;
        m_head.clear();
        m_startOfOpening = true;
    }
    void AppendReceivedText(const char* chunk) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const std::size_t n = std::strlen(chunk);
        m_shown += n;
        bool same = n == m_lastChunk.size();
        for (std::size_t i = 0; same && i < n; ++i)
            same = chunk[i] == Sanitised(static_cast<unsigned char>(m_lastChunk[i]));
        if (!same)
            Fail("the terminal got a chunk of " + std::to_string(n) + " bytes that is not the sanitised raw chunk of " +
                 std::to_string(m_lastChunk.size()) + " bytes");
    }

    struct SFigures {
        uint64_t raw = 0, shown = 0, openings = 0, shortOpenings = 0;
        uint64_t unplugGap = 0, unplugGapMax = 0, reconnectGap = 0;
    };
    SFigures Figures() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return {m_raw, m_shown, m_openings, m_shortOpenings, m_unplugGap, m_unplugGapMax, m_reconnectGap};
    }

private:
    static constexpr std::size_t kSyncBytes = 64;

    void Fail(const std::string& text)
    {
        g_failures.Add("opening " + std::to_string(m_openings + 1) + ", stream position " +
                       std::to_string(m_stream.Position()) + ": " + text);
    }

    void Verify(const char* data, std::size_t n)
    {
        for (std::size_t i = 0; i < n; ++i) {
            if (m_stream.Next() != static_cast<unsigned char>(data[i])) {
                Fail("received byte differs from the flood (lost, duplicated or altered bytes)");
                m_synced = false; // look for the stream again from the rest of this chunk
                m_head.assign(data + i, n - i);
                m_startOfOpening = false;
                return;
            }
        }
    }

    // Finds m_head in the flood at or after the current position, and goes
    // on from its end.
    void Sync()
    {
        CFloodStream probe = m_stream;
        std::string window;
        std::size_t from = 0;
        for (;;) {
            for (int i = 0; i < 65536; ++i)
                window.push_back(static_cast<char>(probe.Next()));
            const std::size_t at = window.find(m_head, from);
            if (at != std::string::npos) {
                Found(at);
                break;
            }
            if (probe.Position() > m_fed.load() + 65536) {
                Fail("the first " + std::to_string(m_head.size()) +
                     " bytes are nowhere in the flood after the previous opening's end (duplicated or altered)");
                break;
            }
            from = window.size() - m_head.size() + 1;
        }
        m_synced = true;
        m_head.clear();
    }
    void Found(uint64_t gap)
    {
        if (!m_startOfOpening) {
            if (gap > 0)
                Fail(std::to_string(gap) + " bytes lost within an opening");
        } else if (m_openingKind == EBoundary::Unplug) {
            m_unplugGap += gap;
            m_unplugGapMax = std::max(m_unplugGapMax, gap);
        } else if (gap > 0) {
            m_reconnectGap += gap;
            Fail(std::to_string(gap) + " bytes lost across a reconnect to the same device");
        }
        m_stream.Skip(gap + m_head.size());
        m_startOfOpening = false;
    }

    const std::atomic<uint64_t>& m_fed; // flood bytes handed to devices so far
    mutable std::mutex m_mutex;         // guards everything below
    CFloodStream m_stream;              // at the next expected byte
    bool m_synced = false;
    bool m_startOfOpening = true;
    std::string m_head;      // an opening's first bytes, until there are enough to find them
    std::string m_lastChunk; // the observers' last chunk, for the sink's check
    EBoundary m_boundary = EBoundary::Reconnect;    // how the current opening is going to end
    EBoundary m_openingKind = EBoundary::Reconnect; // how the previous one ended
    uint64_t m_raw = 0, m_shown = 0, m_openings = 0, m_shortOpenings = 0;
    uint64_t m_unplugGap = 0, m_unplugGapMax = 0, m_reconnectGap = 0;
};

// The simulated device behind COM1's link, replaced at each unplug. The
// feeder floods whichever device is current.
class CDeviceSlot {
public:
    explicit CDeviceSlot(std::string link) : m_link(std::move(link)) {}

    std::shared_ptr<CDevSim> Plug()
    {
        auto device = std::make_shared<CDevSim>();
        CDevSim::SOptions options;
        options.mode = CDevSim::EMode::Silent;
        options.link = m_link;
        std::string error;
        if (!device->Start(options, error)) {
            std::fprintf(stderr, "devsim: %s\n", error.c_str());
            std::exit(1);
        }
        std::lock_guard<std::mutex> lock(m_mutex);
        m_device = device;
        m_changed.notify_all();
        return device;
    }
    // Takes the device away from the feeder (before it is hung up).
    std::shared_ptr<CDevSim> Unplug()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        std::shared_ptr<CDevSim> device = std::move(m_device);
        m_device.reset();
        return device;
    }
    // Waits for a device, or for the end.
    std::shared_ptr<CDevSim> Current(const std::atomic<bool>& stop)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait(lock, [&] { return m_device || stop.load(); });
        return m_device;
    }
    bool IsCurrent(const std::shared_ptr<CDevSim>& device)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_device == device;
    }
    void Wake()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_changed.notify_all();
    }

private:
    std::string m_link;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::shared_ptr<CDevSim> m_device;
};

// Keeps the flood going: hands the next 16 KB of the stream to the current
// device once it has put the previous ones on the line.
class CFeeder {
public:
    explicit CFeeder(CDeviceSlot& slot) : m_slot(slot), m_thread([this] { Run(); }) {}
    ~CFeeder()
    {
        m_stop = true;
        m_slot.Wake();
        m_thread.join();
    }
    const std::atomic<uint64_t>& Fed() const { return m_fed; }

private:
    void Run()
    {
        std::string chunk;
        while (!m_stop) {
            std::shared_ptr<CDevSim> device = m_slot.Current(m_stop);
            if (!device)
                continue;
            chunk.clear();
            for (int i = 0; i < 16384; ++i)
                chunk.push_back(static_cast<char>(m_stream.Next()));
            m_fed = m_stream.Position();
            device->Inject(chunk);
            // A hung-up device counts as all sent: the slot then has another.
            while (!m_stop && m_slot.IsCurrent(device) && !device->WaitUntilAllSent(200)) {
            }
        }
    }

    CDeviceSlot& m_slot;
    CFloodStream m_stream;
    std::atomic<uint64_t> m_fed{0};
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

// What the port sent towards each device (by device number), as its senders saw it.
class CSentLog {
public:
    std::mutex mutex;            // held by the paste around each byte, by the driver to change device
    int device = 0;              // the device number bytes go to now
    std::map<int, std::string> pasted; // bytes SendByte reported sent, per device

    std::string Take(int n)
    {
        std::string bytes = std::move(pasted[n]);
        pasted.erase(n);
        return bytes;
    }
};

// A paste as the terminal does it: byte after byte through SendByte, ending
// when the port closes or the paste is stopped.
class CPaste {
public:
    CPaste(CSerialPort& port, CPortSession& session, CSentLog& log) : m_port(port), m_session(session), m_log(log) {}
    ~CPaste() { Stop(); }

    bool Busy() const { return m_busy; }
    void Start(std::string text)
    {
        Stop();
        m_stop.Reset();
        m_busy = true;
        ++m_started;
        m_thread = std::thread([this, text = std::move(text)] { Run(text); });
    }
    void Stop()
    {
        m_stop.Cancel();
        if (m_thread.joinable())
            m_thread.join();
    }
    // Joins a paste that has ended by itself.
    void Reap()
    {
        if (!m_busy && m_thread.joinable())
            m_thread.join();
    }
    long Started() const { return m_started; }
    uint64_t BytesSent() const { return m_sent; }

private:
    void Run(const std::string& text)
    {
        for (char c : text) {
            if (m_session.OpenPort() == 0 || m_stop.IsCancelled())
                break;
            std::lock_guard<std::mutex> lock(m_log.mutex);
            if (m_port.SendByte(static_cast<unsigned char>(c), &m_stop)) {
                m_log.pasted[m_log.device].push_back(c);
                ++m_sent;
            }
        }
        m_busy = false;
    }

    CSerialPort& m_port;
    CPortSession& m_session;
    CSentLog& m_log;
    CCancelSignal m_stop;
    std::atomic<bool> m_busy{false};
    long m_started = 0;
    std::atomic<uint64_t> m_sent{0};
    std::thread m_thread;
};

// The console pane: reads the "SOAK <seq> ok|err ..." lines the SendOutR
// script prints, keeps nothing else.
class CSoakConsole : public IConsole {
public:
    struct SResult {
        bool ok = false;
        std::string text;
    };

    void PrintToConsole(const std::string& text, int) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_line += text;
        for (std::size_t eol; (eol = m_line.find('\n')) != std::string::npos; m_line.erase(0, eol + 1)) {
            // The prompt comes without an end of line, so it leads the next line.
            const std::size_t at = m_line.find("SOAK ");
            const std::string line = at < eol ? m_line.substr(at, eol - at) : std::string();
            long seq = 0;
            char verdict[4] = {};
            if (std::sscanf(line.c_str(), "SOAK %ld %3s", &seq, verdict) == 2)
                m_results[seq] = {std::strcmp(verdict, "ok") == 0, line};
        }
        if (m_line.size() > 4096) // output of something else without an end of line
            m_line.clear();
    }
    void ClearAll() override {}
    int HistoryCount() const override { return 0; }
    std::string HistoryAt(int) const override { return {}; }

    bool Has(long seq)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_results.count(seq) != 0;
    }
    std::map<long, SResult> Results()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_results;
    }

private:
    std::mutex m_mutex;
    std::string m_line;
    std::map<long, SResult> m_results;
};

class CSoakPrompt : public IUserPrompt {
public:
    void ShowMessage(const std::string& text, const CCancelSignal*) override
    {
        if (++m_messages <= 3) // one per unplug: show the first few only
            std::fprintf(stderr, "message: %s\n", text.c_str());
    }
    bool AskYesNo(const std::string&, const CCancelSignal*) override { return false; }
    void RequestQuit() override {}
    long Messages() const { return m_messages; }

private:
    std::atomic<long> m_messages{0};
};

class CSoakOwner : public ITclHostOwner {
public:
    CSoakOwner(CSoakConsole& console, CSoakPrompt& prompt, CPortSession& session, CSerialPort& port)
        : m_console(console), m_prompt(prompt), m_session(session), m_port(port)
    {
    }
    IConsole* ConsolePane() override { return &m_console; }
    int OpenPort() const override { return m_session.OpenPort(); }
    CSerialPort& SerialPort() override { return m_port; }
    IUserPrompt& Prompt() override { return m_prompt; }

private:
    CSoakConsole& m_console;
    CSoakPrompt& m_prompt;
    CPortSession& m_session;
    CSerialPort& m_port;
};

std::string CommandText(long seq)
{
    char text[32];
    std::snprintf(text, sizeof text, "Q%08ld\r", seq % 100000000);
    return text;
}

// Checks what one device received from the port (see the top of the file).
class CSentChecker {
public:
    void DeviceGone(int device, const std::string& received, const std::string& pasted, bool unplugged)
    {
        std::string paste;
        std::string commands;
        for (char c : received) {
            if ((c >= 'a' && c <= 'z') || c == ' ' || c == '\n')
                paste.push_back(c);
            else if (c == 'Q' || (c >= '0' && c <= '9') || c == '\r')
                commands.push_back(c);
            else
                ++m_strangers;
        }
        const std::string where = "device " + std::to_string(device) + ": ";
        if (paste != pasted) {
            if (unplugged && pasted.compare(0, paste.size(), paste) == 0)
                m_pasteCut += pasted.size() - paste.size();
            else
                g_failures.Add(where + "the pasted bytes it received (" + std::to_string(paste.size()) +
                               ") are not those SendByte sent (" + std::to_string(pasted.size()) + ")");
        }
        long last = -1;
        for (std::size_t start = 0; start < commands.size();) {
            std::size_t end = commands.find('Q', start + 1);
            if (end == std::string::npos)
                end = commands.size();
            const std::string piece = commands.substr(start, end - start);
            start = end;
            long seq = -1;
            if (piece.size() == 10 && piece[0] == 'Q' && piece[9] == '\r')
                seq = std::atol(piece.c_str() + 1);
            if (seq < 0 || CommandText(seq) != piece) {
                ++m_cutTexts; // a SendOutR that did not all go out
                continue;
            }
            if (seq <= m_lastSeq) {
                g_failures.Add(where + "SendOutR text " + std::to_string(seq) + " arrived again or out of order");
                continue;
            }
            m_lastSeq = last = seq;
            m_arrived.insert(seq);
        }
        if (unplugged && last >= 0)
            m_mayBeCut.insert(last + 1); // the one after the last that arrived
    }
    // Every SendOutR that returned a result must have arrived, complete.
    void Results(const std::map<long, CSoakConsole::SResult>& results, long& failed)
    {
        failed = 0;
        for (const auto& [seq, result] : results) {
            if (!result.ok) {
                ++failed;
                if (m_arrived.count(seq))
                    g_failures.Add("SendOutR " + std::to_string(seq) + " failed though its whole text arrived: " +
                                   result.text);
                continue;
            }
            if (!m_arrived.count(seq) && !m_mayBeCut.count(seq))
                g_failures.Add("SendOutR " + std::to_string(seq) + " returned a result but its text did not arrive");
        }
        if (m_strangers)
            g_failures.Add(std::to_string(m_strangers) + " bytes reached the devices that nobody sent");
    }
    uint64_t PasteCut() const { return m_pasteCut; }
    long CutTexts() const { return m_cutTexts; }

private:
    long m_lastSeq = -1;
    std::set<long> m_arrived;
    std::set<long> m_mayBeCut;
    uint64_t m_pasteCut = 0;
    long m_cutTexts = 0;
    long m_strangers = 0;
};

bool ParseArguments(int argc, char** argv, long& seconds)
{
    seconds = 30 * 60;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if ((option != "--minutes" && option != "--seconds") || i + 1 >= argc)
            return false;
        char* end = nullptr;
        const long value = std::strtol(argv[++i], &end, 10);
        if (*end != '\0' || value <= 0 || value > 7 * 24 * 60)
            return false;
        seconds = option == "--minutes" ? value * 60 : value;
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    long duration = 0;
    if (!ParseArguments(argc, argv, duration)) {
        std::fprintf(stderr, "usage: bench_soak [--minutes N | --seconds N]  (N from 1 to 10080; default 30 minutes)\n");
        return 2;
    }
    const long sampleEvery = duration <= 300 ? 10 : 60;
    const long warmUp = duration >= 120 ? 60 : sampleEvery;

    char dirName[] = "/tmp/vorla-soak-XXXXXX";
    if (!mkdtemp(dirName)) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string link = std::string(dirName) + "/usb-Soak_Sim-if00-port0";

    CSoakPrompt prompt;
    CPortMap ports;
    ports.Map(1, link);
    CSerialPort port(prompt, ports);
    CPortReconnect reconnect(port, ports);
    CPortSession session(port, reconnect);
    CDeviceSlot slot(link);
    std::shared_ptr<CDevSim> device = slot.Plug();
    CFeeder feeder(slot);
    CStreamChecker checker(feeder.Fed());
    port.AttachTerminal(&checker);
    port.AddByteObserver(&checker);

    std::mutex lostMutex;
    std::condition_variable lostChanged;
    long losses = 0;
    port.SetLineLostHandler([&] {
        std::lock_guard<std::mutex> lock(lostMutex);
        ++losses;
        lostChanged.notify_all();
    });

    auto connect = [&] {
        SResult settings;
        const SResult opened = session.Connect(1, settings);
        if (!opened.ok) {
            g_failures.Add("Connect: " + opened.message + " " + opened.reason);
            return false;
        }
        return true;
    };
    if (!connect())
        return 1;
    DCB dcb = port.Dcb(); // 115200 8N1, no flow control, NUL kept: every byte value passes
    dcb.BaudRate = 115200;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fOutX = dcb.fInX = 0;
    dcb.fOutxCtsFlow = 0;
    dcb.fNull = 0;
    const SResult applied = port.ApplySettings(dcb);
    if (!applied.ok) {
        std::fprintf(stderr, "settings: %s %s\n", applied.message.c_str(), applied.reason.c_str());
        return 1;
    }

    CSentLog sentLog;
    CSentChecker sentChecker;
    CPaste paste(port, session, sentLog);
    CSoakConsole console;
    CSoakOwner owner(console, prompt, session, port);
    auto host = std::make_unique<CTclHost>();
    host->SetMainWindow(&owner);

    std::mt19937 random(21);
    long reconnects = 0, unplugs = 0, sendOutR = 0, sendOutRSkipped = 0;
    long nextSeq = 0;
    std::vector<SSample> samples;
    const Clock::time_point start = Clock::now();

    auto pasteText = [&] {
        static const char kLetters[] = "abcdefghijklmnopqrstuvwxyz     \n";
        std::string text(std::uniform_int_distribution<int>(100, 20000)(random), ' ');
        for (char& c : text)
            c = kLetters[random() % (sizeof kLetters - 1)];
        return text;
    };
    auto unplug = [&] {
        checker.NextBoundary(CStreamChecker::EBoundary::Unplug);
        std::shared_ptr<CDevSim> gone = slot.Unplug();
        std::unique_lock<std::mutex> lock(lostMutex);
        const long before = losses;
        lock.unlock();
        gone->HangUp();
        lock.lock();
        if (!lostChanged.wait_for(lock, std::chrono::seconds(10), [&] { return losses > before; }))
            g_failures.Add("the engine did not report the unplugged device's lost line within 10 s");
        lock.unlock();
        session.Close(); // as the window does on a lost line
        reconnect.Lost(1);
        std::string pasted;
        int number = 0;
        {
            std::lock_guard<std::mutex> sent(sentLog.mutex);
            number = sentLog.device++;
            pasted = sentLog.Take(number);
        }
        sentChecker.DeviceGone(number, gone->Received(), pasted, true);
        gone->Stop(); // its link goes now, before the next device makes it again
        gone.reset();
        device = slot.Plug();
        checker.NextBoundary(CStreamChecker::EBoundary::Reconnect);
        connect();
        ++unplugs;
    };

    for (long second = 1; second <= duration; ++second) {
        std::this_thread::sleep_until(start + std::chrono::seconds(second)); // the schedule's clock, not a hand-off
        paste.Reap();
        if (second % 60 == 0) {
            unplug();
        } else if (second % 10 == 0) {
            int closed = 0;
            session.Disconnect(closed);
            connect();
            ++reconnects;
        }
        if (nextSeq == 0 || console.Has(nextSeq - 1)) {
            host->AttachConsole();
            const long seq = nextSeq++;
            host->SubmitCommandText("if {[catch {SendOutR \"" + CommandText(seq).substr(0, 9) +
                                    "\\r\"} r]} {puts \"SOAK " + std::to_string(seq) +
                                    " err $r\"} else {puts \"SOAK " + std::to_string(seq) +
                                    " ok [string length $r]\"}\n");
            ++sendOutR;
        } else {
            ++sendOutRSkipped;
        }
        if (second % sampleEvery == 0) {
            paste.Stop(); // no paste thread in the count
            const SSample s = TakeSample(start);
            samples.push_back(s);
            const CStreamChecker::SFigures f = checker.Figures();
            std::printf("%6.0f s  rss %ld kB  threads %ld  fds %ld  received %.1f MB  failures %ld\n", s.atSeconds,
                        s.rssKb, s.threads, s.fds, f.raw / 1e6, g_failures.Count());
            std::fflush(stdout);
        }
        if (!paste.Busy() && random() % 4 == 0)
            paste.Start(pasteText());
    }

    // The end: the last device goes cleanly, once it has read what was sent.
    paste.Stop();
    if (!host->WaitIdle(10000))
        g_failures.Add("the Tcl host was still busy 10 s after the last SendOutR");
    int closed = 0;
    session.Disconnect(closed);
    {
        std::lock_guard<std::mutex> sent(sentLog.mutex);
        const std::size_t pastedBytes = sentLog.pasted[sentLog.device].size();
        device->WaitForReceived(pastedBytes, 5000);
        sentChecker.DeviceGone(sentLog.device, device->Received(), sentLog.Take(sentLog.device), false);
    }
    long sendOutRFailed = 0;
    const std::map<long, CSoakConsole::SResult> results = console.Results();
    sentChecker.Results(results, sendOutRFailed);
    if (static_cast<long>(results.size()) != sendOutR)
        g_failures.Add(std::to_string(sendOutR - static_cast<long>(results.size())) + " SendOutR calls gave no result");
    const CStreamChecker::SFigures f = checker.Figures();
    if (f.raw != f.shown)
        g_failures.Add("observers got " + std::to_string(f.raw) + " bytes, the terminal " + std::to_string(f.shown));
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    host->Shutdown(CTclHost::kShutdownTimeoutMs);
    host.reset();
    port.RemoveByteObserver(&checker);
    std::filesystem::remove_all(dirName);

    const SSample* base = nullptr;
    long rssMax = 0;
    for (const SSample& s : samples) {
        if (!base && s.atSeconds >= warmUp - 1)
            base = &s;
        rssMax = std::max(rssMax, s.rssKb);
    }
    bool leak = false;
    std::printf("duration        %.0f s\n", seconds);
    std::printf("received        %llu bytes (%.1f MB/s), terminal %llu bytes, over %llu openings (%llu short)\n",
                static_cast<unsigned long long>(f.raw), f.raw / 1e6 / seconds,
                static_cast<unsigned long long>(f.shown), static_cast<unsigned long long>(f.openings),
                static_cast<unsigned long long>(f.shortOpenings));
    std::printf("flood fed       %llu bytes; lost at unplugs %llu (max %llu at one), at reconnects %llu\n",
                static_cast<unsigned long long>(feeder.Fed().load()), static_cast<unsigned long long>(f.unplugGap),
                static_cast<unsigned long long>(f.unplugGapMax), static_cast<unsigned long long>(f.reconnectGap));
    std::printf("sent            %llu paste bytes in %ld pastes (%llu not read by unplugged devices), "
                "%ld cut SendOutR texts\n",
                static_cast<unsigned long long>(paste.BytesSent()), paste.Started(),
                static_cast<unsigned long long>(sentChecker.PasteCut()), sentChecker.CutTexts());
    std::printf("reconnects      %ld\nunplugs         %ld\n", reconnects, unplugs);
    std::printf("SendOutR        %ld calls, %ld failed (port closed under them), %ld seconds skipped (still busy)\n",
                sendOutR, sendOutRFailed, sendOutRSkipped);
    std::printf("messages shown  %ld\n", prompt.Messages());
    if (!samples.empty() && base) {
        const SSample& first = samples.front();
        const SSample& last = samples.back();
        std::printf("rss (kB)        first %ld, after warm-up %ld, last %ld, max %ld\n", first.rssKb, base->rssKb,
                    last.rssKb, rssMax);
        std::printf("fds             first %ld, after warm-up %ld, last %ld\n", first.fds, base->fds, last.fds);
        std::printf("threads         first %ld, after warm-up %ld, last %ld\n", first.threads, base->threads,
                    last.threads);
        if (last.fds > base->fds || last.threads > base->threads) {
            leak = true;
            std::printf("LEAK: descriptors or threads grew after the warm-up\n");
        }
    }
    const std::vector<std::string> failures = g_failures.Texts();
    std::printf("failures        %ld\n", g_failures.Count());
    for (const std::string& text : failures)
        std::printf("  %s\n", text.c_str());
    return g_failures.Count() == 0 && !leak ? 0 : 1;
}
