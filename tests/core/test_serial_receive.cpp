// The reader: chunking, sanitising, delivery and the receive buffer, against
// a pseudo-terminal with a simulated device.
#include "SerialTestSupport.h"

using namespace serial_test;

namespace {

class SerialReceive : public CSerialFixture {
protected:
    void SetUp() override { StartDevice(CDevSim::EMode::Silent); }

    // Bytes that are already waiting when the reader starts, then every
    // chunk the reader made of them (Close joins the reader, so the list is
    // complete).
    std::vector<std::string> ChunksOf(const std::string& bytes, std::size_t expectedChunks)
    {
        Connect(false);
        InjectAndSettle(bytes);
        m_port.StartThreads();
        EXPECT_TRUE(m_sink.WaitForChunks(expectedChunks, 5000));
        m_port.Close();
        return m_sink.Chunks();
    }
};

std::vector<std::size_t> Sizes(const std::vector<std::string>& chunks)
{
    std::vector<std::size_t> sizes;
    for (auto& c : chunks)
        sizes.push_back(c.size());
    return sizes;
}

} // namespace

TEST_F(SerialReceive, WaitingBytesComeInChunksOfAtMostHundred)
{
    std::string bytes;
    for (int i = 0; i < 250; ++i)
        bytes += static_cast<char>('a' + i % 26);
    auto chunks = ChunksOf(bytes, 3);
    EXPECT_EQ(Sizes(chunks), (std::vector<std::size_t>{100, 100, 50}));
    EXPECT_EQ(m_sink.Text(), bytes);
    EXPECT_EQ(m_port.ReceiveBufferContents(), bytes);
}

TEST_F(SerialReceive, ExactlyHundredBytesGiveAFullThenAnEmptyChunk)
{
    std::string bytes(100, 'x');
    auto chunks = ChunksOf(bytes, 2);
    EXPECT_EQ(Sizes(chunks), (std::vector<std::size_t>{100, 0}));
    EXPECT_EQ(m_port.ReceiveBufferContents(), bytes); // the empty chunk stored nothing
}

TEST_F(SerialReceive, EveryByteValueIsSanitisedTheSameForTerminalAndBuffer)
{
    std::string bytes, expected;
    for (int v = 0; v < 256; ++v) {
        bytes += static_cast<char>(v);
        bool keep = (v >= 0x20 && v <= 0x7E) || (v >= 0x08 && v <= 0x0D);
        expected += keep ? static_cast<char>(v) : '.';
    }
    // The chunk must not start with a backspace here, so that the sink's
    // record is complete either way: begin at 'A'.
    std::string rotated = bytes.substr(65) + bytes.substr(0, 65);
    std::string rotatedExpected = expected.substr(65) + expected.substr(0, 65);
    ChunksOf(rotated, 3);
    EXPECT_EQ(m_sink.Text(), rotatedExpected);
    EXPECT_EQ(m_port.ReceiveBufferContents(), rotatedExpected);
    EXPECT_EQ(m_sink.Text().find('\0'), std::string::npos);
}

TEST_F(SerialReceive, ATerminalShowingUtf8GetsEscAndHighBytesWhileTheBufferStaysSanitised)
{
    m_sink.keepEscapesAndHighBytes = true;
    std::string bytes = "A", shown = "A", filed = "A";
    for (int v = 1; v < 256; ++v) {
        bytes += static_cast<char>(v);
        const bool keep = (v >= 0x20 && v <= 0x7E) || (v >= 0x08 && v <= 0x0D);
        filed += keep ? static_cast<char>(v) : '.';
        shown += keep || v == 0x1B || v >= 0x80 ? static_cast<char>(v) : '.';
    }
    ChunksOf(bytes, 3);
    EXPECT_EQ(m_sink.Text(), shown);
    EXPECT_EQ(m_port.ReceiveBufferContents(), filed);
}

TEST_F(SerialReceive, ChunkBeginningWithBackspaceIsDeliveredAndStored)
{
    // The terminal decides not to show it; the engine hands it over and files it.
    auto chunks = ChunksOf("\bxyz", 1);
    ASSERT_EQ(chunks.size(), 1u);
    EXPECT_EQ(chunks[0], "\bxyz");
    EXPECT_EQ(m_port.ReceiveBufferContents(), "\bxyz");
}

TEST_F(SerialReceive, NulBytesAreDroppedWhenTheControlBlockAsksForIt)
{
    ASSERT_TRUE(m_port.Open("COM1"));
    ASSERT_TRUE(m_port.ReadState());
    DCB dcb = m_port.Dcb();
    dcb.fNull = 1;
    ASSERT_TRUE(m_port.ApplySettings(dcb).ok);
    InjectAndSettle(std::string("a\0b\0\0c", 6));
    m_port.StartThreads();
    ASSERT_TRUE(m_sink.WaitForBytes(3, 5000));
    m_port.Close();
    EXPECT_EQ(m_sink.Text(), "abc");
}

TEST_F(SerialReceive, BufferOfThreeKeepsTheNewestBytes)
{
    m_port.ResizeReceiveBuffer(3);
    ChunksOf("abcdef", 1);
    EXPECT_EQ(m_port.ReceiveBufferContents(), "def");
    EXPECT_EQ(m_port.ReadBufferSize(), 3u);
}

