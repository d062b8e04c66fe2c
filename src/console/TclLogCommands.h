#pragma once

// The session-log commands (TclLogCommands.cpp): LogStart, LogStop, LogStatus.

#include <tcl.h>

class CSessionLog;

// What the log commands reach: the session log that the engine feeds. The
// main window (or another front end) implements it beside ITclHostOwner.
class ITclLogOwner {
public:
    virtual ~ITclLogOwner() = default;
    virtual CSessionLog& SessionLog() = 0;
};

Tcl_ObjCmdProc LogStartCmd;
Tcl_ObjCmdProc LogStopCmd;
Tcl_ObjCmdProc LogStatusCmd;
