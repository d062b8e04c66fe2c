// UTF-8 shown from received bytes: the decoder on its own (split characters,
// ill-formed input) and the received-text queue fed by the engine's reader
// from a pseudo-terminal, one read per part of a split character.
#include <gtest/gtest.h>

#include <random>

#include "SerialTestSupport.h"
#include "terminal/ReceivedTextQueue.h"
#include "text/Utf8Decoder.h"

using namespace serial_test;

namespace {

const std::string kFffd = CUtf8Decoder::kReplacement;

std::string DecodeInPieces(const std::string& bytes, std::size_t piece)
{
    CUtf8Decoder decoder;
    std::string out;
    for (std::size_t i = 0; i < bytes.size(); i += piece)
        decoder.Decode(bytes.data() + i, std::min(piece, bytes.size() - i), out);
    decoder.Flush(out);
    return out;
}

bool IsValidUtf8(const std::string& s)
{
    CUtf8Decoder check;
    std::string out;
    check.Decode(s.data(), s.size(), out);
    check.Flush(out);
    return out == s;
}

} // namespace

TEST(Utf8Decoder, SplitCharactersJoinAndBadBytesBecomeOneReplacementEachWithoutEatingNeighbours)
{
    const std::string text = "a\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80 z"; // a é € 😀 z
    for (std::size_t piece = 1; piece <= text.size(); ++piece)
        EXPECT_EQ(DecodeInPieces(text, piece), text) << "pieces of " << piece;

    const struct {
        std::string in, out;
    } cases[] = {
        {"x\x80y", "x" + kFffd + "y"},                     // stray continuation byte
        {"x\xC3y", "x" + kFffd + "y"},                     // cut-off sequence: y survives
        {"\xE2\x82" "A", kFffd + "A"},                     // cut-off three-byte sequence
        {"\xC0\xAF", kFffd + kFffd},                       // overlong '/'
        {"\xED\xA0\x80", kFffd + kFffd + kFffd},           // surrogate
        {"\xF4\x90\x80\x80", kFffd + kFffd + kFffd + kFffd}, // past U+10FFFF
        {"\xFF\xC3\xA9", kFffd + "\xC3\xA9"},              // a good character right after a bad byte
        {"\xC3\xC3\xA9", kFffd + "\xC3\xA9"},              // a lead that breaks off the one before it
        {"ok\xE2", "ok" + kFffd},                           // unfinished at the end (flushed)
    };
    for (const auto& c : cases)
        EXPECT_EQ(DecodeInPieces(c.in, 1), c.out) << testing::PrintToString(c.in);
}

TEST(Utf8Decoder, RandomBytesAlwaysGiveValidUtf8AndKeepEveryAsciiByte)
{
    std::mt19937 random(22);
    for (int round = 0; round < 200; ++round) {
        std::string bytes(1 + random() % 300, '\0');
        for (char& c : bytes)
            c = static_cast<char>(random() % 256);
        const std::string out = DecodeInPieces(bytes, 1 + random() % 7);
        EXPECT_TRUE(IsValidUtf8(out));
        std::string asciiIn, asciiOut;
        for (char c : bytes)
            if (static_cast<unsigned char>(c) < 0x80)
                asciiIn += c;
        for (char c : out)
            if (static_cast<unsigned char>(c) < 0x80)
                asciiOut += c;
        EXPECT_EQ(asciiOut, asciiIn);
    }
}

class Utf8Receive : public CSerialFixture {
protected:
    CReceivedTextQueue m_queue;

    void SetUp() override
    {
        StartDevice(CDevSim::EMode::Silent);
        m_port.AttachTerminal(&m_queue);
    }
    void TearDown() override { m_port.Close(); } // the reader stops before the queue goes

    std::string Shown()
    {
        std::string all, slice;
        while (m_queue.Take(3, slice)) // small slices: none may cut a character
            all += slice;
        return all + slice;
    }
};

TEST_F(Utf8Receive, ACharacterSplitAcrossReadsShowsWholeAndBackspaceRemovesIt)
{
    m_queue.SetShowUtf8(true);
    Connect();
    const std::string parts[] = {"caf\xC3", "\xA9 \xE2\x82", "\xAC\b!\xF0\x9F", "\x98\x80\n"};
    for (const std::string& part : parts) {
        const std::size_t before = m_port.ReceiveBufferContents().size();
        m_device.Inject(part); // each part is read before the next is sent
        ASSERT_TRUE(WaitUntil([&] { return m_port.ReceiveBufferContents().size() >= before + part.size(); }, 5000));
    }
    m_port.Close();
    EXPECT_EQ(Shown(), "caf\xC3\xA9 !\xF0\x9F\x98\x80\n");
    EXPECT_EQ(m_port.ReceiveBufferContents(), "caf.. ...\b!....\n"); // filed as before

    // Off again: one character per byte, as Latin-1.
    m_queue.ResumeDelivery(); // Close stopped delivery
    m_queue.SetShowUtf8(false);
    m_queue.AppendReceivedText("\xC3\xA9");
    EXPECT_EQ(Shown(), "\xC3\x83\xC2\xA9");
}