TEST_F(SerialReceive, BufferOfZeroStaysEmptyWhileTheTerminalStillShows)
{
    m_port.ResizeReceiveBuffer(0);
    ChunksOf("abcdef", 1);
    EXPECT_EQ(m_port.ReceiveBufferContents(), "");
    EXPECT_EQ(m_sink.Text(), "abcdef");
}

TEST_F(SerialReceive, RestoredSizeBelowTheContentKeepsItsLength)
{
    m_port.ResizeReceiveBuffer(1500);
    std::string first(1200, 'a');
    Connect();
    m_device.Inject(first);
    // Filed just after the terminal has it.
    ASSERT_TRUE(WaitUntil([&] { return m_port.ReceiveBufferContents().size() == 1200; }, 5000));
    m_port.RestoreReceiveBufferSize();
    EXPECT_EQ(m_port.ReadBufferSize(), 1000u);
    m_device.Inject("bcd");
    ASSERT_TRUE(m_sink.WaitForBytes(1203, 5000));
    m_port.Close();
    std::string contents = m_port.ReceiveBufferContents();
    EXPECT_EQ(contents.size(), 1200u);
    EXPECT_EQ(contents.substr(contents.size() - 4), "abcd");
}

TEST_F(SerialReceive, BufferAndSettingsSurviveCloseAndReconnect)
{
    m_port.SetReadDelay(321);
    m_port.SetInternalReadDelay(7);
    ChunksOf("keep", 1);
    Connect();
    EXPECT_EQ(m_port.ReceiveBufferContents(), "keep");
    EXPECT_EQ(m_port.ReadDelay(), 321);
    EXPECT_EQ(m_port.InternalReadDelay(), 7);
}

TEST_F(SerialReceive, TerminalDeliveryIsAbortedOnCloseAndResumedOnStart)
{
    Connect();
    EXPECT_EQ(m_sink.Resumes(), 1);
    m_port.Close();
    EXPECT_EQ(m_sink.Aborts(), 1);
    Connect();
    EXPECT_EQ(m_sink.Resumes(), 2);
}

TEST_F(SerialReceive, CloseReturnsWhileTheTerminalNeverShowsTheChunk)
{
    m_sink.blockUntilAborted = true;
    Connect();
    m_device.Inject("stuck");
    ASSERT_TRUE(m_sink.WaitForChunks(1, 5000));
    auto start = Clock::now();
    m_port.Close();
    EXPECT_LT(MsSince(start), 2000);
    EXPECT_FALSE(m_port.IsOpen());
    EXPECT_TRUE(m_prompt.Messages().empty());
}

TEST_F(SerialReceive, FloodArrivesCompleteAndInOrder)
{
    Connect();
    const std::size_t total = 200000;
    m_device.Flood(total);
    ASSERT_TRUE(m_sink.WaitForBytes(total, 60000));
    std::string text = m_sink.Text();
    ASSERT_EQ(text.size(), total);
    for (std::size_t line = 0; line + 80 <= total; line += 80)
        ASSERT_EQ(text.substr(line + 78, 2), "\r\n") << "at " << line;
    for (auto& chunk : m_sink.Chunks())
        ASSERT_LE(chunk.size(), 100u);
}

TEST(SerialEngines, TwoEnginesKeepTheirOwnState)
{
    CRecordingPrompt prompt;
    CDevSim a, b;
    std::string error;
    ASSERT_TRUE(a.Start({CDevSim::EMode::Silent, 0, 0, ""}, error)) << error;
    ASSERT_TRUE(b.Start({CDevSim::EMode::Silent, 0, 0, ""}, error)) << error;
    CPortMap ports;
    ports.Map(1, a.Path());
    ports.Map(2, b.Path());
    CRecordingSink sinkA, sinkB;
    CSerialPort portA(prompt, ports), portB(prompt, ports);
    portA.AttachTerminal(&sinkA);
    portB.AttachTerminal(&sinkB);
    ASSERT_TRUE(portA.Open("COM1"));
    ASSERT_TRUE(portB.Open("COM2"));
    portA.StartThreads();
    portB.StartThreads();
    portB.ResizeReceiveBuffer(2);
    a.Inject("alpha");
    b.Inject("beta");
    ASSERT_TRUE(sinkA.WaitForBytes(5, 5000));
    ASSERT_TRUE(sinkB.WaitForBytes(4, 5000));
    EXPECT_TRUE(portA.SendByte('1'));
    EXPECT_TRUE(portB.SendByte('2'));
    portA.Close();
    EXPECT_TRUE(portB.IsOpen());
    EXPECT_TRUE(portB.SendByte('3'));
    ASSERT_TRUE(a.WaitForReceived(1, 5000));
    ASSERT_TRUE(b.WaitForReceived(2, 5000));
    portB.Close();
    EXPECT_EQ(a.Received(), "1");
    EXPECT_EQ(b.Received(), "23");
    EXPECT_EQ(portA.ReceiveBufferContents(), "alpha");
    EXPECT_EQ(portB.ReceiveBufferContents(), "ta");
    EXPECT_EQ(sinkA.Text(), "alpha");
    EXPECT_EQ(sinkB.Text(), "beta");
}
