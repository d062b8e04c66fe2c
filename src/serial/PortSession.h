#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

#include "core/Result.h"
#include "serial/Dcb.h"
#include "serial/PortSettings.h"

class CPortReconnect;
class CSerialPort;

// A change of the line settings by name, as the PortSettings command and
// --settings give it. A field left empty keeps what the line has; without a
// flow choice the flag fields stay as they are.
struct SLineChoice {
    std::optional<uint32_t> baud;
    std::optional<uint8_t> data;     // 5..8
    std::optional<uint8_t> parity;   // NOPARITY..SPACEPARITY
    std::optional<uint8_t> stop;     // ONESTOPBIT..TWOSTOPBITS
    std::optional<FlowControl> flow; // None, Hardware or XonXoff
};

// Readers of the words of a line choice. Each returns false with a message
// for the user; a number out of range gets the settings dialog's message.
bool ParseBaudWord(const std::string& text, uint32_t& baud, std::string& error);
bool ParseDataWord(const std::string& text, uint8_t& data, std::string& error);     // "5".."8"
bool ParseParityWord(const std::string& text, uint8_t& parity, std::string& error); // none|odd|even|mark|space
bool ParseStopWord(const std::string& text, uint8_t& stop, std::string& error);     // 1|1.5|2
bool ParseFlowWord(const std::string& text, FlowControl& flow, std::string& error);  // none|xonxoff|rtscts
// "115200,8N1,none": rate, then data bits, parity letter (N O E M S) and stop
// bits, then the flow choice; trailing parts may be left out.
bool ParseSettingsSpec(const std::string& text, SLineChoice& choice, std::string& error);

// The one open port of a front end, opened and closed by COM name: Connect,
// DisConnect and the settings, with the texts both the window and vorlash
// show. The owner's thread calls it; a shut-down may close from another
// thread. OpenPort may be read from any thread.
class CPortSession {
public:
    CPortSession(CSerialPort& serial, CPortReconnect& reconnect);
    CPortSession(const CPortSession&) = delete;
    CPortSession& operator=(const CPortSession&) = delete;

    // The notices of the window's console for a port that opened or closed.
    static std::string OpenedText(int n); // "COM1 opened successfully "
    static std::string ClosedText(int n); // "COM1 Closed "

    // Opens COMn (1..8) through the port map and applies the line's settings
    // (the engine puts back those last applied to the device), then starts
    // the engine's threads. Refused: "COM1 is already open ", or "Unable to
    // open port COM3" with the system's reason. `settings` says how applying
    // went; a refusal there leaves the port open.
    SResult Connect(int n, SResult& settings);
    // Closes the open port and ends a reconnect's interest in it. Refused
    // with "No opened port to disconnect  " when none is open; `closed`
    // names the port that was closed.
    SResult Disconnect(int& closed);
    // Closes the open port without a word to the reconnect (its device went
    // away, or the program ends). Returns the port that was open, 0 for none.
    int Close();
    // The reconnect has opened COMn again on its own.
    void Reopened(int n);

    // The engine's control block as the line has it now; "No port open "
    // when no port is open.
    SResult ReadSettings(DCB& dcb);
    // The record with the flow-control preset laid over it, applied to the
    // open line (the Settings dialog's OK).
    SResult ApplySettings(const DCB& record, FlowControl choice);
    // The choice laid over the line's settings, applied as ApplySettings does.
    SResult ChangeSettings(const SLineChoice& choice);

    int OpenPort() const { return m_openPort.load(); }

private:
    CSerialPort& m_serial;
    CPortReconnect& m_reconnect;
    std::mutex m_mutex;            // one open, close or apply at a time
    std::atomic<int> m_openPort{0}; // 0 when closed; written under m_mutex
};
