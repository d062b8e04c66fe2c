// Hex both ways: the text typed to send bytes, and the hex dump rows of the
// received bytes as the reader hands them over in chunks.
#include <gtest/gtest.h>

#include "SerialTestSupport.h"
#include "terminal/ReceivedBytes.h"
#include "text/HexText.h"

using namespace serial_test;

namespace {

TEST(HexText, TypedHexIsPairsOfDigitsInEitherCaseWithOrWithoutSpaces)
{
    for (const char* text : {"48 65 6C 6c 6F 0D 0A", "48656c6C6F0d0a", "  48\t65 6C\n6C6F  0D0a "}) {
        const SHexParse r = ParseHexBytes(text);
        EXPECT_TRUE(r.ok) << text << ": " << r.error;
        EXPECT_EQ(r.bytes, "Hello\r\n") << text;
    }
    EXPECT_EQ(ParseHexBytes("00 ff 80").bytes, std::string("\x00\xff\x80", 3));
    // Refusals name the first fault and where it is; nothing is returned.
    const struct {
        const char* text;
        const char* error;
        std::size_t position;
    } refused[] = {
        {"48 6", "a lone hex digit: each byte takes two digits", 4},
        {"486 5", "a lone hex digit: each byte takes two digits", 3},
        {"48 6G", "not a hex digit: 'G'", 5},
        {"0x48", "not a hex digit: 'x'", 2},
        {"48,65", "not a hex digit: ','", 3},
        {"", "no hex digits to send", 1},
        {"   ", "no hex digits to send", 1},
    };
    for (const auto& c : refused) {
        const SHexParse r = ParseHexBytes(c.text);
        EXPECT_FALSE(r.ok) << c.text;
        EXPECT_EQ(r.error, c.error) << c.text;
        EXPECT_EQ(r.position, c.position) << c.text;
        EXPECT_TRUE(r.bytes.empty()) << c.text;
    }
}

TEST(HexText, RowsKeepTheirColumnsWhenPartlyFilled)
{
    const unsigned char bytes[] = {'H', 'i', 0x00, 0xFF, 0x7F, ' '};
    EXPECT_EQ(CHexRow::Format(0x10, bytes, 0, 6),
              "00000010  48 69 00 FF 7F 20                                 |Hi...           |");
    EXPECT_EQ(CHexRow::Format(0x20, bytes, 7, 3),
              "00000020                       48  69 00                    |       Hi.      |");
    // Past 4 GiB the offset takes more digits and the columns move over.
    EXPECT_EQ(CHexRow::Format(0x123456789A0ull, bytes, 15, 1),
              "123456789A0" + CHexRow::Format(0, bytes, 15, 1).substr(8));
    // A click on either column finds the same byte.
    for (int slot = 0; slot < 16; ++slot) {
        EXPECT_EQ(CHexRow::SlotAt(CHexRow::HexColumn(slot) + 1), slot);
        EXPECT_EQ(CHexRow::SlotAt(CHexRow::CharColumn(slot)), slot);
    }
    EXPECT_EQ(CHexRow::SlotAt(3), -1);
}

// Bytes of every value from a real line, in the reader's chunks, into a
// store smaller than the stream: the rows show exactly the newest bytes.
TEST(HexText, DumpOfReceivedBytesMatchesTheStreamAcrossChunksAndDrops)
{
    CRecordingPrompt prompt;
    CRecordingSink sink;
    CDevSim device;
    ASSERT_TRUE(serial_test::StartSilent(device));
    CPortMap ports;
    ports.Map(1, device.Path());
    CReceivedBytes held(1000);
    CSerialPort port(prompt, ports);
    port.AttachTerminal(&sink);
    port.AddByteObserver(&held);
    ASSERT_TRUE(port.Open("COM1"));
    ApplyLineSettings(port);
    port.StartThreads();
    std::string stream;
    for (int i = 0; i < 1237; ++i) // not a multiple of 16, nor of the chunk size
        stream += static_cast<char>((i * 7) & 0xFF);
    for (std::size_t at = 0; at < stream.size(); at += 333) {
        device.Inject(stream.substr(at, 333));
        ASSERT_TRUE(sink.WaitForBytes(std::min(stream.size(), at + 333), 5000));
    }
    port.Close();
    port.RemoveByteObserver(&held);

    EXPECT_EQ(held.Begin(), 237u);
    EXPECT_EQ(held.End(), 1237u);
    EXPECT_EQ(held.FirstRow(), 14u);
    EXPECT_EQ(held.RowEnd(), 78u);
    // The hex column of the rows, read back as typed hex, is the bytes held.
    std::string hex, chars;
    for (uint64_t row = held.FirstRow(); row < held.RowEnd(); ++row) {
        const std::string text = held.Row(row);
        ASSERT_EQ(text.size(), static_cast<std::size_t>(CHexRow::Width()));
        char offset[16];
        std::snprintf(offset, sizeof offset, "%08llX", static_cast<unsigned long long>(row * 16));
        EXPECT_EQ(text.substr(0, 8), offset);
        hex += text.substr(10, 50) + " ";
        chars += text.substr(CHexRow::CharColumn(0), 16);
    }
    EXPECT_EQ(ParseHexBytes(hex).bytes, stream.substr(237));
    for (std::size_t i = 0; i < 1000; ++i) {
        const unsigned char b = static_cast<unsigned char>(stream[237 + i]);
        ASSERT_EQ(chars[237 % 16 + i], b >= 0x20 && b < 0x7F ? static_cast<char>(b) : '.') << i;
    }
    held.Clear();
    EXPECT_EQ(held.RowEnd(), held.FirstRow());
}

} // namespace
