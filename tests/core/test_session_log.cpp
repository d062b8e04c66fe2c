// The session log against a real engine on a pseudo-terminal: every byte
// received (and sent, when asked) is in the file, in a form a reader can
// take apart again; the log ends with a reason on unplug, on write errors
// and when the disk does not keep up, and never holds the serial reader.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <regex>
#include <sstream>

#include "SerialTestSupport.h"
#include "log/SessionLog.h"

using namespace serial_test;

namespace {

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream all;
    all << in.rdbuf();
    return all.str();
}

// Takes a log apart as a reader would: checks each line's timestamp and
// direction tag and gives back the received and the sent bytes.
void ParseLog(const std::string& log, const SLogOptions& options, std::string& received, std::string& sent)
{
    static const std::regex stamp(R"(^\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}\] )");
    std::string* last = nullptr;
    for (std::size_t at = 0; at < log.size();) {
        std::size_t end = log.find('\n', at);
        end = end == std::string::npos ? log.size() : end + 1;
        std::string line = log.substr(at, end - at);
        at = end;
        if (options.timestamps) {
            ASSERT_TRUE(std::regex_search(line, stamp)) << "no timestamp: " << line;
            line.erase(0, 26);
        }
        std::string* stream = &received;
        if (options.sent) {
            const std::string tag = line.substr(0, 4);
            ASSERT_TRUE(tag == "RX: " || tag == "TX: " || tag == "RX~ " || tag == "TX~ ") << "tag: " << tag;
            stream = tag[0] == 'T' ? &sent : &received;
            if (tag[2] == '~') {
                // The line break before this line was the log's.
                ASSERT_TRUE(last && !last->empty() && last->back() == '\n');
                last->pop_back();
            }
            line.erase(0, 4);
        }
        *stream += line;
        last = stream;
    }
}

// Waits for the handler's call that a log ended by itself.
class CStopRecorder {
public:
    void Attach(CSessionLog& log)
    {
        log.SetStoppedHandler([this](const std::string& reason) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_reasons.push_back(reason);
            m_cv.notify_all();
        });
    }
    std::string Wait(int timeoutMs)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (!m_cv.wait_for(lock, milliseconds(timeoutMs), [&] { return !m_reasons.empty(); }))
            return "<no stop>";
        return m_reasons.front();
    }
    std::size_t Count()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_reasons.size();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::vector<std::string> m_reasons;
};

