#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string>

#include "serial/Dcb.h"

// Which flag preset the Settings command lays over the control block. The
// underlying int lets a value outside the four choices be held (and then
// ignored when the record is applied).
enum class FlowControl : int { None = 0, Hardware = 1, XonXoff = 2, Advanced = 3 };

// Everything the user sets about the serial line: the port, the control block,
// the two transmit delays and the flow-control choice. Held by the Port
// Settings dialog for the whole run; UI thread only.
class CPortSettings {
public:
    int m_port = 0;                                 // 0 none, 1..8 for COM1..COM8
    DCB m_dcb;                                      // taken from the port, edited by the dialogs
    int m_lineDelay = 0;                            // ms after each CR or LF sent
    int m_charDelay = 0;                            // ms after every other byte sent
    FlowControl m_flowControl = FlowControl::None;  // preset applied with the record
};

// --- labels of the settings lists -----------------------------------------

inline constexpr const char* kUndefLabel = "UNDEF";

// Index equals the port number; "UNDEF" stands for any number above 8.
inline constexpr const char* kPortLabels[] = {"NONE", "COM1", "COM2", "COM3", "COM4",
                                              "COM5", "COM6", "COM7", "COM8", "UNDEF"};
inline constexpr int kPortCount = 9; // "NONE" and COM1..COM8, without "UNDEF"

// The classic rates, and the fast ones of USB adapters.
inline constexpr uint32_t kBaudRates[] = {110,    300,    600,    1200,   2400,    4800,    9600,
                                          14400,  19200,  38400,  56000,  57600,   115200,  128000,
                                          230400, 256000, 460800, 921600, 1000000, 2000000, 3000000};
inline constexpr const char* kBaudLabels[] = {"110",    "300",    "600",    "1200",   "2400",    "4800",    "9600",
                                              "14400",  "19200",  "38400",  "56000",  "57600",   "115200",  "128000",
                                              "230400", "256000", "460800", "921600", "1000000", "2000000", "3000000"};
// A rate typed into the baud list: a whole number in this range. The device
// may still refuse it; applying the settings then says so.
inline constexpr uint32_t kMinCustomBaudRate = 1;
inline constexpr uint32_t kMaxCustomBaudRate = 20000000;
inline constexpr uint8_t kByteSizes[] = {7, 8};
inline constexpr const char* kDataLabels[] = {"7 bits", "8 bits"};
inline constexpr const char* kParityLabels[] = {"No Parity", "Odd", "Even", "Mark", "Space"};
inline constexpr const char* kStopBitLabels[] = {"1 Stop bits", "1.5 Stop bits", "2 Stop bits"};
inline constexpr const char* kFlowControlLabels[] = {"None", "Hardware", "Xon/XOff", "Advanced"};

inline constexpr int kBaudCount = static_cast<int>(std::size(kBaudRates));
inline constexpr int kDataCount = static_cast<int>(std::size(kByteSizes));
inline constexpr int kParityCount = static_cast<int>(std::size(kParityLabels));
inline constexpr int kStopBitCount = static_cast<int>(std::size(kStopBitLabels));
inline constexpr int kFlowControlCount = static_cast<int>(std::size(kFlowControlLabels));

static_assert(std::size(kBaudLabels) == std::size(kBaudRates));
static_assert(std::size(kDataLabels) == std::size(kByteSizes));

// List index of a field value, or -1 when the value has no entry (the list
// then shows "UNDEF").
int PortIndex(int port);        // 0..8
int BaudIndex(uint32_t rate);   // 0..kBaudCount-1
int DataIndex(uint8_t byteSize); // 0 for 7, 1 for 8
int ParityIndex(uint8_t parity); // 0..4
int StopBitIndex(uint8_t stopBits); // 0..2

// Label of a port number: "NONE", "COM1".."COM8", "UNDEF" for anything else.
const char* PortLabel(int port);
// Label of a flow-control choice, nullptr outside the four.
const char* FlowControlLabel(FlowControl choice);

// The line's settings at a glance, as the status bar shows them: rate,
// frame (data bits, parity letter, stop bits) and flow control, e.g.
// "115200 8N1 RTS/CTS", "9600 7E2 XON/XOFF", "57600 8N1 none".
std::string DescribeLineSettings(const DCB& dcb);

