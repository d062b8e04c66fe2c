// Connect COMn, DisConnect and PortSettings: the window's Connect and
// DisConnect buttons and its Port Settings dialog, for scripts. They refuse
// with the window's texts; a refusal is a Tcl error, so a script stops or
// catches it.

#include "console/TclSessionCommands.h"

#include <string>

#include "console/TclCommands.h"
#include "console/TclHost.h"
#include "core/IUserPrompt.h"
#include "serial/PortMap.h"
#include "serial/PortSession.h"
#include "serial/SerialPort.h"

namespace {

int FailWithWindowText(Tcl_Interp* interp, std::string text)
{
    // The window's texts end in blanks that only its console needed.
    while (!text.empty() && text.back() == ' ')
        text.pop_back();
    Tcl_SetObjResult(interp, Tcl_NewStringObj(text.data(), static_cast<int>(text.size())));
    return TCL_ERROR;
}

// The refusal and the device's reason in one line.
std::string WithReason(const SResult& result)
{
    std::string text = result.message;
    while (!text.empty() && text.back() == ' ')
        text.pop_back();
    return result.reason.empty() ? text : text + ": " + result.reason;
}

CPortSession* Session(ClientData clientData)
{
    auto* owner = dynamic_cast<ITclSessionOwner*>(Context(clientData)->Owner());
    return owner ? &owner->Session() : nullptr;
}

int Succeed(Tcl_Interp* interp, const std::string& text)
{
    Tcl_SetObjResult(interp, Tcl_NewStringObj(text.data(), static_cast<int>(text.size())));
    return TCL_OK;
}

const char kNoSession[] = "Error : no port to open here";

} // namespace

// Connect COMn: opens the port and returns its name. Settings the device
// refuses at opening are told as the window tells them (a message), and the
// port stays open.
static int ConnectCmd(ClientData clientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    if (objc != 2)
        return FailWithWindowText(interp, "Error : wrong # args: should be \"Connect COMn\"");
    const std::string name = Tcl_GetString(objv[1]);
    const int n = CPortMap::PortNumber(name);
    if (n == 0)
        return FailWithWindowText(interp, "Error : unknown port \"" + name + "\": should be COM1 to COM8");
    CPortSession* session = Session(clientData);
    if (!session)
        return FailWithWindowText(interp, kNoSession);
    SResult settings;
    const SResult opened = session->Connect(n, settings);
    if (!opened.ok)
        return FailWithWindowText(interp, WithReason(opened));
    if (!settings.ok)
        if (ITclHostOwner* owner = Context(clientData)->Owner())
            owner->Prompt().ShowMessage(WithReason(settings), Context(clientData)->CancelSignal());
    return Succeed(interp, "COM" + std::to_string(n));
}

static int DisConnectCmd(ClientData clientData, Tcl_Interp* interp, int objc, Tcl_Obj* const[])
{
    if (objc != 1)
        return FailWithWindowText(interp, "Error : wrong # args: should be \"DisConnect\"");
    CPortSession* session = Session(clientData);
    if (!session)
        return FailWithWindowText(interp, kNoSession);
    int closed = 0;
    const SResult result = session->Disconnect(closed);
    return result.ok ? TCL_OK : FailWithWindowText(interp, result.message);
}

// PortSettings ?-baud n? ?-data 5..8? ?-parity p? ?-stop s? ?-flow f?:
// applies what is given over the line's settings and returns them in words
// ("115200 8N1 none"); with no option it only returns them.
static int PortSettingsCmd(ClientData clientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    const char kUsage[] = "Error : wrong # args: should be \"PortSettings ?-baud n? ?-data 5..8? "
                          "?-parity none|odd|even|mark|space? ?-stop 1|1.5|2? ?-flow none|xonxoff|rtscts?\"";
    if (objc % 2 == 0)
        return FailWithWindowText(interp, kUsage);
    SLineChoice choice;
    for (int i = 1; i < objc; i += 2) {
        const std::string option = Tcl_GetString(objv[i]);
        const std::string value = Tcl_GetString(objv[i + 1]);
        std::string error;
        bool ok = true;
        if (option == "-baud") {
            uint32_t baud = 0;
            ok = ParseBaudWord(value, baud, error);
            choice.baud = baud;
        } else if (option == "-data") {
            uint8_t data = 0;
            ok = ParseDataWord(value, data, error);
            choice.data = data;
        } else if (option == "-parity") {
            uint8_t parity = 0;
            ok = ParseParityWord(value, parity, error);
            choice.parity = parity;
        } else if (option == "-stop") {
            uint8_t stop = 0;
            ok = ParseStopWord(value, stop, error);
            choice.stop = stop;
        } else if (option == "-flow") {
            FlowControl flow = FlowControl::None;
            ok = ParseFlowWord(value, flow, error);
            choice.flow = flow;
        } else {
            return FailWithWindowText(interp, "Error : unknown option \"" + option + "\": should be -baud, -data, -parity, -stop or -flow");
        }
        if (!ok)
            return FailWithWindowText(interp, "Error : " + error);
    }
    CPortSession* session = Session(clientData);
    if (!session)
        return FailWithWindowText(interp, kNoSession);
    const SResult result = objc == 1 ? SResult::Success() : session->ChangeSettings(choice);
    DCB dcb;
    const SResult read = session->ReadSettings(dcb);
    if (!result.ok)
        return FailWithWindowText(interp, WithReason(result));
    if (!read.ok)
        return FailWithWindowText(interp, read.message);
    return Succeed(interp, DescribeLineSettings(dcb));
}

void RegisterSessionCommands(Tcl_Interp* interp, ITclCommandContext* context)
{
    Tcl_CreateObjCommand(interp, "Connect", ConnectCmd, context, nullptr);
    Tcl_CreateObjCommand(interp, "DisConnect", DisConnectCmd, context, nullptr);
    Tcl_CreateObjCommand(interp, "PortSettings", PortSettingsCmd, context, nullptr);
    AddHelpLine(interp, "Connect\t\t\t(opens a port: Connect COMn) \n");
    AddHelpLine(interp, "DisConnect\t\t(closes the open port) \n");
    AddHelpLine(interp, "PortSettings\t\t(sets or shows the line: PortSettings ?-baud n? ?-data 5..8? "
                        "?-parity none|odd|even|mark|space? ?-stop 1|1.5|2? ?-flow none|xonxoff|rtscts|dtrdsr?) \n");
}