class SessionLog : public CSerialFixture {
protected:
    void SetUp() override
    {
        m_dir = std::filesystem::temp_directory_path() /
                ("vorla_log_" + std::to_string(getpid()) + "_" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(m_dir);
        m_port.AddByteObserver(&m_log);
        m_stops.Attach(m_log);
    }
    void TearDown() override
    {
        m_port.Close();
        m_log.Stop();
        m_port.RemoveByteObserver(&m_log);
        std::filesystem::remove_all(m_dir);
    }
    std::string Path(const char* name) const { return (m_dir / name).string(); }

    std::filesystem::path m_dir;
    CSessionLog m_log;
    CStopRecorder m_stops;
};

// Every byte value, line breaks of each kind, and lines cut by sent bytes.
TEST_F(SessionLog, EveryByteReceivedAndSentCanBeReadBackFromTheLog)
{
    StartDevice(CDevSim::EMode::Silent);
    Connect();
    std::string all;
    for (int i = 0; i < 256; ++i)
        all += static_cast<char>(i);
    const std::vector<std::string> pieces = {"OK", "\r\nline one\n", all, "half a li", "ne\r\n\n\n", all + "end"};
    const SLogOptions variants[] = {{false, false, false, false},
                                    {true, false, false, false},
                                    {true, true, false, false},
                                    {false, true, false, false},
                                    {false, false, true, false}};
    for (const SLogOptions& options : variants) {
        SCOPED_TRACE("timestamps " + std::to_string(options.timestamps) + " sent " + std::to_string(options.sent) +
                     " raw " + std::to_string(options.raw));
        const std::string path = Path("exact.log");
        const SResult started = m_log.Start(path, options);
        ASSERT_TRUE(started.ok) << started.reason;
        m_device.ClearReceived();
        std::string injected, typed;
        std::size_t shown = m_sink.Text().size();
        for (std::size_t i = 0; i < pieces.size(); ++i) {
            m_device.Inject(pieces[i]);
            injected += pieces[i];
            shown += pieces[i].size();
            ASSERT_TRUE(m_sink.WaitForBytes(shown, 5000));
            // Sent bytes land in the middle of received lines.
            const std::string out = i % 2 ? "AT\r" : std::string("\n\x00\xff", 3);
            for (char c : out)
                ASSERT_TRUE(m_port.SendByte(static_cast<unsigned char>(c)));
            typed += out;
        }
        ASSERT_TRUE(m_device.WaitForReceived(typed.size(), 5000));
        const SResult stopped = m_log.Stop();
        ASSERT_TRUE(stopped.ok) << stopped.reason;
        std::string received, sent;
        const std::string text = ReadFile(path);
        ParseLog(text, options, received, sent);
        EXPECT_EQ(received, injected);
        EXPECT_EQ(sent, options.sent ? m_device.Received() : "");
        EXPECT_EQ(sent, options.sent ? typed : "");
        EXPECT_EQ(m_log.Status().bytesWritten, text.size());
    }
}

TEST_F(SessionLog, TimestampsAreLocalTimeWithMilliseconds)
{
    const char* old = std::getenv("TZ");
    const std::string saved = old ? old : "";
    setenv("TZ", "UTC", 1);
    tzset();
    EXPECT_EQ(FormatLogTime(1796731200123), "[2026-12-08 12:00:00.123] ");
    EXPECT_EQ(FormatLogTime(1796731199999), "[2026-12-08 11:59:59.999] ");
    setenv("TZ", "IST-5:30", 1); // a POSIX rule: +05:30, no zone files needed
    tzset();
    EXPECT_EQ(FormatLogTime(1796731200007), "[2026-12-08 17:30:00.007] ");
    if (old)
        setenv("TZ", saved.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();
}

TEST_F(SessionLog, StopsWithAReasonWhenTheDeviceIsUnplugged)
{
    StartDevice(CDevSim::EMode::Silent);
    Connect();
    const std::string path = Path("unplug.log");
    ASSERT_TRUE(m_log.Start(path, {}).ok);
    m_device.Inject("before the unplug\n");
    ASSERT_TRUE(m_sink.WaitForBytes(18, 5000));
    m_device.HangUp();
    EXPECT_EQ(m_stops.Wait(5000), "the device was unplugged");
    EXPECT_FALSE(m_log.IsRunning());
    EXPECT_EQ(ReadFile(path), "before the unplug\n");
    // A port closed by the user ends the next log the same way.
    m_port.Close();
    m_device.Stop();
    StartDevice(CDevSim::EMode::Silent);
    Connect();
    ASSERT_TRUE(m_log.Start(path, {true, false, false, true}).ok);
    m_port.Close();
    ASSERT_TRUE(WaitUntil([&] { return m_stops.Count() == 2; }, 5000));
    EXPECT_FALSE(m_log.IsRunning());
}

TEST_F(SessionLog, FilesThatCannotBeWrittenAreRefusedOrStopTheLogWithTheSystemsReason)
{
    SResult r = m_log.Start(Path("no/such/dir/x.log"), {});
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.reason, "No such file or directory");
    EXPECT_FALSE(m_log.IsRunning());
    r = m_log.Start(m_dir.string(), {});
    EXPECT_EQ(r.reason, "Is a directory");
    EXPECT_FALSE(m_log.IsRunning());
    if (geteuid() != 0) { // root writes anywhere
        const std::string locked = Path("locked");
        std::filesystem::create_directory(locked);
        chmod(locked.c_str(), 0500);
        r = m_log.Start(locked + "/x.log", {});
        EXPECT_EQ(r.reason, "Permission denied");
    }
    // A full disk: the log stops by itself, says why, and Stop says it too.
    ASSERT_TRUE(m_log.Start("/dev/full", {true, false, false, false}).ok);
    const std::string chunk(100, 'x');
    m_log.BytesReceived(chunk.data(), chunk.size());
    const std::string reason = m_stops.Wait(5000);
    EXPECT_NE(reason.find("No space left on device"), std::string::npos) << reason;
    EXPECT_FALSE(m_log.IsRunning());
    r = m_log.Stop();
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.reason, "No space left on device");
    EXPECT_EQ(m_log.Status().bytesWritten, 0u);
}

