// The control-line commands: DTR, RTS, a DTR pulse, a break and the modem
// status, on the window's open port or, after "-i chan", on a serial channel
// that the script opened with Tcl's own open, so that one script can drive
// several devices.

#include <cctype>
#include <string>
#include <utility>

#include "core/CancelSignal.h"
#include "console/TclCommands.h"
#include "console/TclHost.h"
#include "serial/SerialLine.h"
#include "serial/SerialPort.h"

namespace {

constexpr int kDefaultBreakMs = 250;
const char kNegativeDurationError[] = "Error : duration must not be negative";

bool Cancelled(ITclCommandContext* context)
{
    const CCancelSignal* cancel = context->CancelSignal();
    return cancel && cancel->IsCancelled();
}

// A command's form: its usage line, how many values follow the options, and
// its error when no port is open.
struct SCommandForm {
    const char* usage;
    int minValues;
    int maxValues;
    const char* noPortError;
};

// The channel named after -i; none means the window's open port.
struct STarget {
    Tcl_Channel channel = nullptr;
    std::string name;
};

// Reads "?-i chan?" and checks how many values follow. Returns the index of
// the first value, or -1 with the error set; nothing has been done then.
int ReadTarget(Tcl_Interp* interp, int objc, Tcl_Obj* const objv[], const SCommandForm& form, STarget& target)
{
    int first = 1;
    if (objc > 1) {
        const std::string word = Tcl_GetString(objv[1]);
        if (word == "-i") {
            first = 3;
        } else if (word.size() > 1 && word[0] == '-' && !std::isdigit(static_cast<unsigned char>(word[1]))) {
            Fail(interp, "Error : unknown option \"" + word + "\": should be -i chan");
            return -1;
        }
    }
    const int values = objc - first;
    if (values < form.minValues || values > form.maxValues) {
        Fail(interp, std::string("Error : wrong # args: should be \"") + form.usage + "\"");
        return -1;
    }
    if (first == 3) {
        target.name = Tcl_GetString(objv[2]);
        target.channel = Tcl_GetChannel(interp, target.name.c_str(), nullptr);
        if (!target.channel)
            return -1;
    }
    return first;
}

bool ReadLevel(Tcl_Interp* interp, Tcl_Obj* arg, bool& asserted)
{
    int level = -1;
    if (Tcl_GetIntFromObj(nullptr, arg, &level) != TCL_OK || (level != 0 && level != 1)) {
        Fail(interp, std::string("Error : level must be 0 or 1, not \"") + Tcl_GetString(arg) + "\"");
        return false;
    }
    asserted = level == 1;
    return true;
}

bool ReadDuration(Tcl_Interp* interp, Tcl_Obj* arg, int& ms)
{
    return ReadSetting(interp, arg, "duration", "ms", kNegativeDurationError, ms);
}

// Sleeps ms milliseconds unless the evaluation is cancelled first.
void Sleep(ITclCommandContext* context, int ms)
{
    CCancelSignal never;
    const CCancelSignal* cancel = context->CancelSignal();
    (cancel ? *cancel : never).WaitFor(ms);
}

// The open port's engine and its name for messages; null when no port is open.
CSerialPort* OpenEngine(ITclCommandContext* context, std::string& portName)
{
    ITclHostOwner* owner = context->Owner();
    const int port = owner ? owner->OpenPort() : 0;
    if (port == 0)
        return nullptr;
    portName = "COM" + std::to_string(port);
    return &owner->SerialPort();
}

// What the engine made of a request, as the command's result.
int EngineResult(Tcl_Interp* interp, ITclCommandContext* context, const std::string& portName, const SResult& result)
{
    if (Cancelled(context))
        return CancelledResult(interp);
    if (result.ok)
        return TCL_OK;
    std::string text = "Error : " + result.message;
    if (!result.reason.empty())
        text += " (" + portName + ": " + result.reason + ")";
    return Fail(interp, text);
}

// Tcl's -ttystatus tells a serial channel from the others (which get Tcl's
// own error), but it does not check that the device has modem lines: on a
// pseudo-terminal it reports whatever its variable held. So the lines are
// read here, from the channel's device.
bool ReadChannelLines(Tcl_Interp* interp, const STarget& target, SModemLines& lines)
{
    Tcl_DString status;
    Tcl_DStringInit(&status);
    const int code = Tcl_GetChannelOption(interp, target.channel, "-ttystatus", &status);
    Tcl_DStringFree(&status);
    if (code != TCL_OK)
        return false;
    ClientData handle = nullptr;
    if (Tcl_GetChannelHandle(target.channel, TCL_READABLE, &handle) != TCL_OK &&
        Tcl_GetChannelHandle(target.channel, TCL_WRITABLE, &handle) != TCL_OK) {
        Fail(interp, "Error : the channel " + target.name + " has no device");
        return false;
    }
    std::string reason;
    const CSerialLine::EControl r = ReadModemLinesOf(handle, lines, reason);
    if (r == CSerialLine::EControl::Done)
        return true;
    const char* what = r == CSerialLine::EControl::Unsupported ? "the device has no modem lines"
                                                                : "Unable to read the modem lines";
    Fail(interp, std::string("Error : ") + what + " (" + target.name + ": " + reason + ")");
    return false;
}

// signal is DTR, RTS or BREAK, as Tcl's -ttycontrol names them.
bool SetChannelControl(Tcl_Interp* interp, const STarget& target, const char* signal, bool on)
{
    const std::string value = std::string(signal) + (on ? " 1" : " 0");
    return Tcl_SetChannelOption(interp, target.channel, "-ttycontrol", value.c_str()) == TCL_OK;
}

int SetOutput(ClientData clientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[], const SCommandForm& form,
              const char* signal, SResult (CSerialPort::*set)(bool))
{
    ITclCommandContext* context = Context(clientData);
    STarget target;
    const int first = ReadTarget(interp, objc, objv, form, target);
    bool asserted = false;
    if (first < 0 || !ReadLevel(interp, objv[first], asserted))
        return TCL_ERROR;
    if (target.channel) {
        SModemLines lines;
        if (!ReadChannelLines(interp, target, lines) || !SetChannelControl(interp, target, signal, asserted))
            return TCL_ERROR;
        return TCL_OK;
    }
    std::string portName;
    CSerialPort* port = OpenEngine(context, portName);
    if (!port)
        return Fail(interp, form.noPortError);
    return EngineResult(interp, context, portName, (port->*set)(asserted));
}

} // namespace

