// The added commands that reach the serial engine: sending, send-and-collect
// and the read settings.

#include <algorithm>
#include <climits>
#include <cstdint>
#include <string>
#include <utility>

#include "core/CancelSignal.h"
#include "console/TclCommands.h"
#include "console/TclHost.h"
#include "serial/SerialPort.h"

namespace {

constexpr int kDefaultReadDelayMs = 200;
const char kNoPortError[] = "Error : No Port Open to send data out";
const char kNegativeDelayError[] = "Error : delay must not be negative";
const char kNegativeSizeError[] = "Error : buffer size must not be negative";

int Succeed(Tcl_Interp* interp, Tcl_Obj* result)
{
    Tcl_SetObjResult(interp, result);
    return TCL_OK;
}

bool Cancelled(ITclCommandContext* context)
{
    const CCancelSignal* cancel = context->CancelSignal();
    return cancel && cancel->IsCancelled();
}

// Text up to its first zero byte.
std::string UpToZero(std::string text)
{
    text.resize(std::min(text.size(), text.find('\0')));
    return text;
}

// The bytes of a command's text argument (none given: empty), up to the
// first zero byte. Tcl's own form of a string writes a zero character as the
// pair C0 80; converting to UTF-8 turns it back into a zero byte, so that
// nothing after it is sent. Other characters go out as UTF-8, as the console
// channel and the terminal pane send them.
std::string TextToSend(int objc, Tcl_Obj* const objv[])
{
    if (objc < 2)
        return std::string();
    int length = 0;
    const char* chars = Tcl_GetStringFromObj(objv[1], &length);
    Tcl_Encoding utf8 = Tcl_GetEncoding(nullptr, "utf-8");
    Tcl_DString bytes;
    Tcl_UtfToExternalDString(utf8, chars, length, &bytes);
    std::string text(Tcl_DStringValue(&bytes), static_cast<std::size_t>(Tcl_DStringLength(&bytes)));
    Tcl_DStringFree(&bytes);
    Tcl_FreeEncoding(utf8);
    return UpToZero(std::move(text));
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

} // namespace

// The engine keeps milliseconds and sizes as int.
bool ReadSetting(Tcl_Interp* interp, Tcl_Obj* arg, const char* what, const char* unit, const char* negativeError,
                 int& value)
{
    Tcl_WideInt wide = 0;
    if (Tcl_GetWideIntFromObj(interp, arg, &wide) != TCL_OK)
        return false;
    if (wide < 0) {
        Fail(interp, negativeError);
        return false;
    }
    if (wide > INT_MAX) {
        const std::string text = std::string("Error : ") + what + " must be from 0 to " + std::to_string(INT_MAX) +
                                 " " + unit + ", not " + Tcl_GetString(arg);
        Fail(interp, text);
        return false;
    }
    value = static_cast<int>(wide);
    return true;
}

namespace {

// Shared by SetVorlaReadDelay and SetVorlaInternalReadDelay: exactly one
// argument, a delay from 0 up. A refused argument changes nothing.
int SetDelay(ClientData clientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[], const char* missingError,
             void (CSerialPort::*setter)(int))
{
    if (objc != 2)
        return Fail(interp, missingError);
    int ms = 0;
    if (!ReadSetting(interp, objv[1], "delay", "ms", kNegativeDelayError, ms))
        return TCL_ERROR;
    if (CSerialPort* port = Engine(Context(clientData)))
        (port->*setter)(ms);
    return TCL_OK;
}

// A text that did not all go out: how much did, and why the rest did not.
int SendFailed(Tcl_Interp* interp, const SSendReport& report)
{
    const std::string text = "Error : sent " + std::to_string(report.sent) + " of " + std::to_string(report.total) +
                             " bytes: " + SendStatusText(report.status);
    return Fail(interp, text);
}

} // namespace

// Sends the argument's bytes up to the first zero byte, one at a time. When
// not every byte goes out the command fails, saying how many did and why, so
// that a script can catch it.
int SendOutCmd(ClientData clientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    ITclCommandContext* context = Context(clientData);
    CSerialPort* port = OpenEngine(context);
    if (!port)
        return Fail(interp, kNoPortError);
    const SSendReport sent = port->SendText(TextToSend(objc, objv), context->CancelSignal());
    if (Cancelled(context))
        return CancelledResult(interp);
    return sent.Complete() ? TCL_OK : SendFailed(interp, sent);
}

// Sends the argument, then returns what the device answered within the read
// delay, up to its first zero byte. A text that did not all go out fails as
// SendOut does, uncollected.
int SendOutRCmd(ClientData clientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    ITclCommandContext* context = Context(clientData);
    CSerialPort* port = OpenEngine(context);
    if (!port)
        return Fail(interp, kNoPortError);
    SSendReport sent;
    const std::string answer = UpToZero(port->SendAndCollect(TextToSend(objc, objv), context->CancelSignal(), &sent));
    if (Cancelled(context))
        return CancelledResult(interp);
    if (!sent.Complete())
        return SendFailed(interp, sent);
    return Succeed(interp, Tcl_NewStringObj(answer.data(), static_cast<int>(answer.size())));
}

int SetVorlaReadDelayCmd(ClientData clientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    return SetDelay(clientData, interp, objc, objv, "Error : parameter missing, example SetVorlaReadDelay 10",
                    &CSerialPort::SetReadDelay);
}

int SetVorlaInternalReadDelayCmd(ClientData clientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    return SetDelay(clientData, interp, objc, objv, "Error : parameter missing, example SetVorlaInternalReadDelay 10",
                    &CSerialPort::SetInternalReadDelay);
}

int GetVorlaReadDelayCmd(ClientData clientData, Tcl_Interp* interp, int, Tcl_Obj* const[])
{
    CSerialPort* port = Engine(Context(clientData));
    return port ? Succeed(interp, Tcl_NewIntObj(port->ReadDelay())) : TCL_OK;
}

int ResetVorlaReadDelayCmd(ClientData clientData, Tcl_Interp*, int, Tcl_Obj* const[])
{
    if (CSerialPort* port = Engine(Context(clientData)))
        port->SetReadDelay(kDefaultReadDelayMs);
    return TCL_OK;
}

// Empties the receive buffer and sets its capacity. A refused argument
// leaves both as they were; a negative number in particular would mean a
// buffer of about 4 GB as an unsigned count.
int SetReadBufferSizeCmd(ClientData clientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    if (objc != 2)
        return Fail(interp, "Error : parameter missing, example SetReadBufferSize 1000");
    int size = 0;
    if (!ReadSetting(interp, objv[1], "buffer size", "bytes", kNegativeSizeError, size))
        return TCL_ERROR;
    if (CSerialPort* port = Engine(Context(clientData)))
        port->ResizeReceiveBuffer(static_cast<uint32_t>(size));
    return TCL_OK;
}

int GetReadBufferSizeCmd(ClientData clientData, Tcl_Interp* interp, int, Tcl_Obj* const[])
{
    CSerialPort* port = Engine(Context(clientData));
    return port ? Succeed(interp, Tcl_NewWideIntObj(port->ReadBufferSize())) : TCL_OK;
}

int ResetReadBufferSizeCmd(ClientData clientData, Tcl_Interp*, int, Tcl_Obj* const[])
{
    if (CSerialPort* port = Engine(Context(clientData)))
        port->RestoreReceiveBufferSize();
    return TCL_OK;
}
