// Opening ports and applying the control block on a pseudo-terminal.
#include "SerialTestSupport.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace serial_test;

namespace {

class SerialSettings : public CSerialFixture {
protected:
    void SetUp() override
    {
        StartDevice(CDevSim::EMode::Silent);
        Connect(false);
    }
    // Applies the block; true if it was accepted. A refusal must come back
    // as a value with the message and the device's reason, show nothing,
    // and leave the line and the engine's block as they were.
    bool Apply(const DCB& dcb)
    {
        const DCB before = m_port.Dcb();
        m_lastResult = m_port.ApplySettings(dcb);
        EXPECT_TRUE(m_prompt.Messages().empty());
        if (m_lastResult.ok)
            return true;
        EXPECT_EQ(m_lastResult.message, "Unable to configure new configuration ");
        EXPECT_FALSE(m_lastResult.reason.empty());
        EXPECT_EQ(DcbFlagWord(m_port.Dcb()), DcbFlagWord(before));
        EXPECT_TRUE(m_port.ReadState());
        EXPECT_EQ(m_port.Dcb().BaudRate, before.BaudRate);
        EXPECT_EQ(m_port.Dcb().ByteSize, before.ByteSize);
        EXPECT_EQ(m_port.Dcb().Parity, before.Parity);
        EXPECT_EQ(m_port.Dcb().StopBits, before.StopBits);
        return false;
    }
    DCB Base()
    {
        EXPECT_TRUE(m_port.ReadState());
        return m_port.Dcb();
    }

    SResult m_lastResult;
};

} // namespace

TEST_F(SerialSettings, EveryListedRateIsSetExactly)
{
    for (uint32_t rate : {110u, 300u, 600u, 1200u, 2400u, 4800u, 9600u, 14400u, 19200u, 38400u, 56000u, 57600u,
                          115200u, 128000u, 256000u}) {
        DCB dcb = Base();
        dcb.BaudRate = rate;
        ASSERT_TRUE(Apply(dcb)) << rate << ": " << m_lastResult.reason;
        ASSERT_TRUE(m_port.ReadState());
        EXPECT_EQ(m_port.Dcb().BaudRate, rate);
        EXPECT_EQ(m_port.Dcb().DCBlength, 28u);
    }
}

TEST_F(SerialSettings, FrameSettingsReadBackAsSetOrAreRefused)
{
    // A pseudo-terminal keeps stop bits but always carries 8 data bits without
    // parity: those requests must be refused, never accepted and dropped.
    int accepted = 0;
    for (uint8_t size : {uint8_t(7), uint8_t(8)})
        for (uint8_t parity = NOPARITY; parity <= SPACEPARITY; ++parity)
            for (uint8_t stop : {ONESTOPBIT, TWOSTOPBITS}) {
                DCB dcb = Base();
                dcb.ByteSize = size;
                dcb.Parity = parity;
                dcb.StopBits = stop;
                if (!Apply(dcb))
                    continue;
                ++accepted;
                ASSERT_TRUE(m_port.ReadState());
                EXPECT_EQ(m_port.Dcb().ByteSize, size);
                EXPECT_EQ(m_port.Dcb().Parity, parity);
                EXPECT_EQ(m_port.Dcb().StopBits, stop);
            }
    EXPECT_GE(accepted, 2); // 8N1 and 8N2 at least
}

TEST_F(SerialSettings, ImpossibleFramesAreRefused)
{
    struct SCase {
        const char* what;
        void (*change)(DCB&);
    } cases[] = {
        {"rate 0", [](DCB& d) { d.BaudRate = 0; }},
        {"4 data bits", [](DCB& d) { d.ByteSize = 4; }},
        {"9 data bits", [](DCB& d) { d.ByteSize = 9; }},
        {"parity 5", [](DCB& d) { d.Parity = 5; }},
        {"stop bits 3", [](DCB& d) { d.StopBits = 3; }},
        {"1.5 stop bits with 8 data bits", [](DCB& d) { d.StopBits = ONE5STOPBITS; }},
        {"2 stop bits with 5 data bits", [](DCB& d) { d.ByteSize = 5, d.StopBits = TWOSTOPBITS; }},
    };
    for (auto& c : cases) {
        DCB dcb = Base();
        c.change(dcb);
        EXPECT_FALSE(Apply(dcb)) << c.what;
    }
}

TEST_F(SerialSettings, FlowControlAndCharactersReadBack)
{
    DCB dcb = Base();
    dcb.fOutX = 1;
    dcb.fInX = 1;
    dcb.XonChar = 0x01;
    dcb.XoffChar = 0x02;
    dcb.fOutxCtsFlow = 1;
    dcb.fParity = 1;
    ASSERT_TRUE(Apply(dcb)) << m_lastResult.reason;
    ASSERT_TRUE(m_port.ReadState());
    EXPECT_EQ(m_port.Dcb().fOutX, 1u);
    EXPECT_EQ(m_port.Dcb().fInX, 1u);
    EXPECT_EQ(m_port.Dcb().XonChar, 0x01);
    EXPECT_EQ(m_port.Dcb().XoffChar, 0x02);
    EXPECT_EQ(m_port.Dcb().fOutxCtsFlow, 1u);
    EXPECT_EQ(m_port.Dcb().fParity, 1u);

    dcb = m_port.Dcb();
    dcb.fOutX = dcb.fInX = dcb.fOutxCtsFlow = dcb.fParity = 0;
    dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
    ASSERT_TRUE(Apply(dcb));
    ASSERT_TRUE(m_port.ReadState());
    EXPECT_EQ(m_port.Dcb().fOutX, 0u);
    EXPECT_EQ(m_port.Dcb().fRtsControl, unsigned(RTS_CONTROL_HANDSHAKE));
}