// --- flow-control presets --------------------------------------------------

// The flag fields fBinary..fAbortOnError of one preset.
struct CFlowPreset {
    uint8_t fBinary, fParity, fOutxCtsFlow, fOutxDsrFlow, fDtrControl, fDsrSensitivity, fTXContinueOnXoff;
    uint8_t fOutX, fInX, fErrorChar, fNull, fRtsControl, fAbortOnError;

    // The flag word bits 0..14 this preset writes.
    constexpr uint32_t Bits() const
    {
        return uint32_t(fBinary) | uint32_t(fParity) << 1 | uint32_t(fOutxCtsFlow) << 2 |
               uint32_t(fOutxDsrFlow) << 3 | uint32_t(fDtrControl) << 4 | uint32_t(fDsrSensitivity) << 6 |
               uint32_t(fTXContinueOnXoff) << 7 | uint32_t(fOutX) << 8 | uint32_t(fInX) << 9 |
               uint32_t(fErrorChar) << 10 | uint32_t(fNull) << 11 | uint32_t(fRtsControl) << 12 |
               uint32_t(fAbortOnError) << 14;
    }
};

// Bits 0..14 of the flag word: the fields a preset overwrites.
inline constexpr uint32_t kPresetFieldBits = 0x7FFF;

// Indexed by FlowControl None, Hardware, XonXoff. Every preset keeps DTR and
// RTS simply enabled and parity checking off.
inline constexpr CFlowPreset kFlowPresets[] = {
    // Bin Par CTS DSR DTR DSRs TXC OutX InX Err Nul RTS Abort
    {1, 0, 0, 0, DTR_CONTROL_ENABLE, 0, 1, 0, 0, 0, 0, RTS_CONTROL_ENABLE, 0}, // None
    {1, 0, 1, 1, DTR_CONTROL_ENABLE, 0, 1, 0, 0, 0, 0, RTS_CONTROL_ENABLE, 0}, // Hardware
    {1, 0, 0, 0, DTR_CONTROL_ENABLE, 0, 1, 1, 1, 0, 0, RTS_CONTROL_ENABLE, 0}, // XonXoff
};

// The same presets as masks on the flag word: keep these bits, then set those.
struct CFlowMask {
    uint32_t keep;
    uint32_t set;
};
inline constexpr CFlowMask kFlowMasks[] = {
    {0xFFFF9091u, 0x1091u}, // None
    {0xFFFF909Du, 0x109Du}, // Hardware
    {0xFFFF9391u, 0x1391u}, // XonXoff
};

// The masks must say exactly what the field table says: every field bit the
// preset does not set is cleared, and bits 15..31 are kept.
constexpr bool MaskMatchesPreset(const CFlowMask& m, const CFlowPreset& p)
{
    return m.set == p.Bits() && (m.keep & ~kPresetFieldBits) == ~kPresetFieldBits &&
           (m.keep & kPresetFieldBits) == p.Bits();
}
static_assert(MaskMatchesPreset(kFlowMasks[0], kFlowPresets[0]));
static_assert(MaskMatchesPreset(kFlowMasks[1], kFlowPresets[1]));
static_assert(MaskMatchesPreset(kFlowMasks[2], kFlowPresets[2]));

// Turns the record's control block into the engine's: copies `record` into
// `engineBlock`, then overwrites the flag fields fBinary..fAbortOnError with
// the preset of `choice`; Advanced overwrites nothing. A choice outside the
// four leaves `engineBlock` untouched and returns false.
bool ApplyFlowControlPreset(const DCB& record, FlowControl choice, DCB& engineBlock);

// --- number entry ----------------------------------------------------------

// Reads a whole decimal number typed into a settings field: blanks around it
// are allowed and an empty field counts as 0. Returns false, leaving `value`
// alone, for any other text (a sign without digits, letters after the
// digits, a fraction) and for a number outside min..max; nothing is cut off,
// wrapped or clamped.
bool ParseFieldNumber(const std::string& text, long long min, long long max, long long& value);

// The message that refuses a field's text, naming the field and its range.
std::string FieldRangeMessage(const std::string& field, long long min, long long max);
