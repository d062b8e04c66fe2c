#pragma once

// The commands added to the working interpreter, and what they reach.

#include <string>

#include <tcl.h>

class CCancelSignal;
class CPortMap;
class CPortReconnect;
class IConsole;
class ITclHostOwner;

// What the added commands and the console channel reach while they run on
// the Tcl thread. Implemented by the interpreter host.
class ITclCommandContext {
public:
    virtual ~ITclCommandContext() = default;
    // Prints into the attached console pane; nothing once shut-down has begun.
    virtual void Print(const std::string& text, int kind) = 0;
    // The attached console pane and main window, or null (none attached yet,
    // or shut-down has begun).
    virtual IConsole* Console() = 0;
    virtual ITclHostOwner* Owner() = 0;
    // Set when the running evaluation is cancelled or the host shuts down;
    // every wait inside a command passes it on.
    virtual const CCancelSignal* CancelSignal() = 0;
};

// The context an added command was registered with.
inline ITclCommandContext* Context(ClientData clientData) { return static_cast<ITclCommandContext*>(clientData); }
// Leaves `text` as the command's error result; returns TCL_ERROR.
int Fail(Tcl_Interp* interp, const std::string& text);

// Registers the added commands on interp, in their fixed order.
void RegisterTclCommands(Tcl_Interp* interp, ITclCommandContext* context);
// A line `help` prints after the fixed ones (before help and exit), for
// commands only one front end has; `line` ends with a line feed.
void AddHelpLine(Tcl_Interp* interp, const std::string& line);

// For a command whose wait was cut short by a cancel: leaves Tcl's own
// cancellation error as the result and returns TCL_ERROR.
int CancelledResult(Tcl_Interp* interp);

// Reads a command's argument as a Tcl integer from 0 to INT_MAX. Text that
// is no integer gets Tcl's own error, a negative number `negativeError`, a
// larger one a message naming the argument (`what`, in `unit`) and the range.
// Returns false with the error set. (TclSerialCommands.cpp)
bool ReadSetting(Tcl_Interp* interp, Tcl_Obj* arg, const char* what, const char* unit, const char* negativeError,
                 int& value);

// The serial commands (TclSerialCommands.cpp).
Tcl_ObjCmdProc SendOutCmd;
Tcl_ObjCmdProc SendOutRCmd;
Tcl_ObjCmdProc SetVorlaReadDelayCmd;
Tcl_ObjCmdProc GetVorlaReadDelayCmd;
Tcl_ObjCmdProc ResetVorlaReadDelayCmd;
Tcl_ObjCmdProc SetReadBufferSizeCmd;
Tcl_ObjCmdProc GetReadBufferSizeCmd;
Tcl_ObjCmdProc ResetReadBufferSizeCmd;
Tcl_ObjCmdProc SetVorlaInternalReadDelayCmd;

// The control-line commands (TclLineCommands.cpp).
Tcl_ObjCmdProc SetDTRCmd;
Tcl_ObjCmdProc SetRTSCmd;
Tcl_ObjCmdProc PulseDTRCmd;
Tcl_ObjCmdProc SendBreakCmd;
Tcl_ObjCmdProc GetModemLinesCmd;

// What the port commands reach besides the engine: the port map and the
// reconnect. The main window implements it beside ITclHostOwner; the
// commands ask the owner for it.
class ITclPortOwner {
public:
    virtual ~ITclPortOwner() = default;
    virtual const CPortMap& Ports() const = 0;
    virtual CPortReconnect& Reconnect() = 0;
};

// The port commands (TclPortCommands.cpp).
Tcl_ObjCmdProc ListPortsCmd;
Tcl_ObjCmdProc WaitForPortCmd;
// Runs proc(data) on the Tcl thread `thread` at its next turn of the event
// loop (proc null: only wakes the loop); callable from any thread. The Tcl
// thread's event loop runs while it is idle and in vwait, update and after.
// (TclHost.cpp)
void QueueTclThreadEvent(Tcl_ThreadId thread, void (*proc)(void*), void* data);
// On the Tcl thread: drops its queued events for proc(data), before data goes.
void DropTclThreadEvents(void (*proc)(void*), void* data);

// expect and its companions: send, exp_continue, expect_flush, match_max,
// expect_background; `after ms` services the event loop while it waits.
// (TclExpectCommands.cpp)
void RegisterExpectCommands(Tcl_Interp* interp, ITclCommandContext* context);
