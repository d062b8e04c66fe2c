#pragma once

// The "stdconsole" channel: Tcl's standard output on the Tcl thread, written
// into the console pane.

#include <tcl.h>

class ITclCommandContext;

// Creates the write-only channel "stdconsole1" with its four options set and
// installs it as the calling thread's standard output (Tcl keeps standard
// channels per thread). Every write is printed with kind 2 through context.
// Returns the channel, or null if Tcl refused it; the standard output is then
// no channel at all.
Tcl_Channel InstallConsoleChannel(ITclCommandContext* context);
