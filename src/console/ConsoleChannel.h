#pragma once

// The "stdconsole" channels: Tcl's standard output and standard error on the
// Tcl thread, written into the console pane.

class ITclCommandContext;

// Creates two write-only channels with the same four options set and
// installs them on the calling thread (Tcl keeps standard channels per
// thread): "stdconsole1" as standard output, printed with kind 2 (black),
// and "stdconsole2" as standard error, printed with kind 1 (red). Every write
// goes through context. A channel Tcl refuses leaves that standard channel
// without any channel at all.
void InstallConsoleChannels(ITclCommandContext* context);
