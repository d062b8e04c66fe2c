#include "console/ConsoleChannel.h"

#include <tcl.h>

#include <cstring>
#include <string>

#include "console/IConsole.h"
#include "console/TclCommands.h"

namespace {

// What one channel instance writes to, and in which colour.
struct SConsoleStream {
    ITclCommandContext* context;
    int kind;
};

// Tcl closes the standard channels when the Tcl thread finalises.
int CloseProc(ClientData instanceData, Tcl_Interp*)
{
    delete static_cast<SConsoleStream*>(instanceData);
    return 0;
}

// Never reached: the channel is write-only.
int InputProc(ClientData, char*, int, int*) { return 0; }

// Shows what Tcl writes. The copy stops at the first zero byte; the write
// always succeeds with the full count.
int OutputProc(ClientData instanceData, const char* buf, int toWrite, int*)
{
    if (toWrite > 0) {
        std::string text(buf, strnlen(buf, static_cast<size_t>(toWrite)));
        const auto* stream = static_cast<const SConsoleStream*>(instanceData);
        if (!text.empty())
            stream->context->Print(text, stream->kind);
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

void Install(ITclCommandContext* context, const char* name, int kind, int which)
{
    auto* stream = new SConsoleStream{context, kind};
    Tcl_Channel channel = Tcl_CreateChannel(&kConsoleChannelType, name, stream, TCL_WRITABLE);
    if (channel) {
        Tcl_SetChannelOption(nullptr, channel, "-blocking", "off");
        Tcl_SetChannelOption(nullptr, channel, "-translation", "lf");
        Tcl_SetChannelOption(nullptr, channel, "-buffering", "none");
        Tcl_SetChannelOption(nullptr, channel, "-encoding", "utf-8");
    } else {
        delete stream;
    }
    Tcl_SetStdChannel(channel, which);
}

} // namespace

void InstallConsoleChannels(ITclCommandContext* context)
{
    Install(context, "stdconsole1", kConsoleOutput, TCL_STDOUT);
    Install(context, "stdconsole2", kConsoleError, TCL_STDERR);
}
