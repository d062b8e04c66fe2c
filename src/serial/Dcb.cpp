#include "serial/Dcb.h"

// The flag fields are packed by hand rather than copied out of the struct, so
// the word is the same whatever bit order a compiler gives bit fields.
uint32_t DcbFlagWord(const DCB& dcb)
{
    uint32_t word = 0;
    word |= uint32_t(dcb.fBinary) << 0;
    word |= uint32_t(dcb.fParity) << 1;
    word |= uint32_t(dcb.fOutxCtsFlow) << 2;
    word |= uint32_t(dcb.fOutxDsrFlow) << 3;
    word |= uint32_t(dcb.fDtrControl) << 4;
    word |= uint32_t(dcb.fDsrSensitivity) << 6;
    word |= uint32_t(dcb.fTXContinueOnXoff) << 7;
    word |= uint32_t(dcb.fOutX) << 8;
    word |= uint32_t(dcb.fInX) << 9;
    word |= uint32_t(dcb.fErrorChar) << 10;
    word |= uint32_t(dcb.fNull) << 11;
    word |= uint32_t(dcb.fRtsControl) << 12;
    word |= uint32_t(dcb.fAbortOnError) << 14;
    word |= uint32_t(dcb.fDummy2) << 15;
    return word;
}

void SetDcbFlagWord(DCB& dcb, uint32_t word)
{
    dcb.fBinary = (word >> 0) & 1u;
    dcb.fParity = (word >> 1) & 1u;
    dcb.fOutxCtsFlow = (word >> 2) & 1u;
    dcb.fOutxDsrFlow = (word >> 3) & 1u;
    dcb.fDtrControl = (word >> 4) & 3u;
    dcb.fDsrSensitivity = (word >> 6) & 1u;
    dcb.fTXContinueOnXoff = (word >> 7) & 1u;
    dcb.fOutX = (word >> 8) & 1u;
    dcb.fInX = (word >> 9) & 1u;
    dcb.fErrorChar = (word >> 10) & 1u;
    dcb.fNull = (word >> 11) & 1u;
    dcb.fRtsControl = (word >> 12) & 3u;
    dcb.fAbortOnError = (word >> 14) & 1u;
    dcb.fDummy2 = (word >> 15) & 0x1FFFFu;
}

const char* FrameProblem(const DCB& dcb)
{
    if (dcb.BaudRate == 0)
        return "a rate of 0 would hang up the line";
    if (dcb.ByteSize < 5 || dcb.ByteSize > 8)
        return "data bits must be 5 to 8";
    if (dcb.Parity > SPACEPARITY)
        return "unknown parity";
    if (dcb.StopBits > TWOSTOPBITS)
        return "unknown stop bits";
    // A UART sends 1.5 stop bits when asked for two with 5 data bits, and
    // cannot otherwise.
    if ((dcb.StopBits == ONE5STOPBITS) != (dcb.StopBits != ONESTOPBIT && dcb.ByteSize == 5))
        return dcb.StopBits == ONE5STOPBITS ? "1.5 stop bits need 5 data bits"
                                            : "2 stop bits are not available with 5 data bits";
    return nullptr;
}
