// The port commands: ListPorts says where each COM name leads, WaitForPort
// waits until a port whose device went away is open again (Config >
// Reconnect Automatically).

#include <climits>
#include <cmath>
#include <string>

#include "console/TclCommands.h"
#include "console/TclHost.h"
#include "serial/PortMap.h"
#include "serial/PortReconnect.h"

namespace {

Tcl_Obj* NewString(const std::string& text) { return Tcl_NewStringObj(text.data(), static_cast<int>(text.size())); }

ITclPortOwner* PortOwner(ClientData clientData)
{
    return dynamic_cast<ITclPortOwner*>(Context(clientData)->Owner());
}

const char* SourceWord(CPortMap::ESource source)
{
    switch (source) {
    case CPortMap::ESource::Argument: return "argument";
    case CPortMap::ESource::Environment: return "environment";
    case CPortMap::ESource::Present: return "found";
    case CPortMap::ESource::Plugged: return "plugged";
    case CPortMap::ESource::Demo: return "demo";
    case CPortMap::ESource::None: break;
    }
    return "none";
}

} // namespace

// A list of eight dicts, COM1 first, each with the keys name, path (where the
// name leads: a by-id link where the device has one), device (the device
// node), present (0 or 1), description (maker, product and serial number of
// a USB device) and source (argument, environment, found, plugged, demo or
// none). An unmapped name has an empty path and present 0.
int ListPortsCmd(ClientData clientData, Tcl_Interp* interp, int objc, Tcl_Obj* const[])
{
    if (objc != 1)
        return Fail(interp, "Error : wrong # args: should be \"ListPorts\"");
    ITclPortOwner* owner = PortOwner(clientData);
    if (!owner)
        return Fail(interp, "Error : no port list (VORLA's window is not there)");
    Tcl_Obj* list = Tcl_NewListObj(0, nullptr);
    for (int n = 1; n <= CPortMap::kPortCount; ++n) {
        const CPortMap::SEntry entry = owner->Ports().Entry(n);
        const bool present = !entry.path.empty() && entry.present;
        Tcl_Obj* dict = Tcl_NewDictObj();
        auto put = [&](const char* key, Tcl_Obj* value) { Tcl_DictObjPut(interp, dict, Tcl_NewStringObj(key, -1), value); };
        put("name", NewString("COM" + std::to_string(n)));
        put("path", NewString(entry.path));
        put("device", NewString(entry.node.empty() ? entry.path : entry.node));
        put("present", Tcl_NewBooleanObj(present));
        put("description", NewString(entry.description));
        put("source", Tcl_NewStringObj(SourceWord(entry.source), -1));
        Tcl_ListObjAppendElement(interp, list, dict);
    }
    Tcl_SetObjResult(interp, list);
    return TCL_OK;
}

// WaitForPort ?-timeout seconds?: returns the port's name ("COM3") once it
// is open: at once when it is, after the reconnect when its device went
// away. Fails when no port is open or waiting, when DisConnect ends the
// wait, and after the time-out; Ctrl+Break cancels it.
int WaitForPortCmd(ClientData clientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    const char kUsage[] = "Error : wrong # args: should be \"WaitForPort ?-timeout seconds?\"";
    int timeoutMs = -1;
    std::string timeoutText;
    if (objc == 3 && std::string(Tcl_GetString(objv[1])) == "-timeout") {
        double seconds = 0;
        timeoutText = Tcl_GetString(objv[2]);
        if (Tcl_GetDoubleFromObj(nullptr, objv[2], &seconds) != TCL_OK || !std::isfinite(seconds) || seconds < 0)
            return Fail(interp, "Error : -timeout expects a number of seconds from 0 up, got \"" + timeoutText + "\"");
        timeoutMs = seconds * 1000.0 >= INT_MAX ? INT_MAX : static_cast<int>(std::lround(seconds * 1000.0));
    } else if (objc == 2 || objc == 3) {
        const std::string word = Tcl_GetString(objv[1]);
        if (word != "-timeout")
            return Fail(interp, "Error : unknown option \"" + word + "\": should be -timeout seconds");
        return Fail(interp, kUsage);
    } else if (objc != 1) {
        return Fail(interp, kUsage);
    }
    ITclPortOwner* owner = PortOwner(clientData);
    if (!owner)
        return Fail(interp, "Error : no port to wait for (VORLA's window is not there)");
    const CCancelSignal* cancel = Context(clientData)->CancelSignal();
    int port = 0;
    const CPortReconnect::EWait result = owner->Reconnect().WaitForPort(timeoutMs, cancel, port);
    const std::string name = "COM" + std::to_string(port);
    switch (result) {
    case CPortReconnect::EWait::Open:
        Tcl_SetObjResult(interp, NewString(name));
        return TCL_OK;
    case CPortReconnect::EWait::Cancelled:
        return CancelledResult(interp);
    case CPortReconnect::EWait::TimedOut:
        return Fail(interp, "Error : " + name + " did not come back within " + timeoutText + " s");
    case CPortReconnect::EWait::Ended:
        break;
    }
    if (port == 0)
        return Fail(interp, "Error : no port is open or waiting for its device");
    return Fail(interp, "Error : " + name + " is closed and not waiting for its device "
                        "(DisConnect, or Config > Reconnect Automatically is off)");
}
