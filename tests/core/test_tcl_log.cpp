// LogStart, LogStop and LogStatus through the interpreter host, against a
// real engine on a pseudo-terminal.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include <tcl.h>

#include "SerialTestSupport.h"
#include "TclTestSupport.h"

namespace {

// A path as the log names it: in the system's own form (with '\' on Windows).
std::string Shown(const std::string& path) { return std::filesystem::path(path).make_preferred().string(); }

// A path as one element of a Tcl list (braced where it holds '\').
std::string AsListElement(const std::string& text)
{
    const char* element = text.c_str();
    char* merged = Tcl_Merge(1, &element);
    const std::string out(merged);
    Tcl_Free(merged);
    return out;
}

const SConsoleEntry kPrompt{kConsolePrompt, kConsoleNotice};

class TclLog : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_dir = std::filesystem::temp_directory_path() / ("vorla_tcllog_" + std::to_string(getpid()));
        std::filesystem::create_directories(m_dir);
        ASSERT_TRUE(serial_test::StartSilent(m_device));
        m_ports.Map(1, m_device.Path());
        m_port.AttachTerminal(&m_sink);
        m_port.AddByteObserver(&m_tcl.owner.log);
        m_tcl.owner.port = &m_port;
    }
    void TearDown() override
    {
        m_tcl.host.DeleteInterpreter();
        m_port.Close();
        m_tcl.owner.log.Stop();
        m_port.RemoveByteObserver(&m_tcl.owner.log);
        std::filesystem::remove_all(m_dir);
    }
    void Connect()
    {
        ASSERT_TRUE(m_port.Open("COM1")) << m_port.LastOpenError();
        serial_test::ApplyLineSettings(m_port);
        m_port.StartThreads();
        m_tcl.owner.openPort = 1;
    }
    std::vector<SConsoleEntry> Run(const std::string& line) { return m_tcl.Run(line + "\n"); }
    static std::vector<SConsoleEntry> Error(const std::string& text) { return {{text + "\n", kConsoleError}, kPrompt}; }

    std::filesystem::path m_dir;
    serial_test::CRecordingPrompt m_enginePrompt;
    serial_test::CRecordingSink m_sink;
    CDevSim m_device;
    CPortMap m_ports;
    CSerialPort m_port{m_enginePrompt, m_ports};
    CTclHostHarness m_tcl; // declared last: its Tcl thread ends before the engine goes
};

TEST_F(TclLog, StartStatusAndStopLogTheOpenPort)
{
    Connect();
    const std::string path = (m_dir / "session.log").generic_string();
    EXPECT_EQ(Run("LogStatus"), std::vector<SConsoleEntry>{kPrompt});
    EXPECT_EQ(Run("LogStart " + path + " -sent"), std::vector<SConsoleEntry>{kPrompt});
    EXPECT_EQ(Run("LogStart " + path), Error("Error : Unable to start the log: a log is already running (" + Shown(path) + ")"));
    m_device.Inject("OK\r\n");
    ASSERT_TRUE(m_sink.WaitForBytes(4, 5000));
    EXPECT_EQ(Run("SendOut AT"), std::vector<SConsoleEntry>{kPrompt});
    ASSERT_TRUE(m_device.WaitForReceived(2, 5000));
    // The status counts what is in the file, written within a second.
    ASSERT_TRUE(serial_test::WaitUntil([&] { return m_tcl.owner.log.Status().bytesWritten == 14; }, 5000));
    EXPECT_EQ(Run("LogStatus"), (std::vector<SConsoleEntry>{{AsListElement(Shown(path)) + " 14\n", kConsoleOutput}, kPrompt}));
    EXPECT_EQ(Run("LogStop"), std::vector<SConsoleEntry>{kPrompt});
    EXPECT_EQ(Run("LogStatus"), std::vector<SConsoleEntry>{kPrompt});
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_EQ(text.str(), "RX: OK\r\nTX: AT");
}

TEST_F(TclLog, BadArgumentsAndUnwritablePathsAreErrorsAndStartNothing)
{
    EXPECT_EQ(Run("LogStart " + (m_dir / "x.log").generic_string()), Error("Error : No Port Open to log"));
    Connect();
    EXPECT_EQ(Run("LogStart"),
              Error("Error : wrong # args: should be \"LogStart path ?-timestamps? ?-sent? ?-raw? ?-append?\""));
    EXPECT_EQ(Run("LogStart x.log -time"),
              Error("Error : bad option \"-time\": must be -timestamps, -sent, -raw or -append"));
    EXPECT_EQ(Run("LogStart x.log -raw -sent"),
              Error("Error : -raw logs received bytes exactly: it takes neither -timestamps nor -sent"));
    const std::string missing = (m_dir / "none" / "x.log").generic_string();
    EXPECT_EQ(Run("LogStart " + missing),
              Error("Error : Unable to open the log file " + Shown(missing) + ": No such file or directory"));
    EXPECT_EQ(Run("LogStatus"), std::vector<SConsoleEntry>{kPrompt});
    EXPECT_FALSE(std::filesystem::exists("x.log"));
}

} // namespace