// A disk that stops taking data (a pipe nobody reads): the queue fills to its
// bound and the log ends with a message; the reader is never held, and what
// is in the file is the stream's beginning without a hole.
TEST_F(SessionLog, ADiskThatFallsBehindEndsTheLogWithoutHoldingTheReader)
{
    CSessionLog log(256u << 10);
    CStopRecorder stops;
    stops.Attach(log);
    const std::string fifo = Path("stalled");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    ASSERT_TRUE(log.Start(fifo, {}).ok);
    std::string stream;
    for (int i = 0; stream.size() < (4u << 20); ++i)
        stream += "line " + std::to_string(i) + "\n";
    const auto start = Clock::now();
    for (std::size_t at = 0; at < stream.size(); at += 100)
        log.BytesReceived(stream.data() + at, std::min<std::size_t>(100, stream.size() - at));
    EXPECT_LT(MsSince(start), 5000); // a generous bound: the calls only queue
    // Now drain the pipe: the writer finishes what it holds and ends.
    fcntl(reader, F_SETFL, 0);
    std::string written;
    char buffer[65536];
    for (ssize_t n; (n = read(reader, buffer, sizeof buffer)) > 0;)
        written.append(buffer, static_cast<std::size_t>(n));
    close(reader);
    EXPECT_NE(stops.Wait(5000).find("did not keep up"), std::string::npos);
    EXPECT_GE(written.size(), (256u << 10) - 100); // the bound, less the chunk that overflowed it
    EXPECT_LT(written.size(), stream.size());
    EXPECT_EQ(written, stream.substr(0, written.size()));
}

} // namespace

// A user's file-size limit (ulimit -f): the log stops with "File too large"
// and the program goes on. Run in a child process of this test program, whose
// limit is set before it starts any thread.
TEST(SessionLogLimit, AFileSizeLimitEndsTheLogNotTheProgram)
{
    const char* childPath = std::getenv("VORLA_FSIZE_CHILD");
    if (childPath) {
        const rlimit limit{1024, 1024};
        setrlimit(RLIMIT_FSIZE, &limit);
        CSessionLog log;
        CStopRecorder stops;
        stops.Attach(log);
        if (!log.Start(childPath, {}).ok)
            _exit(4);
        const std::string chunk(4096, 'x');
        log.BytesReceived(chunk.data(), chunk.size());
        const bool told = stops.Wait(10000).find("File too large") != std::string::npos;
        log.Stop(); // joins the writer before the child ends
        _exit(told ? 0 : 3);
    }
    const std::string path = ::testing::TempDir() + "fsize_" + std::to_string(getpid()) + ".log";
    const pid_t pid = fork();
    if (pid == 0) {
        setenv("VORLA_FSIZE_CHILD", path.c_str(), 1);
        execl("/proc/self/exe", "vorla_core_tests", "--gtest_filter=SessionLogLimit.*", nullptr);
        _exit(127);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    std::remove(path.c_str());
    ASSERT_FALSE(WIFSIGNALED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
}
