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

// One click: the text the field shows afterwards, or "refused: <message>".
std::string Click(CConverter& conv, const std::string& field, Radix to)
{
    std::string shown;
    std::string error;
    if (!conv.Convert(field, to, shown, error))
        return "refused: " + error;
    return FieldText(shown);
}

} // namespace

// A sequence of clicks on one converter, starting from its initial state.
TEST(Converter, ClickSequences)
{
    struct Step {
        const char* typed; // text the user leaves in the field before the click; nullptr keeps it
        Radix click;
        std::string shown; // empty: refused, the field and the base stay as they were
    };
    struct Case {
        const char* name;
        std::vector<Step> steps;
    };
    const std::string ones64(64, '1');
    const std::string seventyOnes(70, '1');
    const std::string zerosThen64Ones = "0000000" + ones64;
    const Case cases[] = {
        {"start shows 0, hex 0", {{"0", kRadixHex, "0"}}},
        {"255 round the bases",
         {{"255", kRadixHex, "FF"}, {nullptr, kRadixBin, "11111111"}, {nullptr, kRadixOct, "377"}, {nullptr, kRadixDec, "255"}}},
        {"sign, letter and blank dropped", {{"-12a3 4", kRadixHex, "4D2"}}},
        {"same button canonicalises", {{"007", kRadixDec, "7"}, {nullptr, kRadixDec, "7"}}},
        {"empty field gives 0", {{"", kRadixDec, "0"}}},
        {"2^64-1 to bin and hex",
         {{"18446744073709551615", kRadixBin, ones64}, {nullptr, kRadixHex, "FFFFFFFFFFFFFFFF"}, {nullptr, kRadixDec, "18446744073709551615"}}},
        {"2^64 refused", {{"18446744073709551616", kRadixHex, ""}, {nullptr, kRadixDec, ""}}},
        {"refused, then a number in range", {{"99999999999999999999999", kRadixBin, ""}, {"12", kRadixHex, "C"}}},
        {"17 hex digits refused", {{nullptr, kRadixHex, "0"}, {"1FFFFFFFFFFFFFFFF", kRadixDec, ""}}},
        {"2^63 in binary", {{"9223372036854775808", kRadixBin, "1" + std::string(63, '0')}}},
        {"0x prefix in hex", {{nullptr, kRadixHex, "0"}, {"0x1F", kRadixDec, "31"}}},
        {"seventy ones refused", {{nullptr, kRadixBin, "0"}, {seventyOnes.c_str(), kRadixDec, ""}}},
        {"leading zeros past 64 digits", {{nullptr, kRadixBin, "0"}, {zerosThen64Ones.c_str(), kRadixHex, "FFFFFFFFFFFFFFFF"}}},
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
            const Radix before = conv.CurrentBase();
            const std::string result = Click(conv, field, s.click);
            if (s.shown.empty()) {
                EXPECT_EQ(result.rfind("refused: Data Converter:", 0), 0u) << result;
                EXPECT_EQ(conv.CurrentBase(), before);
                continue;
            }
            field = result;
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

// Wider than 64 bits: no value in any base (never the low 64 bits), and the
// refusal names the field and the largest number of the base.
TEST(Converter, OverflowIsRefusedNotWrapped)
{
    struct Case {
        std::string text;
        Radix radix;
        std::string largest; // as the message shows it
    };
    const Case cases[] = {
        {"18446744073709551616", kRadixDec, "18446744073709551615"}, // 2^64
        {"99999999999999999999999", kRadixDec, "18446744073709551615"},
        {"10000000000000000", kRadixHex, "FFFFFFFFFFFFFFFF"},
        {"123456789abcdef0123", kRadixHex, "FFFFFFFFFFFFFFFF"},
        {"2000000000000000000000", kRadixOct, "1777777777777777777777"},
        {"1" + std::string(64, '0'), kRadixBin, std::string(64, '1')},
        {"101" + std::string(64, '0') + "1", kRadixBin, std::string(64, '1')},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(ParseNumber(c.text, c.radix), std::nullopt);
        CConverter conv;
        Click(conv, "0", c.radix); // selects the base
        std::string shown = "untouched";
        std::string error;
        EXPECT_FALSE(conv.Convert(c.text, kRadixDec, shown, error));
        EXPECT_EQ(shown, "untouched");
        EXPECT_EQ(conv.CurrentBase(), c.radix);
        EXPECT_NE(error.find("Data Converter"), std::string::npos) << error;
        EXPECT_NE(error.find("between 0 and " + c.largest), std::string::npos) << error;
    }
    // The largest number of every base is still taken, also after leading zeros.
    for (Radix r : kAllRadixes)
        EXPECT_EQ(ParseNumber("000" + FormatNumber(kMax, r), r), kMax);
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
            const std::string there = Click(conv, std::to_string(v), r);
            ASSERT_EQ(Click(conv, there, kRadixDec), std::to_string(v));
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
            EXPECT_EQ(Click(conv, longText, to).rfind("refused: ", 0), 0u);
    }
    EXPECT_EQ(ParseNumber(std::string(1000000, '9'), kRadixDec), std::nullopt);
}
