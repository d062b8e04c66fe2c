#pragma once

// Connect, DisConnect and PortSettings as Tcl commands, for a front end
// without the window's buttons and dialog (vorlash).

#include <tcl.h>

class CPortSession;
class ITclCommandContext;

// What the session commands reach besides the engine. A front end that
// registers them implements it beside ITclHostOwner; the commands ask the
// owner for it.
class ITclSessionOwner {
public:
    virtual ~ITclSessionOwner() = default;
    virtual CPortSession& Session() = 0;
};

// Registers Connect, DisConnect and PortSettings on interp.
void RegisterSessionCommands(Tcl_Interp* interp, ITclCommandContext* context);
