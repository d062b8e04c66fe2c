#include "serial/PortSettings.h"

#include <algorithm>
#include <cctype>
#include <climits>

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

int ParseDecimalPrefix(const char* text, std::size_t length)
{
    std::size_t i = 0;
    while (i < length && std::isspace(static_cast<unsigned char>(text[i])))
        ++i;
    bool negative = false;
    if (i < length && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    // The magnitude stops growing just past the int range, so any run of
    // digits is safe; the result is then clamped as the C library does.
    constexpr long long kCap = 1LL + INT_MAX;
    long long magnitude = 0;
    for (; i < length && text[i] >= '0' && text[i] <= '9'; ++i)
        magnitude = std::min(kCap, magnitude * 10 + (text[i] - '0'));
    const long long value = negative ? -magnitude : magnitude;
    return static_cast<int>(std::clamp<long long>(value, INT_MIN, INT_MAX));
}
