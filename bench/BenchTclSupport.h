#pragma once

// The Tcl host's surroundings for the benches that run commands: a console
// that counts prompts, a prompt that prints messages, and an owner with one
// engine reported open as COM1.

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>

#include "console/IConsole.h"
#include "console/TclHost.h"
#include "core/IUserPrompt.h"
#include "devsim/DevSim.h"
#include "serial/Dcb.h"
#include "serial/PortMap.h"
#include "serial/SerialPort.h"

// Keeps the last result line and counts prompts, so that the bench knows
// when an evaluation has finished and what it returned.
class CResultConsole : public IConsole {
public:
    void PrintToConsole(const std::string& text, int kind) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (text == kConsolePrompt && kind == kConsoleNotice) {
            ++m_prompts;
            m_cv.notify_all();
        } else {
            m_output += text;
        }
    }
    void ClearAll() override {}
    int HistoryCount() const override { return 0; }
    std::string HistoryAt(int) const override { return {}; }

    // Waits for the prompt after evaluation number `count`; returns what was printed before it.
    std::string WaitForPrompt(long count)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_cv.wait(lock, [&] { return m_prompts >= count; });
        std::string out;
        out.swap(m_output);
        return out;
    }

private:
    std::mutex m_mutex;            // guards the fields below
    std::condition_variable m_cv;  // a new prompt
    long m_prompts = 0;
    std::string m_output;
};

class CQuietPrompt : public IUserPrompt {
public:
    void ShowMessage(const std::string& text, const CCancelSignal*) override
    {
        std::fprintf(stderr, "message: %s\n", text.c_str());
    }
    bool AskYesNo(const std::string&, const CCancelSignal*) override { return false; }
    void RequestQuit() override {}
};

// The main window as the host sees it: one engine on COM1, reported open.
class CBenchOwner : public ITclHostOwner {
public:
    explicit CBenchOwner(const CPortMap& ports) : m_port(m_prompt, ports) {}
    IConsole* ConsolePane() override { return &m_console; }
    int OpenPort() const override { return 1; }
    CSerialPort& SerialPort() override { return m_port; }
    IUserPrompt& Prompt() override { return m_prompt; }

    CResultConsole m_console;
    CQuietPrompt m_prompt;
    CSerialPort m_port;
};

// A device, an open engine and a host: one bench set-up.
class CRig {
public:
    explicit CRig(const CDevSim::SOptions& options)
    {
        std::string error;
        if (!m_device.Start(options, error)) {
            std::fprintf(stderr, "devsim: %s\n", error.c_str());
            std::exit(1);
        }
        m_ports.Map(1, m_device.Path());
        CSerialPort& port = m_owner.m_port;
        if (!port.Open("COM1") || !port.ReadState()) {
            std::fprintf(stderr, "open: %s\n", port.LastOpenError().c_str());
            std::exit(1);
        }
        DCB dcb = port.Dcb();
        dcb.BaudRate = 115200;
        dcb.ByteSize = 8;
        dcb.Parity = NOPARITY;
        dcb.StopBits = ONESTOPBIT;
        port.ApplySettings(dcb);
        port.StartThreads();
        m_host.SetMainWindow(&m_owner);
    }
    ~CRig() { m_host.DeleteInterpreter(); }

    // Starts evaluating one line; Result() waits for it.
    void Submit(const std::string& line)
    {
        m_host.AttachConsole();
        m_host.SubmitCommandText(line + "\n");
        ++m_evaluations;
    }
    // What the last submitted line printed (result and output).
    std::string Result() { return m_owner.m_console.WaitForPrompt(m_evaluations); }
    std::string Eval(const std::string& line)
    {
        Submit(line);
        return Result();
    }

    CDevSim m_device;
    CPortMap m_ports;
    CBenchOwner m_owner{m_ports};
    CTclHost m_host; // declared last: ends before the engine

private:
    long m_evaluations = 0;
};
