#include "console/TclCommands.h"

#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "core/CancelSignal.h"
#include "core/IUserPrompt.h"
#include "core/Version.h"
#include "console/IConsole.h"
#include "console/TclHost.h"
#include "console/TclLogCommands.h"

namespace {

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
    "SetDTR\t\t\t(sets DTR to 0 or 1: SetDTR ?-i chan? 0|1) \n",
    "SetRTS\t\t\t(sets RTS to 0 or 1: SetRTS ?-i chan? 0|1) \n",
    "PulseDTR\t\t(drops DTR for ms, then raises it: PulseDTR ?-i chan? ms) \n",
    "SendBreak\t\t(sends a break, 250 ms by default: SendBreak ?-i chan? ?ms?) \n",
    "GetModemLines\t\t(returns CTS DSR RI DCD DTR RTS as a dict: GetModemLines ?-i chan?) \n",
    "ListPorts\t\t(a dict per COM name: name path device present description source) \n",
    "WaitForPort\t\t(waits until the lost port is reopened: WaitForPort ?-timeout seconds?) \n",
    "expect\t\t\t(waits for a pattern, runs its body: expect ?-i chan? ?-timeout s? ?-nocase? ?-gl|-re|-ex? "
    "pattern body ... ?timeout|eof|default body?) \n",
    "exp_continue\t\t(in an expect body: waits again, the timeout restarted) \n",
    "send\t\t\t(sends a string as UTF-8, with -raw each character 0..255 as a byte: send ?-i chan? ?-raw? "
    "string) \n",
    "expect_flush\t\t(empties the match buffer: expect_flush ?-i chan?) \n",
    "match_max\t\t(match buffer size, 1 MB by default; expect_out(dropped) counts overflow: match_max ?-i "
    "chan? ?bytes?) \n",
    "expect_background\t(runs bodies as patterns arrive while idle; none removes: expect_background ?-i chan? "
    "?pattern body ...?) \n",
    "LogStart\t\t(logs the port to a file: LogStart path ?-timestamps? ?-sent? ?-raw? ?-append?) \n",
    "LogStop\t\t\t(stops the log and closes its file) \n",
    "LogStatus\t\t(the running log's path and bytes written, or empty) \n",
    "help\t\t\t\t(help command) \n",
    "exit\t\t\t\t(Exit VORLA Application)\n",
};

// Prints the current directory instead of returning it; nothing when the
// directory is gone.
int PwdCmd(ClientData clientData, Tcl_Interp*, int, Tcl_Obj* const[])
{
    std::error_code error;
    const std::filesystem::path here = std::filesystem::current_path(error);
    if (!error)
        Context(clientData)->Print(here.string() + "\n", kConsoleOutput);
    return TCL_OK;
}

// Lists every name in the current directory, "." and ".." first (where
// Windows file systems list them; the iterator leaves them out), the others
// in the order the file system returns them, then an empty line. A
// directory that was removed or cannot be read lists nothing.
int DirCmd(ClientData clientData, Tcl_Interp*, int, Tcl_Obj* const[])
{
    ITclCommandContext* context = Context(clientData);
    std::error_code error;
    const std::filesystem::path here = std::filesystem::current_path(error);
    std::filesystem::directory_iterator entry;
    if (!error)
        entry = std::filesystem::directory_iterator(here, error);
    if (!error) {
        context->Print(".\n", kConsoleOutput);
        context->Print("..\n", kConsoleOutput);
        for (const std::filesystem::directory_iterator end; !error && entry != end; entry.increment(error))
            context->Print(entry->path().filename().string() + "\n", kConsoleOutput);
    }
    context->Print("\n", kConsoleNotice);
    return TCL_OK;
}

// Asks, and on Yes ends the application without its close steps. The
// argument (an exit code) is ignored.
int ExitCmd(ClientData clientData, Tcl_Interp* interp, int, Tcl_Obj* const[])
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

int GetVorlaVersionCmd(ClientData, Tcl_Interp* interp, int, Tcl_Obj* const[])
{
    Tcl_SetObjResult(interp, Tcl_NewStringObj(kVorlaVersion, -1));
    return TCL_OK;
}

