#include "serial/PortSettings.h"

#include <algorithm>
#include <cctype>

namespace {

int IndexOf(const uint32_t* values, int count, uint32_t value)
{
    for (int i = 0; i < count; ++i)
        if (values[i] == value)
            return i;
    return -1;
}

} // namespace

int PortIndex(int port)
{
    return port >= 0 && port < kPortCount ? port : -1;
}

int BaudIndex(uint32_t rate)
{
    return IndexOf(kBaudRates, kBaudCount, rate);
}

int DataIndex(uint8_t byteSize)
{
    for (int i = 0; i < kDataCount; ++i)
        if (kByteSizes[i] == byteSize)
            return i;
    return -1;
}

int ParityIndex(uint8_t parity)
{
    return parity < kParityCount ? parity : -1;
}

int StopBitIndex(uint8_t stopBits)
{
    return stopBits < kStopBitCount ? stopBits : -1;
}

const char* PortLabel(int port)
{
    return PortIndex(port) >= 0 ? kPortLabels[port] : kUndefLabel;
}

const char* FlowControlLabel(FlowControl choice)
{
    const int i = static_cast<int>(choice);
    return i >= 0 && i < kFlowControlCount ? kFlowControlLabels[i] : nullptr;
}

std::string DescribeLineSettings(const DCB& dcb)
{
    static const char kParityLetters[] = "NOEMS";
    static const char* const kStopBits[] = {"1", "1.5", "2"};
    std::string text = std::to_string(dcb.BaudRate) + " " + std::to_string(dcb.ByteSize);
    text += dcb.Parity < 5 ? kParityLetters[dcb.Parity] : '?';
    text += dcb.StopBits < 3 ? kStopBits[dcb.StopBits] : "?";
    const bool rtsCts = dcb.fOutxCtsFlow || dcb.fRtsControl == RTS_CONTROL_HANDSHAKE;
    const bool xonXoff = dcb.fOutX || dcb.fInX;
    if (rtsCts)
        text += " RTS/CTS";
    if (xonXoff)
        text += " XON/XOFF";
    if (!rtsCts && !xonXoff)
        text += " none";
    return text;
}

bool ApplyFlowControlPreset(const DCB& record, FlowControl choice, DCB& engineBlock)
{
    const int i = static_cast<int>(choice);
    if (i < 0 || i >= kFlowControlCount)
        return false;
    engineBlock = record;
    if (choice == FlowControl::Advanced)
        return true;
    // Field by field rather than through the flag word, so bits 15..31
    // (fDummy2) are never touched whatever the compiler's bit-field layout.
    const CFlowPreset& p = kFlowPresets[i];
    engineBlock.fBinary = p.fBinary;
    engineBlock.fParity = p.fParity;
    engineBlock.fOutxCtsFlow = p.fOutxCtsFlow;
    engineBlock.fOutxDsrFlow = p.fOutxDsrFlow;
    engineBlock.fDtrControl = p.fDtrControl;
    engineBlock.fDsrSensitivity = p.fDsrSensitivity;
    engineBlock.fTXContinueOnXoff = p.fTXContinueOnXoff;
    engineBlock.fOutX = p.fOutX;
    engineBlock.fInX = p.fInX;
    engineBlock.fErrorChar = p.fErrorChar;
    engineBlock.fNull = p.fNull;
    engineBlock.fRtsControl = p.fRtsControl;
    engineBlock.fAbortOnError = p.fAbortOnError;
    return true;
}

bool ParseFieldNumber(const std::string& text, long long min, long long max, long long& value)
{
    auto blank = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
    std::size_t begin = 0, end = text.size();
    while (begin < end && blank(text[begin]))
        ++begin;
    while (end > begin && blank(text[end - 1]))
        --end;
    long long number = 0;
    if (begin < end) {
        bool negative = false;
        if (text[begin] == '+' || text[begin] == '-')
            negative = text[begin++] == '-';
        if (begin == end)
            return false;
        // The magnitude stops growing past any field's range, so a long run
        // of digits cannot overflow; it is then simply out of range.
        constexpr long long kCap = 1LL << 40;
        for (std::size_t i = begin; i < end; ++i) {
            if (text[i] < '0' || text[i] > '9')
                return false;
            number = std::min(kCap, number * 10 + (text[i] - '0'));
        }
        if (negative)
            number = -number;
    }
    if (number < min || number > max)
        return false;
    value = number;
    return true;
}

std::string FieldRangeMessage(const std::string& field, long long min, long long max)
{
    return field + " must be a whole number from " + std::to_string(min) + " to " + std::to_string(max) + ".";
}
