// The commands VORLA adds to Tcl, called with any argument list in an
// interpreter with no open port: each returns (a result or an error), never
// crashes, hangs or leaves the interpreter unusable. The commands are found
// by what registration adds, so every added command is covered.
#include <tcl.h>

#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "FuzzInput.h"
#include "console/TclCommands.h"
#include "console/TclHost.h"
#include "core/CancelSignal.h"
#include "core/IUserPrompt.h"
#include "serial/PortMap.h"
#include "serial/PortReconnect.h"
#include "serial/SerialPort.h"

namespace {

class CSilentPrompt : public IUserPrompt {
public:
    void ShowMessage(const std::string&, const CCancelSignal*) override {}
    bool AskYesNo(const std::string&, const CCancelSignal*) override { return false; }
    void RequestQuit() override {}
};

// A main window with its port closed.
class CClosedPortOwner : public ITclHostOwner, public ITclPortOwner {
public:
    CClosedPortOwner() : m_port(m_prompt, m_ports), m_reconnect(m_port, m_ports) {}
    IConsole* ConsolePane() override { return nullptr; }
    int OpenPort() const override { return 0; }
    CSerialPort& SerialPort() override { return m_port; }
    IUserPrompt& Prompt() override { return m_prompt; }
    const CPortMap& Ports() const override { return m_ports; }
    CPortReconnect& Reconnect() override { return m_reconnect; }

private:
    CSilentPrompt m_prompt;
    CPortMap m_ports;
    CSerialPort m_port;
    CPortReconnect m_reconnect;
};

class CFuzzContext : public ITclCommandContext {
public:
    void Print(const std::string&, int) override {}
    IConsole* Console() override { return nullptr; }
    ITclHostOwner* Owner() override { return &owner; }
    const CCancelSignal* CancelSignal() override { return &cancel; }
    CClosedPortOwner owner;
    CCancelSignal cancel;
};

struct SInterp {
    SInterp()
    {
        interp = Tcl_CreateInterp();
        std::set<std::string> before = Names();
        RegisterTclCommands(interp, &context);
        for (const std::string& name : Names())
            if (!before.count(name))
                added.push_back(name);
        FUZZ_CHECK(!added.empty());
    }
    std::set<std::string> Names()
    {
        FUZZ_CHECK(Tcl_Eval(interp, "info commands") == TCL_OK);
        int count = 0;
        Tcl_Obj** items = nullptr;
        Tcl_ListObjGetElements(interp, Tcl_GetObjResult(interp), &count, &items);
        std::set<std::string> names;
        for (int i = 0; i < count; ++i)
            names.insert(Tcl_GetString(items[i]));
        return names;
    }
    Tcl_Interp* interp;
    CFuzzContext context;
    std::vector<std::string> added;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static SInterp* host = new SInterp; // one interpreter for the run, as in the program
    CFuzzInput in(data, size);
    const uint8_t choice = in.Byte();
    const std::string& name = host->added[choice % host->added.size()];
    // Sometimes the evaluation is already cancelled (Ctrl+Break) when it runs.
    if (choice & 0x80)
        host->context.cancel.Cancel();
    else
        host->context.cancel.Reset();

    std::vector<Tcl_Obj*> words{Tcl_NewStringObj(name.c_str(), -1)};
    while (!in.Empty() && words.size() < 8) {
        const std::string word = in.Until('\0');
        // As typed text (any bytes, also bad UTF-8) or as `binary format` makes it.
        words.push_back(choice & 0x40 ? Tcl_NewStringObj(word.data(), int(word.size()))
                                      : Tcl_NewByteArrayObj(reinterpret_cast<const unsigned char*>(word.data()),
                                                            int(word.size())));
    }
    for (Tcl_Obj* word : words)
        Tcl_IncrRefCount(word);
    const int code = Tcl_EvalObjv(host->interp, int(words.size()), words.data(), 0);
    FUZZ_CHECK(code == TCL_OK || code == TCL_ERROR);
    for (Tcl_Obj* word : words)
        Tcl_DecrRefCount(word);
    host->context.cancel.Reset();
    Tcl_ResetResult(host->interp);
    FUZZ_CHECK(Tcl_Eval(host->interp, "expr {1 + 1}") == TCL_OK); // still usable
    return 0;
}
