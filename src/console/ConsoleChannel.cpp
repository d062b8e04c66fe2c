#include "console/ConsoleChannel.h"

#include <cstring>
#include <string>

#include "console/IConsole.h"
#include "console/TclCommands.h"

namespace {

int CloseProc(ClientData, Tcl_Interp*) { return 0; }

// Never reached: the channel is write-only.
int InputProc(ClientData, char*, int, int*) { return 0; }

// Shows what Tcl writes. The copy stops at the first zero byte; the write
// always succeeds with the full count.
int OutputProc(ClientData instanceData, const char* buf, int toWrite, int*)
{
    if (toWrite > 0) {
        std::string text(buf, strnlen(buf, static_cast<size_t>(toWrite)));
        if (!text.empty())
            static_cast<ITclCommandContext*>(instanceData)->Print(text, kConsoleOutput);
    }
    return toWrite;
}

// Every option and value is accepted and ignored.
int SetOptionProc(ClientData, Tcl_Interp*, const char*, const char*) { return TCL_OK; }

// The channel has no options of its own to report.
int GetOptionProc(ClientData, Tcl_Interp*, const char*, Tcl_DString*) { return TCL_OK; }

void WatchProc(ClientData, int) {}

// No operating-system handle stands behind the channel.
int GetHandleProc(ClientData, int, ClientData*) { return TCL_ERROR; }

const Tcl_ChannelType kConsoleChannelType = {
    "stdconsole",
    TCL_CHANNEL_VERSION_5,
    CloseProc,
    InputProc,
    OutputProc,
    nullptr, // seekProc
    SetOptionProc,
    GetOptionProc,
    WatchProc,
    GetHandleProc,
    nullptr, // close2Proc
    nullptr, // blockModeProc
    nullptr, // flushProc
    nullptr, // handlerProc
    nullptr, // wideSeekProc
    nullptr, // threadActionProc
    nullptr, // truncateProc
};

} // namespace

Tcl_Channel InstallConsoleChannel(ITclCommandContext* context)
{
    Tcl_Channel channel = Tcl_CreateChannel(&kConsoleChannelType, "stdconsole1", context, TCL_WRITABLE);
    if (channel) {
        Tcl_SetChannelOption(nullptr, channel, "-blocking", "off");
        Tcl_SetChannelOption(nullptr, channel, "-translation", "lf");
        Tcl_SetChannelOption(nullptr, channel, "-buffering", "none");
        Tcl_SetChannelOption(nullptr, channel, "-encoding", "utf-8");
    }
    Tcl_SetStdChannel(channel, TCL_STDOUT);
    return channel;
}
