// The session-log commands: LogStart path ?-timestamps? ?-sent? ?-raw?
// ?-append?, LogStop, LogStatus.

#include "console/TclLogCommands.h"

#include <cstring>
#include <string>

#include "console/TclCommands.h"
#include "console/TclHost.h"
#include "log/SessionLog.h"

namespace {

CSessionLog* Log(ClientData clientData)
{
    auto* owner = dynamic_cast<ITclLogOwner*>(Context(clientData)->Owner());
    return owner ? &owner->SessionLog() : nullptr;
}

std::string Message(const SResult& result)
{
    return "Error : " + result.message + (result.reason.empty() ? "" : ": " + result.reason);
}

} // namespace

// Starts logging the open port to the file. The options may come in any
// order; -raw (bytes exactly as received) takes neither -timestamps nor
// -sent. Fails, with nothing started, when no port is open, a log runs, or
// the file cannot be opened (the system's reason follows the message).
int LogStartCmd(ClientData clientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    static const char kUsage[] = "Error : wrong # args: should be \"LogStart path ?-timestamps? ?-sent? ?-raw? ?-append?\"";
    if (objc < 2)
        return Fail(interp, kUsage);
    SLogOptions options;
    for (int i = 2; i < objc; ++i) {
        const char* word = Tcl_GetString(objv[i]);
        if (std::strcmp(word, "-timestamps") == 0)
            options.timestamps = true;
        else if (std::strcmp(word, "-sent") == 0)
            options.sent = true;
        else if (std::strcmp(word, "-raw") == 0)
            options.raw = true;
        else if (std::strcmp(word, "-append") == 0)
            options.append = true;
        else
            return Fail(interp, std::string("Error : bad option \"") + word +
                                    "\": must be -timestamps, -sent, -raw or -append");
    }
    if (options.raw && (options.timestamps || options.sent))
        return Fail(interp, "Error : -raw logs received bytes exactly: it takes neither -timestamps nor -sent");
    CSessionLog* log = Log(clientData);
    ITclHostOwner* owner = Context(clientData)->Owner();
    if (!log || !owner)
        return Fail(interp, "Error : no session log here");
    if (owner->OpenPort() == 0)
        return Fail(interp, "Error : No Port Open to log");
    Tcl_DString native;
    const char* path = Tcl_TranslateFileName(interp, Tcl_GetString(objv[1]), &native);
    if (!path)
        return TCL_ERROR; // Tcl's message (e.g. an unknown user after ~)
    const std::string file(path);
    Tcl_DStringFree(&native);
    const SResult started = log->Start(file, options);
    if (!started.ok)
        return Fail(interp, Message(started));
    // The port may have closed meanwhile: a log that cannot run is not left behind.
    if (owner->OpenPort() == 0) {
        log->Stop();
        return Fail(interp, "Error : No Port Open to log");
    }
    return TCL_OK;
}

// Stops the log and closes its file; fails with the reason when writing it
// failed. Without a log it does nothing.
int LogStopCmd(ClientData clientData, Tcl_Interp* interp, int objc, Tcl_Obj* const[])
{
    if (objc != 1)
        return Fail(interp, "Error : wrong # args: should be \"LogStop\"");
    CSessionLog* log = Log(clientData);
    if (!log)
        return TCL_OK;
    const SResult stopped = log->Stop();
    return stopped.ok ? TCL_OK : Fail(interp, Message(stopped));
}

// A running log's path and the bytes written to it so far, as a list; empty
// when no log runs.
int LogStatusCmd(ClientData clientData, Tcl_Interp* interp, int objc, Tcl_Obj* const[])
{
    if (objc != 1)
        return Fail(interp, "Error : wrong # args: should be \"LogStatus\"");
    CSessionLog* log = Log(clientData);
    if (!log)
        return TCL_OK;
    const CSessionLog::SStatus status = log->Status();
    if (!status.running)
        return TCL_OK;
    Tcl_Obj* items[2] = {Tcl_NewStringObj(status.path.data(), static_cast<int>(status.path.size())),
                         Tcl_NewWideIntObj(static_cast<Tcl_WideInt>(status.bytesWritten))};
    Tcl_SetObjResult(interp, Tcl_NewListObj(2, items));
    return TCL_OK;
}
