#pragma once

// Public interface of the Tcl interpreter host. (Implementation: TclHost.cpp.)

#include <memory>
#include <string>
#include <thread>

class IConsole;
class IUserPrompt;
class CSerialPort;

// The main window as the interpreter host and its commands see it.
class ITclHostOwner {
public:
    virtual ~ITclHostOwner() = default;
    virtual IConsole* ConsolePane() = 0;  // the console pane (lower pane)
    virtual int OpenPort() const = 0;     // m_openPort: 0 when no port is open; read from the Tcl thread
    virtual CSerialPort& SerialPort() = 0;
    virtual IUserPrompt& Prompt() = 0;
};

// Owns the one Tcl interpreter. A Tcl thread that lives for the whole run
// creates the interpreter, the console channel and the added commands, runs
// every submitted command in order, and deletes the interpreter on request.
class CTclHost {
public:
    // How long DeleteInterpreter() waits for the Tcl thread before leaving it
    // behind (a command stuck in a call that cannot be cancelled, such as a
    // blocking read of the process's standard input).
    static constexpr int kShutdownTimeoutMs = 1500;

    CTclHost();   // starts the Tcl thread and waits until the interpreter is ready
    ~CTclHost();  // DeleteInterpreter() if still needed
    CTclHost(const CTclHost&) = delete;
    CTclHost& operator=(const CTclHost&) = delete;

    void SetMainWindow(ITclHostOwner* owner); // at window creation
    void AttachConsole();                     // before every submission (UI thread)
    // Appends text to the command buffer; once the buffer holds a complete
    // command it is queued for evaluation and the next text starts a new
    // buffer. Never blocks; ignored after DeleteInterpreter().
    void SubmitCommandText(const std::string& text);
    void CancelEvaluation();                  // Ctrl+Break: stops the running evaluation
    bool IsEvaluating() const;                // a submitted command is being evaluated now
    // Prints "\n" (kind 2) into the attached console, then submits the source
    // command for the script at path (Run Script, after the file dialog).
    void RunScriptFile(const std::string& path);
    // Cancels a running evaluation, deletes the interpreter on its own thread
    // and joins that thread. Later submissions are ignored. Idempotent.
    void DeleteInterpreter();
    // DeleteInterpreter() with a chosen wait. Returns true once the Tcl thread
    // has ended and is joined; false if it did not end in time and was left
    // to finish on its own (it then touches no console or owner any more).
    bool Shutdown(int timeoutMs);

    // Waits until every submitted text has been taken in and no evaluation
    // runs (an unfinished command may remain gathered). True if idle in time.
    bool WaitIdle(int timeoutMs);

    struct Impl;

private:
    std::shared_ptr<Impl> m_impl; // shared with the Tcl thread, which may outlive the host after a failed Shutdown
    std::thread m_thread;         // the Tcl thread; joined or detached by Shutdown (owner's thread only)
};

// The command that makes Tcl source exactly the file at path, whatever
// characters its name holds: every character that Tcl would substitute or
// split on is quoted.
std::string MakeSourceCommand(const std::string& path);
