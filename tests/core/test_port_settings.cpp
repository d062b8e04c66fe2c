#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>

#include "serial/PortSettings.h"

namespace {

// The flag word sits after DCBlength and BaudRate.
constexpr std::size_t kFlagOffset = 8;

uint32_t FlagWord(const DCB& dcb)
{
    uint32_t word;
    std::memcpy(&word, reinterpret_cast<const char*>(&dcb) + kFlagOffset, sizeof word);
    return word;
}

// A control block whose every byte comes from `seed`, with `flags` as its flag word.
DCB FilledBlock(unsigned seed, uint32_t flags)
{
    DCB dcb;
    unsigned char bytes[sizeof(DCB)];
    for (std::size_t i = 0; i < sizeof bytes; ++i)
        bytes[i] = static_cast<unsigned char>(seed * 131 + i * 37 + 11);
    std::memcpy(bytes + kFlagOffset, &flags, sizeof flags);
    std::memcpy(&dcb, bytes, sizeof bytes);
    return dcb;
}

// Every byte of the two blocks outside the flag word is equal.
bool SameOutsideFlags(const DCB& a, const DCB& b)
{
    const char* pa = reinterpret_cast<const char*>(&a);
    const char* pb = reinterpret_cast<const char*>(&b);
    return std::memcmp(pa, pb, kFlagOffset) == 0 &&
           std::memcmp(pa + kFlagOffset + 4, pb + kFlagOffset + 4, sizeof(DCB) - kFlagOffset - 4) == 0;
}

const uint32_t kStartWords[] = {0x00000000u, 0xFFFFFFFFu, 0xA5A5A5A5u, 0x5A5A5A5Au, 0x00007FFFu, 0xFFFF8000u};

} // namespace

TEST(PortSettingsPresets, GiveExactFlagWordsAndKeepEverythingElse)
{
    struct Case {
        FlowControl choice;
        uint32_t keep, set;
    };
    const Case cases[] = {
        {FlowControl::None, 0xFFFF9091u, 0x1091u},
        {FlowControl::Hardware, 0xFFFF909Du, 0x109Du},
        {FlowControl::XonXoff, 0xFFFF9391u, 0x1391u},
    };
    for (const Case& c : cases) {
        for (uint32_t start : kStartWords) {
            SCOPED_TRACE(testing::Message() << "preset " << static_cast<int>(c.choice) << " start 0x" << std::hex
                                            << start);
            const DCB record = FilledBlock(start, start);
            DCB engine = FilledBlock(99, 0x12345678u);
            ASSERT_TRUE(ApplyFlowControlPreset(record, c.choice, engine));
            EXPECT_EQ(FlagWord(engine), (start & c.keep) | c.set);
            EXPECT_EQ(FlagWord(engine) & 0x7FFFu, c.set);                   // bits 0..14 exactly the preset
            EXPECT_EQ(FlagWord(engine) & 0xFFFF8000u, start & 0xFFFF8000u); // bits 15..31 as read
            EXPECT_TRUE(SameOutsideFlags(engine, record));
        }
    }
}

TEST(PortSettingsPresets, PresetFieldsReadBackAsNamed)
{
    DCB engine;
    ASSERT_TRUE(ApplyFlowControlPreset(FilledBlock(1, 0xFFFFFFFFu), FlowControl::Hardware, engine));
    EXPECT_EQ(engine.fBinary, 1u);
    EXPECT_EQ(engine.fParity, 0u);
    EXPECT_EQ(engine.fOutxCtsFlow, 1u);
    EXPECT_EQ(engine.fOutxDsrFlow, 1u);
    EXPECT_EQ(engine.fDtrControl, DTR_CONTROL_ENABLE);
    EXPECT_EQ(engine.fRtsControl, RTS_CONTROL_ENABLE);
    EXPECT_EQ(engine.fOutX, 0u);
    EXPECT_EQ(engine.fInX, 0u);
    EXPECT_EQ(engine.fAbortOnError, 0u);
    EXPECT_EQ(engine.fDummy2, 0x1FFFFu);

    ASSERT_TRUE(ApplyFlowControlPreset(FilledBlock(2, 0), FlowControl::XonXoff, engine));
    EXPECT_EQ(engine.fOutX, 1u);
    EXPECT_EQ(engine.fInX, 1u);
    EXPECT_EQ(engine.fOutxCtsFlow, 0u);
    EXPECT_EQ(engine.fTXContinueOnXoff, 1u);
}

