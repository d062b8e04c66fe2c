#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <random>
#include <string>
#include <vector>

#include "app/Converter.h"

namespace {

// The field upper-cases everything put into it.
std::string FieldText(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return s;
}

const uint64_t kMax = ~uint64_t{0};
const Radix kAllRadixes[] = {kRadixHex, kRadixDec, kRadixOct, kRadixBin};

} // namespace

// A sequence of clicks on one converter, starting from its initial state.
TEST(Converter, ClickSequences)
{
    struct Step {
        const char* typed; // text the user leaves in the field before the click; nullptr keeps it
        Radix click;
        std::string shown;
    };
    struct Case {
        const char* name;
        std::vector<Step> steps;
    };
    const std::string ones64(64, '1');
    const std::string seventyOnes(70, '1');
    const Case cases[] = {
        {"start shows 0, hex 0", {{"0", kRadixHex, "0"}}},
        {"255 round the bases",
         {{"255", kRadixHex, "FF"}, {nullptr, kRadixBin, "11111111"}, {nullptr, kRadixOct, "377"}, {nullptr, kRadixDec, "255"}}},
        {"sign, letter and blank dropped", {{"-12a3 4", kRadixHex, "4D2"}}},
        {"same button canonicalises", {{"007", kRadixDec, "7"}, {nullptr, kRadixDec, "7"}}},
        {"empty field gives 0", {{"", kRadixDec, "0"}}},
        {"2^64-1 to bin and hex",
         {{"18446744073709551615", kRadixBin, ones64}, {nullptr, kRadixHex, "FFFFFFFFFFFFFFFF"}, {nullptr, kRadixDec, "18446744073709551615"}}},
        {"2^64 wraps to 0", {{"18446744073709551616", kRadixHex, "0"}}},
        {"2^64+1 wraps to 1", {{"18446744073709551617", kRadixBin, "1"}}},
        {"2^63 in binary", {{"9223372036854775808", kRadixBin, "1" + std::string(63, '0')}}},
        {"0x prefix in hex", {{nullptr, kRadixHex, "0"}, {"0x1F", kRadixDec, "31"}}},
        {"seventy ones", {{nullptr, kRadixBin, "0"}, {seventyOnes.c_str(), kRadixDec, "18446744073709551615"}}},
        {"octal ignores 8 and 9", {{nullptr, kRadixOct, "0"}, {"1892", kRadixDec, "10"}}},
        {"hex letters not digits in dec", {{"ff12", kRadixHex, "C"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CConverter conv;
        EXPECT_EQ(conv.CurrentBase(), kRadixDec);
        std::string field = "0";
        for (const Step& s : c.steps) {
            if (s.typed)
                field = s.typed;
            field = FieldText(conv.Convert(field, s.click));
            EXPECT_EQ(field, s.shown);
            EXPECT_EQ(conv.CurrentBase(), s.click);
        }
    }
}

TEST(Converter, FilterDigitsTable)
{
    struct Case {
        std::string in;
        Radix radix;
        std::string out;
    };
    const Case cases[] = {
        {"-12a3 4", kRadixDec, "1234"},
        {"0x1F", kRadixHex, "01F"},
        {"aBcDeFgG09", kRadixHex, "aBcDeF09"},
        {"0123456789", kRadixOct, "01234567"},
        {"0123456789", kRadixBin, "01"},
        {"+1 0\t1\n", kRadixBin, "101"},
        {"", kRadixHex, ""},
        {"\xff" "1\x80" "2\xe9", kRadixDec, "12"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FilterDigits(c.in, c.radix), c.out) << c.in << " radix " << c.radix;
}

TEST(Converter, ParseAndFormatTable)
{
    struct Case {
        std::string text;
        Radix radix;
        uint64_t value;
        std::string formatted;
    };
    const Case cases[] = {
        {"", kRadixHex, 0, "0"},
        {"", kRadixDec, 0, "0"},
        {"", kRadixOct, 0, "0"},
        {"", kRadixBin, 0, "0"},
        {"ffffffffffffffff", kRadixHex, kMax, "ffffffffffffffff"},
        {"1777777777777777777777", kRadixOct, kMax, "1777777777777777777777"},
        {std::string(64, '1'), kRadixBin, kMax, std::string(64, '1')},
        {"1" + std::string(63, '0'), kRadixBin, uint64_t{1} << 63, "1" + std::string(63, '0')},
        {"1", kRadixBin, 1, "1"},
        {"10", kRadixBin, 2, "10"},
        {"8000000000000000", kRadixHex, uint64_t{1} << 63, "8000000000000000"},
        {"1000000000000000000000", kRadixOct, uint64_t{1} << 63, "1000000000000000000000"},
        {"DeadBeef", kRadixHex, 0xdeadbeefULL, "deadbeef"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(ParseNumber(c.text, c.radix), c.value);
        EXPECT_EQ(FormatNumber(c.value, c.radix), c.formatted);
    }
}

// Wider than 64 bits: every base keeps the low 64 bits.
TEST(Converter, OverflowKeepsLow64Bits)
{
    struct Case {
        std::string text;
        Radix radix;
        uint64_t value;
    };
    const Case cases[] = {
        {"18446744073709551616", kRadixDec, 0},
        {"18446744073709551617", kRadixDec, 1},
        {"36893488147419103231", kRadixDec, kMax}, // 2^65 - 1
        {"10000000000000000", kRadixHex, 0},
        {"123456789abcdef0123", kRadixHex, 0x456789abcdef0123ULL},
        {"2000000000000000000000", kRadixOct, 0},
        {"1" + std::string(64, '0'), kRadixBin, 0},
        {std::string(70, '1'), kRadixBin, kMax},
        {"101" + std::string(64, '0') + "1", kRadixBin, 1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ParseNumber(c.text, c.radix), c.value) << c.text;
}

TEST(Converter, RoundTripRandomValuesInAllBases)
{
    std::mt19937_64 rng(20240611);
    std::vector<uint64_t> values = {0, 1, kMax, kMax - 1, uint64_t{1} << 63};
    for (int i = 0; i < 20000; ++i) {
        // Mix full-width values with short ones, so that every length occurs.
        const uint64_t v = rng();
        values.push_back(v >> (rng() % 64));
    }
    for (uint64_t v : values) {
        for (Radix r : kAllRadixes) {
            const std::string text = FormatNumber(v, r);
            ASSERT_EQ(ParseNumber(text, r), v) << text;
            ASSERT_EQ(FilterDigits(text, r), text);
            ASSERT_TRUE(text == "0" || text[0] != '0') << text;
            ASSERT_EQ(ParseNumber(FieldText(text), r), v) << "upper-cased " << text;
        }
        ASSERT_EQ(FormatNumber(v, kRadixDec), std::to_string(v));
        // Through the converter: dec -> each base -> dec.
        for (Radix r : kAllRadixes) {
            CConverter conv;
            const std::string there = FieldText(conv.Convert(std::to_string(v), r));
            ASSERT_EQ(conv.Convert(there, kRadixDec), std::to_string(v));
        }
    }
}

TEST(Converter, GarbageInputDoesNotCrash)
{
    std::string all;
    for (int b = 0; b < 256; ++b)
        all.push_back(static_cast<char>(b));
    EXPECT_EQ(FilterDigits(all, kRadixHex), "0123456789ABCDEFabcdef");
    EXPECT_EQ(FilterDigits(all, kRadixDec), "0123456789");
    EXPECT_EQ(FilterDigits(all, kRadixOct), "01234567");
    EXPECT_EQ(FilterDigits(all, kRadixBin), "01");

    std::mt19937 rng(7);
    std::string longText(1 << 20, '\0');
    for (char& c : longText)
        c = static_cast<char>(rng() & 0xff);
    for (Radix r : kAllRadixes) {
        const std::string filtered = FilterDigits(longText, r);
        EXPECT_EQ(ParseNumber(longText, r), ParseNumber(filtered, r));
        CConverter conv;
        for (Radix to : kAllRadixes)
            EXPECT_FALSE(conv.Convert(longText, to).empty());
    }
    // 10^n - 1 is -1 modulo 2^64 for n >= 64.
    EXPECT_EQ(ParseNumber(std::string(1000000, '9'), kRadixDec), kMax);
}
