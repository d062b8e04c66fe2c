// The control block's layout and its flag word.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <random>

#include "serial/Dcb.h"

TEST(Dcb, LayoutIsTheTwentyEightByteBlock)
{
    EXPECT_EQ(sizeof(DCB), 28u);
    EXPECT_EQ(offsetof(DCB, BaudRate), 4u);
    EXPECT_EQ(offsetof(DCB, wReserved), 12u);
    EXPECT_EQ(offsetof(DCB, XonLim), 14u);
    EXPECT_EQ(offsetof(DCB, XoffLim), 16u);
    EXPECT_EQ(offsetof(DCB, ByteSize), 18u);
    EXPECT_EQ(offsetof(DCB, StopBits), 20u);
    EXPECT_EQ(offsetof(DCB, EvtChar), 25u);
    EXPECT_EQ(offsetof(DCB, wReserved1), 26u);
}

TEST(Dcb, EachFlagFieldHasItsBits)
{
    struct {
        const char* name;
        void (*set)(DCB&);
        uint32_t bits;
    } cases[] = {
        {"fBinary", [](DCB& d) { d.fBinary = 1; }, 1u << 0},
        {"fParity", [](DCB& d) { d.fParity = 1; }, 1u << 1},
        {"fOutxCtsFlow", [](DCB& d) { d.fOutxCtsFlow = 1; }, 1u << 2},
        {"fOutxDsrFlow", [](DCB& d) { d.fOutxDsrFlow = 1; }, 1u << 3},
        {"fDtrControl", [](DCB& d) { d.fDtrControl = 3; }, 3u << 4},
        {"fDsrSensitivity", [](DCB& d) { d.fDsrSensitivity = 1; }, 1u << 6},
        {"fTXContinueOnXoff", [](DCB& d) { d.fTXContinueOnXoff = 1; }, 1u << 7},
        {"fOutX", [](DCB& d) { d.fOutX = 1; }, 1u << 8},
        {"fInX", [](DCB& d) { d.fInX = 1; }, 1u << 9},
        {"fErrorChar", [](DCB& d) { d.fErrorChar = 1; }, 1u << 10},
        {"fNull", [](DCB& d) { d.fNull = 1; }, 1u << 11},
        {"fRtsControl", [](DCB& d) { d.fRtsControl = 3; }, 3u << 12},
        {"fAbortOnError", [](DCB& d) { d.fAbortOnError = 1; }, 1u << 14},
        {"fDummy2", [](DCB& d) { d.fDummy2 = 0x1FFFF; }, 0xFFFF8000u},
    };
    for (auto& c : cases) {
        DCB dcb;
        SetDcbFlagWord(dcb, 0);
        c.set(dcb);
        EXPECT_EQ(DcbFlagWord(dcb), c.bits) << c.name;
        uint32_t stored;
        std::memcpy(&stored, reinterpret_cast<const char*>(&dcb) + 8, 4);
        EXPECT_EQ(stored, c.bits) << c.name << ": the word in memory is the same";
    }
    EXPECT_EQ(DcbFlagWord(DCB()), 0x1091u); // defaults: binary, DTR and RTS on, TX continues on XOFF
}

TEST(Dcb, FlagWordRoundTripsAndLeavesOtherFieldsAlone)
{
    std::mt19937 random(42);
    for (int i = 0; i < 1000; ++i) {
        uint32_t word = random();
        DCB dcb;
        dcb.BaudRate = 9600;
        dcb.XonLim = 77;
        SetDcbFlagWord(dcb, word);
        EXPECT_EQ(DcbFlagWord(dcb), word);
        EXPECT_EQ(dcb.BaudRate, 9600u);
        EXPECT_EQ(dcb.XonLim, 77);
    }
}

TEST(Dcb, PresetMasksMatchTheirFlagValues)
{
    // keep-mask, set-bits, CTS, DSR, XON/XOFF out and in
    struct {
        uint32_t keep, set;
        unsigned cts, dsr, outX, inX;
    } presets[] = {{0xFFFF9091, 0x1091, 0, 0, 0, 0}, {0xFFFF909D, 0x109D, 1, 1, 0, 0}, {0xFFFF9391, 0x1391, 0, 0, 1, 1}};
    for (auto& p : presets)
        for (uint32_t before : {0u, 0xFFFFFFFFu, 0x12345678u}) {
            DCB dcb;
            SetDcbFlagWord(dcb, (before & p.keep) | p.set);
            EXPECT_EQ(dcb.fBinary, 1u);
            EXPECT_EQ(dcb.fParity, 0u);
            EXPECT_EQ(dcb.fOutxCtsFlow, p.cts);
            EXPECT_EQ(dcb.fOutxDsrFlow, p.dsr);
            EXPECT_EQ(dcb.fDtrControl, unsigned(DTR_CONTROL_ENABLE));
            EXPECT_EQ(dcb.fDsrSensitivity, 0u);
            EXPECT_EQ(dcb.fTXContinueOnXoff, 1u);
            EXPECT_EQ(dcb.fOutX, p.outX);
            EXPECT_EQ(dcb.fInX, p.inX);
            EXPECT_EQ(dcb.fErrorChar, 0u);
            EXPECT_EQ(dcb.fNull, 0u);
            EXPECT_EQ(dcb.fRtsControl, unsigned(RTS_CONTROL_ENABLE));
            EXPECT_EQ(dcb.fAbortOnError, 0u);
            EXPECT_EQ(dcb.fDummy2, before >> 15);
        }
}
