#pragma once

// Public interface of the port engine. (Implementation: SerialPort.cpp.)

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "core/Result.h"
#include "serial/Dcb.h"
#include "serial/ModemLines.h"
#include "serial/SerialLine.h"

class IByteObserver;
class IUserPrompt;
class ITerminalSink;
class CCancelSignal;
class CPortMap;
class CMatchBuffer;

// What became of a byte handed to the engine.
enum class ESendStatus {
    Sent,        // the driver took it
    NotReading,  // the line took nothing within the write time-out: the device holds it (flow control)
    Busy,        // other senders held the port until this sender's 2000 ms were over
    Closed,      // the port was not open, or closed before the byte went out
    Unplugged,   // the device went away
    WriteFailed, // the driver refused the write (the user has been shown why)
    Cancelled,   // the sender's cancel signal was set
};

// Why a byte did not go out, in a few words for a message.
const char* SendStatusText(ESendStatus status);

// How far a text got: its first `sent` bytes went out, and `status` says why
// the next one did not (Sent when every byte went out).
struct SSendReport {
    std::size_t sent = 0;
    std::size_t total = 0;
    ESendStatus status = ESendStatus::Sent;

    bool Complete() const { return sent == total; }
};

// Owns the serial line while a port is open: opens it by COM name through the
// port map, applies the control block, and runs a reader thread. Every byte
// sent goes through SendByte, whose callers take turns at writing their own
// bytes; received chunks go to the terminal sink and into the bounded receive
// buffer that SendAndCollect reads.
class CSerialPort {
public:
    CSerialPort(IUserPrompt& prompt, const CPortMap& ports);
    ~CSerialPort(); // closes an open port and joins its threads
    CSerialPort(const CSerialPort&) = delete;
    CSerialPort& operator=(const CSerialPort&) = delete;

    bool Open(const std::string& name);   // "COM1".."COM8"
    std::string LastOpenError() const;    // the OS reason of the last failed Open, for the status bar
    CSerialLine::EOpenFailure LastOpenFailure() const; // its kind (None after a successful Open)
    // Refreshes the engine's control block from the open line (and, for the
    // fields the line has no place for, from the last block applied to the
    // device). False when no port is open or the line cannot be read.
    bool ReadState();
    // The engine's control block: what ReadState read or ApplySettings applied.
    DCB Dcb() const;
    // Applies a control block to the open line and sets its time-outs; the
    // block becomes the engine's once the line has taken it. A refusal leaves
    // the line and the engine's block as they were and shows nothing: the
    // result carries the message for the user and the device's reason.
    SResult ApplySettings(const DCB& dcb);
    void StartThreads();
    void Close();                         // ends and joins this opening's threads; idempotent
    bool IsOpen() const;                  // false once the line is lost, though Close is still due

    // Writes one byte when this sender's turn comes and waits until the
    // driver has taken it and its transmit delay has passed, at most
    // 2000 ms, or until cancel is set or the port closes. Returns true if the
    // byte was written. Senders on different threads take turns, oldest
    // first; the 2000 ms include the wait for the turn and for the previous
    // byte's delay. A byte is written at most once and never after its
    // sender gave up (a sender that gives up during its own byte's delay has
    // still sent it).
    bool SendByte(unsigned char b, const CCancelSignal* cancel = nullptr);
    void AttachTerminal(ITerminalSink* terminal);
    // Observers of the raw bytes (session log, hex view). Remove returns once
    // no call to the observer is running; callable from any thread.
    void AddByteObserver(IByteObserver* observer);
    void RemoveByteObserver(IByteObserver* observer);

    // Sends text one byte at a time through SendByte's queue, all on the
    // opening that is current now, and stops at the first byte that does not
    // go out: each further byte would wait out its own time-out (a second
    // per byte towards a device that does not read), and a text with a hole
    // in it is worse than a text cut short. So the report's count is always
    // the length of the part sent, from the start.
    SSendReport SendText(const std::string& text, const CCancelSignal* cancel = nullptr);

    // Sends text as SendText does; once every byte went out, waits
    // InternalReadDelay, clears the receive buffer, waits ReadDelay and
    // returns what was collected. Waits end early on cancel or close. When
    // the text did not all go out it collects nothing and returns at once;
    // `report`, if given, says how far the text got.
    std::string SendAndCollect(const std::string& text, const CCancelSignal* cancel = nullptr,
                               SSendReport* report = nullptr);
    void ClearReceiveBuffer();
    std::string ReceiveBufferContents() const; // a copy of ReceiveBuffer, oldest byte first
    void ResizeReceiveBuffer(uint32_t size);
    void RestoreReceiveBufferSize();

    uint32_t ReadBufferSize() const;
    int ReadDelay() const;
    void SetReadDelay(int ms);
    int InternalReadDelay() const;
    void SetInternalReadDelay(int ms);
    void SetTransmitDelays(int charDelay, int lineDelay); // CharDelay, LineDelay

    // The modem lines and the break, callable from any thread. Each returns a
    // failure, and leaves the port open, when no port is open, when the device
    // has none (a pseudo-terminal, some USB adapters: the message says so) or
    // refuses; the reason is the system's. These act on the line only: the
    // engine's control block keeps its DTR and RTS fields, which the next
    // ApplySettings and a reconnect put on the line again.
    SResult SetDtr(bool asserted);
    SResult SetRts(bool asserted);
    SResult ReadModemLines(SModemLines& lines);
    // Turns DTR over for ms milliseconds, then back to the level it had
    // (from the usual asserted level: drops it, then raises it again). The
    // wait ends early on cancel or close; DTR goes back either way.
    SResult PulseDtr(int ms, const CCancelSignal* cancel = nullptr);
    // Holds the line in the break state for ms milliseconds. It takes its
    // turn with the senders, so no byte goes out during the break (nor is
    // cut by it). The wait ends early on cancel or close; the break ends
    // either way.
    SResult SendBreak(int ms, const CCancelSignal* cancel = nullptr);

    // Called on the reader thread, once, when the device goes away (hang-up or
    // a lasting error) after the engine has shown its message; the owner then
    // closes the port as Disconnect does (on its own thread). The handler must
    // not wait for the thread that will call Close: post the work and return.
    // Close may also be called from inside the handler.
    void SetLineLostHandler(std::function<void()> handler);

    // What scripts expect: every byte received from an Open on, unchanged,
    // emptied by the next Open and marked at its end by Close or a lost line.
    CMatchBuffer& MatchBuffer();

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};