const char* const kExtraHelpKey = "vorla::extraHelp";

// Lines a front end added with AddHelpLine, kept with the interpreter.
std::vector<std::string>* ExtraHelp(Tcl_Interp* interp)
{
    return static_cast<std::vector<std::string>*>(Tcl_GetAssocData(interp, kExtraHelpKey, nullptr));
}

// The fixed lines, with a front end's own lines before "help" and "exit".
int HelpCmd(ClientData clientData, Tcl_Interp* interp, int, Tcl_Obj* const[])
{
    const std::size_t count = sizeof kHelpLines / sizeof kHelpLines[0];
    for (std::size_t i = 0; i < count; ++i) {
        if (i == count - 2)
            if (const std::vector<std::string>* extra = ExtraHelp(interp))
                for (const std::string& line : *extra)
                    Context(clientData)->Print(line, kConsoleOutput);
        Context(clientData)->Print(kHelpLines[i], kConsoleOutput);
    }
    return TCL_OK;
}

int ClearCmd(ClientData clientData, Tcl_Interp*, int, Tcl_Obj* const[])
{
    if (IConsole* console = Context(clientData)->Console())
        console->ClearAll();
    return TCL_OK;
}

// Prints the console's history, oldest entry first.
int CmdHistCmd(ClientData clientData, Tcl_Interp*, int, Tcl_Obj* const[])
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
    Tcl_SetObjResult(interp, Tcl_NewStringObj("eval canceled", -1));
    return TCL_ERROR;
}

int Fail(Tcl_Interp* interp, const std::string& text)
{
    Tcl_SetObjResult(interp, Tcl_NewStringObj(text.data(), static_cast<int>(text.size())));
    return TCL_ERROR;
}

void AddHelpLine(Tcl_Interp* interp, const std::string& line)
{
    std::vector<std::string>* extra = ExtraHelp(interp);
    if (!extra) {
        extra = new std::vector<std::string>;
        Tcl_SetAssocData(interp, kExtraHelpKey,
                         [](ClientData data, Tcl_Interp*) { delete static_cast<std::vector<std::string>*>(data); },
                         extra);
    }
    extra->push_back(line);
}

void RegisterTclCommands(Tcl_Interp* interp, ITclCommandContext* context)
{
    const struct {
        const char* name;
        Tcl_ObjCmdProc* proc;
    } commands[] = {
        {"SendOut", SendOutCmd},
        {"pwd", PwdCmd},
        {"dir", DirCmd},
        {"exit", ExitCmd},
        {"SetVorlaReadDelay", SetVorlaReadDelayCmd},
        {"GetVorlaReadDelay", GetVorlaReadDelayCmd},
        {"ResetVorlaReadDelay", ResetVorlaReadDelayCmd},
        {"SetReadBufferSize", SetReadBufferSizeCmd},
        {"GetReadBufferSize", GetReadBufferSizeCmd},
        {"ResetReadBufferSize", ResetReadBufferSizeCmd},
        {"GetVorlaVersion", GetVorlaVersionCmd},
        {"help", HelpCmd},
        {"clear", ClearCmd},
        {"cmdhist", CmdHistCmd},
        {"SendOutR", SendOutRCmd},
        {"SetVorlaInternalReadDelay", SetVorlaInternalReadDelayCmd},
        {"SetDTR", SetDTRCmd},
        {"SetRTS", SetRTSCmd},
        {"PulseDTR", PulseDTRCmd},
        {"SendBreak", SendBreakCmd},
        {"GetModemLines", GetModemLinesCmd},
        {"ListPorts", ListPortsCmd},
        {"WaitForPort", WaitForPortCmd},
        {"LogStart", LogStartCmd},
        {"LogStop", LogStopCmd},
        {"LogStatus", LogStatusCmd},
    };
    for (const auto& command : commands)
        Tcl_CreateObjCommand(interp, command.name, command.proc, context, nullptr);
    RegisterExpectCommands(interp, context);
}
