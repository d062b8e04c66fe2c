#pragma once

#include <cstdint>

// The serial control block: every field of the Windows DCB, in its order and
// bit layout, so that settings read from a port, edited in the dialogs and
// applied again keep every field. The Linux layer maps what the line knows and
// keeps the rest.
struct DCB {
    uint32_t DCBlength = sizeof(DCB);
    uint32_t BaudRate = 0;
    uint32_t fBinary : 1;
    uint32_t fParity : 1;
    uint32_t fOutxCtsFlow : 1;
    uint32_t fOutxDsrFlow : 1;
    uint32_t fDtrControl : 2;
    uint32_t fDsrSensitivity : 1;
    uint32_t fTXContinueOnXoff : 1;
    uint32_t fOutX : 1;
    uint32_t fInX : 1;
    uint32_t fErrorChar : 1;
    uint32_t fNull : 1;
    uint32_t fRtsControl : 2;
    uint32_t fAbortOnError : 1;
    uint32_t fDummy2 : 17;
    uint16_t wReserved = 0;
    uint16_t XonLim = 0;
    uint16_t XoffLim = 0;
    uint8_t ByteSize = 8;
    uint8_t Parity = 0;
    uint8_t StopBits = 0;
    char XonChar = 0x11;
    char XoffChar = 0x13;
    char ErrorChar = 0;
    char EofChar = 0;
    char EvtChar = 0;
    uint16_t wReserved1 = 0;

    DCB()
        : fBinary(1), fParity(0), fOutxCtsFlow(0), fOutxDsrFlow(0), fDtrControl(1), fDsrSensitivity(0),
          fTXContinueOnXoff(1), fOutX(0), fInX(0), fErrorChar(0), fNull(0), fRtsControl(1), fAbortOnError(0),
          fDummy2(0)
    {
    }
};

static_assert(sizeof(DCB) == 28, "the control block keeps the 28-byte layout");

enum : uint32_t {
    DTR_CONTROL_DISABLE = 0,
    DTR_CONTROL_ENABLE = 1,
    DTR_CONTROL_HANDSHAKE = 2,
    RTS_CONTROL_DISABLE = 0,
    RTS_CONTROL_ENABLE = 1,
    RTS_CONTROL_HANDSHAKE = 2,
    RTS_CONTROL_TOGGLE = 3
};

enum : uint8_t { NOPARITY = 0, ODDPARITY = 1, EVENPARITY = 2, MARKPARITY = 3, SPACEPARITY = 4 };
enum : uint8_t { ONESTOPBIT = 0, ONE5STOPBITS = 1, TWOSTOPBITS = 2 };

// The 32-bit word that holds the flag fields, lowest bit first.
uint32_t DcbFlagWord(const DCB& dcb);
void SetDcbFlagWord(DCB& dcb, uint32_t word);

// The reason no UART can put this rate and frame on the wire, or null.
// Each platform checks it before it asks the driver, whose own refusal
// would say less ("the parameter is incorrect").
const char* FrameProblem(const DCB& dcb);
