// The added commands that reach the serial engine: sending, send-and-collect
// and the read settings.

#include <cstdint>
#include <string>

#include "app/CancelSignal.h"
#include "console/TclCommands.h"
#include "console/TclHost.h"
#include "serial/SerialPort.h"

namespace {

constexpr int kDefaultReadDelayMs = 200;
const char kNoPortError[] = "Error : No Port Open to send data out";
const char kNegativeDelayError[] = "Error : delay must not be negative";
const char kNegativeSizeError[] = "Error : buffer size must not be negative";

ITclCommandContext* Context(ClientData clientData) { return static_cast<ITclCommandContext*>(clientData); }

int Fail(Tcl_Interp* interp, const char* text)
{
    Tcl_SetResult(interp, const_cast<char*>(text), TCL_VOLATILE);
    return TCL_ERROR;
}

int Succeed(Tcl_Interp* interp, const std::string& text)
{
    Tcl_SetResult(interp, const_cast<char*>(text.c_str()), TCL_VOLATILE);
    return TCL_OK;
}

bool Cancelled(ITclCommandContext* context)
{
    const CCancelSignal* cancel = context->CancelSignal();
    return cancel && cancel->IsCancelled();
}

// The bytes of a command's text argument (none given: empty), up to the
// first zero byte. Tcl hands string commands its internal form, in which a
// zero character is the pair C0 80; converting to UTF-8 turns it back into a
// zero byte, so that nothing after it is sent. Other characters go out as
// UTF-8, as the console channel and the terminal pane send them.
std::string TextToSend(int argc, const char** argv)
{
    if (argc < 2 || !argv[1])
        return std::string();
    Tcl_Encoding utf8 = Tcl_GetEncoding(nullptr, "utf-8");
    Tcl_DString bytes;
    Tcl_UtfToExternalDString(utf8, argv[1], -1, &bytes);
    // A std::string built from the C text ends at the first zero byte.
    std::string text(Tcl_DStringValue(&bytes));
    Tcl_DStringFree(&bytes);
    Tcl_FreeEncoding(utf8);
    return text;
}

// The engine, when a port is open; null otherwise.
CSerialPort* OpenEngine(ITclCommandContext* context)
{
    ITclHostOwner* owner = context->Owner();
    if (!owner || owner->OpenPort() == 0)
        return nullptr;
    return &owner->SerialPort();
}

// The engine for the settings commands, which work with or without a port.
CSerialPort* Engine(ITclCommandContext* context)
{
    ITclHostOwner* owner = context->Owner();
    return owner ? &owner->SerialPort() : nullptr;
}

// Shared by SetVorlaReadDelay and SetVorlaInternalReadDelay: exactly one
// argument, a delay from 0 up.
int SetDelay(ClientData clientData, Tcl_Interp* interp, int argc, const char** argv, const char* missingError,
             void (CSerialPort::*setter)(int))
{
    if (argc != 2)
        return Fail(interp, missingError);
    int ms = ParseTclNumber(argv[1]);
    if (ms < 0)
        return Fail(interp, kNegativeDelayError);
    if (CSerialPort* port = Engine(Context(clientData)))
        (port->*setter)(ms);
    return TCL_OK;
}

} // namespace

// Sends the argument's bytes up to the first zero byte, one at a time.
int SendOutCmd(ClientData clientData, Tcl_Interp* interp, int argc, const char** argv)
{
    ITclCommandContext* context = Context(clientData);
    CSerialPort* port = OpenEngine(context);
    if (!port)
        return Fail(interp, kNoPortError);
    for (unsigned char b : TextToSend(argc, argv)) {
        port->SendByte(b, context->CancelSignal());
        if (Cancelled(context))
            return CancelledResult(interp);
    }
    return TCL_OK;
}

// Sends the argument, then returns what the device answered within the read delay.
int SendOutRCmd(ClientData clientData, Tcl_Interp* interp, int argc, const char** argv)
{
    ITclCommandContext* context = Context(clientData);
    CSerialPort* port = OpenEngine(context);
    if (!port)
        return Fail(interp, kNoPortError);
    std::string answer = port->SendAndCollect(TextToSend(argc, argv), context->CancelSignal());
    if (Cancelled(context))
        return CancelledResult(interp);
    return Succeed(interp, answer);
}

int SetVorlaReadDelayCmd(ClientData clientData, Tcl_Interp* interp, int argc, const char** argv)
{
    return SetDelay(clientData, interp, argc, argv, "Error : parameter missing, example SetVorlaReadDelay 10",
                    &CSerialPort::SetReadDelay);
}

int SetVorlaInternalReadDelayCmd(ClientData clientData, Tcl_Interp* interp, int argc, const char** argv)
{
    return SetDelay(clientData, interp, argc, argv, "Error : parameter missing, example SetVorlaInternalReadDelay 10",
                    &CSerialPort::SetInternalReadDelay);
}

int GetVorlaReadDelayCmd(ClientData clientData, Tcl_Interp* interp, int, const char**)
{
    CSerialPort* port = Engine(Context(clientData));
    return port ? Succeed(interp, std::to_string(port->ReadDelay())) : TCL_OK;
}

int ResetVorlaReadDelayCmd(ClientData clientData, Tcl_Interp* interp, int, const char**)
{
    if (CSerialPort* port = Engine(Context(clientData)))
        port->SetReadDelay(kDefaultReadDelayMs);
    return TCL_OK;
}

// Empties the receive buffer and sets its capacity. A negative number is
// refused: as an unsigned count it would mean a buffer of about 4 GB.
int SetReadBufferSizeCmd(ClientData clientData, Tcl_Interp* interp, int argc, const char** argv)
{
    if (argc != 2)
        return Fail(interp, "Error : parameter missing, example SetReadBufferSize 1000");
    int size = ParseTclNumber(argv[1]);
    if (size < 0)
        return Fail(interp, kNegativeSizeError);
    if (CSerialPort* port = Engine(Context(clientData)))
        port->ResizeReceiveBuffer(static_cast<uint32_t>(size));
    return TCL_OK;
}

int GetReadBufferSizeCmd(ClientData clientData, Tcl_Interp* interp, int, const char**)
{
    CSerialPort* port = Engine(Context(clientData));
    return port ? Succeed(interp, std::to_string(port->ReadBufferSize())) : TCL_OK;
}

int ResetReadBufferSizeCmd(ClientData clientData, Tcl_Interp* interp, int, const char**)
{
    if (CSerialPort* port = Engine(Context(clientData)))
        port->RestoreReceiveBufferSize();
    return TCL_OK;
}
