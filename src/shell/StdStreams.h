#pragma once

// The core's interfaces to the user, on the standard streams: what the
// window prints into its console goes to standard output, what it shows in a
// message box goes to standard error.

#include <tcl.h>

#include <mutex>
#include <string>
#include <thread>

#include "console/CommandHistory.h"
#include "console/IConsole.h"
#include "core/IUserPrompt.h"
#include "serial/ITerminalSink.h"

// Writes whole texts to a C stream, one writer at a time.
void WriteStream(FILE* stream, const std::string& text);

// Message boxes become lines on standard error, "vorlash: " first. Nobody
// answers questions: AskYesNo says no.
class CStdPrompt : public IUserPrompt {
public:
    void ShowMessage(const std::string& text, const CCancelSignal* abandon = nullptr) override;
    bool AskYesNo(const std::string& text, const CCancelSignal* abandon = nullptr) override;
    void RequestQuit() override {}
};

// The console pane on standard output. Prints of the Tcl thread go through
// Tcl's own standard output channel, so they keep their order with `puts`;
// prints of other threads go straight to the stream. It keeps the history
// of the commands read, for cmdhist.
class CStdConsole : public IConsole {
public:
    // On the Tcl thread, once its standard channels exist.
    void AttachTclThread();
    void PrintToConsole(const std::string& text, int kind) override;
    void ClearAll() override {} // a stream keeps what was written
    int HistoryCount() const override { return m_history.GetCount(); }
    std::string HistoryAt(int index) const override { return m_history.GetAt(index); }
    CCommandHistory& History() { return m_history; }

private:
    CCommandHistory m_history;
    std::thread::id m_tclThread; // set once before any print
    Tcl_Channel m_tclOut = nullptr;
};

// --echo: the bytes the device sends, on standard output as they arrive
// (on the serial reader thread).
class CEchoSink : public ITerminalSink {
public:
    void AppendReceivedText(const char* chunk) override;
};