// The line is put back as found when the port closes; a reconnect still
// finds the settings the user chose, those without a counterpart too.
TEST_F(SerialSettings, SettingsAreKeptAcrossReconnects)
{
    DCB dcb = Base();
    dcb.BaudRate = dcb.BaudRate == 4800 ? 57600 : 4800;
    dcb.StopBits = TWOSTOPBITS;
    dcb.XonLim = 1234;
    dcb.XoffLim = 4321;
    dcb.ErrorChar = '?';
    dcb.EofChar = 0x1A;
    dcb.EvtChar = '\n';
    dcb.fErrorChar = 1;
    dcb.fAbortOnError = 1;
    dcb.fDsrSensitivity = 1;
    dcb.fTXContinueOnXoff = 0;
    dcb.fOutxDsrFlow = 1;
    dcb.fBinary = 1;
    dcb.fDtrControl = DTR_CONTROL_HANDSHAKE; // no modem lines on a pseudo-terminal: accepted
    dcb.fRtsControl = RTS_CONTROL_TOGGLE;
    dcb.fDummy2 = 0x1ABCD;
    dcb.wReserved = 7;
    dcb.wReserved1 = 9;
    ASSERT_TRUE(Apply(dcb)) << m_lastResult.reason;
    m_port.Close();
    // As the Connect command does: open, read the state, apply it again.
    ASSERT_TRUE(m_port.Open("COM1")) << m_port.LastOpenError();
    ASSERT_TRUE(m_port.ReadState());
    ASSERT_TRUE(m_port.ApplySettings(m_port.Dcb()).ok);
    DCB back = m_port.Dcb();
    EXPECT_EQ(back.BaudRate, dcb.BaudRate);
    EXPECT_EQ(back.StopBits, TWOSTOPBITS);
    EXPECT_EQ(back.XonLim, 1234);
    EXPECT_EQ(back.XoffLim, 4321);
    EXPECT_EQ(back.ErrorChar, '?');
    EXPECT_EQ(back.EofChar, 0x1A);
    EXPECT_EQ(back.EvtChar, '\n');
    EXPECT_EQ(back.wReserved, 7);
    EXPECT_EQ(back.wReserved1, 9);
    EXPECT_EQ(DcbFlagWord(back), DcbFlagWord(dcb));
}

TEST_F(SerialSettings, OpenFailuresSayWhy)
{
    CSerialPort other(m_prompt, m_ports);
    EXPECT_FALSE(other.Open("COM1")); // held by m_port
    EXPECT_NE(other.LastOpenError().find("busy"), std::string::npos) << other.LastOpenError();
    EXPECT_FALSE(m_port.Open("COM1")); // already open here
    EXPECT_TRUE(m_port.IsOpen());

    EXPECT_FALSE(other.Open("COM5"));
    EXPECT_EQ(other.LastOpenError(), "COM5 is not mapped to a device");
    EXPECT_FALSE(other.Open("LPT1"));
    EXPECT_NE(other.LastOpenError().find("not a port name"), std::string::npos);

    m_ports.Map(2, "/nonexistent/ttyUSB99");
    EXPECT_FALSE(other.Open("COM2"));
    EXPECT_NE(other.LastOpenError().find("no such device"), std::string::npos) << other.LastOpenError();

    char file[] = "/tmp/vorla-not-a-tty-XXXXXX";
    int fd = mkstemp(file);
    ASSERT_GE(fd, 0);
    m_ports.Map(3, file);
    EXPECT_FALSE(other.Open("COM3"));
    EXPECT_NE(other.LastOpenError().find("not a serial device"), std::string::npos) << other.LastOpenError();
    close(fd);
    unlink(file);
    EXPECT_TRUE(m_prompt.Messages().empty()); // Open shows nothing

    // Released on close: the other engine gets it now.
    m_port.Close();
    EXPECT_TRUE(other.Open("COM1")) << other.LastOpenError();
    EXPECT_EQ(other.LastOpenError(), "");
}

TEST_F(SerialSettings, PortHeldByAnotherProcessDoesNotOpen)
{
    m_port.Close();
    int ready[2], release[2];
    ASSERT_EQ(pipe(ready), 0);
    ASSERT_EQ(pipe(release), 0);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // Only system calls here: the parent has threads.
        int fd = open(m_device.Path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        char ok = (fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0) ? '1' : '0';
        if (write(ready[1], &ok, 1) != 1)
            _exit(1);
        char c;
        while (read(release[0], &c, 1) < 0) {
        }
        _exit(0);
    }
    char ok = 0;
    ASSERT_EQ(read(ready[0], &ok, 1), 1);
    ASSERT_EQ(ok, '1');
    EXPECT_FALSE(m_port.Open("COM1"));
    EXPECT_NE(m_port.LastOpenError().find("busy"), std::string::npos) << m_port.LastOpenError();
    char go = 'x';
    ASSERT_EQ(write(release[1], &go, 1), 1);
    int status = 0;
    waitpid(child, &status, 0);
    for (int fd : {ready[0], ready[1], release[0], release[1]})
        close(fd);
    EXPECT_TRUE(m_port.Open("COM1")) << m_port.LastOpenError();
}

TEST_F(SerialSettings, SettingsWithoutAnOpenPortFailWithTheMessage)
{
    m_port.Close();
    EXPECT_FALSE(m_port.ReadState());
    const SResult result = m_port.ApplySettings(m_port.Dcb());
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.message, "Unable to configure new configuration ");
    EXPECT_EQ(result.reason, "the port is not open");
    EXPECT_TRUE(m_prompt.Messages().empty()); // the engine shows nothing itself
}