TEST(PortSettingsPresets, AdvancedCopiesTheRecordUnchanged)
{
    for (uint32_t start : kStartWords) {
        const DCB record = FilledBlock(start + 3, start);
        DCB engine = FilledBlock(7, 0);
        ASSERT_TRUE(ApplyFlowControlPreset(record, FlowControl::Advanced, engine));
        EXPECT_EQ(std::memcmp(&engine, &record, sizeof(DCB)), 0) << std::hex << start;
    }
}

TEST(PortSettingsPresets, ChoiceOutsideTheFourLeavesEngineBlock)
{
    for (int choice : {-1, 4, 100, INT_MIN}) {
        const DCB record = FilledBlock(5, 0xFFFFFFFFu);
        const DCB before = FilledBlock(6, 0x00001234u);
        DCB engine = before;
        EXPECT_FALSE(ApplyFlowControlPreset(record, static_cast<FlowControl>(choice), engine)) << choice;
        EXPECT_EQ(std::memcmp(&engine, &before, sizeof(DCB)), 0) << choice;
    }
}

TEST(PortSettingsLabels, IndexOfEveryListedValueAndUndefForOthers)
{
    for (int i = 0; i < kBaudCount; ++i) {
        EXPECT_EQ(BaudIndex(kBaudRates[i]), i);
        EXPECT_EQ(std::to_string(kBaudRates[i]), kBaudLabels[i]);
    }
    for (uint32_t odd : {0u, 4000u, 115201u, 250000u, 0xFFFFFFFFu})
        EXPECT_EQ(BaudIndex(odd), -1) << odd;

    EXPECT_EQ(DataIndex(7), 0);
    EXPECT_EQ(DataIndex(8), 1);
    for (uint8_t size : {0, 5, 6, 9, 255})
        EXPECT_EQ(DataIndex(size), -1) << int(size);

    EXPECT_EQ(ParityIndex(4), 4);
    EXPECT_EQ(ParityIndex(5), -1);
    EXPECT_EQ(StopBitIndex(2), 2);
    EXPECT_EQ(StopBitIndex(3), -1);
    EXPECT_EQ(StopBitIndex(255), -1);

    EXPECT_STREQ(PortLabel(0), "NONE");
    EXPECT_STREQ(PortLabel(8), "COM8");
    EXPECT_STREQ(PortLabel(9), "UNDEF");
    EXPECT_STREQ(PortLabel(-1), "UNDEF");
    EXPECT_STREQ(FlowControlLabel(FlowControl::XonXoff), "Xon/XOff");
    EXPECT_EQ(FlowControlLabel(static_cast<FlowControl>(4)), nullptr);
}

// A field's text is a whole number in the field's range or it is refused:
// nothing is read up to the first stray character, cut off, wrapped or clamped.
TEST(PortSettingsParse, FieldNumbersAreWholeNumbersInRange)
{
    struct Case {
        const char* text;
        long long max;   // the range is 0..max, or -5..5 for max 5
        long long value; // kRefused when refused
    };
    constexpr long long kRefused = -100;
    const Case cases[] = {
        {"", 255, 0}, // an empty field is 0
        {"   ", 255, 0},
        {"123456", 999999, 123456},
        {" 42\t", 255, 42},
        {"+7", 255, 7},
        {"0042", 255, 42},
        {"255", 255, 255},
        {"65535", 65535, 65535},
        {"-3", 5, -3},
        {"999", 255, kRefused},
        {"256", 255, kRefused},
        {"-1", 255, kRefused},
        {"65536", 65535, kRefused},
        {"99999999999", 65535, kRefused},
        {"99999999999999999999999", 65535, kRefused}, // no overflow back into range
        {"1000000", 999999, kRefused},
        {"abc-1", 255, kRefused},
        {"12abc", 255, kRefused},
        {"26 end", 255, kRefused},
        {"1 2", 255, kRefused},
        {"1.5", 255, kRefused},
        {"0x10", 255, kRefused},
        {"-", 255, kRefused},
        {"+", 255, kRefused},
        {"- 5", 5, kRefused},
    };
    for (const Case& c : cases) {
        long long value = 77;
        const bool ok = ParseFieldNumber(c.text, c.max == 5 ? -5 : 0, c.max, value);
        EXPECT_EQ(ok, c.value != kRefused) << '"' << c.text << '"';
        EXPECT_EQ(value, ok ? c.value : 77) << '"' << c.text << '"'; // untouched when refused
    }
    EXPECT_EQ(FieldRangeMessage("XON Char (ASCII)", 0, 255), "XON Char (ASCII) must be a whole number from 0 to 255.");
}