int SetDTRCmd(ClientData clientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    static const SCommandForm form{"SetDTR ?-i chan? 0|1", 1, 1, "Error : No Port Open to set DTR"};
    return SetOutput(clientData, interp, objc, objv, form, "DTR", &CSerialPort::SetDtr);
}

int SetRTSCmd(ClientData clientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    static const SCommandForm form{"SetRTS ?-i chan? 0|1", 1, 1, "Error : No Port Open to set RTS"};
    return SetOutput(clientData, interp, objc, objv, form, "RTS", &CSerialPort::SetRts);
}

// Turns DTR over for ms and back, as tio's pulse does: from the asserted
// level an open port has, DTR drops for ms and rises again (the reset pulse
// of ESP32-style boards).
int PulseDTRCmd(ClientData clientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    static const SCommandForm form{"PulseDTR ?-i chan? ms", 1, 1, "Error : No Port Open to pulse DTR"};
    ITclCommandContext* context = Context(clientData);
    STarget target;
    const int first = ReadTarget(interp, objc, objv, form, target);
    int ms = 0;
    if (first < 0 || !ReadDuration(interp, objv[first], ms))
        return TCL_ERROR;
    if (target.channel) {
        SModemLines lines;
        if (!ReadChannelLines(interp, target, lines) || !SetChannelControl(interp, target, "DTR", !lines.dtr))
            return TCL_ERROR;
        Sleep(context, ms);
        const bool restored = SetChannelControl(interp, target, "DTR", lines.dtr); // also after a cancel
        if (Cancelled(context))
            return CancelledResult(interp);
        return restored ? TCL_OK : TCL_ERROR;
    }
    std::string portName;
    CSerialPort* port = OpenEngine(context, portName);
    if (!port)
        return Fail(interp, form.noPortError);
    return EngineResult(interp, context, portName, port->PulseDtr(ms, context->CancelSignal()));
}

int SendBreakCmd(ClientData clientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    static const SCommandForm form{"SendBreak ?-i chan? ?ms?", 0, 1, "Error : No Port Open to send a break"};
    ITclCommandContext* context = Context(clientData);
    STarget target;
    const int first = ReadTarget(interp, objc, objv, form, target);
    int ms = kDefaultBreakMs;
    if (first < 0 || (first < objc && !ReadDuration(interp, objv[first], ms)))
        return TCL_ERROR;
    if (target.channel) {
        if (!SetChannelControl(interp, target, "BREAK", true))
            return TCL_ERROR;
        Sleep(context, ms);
        const bool ended = SetChannelControl(interp, target, "BREAK", false); // also after a cancel
        if (Cancelled(context))
            return CancelledResult(interp);
        return ended ? TCL_OK : TCL_ERROR;
    }
    std::string portName;
    CSerialPort* port = OpenEngine(context, portName);
    if (!port)
        return Fail(interp, form.noPortError);
    return EngineResult(interp, context, portName, port->SendBreak(ms, context->CancelSignal()));
}

// Returns a dict: CTS, DSR, RI and DCD (the inputs), then DTR and RTS, each 0 or 1.
int GetModemLinesCmd(ClientData clientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    static const SCommandForm form{"GetModemLines ?-i chan?", 0, 0, "Error : No Port Open to read the modem lines"};
    ITclCommandContext* context = Context(clientData);
    STarget target;
    if (ReadTarget(interp, objc, objv, form, target) < 0)
        return TCL_ERROR;
    SModemLines lines;
    if (target.channel) {
        if (!ReadChannelLines(interp, target, lines))
            return TCL_ERROR;
    } else {
        std::string portName;
        CSerialPort* port = OpenEngine(context, portName);
        if (!port)
            return Fail(interp, form.noPortError);
        if (EngineResult(interp, context, portName, port->ReadModemLines(lines)) != TCL_OK)
            return TCL_ERROR;
    }
    const std::pair<const char*, bool> entries[] = {{"CTS", lines.cts}, {"DSR", lines.dsr}, {"RI", lines.ri},
                                                    {"DCD", lines.dcd}, {"DTR", lines.dtr}, {"RTS", lines.rts}};
    Tcl_Obj* dict = Tcl_NewDictObj();
    for (const auto& entry : entries)
        Tcl_DictObjPut(nullptr, dict, Tcl_NewStringObj(entry.first, -1), Tcl_NewIntObj(entry.second ? 1 : 0));
    Tcl_SetObjResult(interp, dict);
    return TCL_OK;
}
