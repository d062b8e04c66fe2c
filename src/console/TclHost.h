#pragma once

// Public interface of the Tcl interpreter host. (Implementation: TclHost.cpp.)

#include <string>

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
    CTclHost();   // starts the Tcl thread and waits until the interpreter is ready
    ~CTclHost();  // DeleteInterpreter() if still needed
    CTclHost(const CTclHost&) = delete;
    CTclHost& operator=(const CTclHost&) = delete;

    void SetMainWindow(ITclHostOwner* owner); // at window creation
    void AttachConsole();                     // before every submission (UI thread)
    void SubmitCommandText(const std::string& text); // never blocks
    void CancelEvaluation();                  // Ctrl+Break: stops the running evaluation
    // Cancels a running evaluation, deletes the interpreter on its own thread
    // and joins that thread. Later submissions are ignored.
    void DeleteInterpreter();

    struct Impl;

private:
    Impl* m_impl;
};
