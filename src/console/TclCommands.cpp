#include "console/TclCommands.h"

#include <dirent.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "core/CancelSignal.h"
#include "core/IUserPrompt.h"
#include "core/Version.h"
#include "console/IConsole.h"
#include "console/TclHost.h"

namespace {

ITclCommandContext* Context(ClientData clientData) { return static_cast<ITclCommandContext*>(clientData); }

void SetResult(Tcl_Interp* interp, const std::string& text)
{
    Tcl_SetResult(interp, const_cast<char*>(text.c_str()), TCL_VOLATILE);
}

const char* const kHelpLines[] = {
    "pwd\t\t\t\t(prints present working directory) \n",
    "dir\t\t\t\t(prints files/dir present in pwd)\n",
    "SendOut\t\t\t(Sends string out to serial port) \n",
    "SendOutR\t\t\t(Sends string out to serial port and reads data back) \n",
    "clear\t\t\t\t(clears VORLA window) \n",
    "cmdhist\t\t\t(Previous commands history) \n",
    "SetVorlaReadDelay\t\t(sets read delay in ms) \n",
    "GetVorlaReadDelay\t\t(gets read delay) \n",
    "ResetVorlaReadDelay\t(resets to original delay value) \n",
    "SetReadBufferSize\t\t(sets read buffer size) \n",
    "GetReadBufferSize\t\t(gets read buffer size) \n",
    "ResetReadBufferSize\t\t(resets to original buffer size) \n",
    "GetVorlaVersion\t\t(prints Vorla Version) \n",
    "help\t\t\t\t(help command) \n",
    "exit\t\t\t\t(Exit VORLA Application)\n",
};

// Prints the current directory instead of returning it. The buffer grows
// with the path, so a deep directory is printed too.
int PwdCmd(ClientData clientData, Tcl_Interp* interp, int, const char**)
{
    std::vector<char> buffer(260);
    while (!getcwd(buffer.data(), buffer.size())) {
        if (errno != ERANGE || buffer.size() > (1u << 20))
            return TCL_OK;
        buffer.resize(buffer.size() * 2);
    }
    Context(clientData)->Print(std::string(buffer.data()) + "\n", kConsoleOutput);
    return TCL_OK;
}

// Lists every name in the current directory, in the order the file system
// returns them, then an empty line.
int DirCmd(ClientData clientData, Tcl_Interp* interp, int, const char**)
{
    ITclCommandContext* context = Context(clientData);
    if (DIR* dir = opendir(".")) {
        while (const dirent* entry = readdir(dir))
            context->Print(std::string(entry->d_name) + "\n", kConsoleOutput);
        closedir(dir);
    }
    context->Print("\n", kConsoleNotice);
    return TCL_OK;
}

// Asks, and on Yes ends the application without its close steps. The
// argument (an exit code) is ignored.
int ExitCmd(ClientData clientData, Tcl_Interp* interp, int, const char**)
{
    ITclCommandContext* context = Context(clientData);
    ITclHostOwner* owner = context->Owner();
    if (!owner)
        return TCL_OK;
    const CCancelSignal* cancel = context->CancelSignal();
    bool yes = owner->Prompt().AskYesNo("Are you sure want to exit?", cancel);
    if (cancel && cancel->IsCancelled())
        return CancelledResult(interp);
    if (yes)
        owner->Prompt().RequestQuit();
    return TCL_OK;
}

int GetVorlaVersionCmd(ClientData, Tcl_Interp* interp, int, const char**)
{
    SetResult(interp, kVorlaVersion);
    return TCL_OK;
}

int HelpCmd(ClientData clientData, Tcl_Interp* interp, int, const char**)
{
    for (const char* line : kHelpLines)
        Context(clientData)->Print(line, kConsoleOutput);
    return TCL_OK;
}

int ClearCmd(ClientData clientData, Tcl_Interp* interp, int, const char**)
{
    if (IConsole* console = Context(clientData)->Console())
        console->ClearAll();
    return TCL_OK;
}

// Prints the console's history, oldest entry first.
int CmdHistCmd(ClientData clientData, Tcl_Interp* interp, int, const char**)
{
    ITclCommandContext* context = Context(clientData);
    IConsole* console = context->Console();
    if (!console)
        return TCL_OK;
    for (int i = console->HistoryCount() - 1; i >= 0; --i)
        context->Print(console->HistoryAt(i) + "\n", kConsoleOutput);
    return TCL_OK;
}

} // namespace

int CancelledResult(Tcl_Interp* interp)
{
    // Run the cancel request Tcl has queued for this thread, so that the
    // interpreter is in its cancelled state and reports its own message.
    if (Tcl_AsyncReady())
        Tcl_AsyncInvoke(interp, TCL_OK);
    if (Tcl_Canceled(interp, TCL_LEAVE_ERR_MSG) == TCL_ERROR)
        return TCL_ERROR;
    Tcl_SetResult(interp, const_cast<char*>("eval canceled"), TCL_STATIC);
    return TCL_ERROR;
}

void RegisterTclCommands(Tcl_Interp* interp, ITclCommandContext* context)
{
    // Each entry has either a string procedure or an object procedure.
    struct Entry {
        const char* name;
        Tcl_CmdProc* proc;
        Tcl_ObjCmdProc* objProc;
    };
    const Entry commands[] = {
        {"SendOut", SendOutCmd, nullptr},
        {"pwd", PwdCmd, nullptr},
        {"dir", DirCmd, nullptr},
        {"exit", ExitCmd, nullptr},
        {"SetVorlaReadDelay", nullptr, SetVorlaReadDelayCmd},
        {"GetVorlaReadDelay", GetVorlaReadDelayCmd, nullptr},
        {"ResetVorlaReadDelay", ResetVorlaReadDelayCmd, nullptr},
        {"SetReadBufferSize", nullptr, SetReadBufferSizeCmd},
        {"GetReadBufferSize", GetReadBufferSizeCmd, nullptr},
        {"ResetReadBufferSize", ResetReadBufferSizeCmd, nullptr},
        {"GetVorlaVersion", GetVorlaVersionCmd, nullptr},
        {"help", HelpCmd, nullptr},
        {"clear", ClearCmd, nullptr},
        {"cmdhist", CmdHistCmd, nullptr},
        {"SendOutR", SendOutRCmd, nullptr},
        {"SetVorlaInternalReadDelay", nullptr, SetVorlaInternalReadDelayCmd},
    };
    for (const Entry& command : commands) {
        if (command.objProc)
            Tcl_CreateObjCommand(interp, command.name, command.objProc, context, nullptr);
        else
            Tcl_CreateCommand(interp, command.name, command.proc, context, nullptr);
    }
}
