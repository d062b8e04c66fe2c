#include "serial/PortSession.h"

#include <cctype>

#include "serial/PortReconnect.h"
#include "serial/SerialPort.h"

namespace {

std::string PortName(int n) { return "COM" + std::to_string(n); }

std::string Lower(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

} // namespace

bool ParseBaudWord(const std::string& text, uint32_t& baud, std::string& error)
{
    long long value = 0;
    if (text.empty() || !ParseFieldNumber(text, kMinCustomBaudRate, kMaxCustomBaudRate, value)) {
        error = FieldRangeMessage("Baud Rate", kMinCustomBaudRate, kMaxCustomBaudRate);
        return false;
    }
    baud = static_cast<uint32_t>(value);
    return true;
}

bool ParseDataWord(const std::string& text, uint8_t& data, std::string& error)
{
    long long value = 0;
    if (text.empty() || !ParseFieldNumber(text, 5, 8, value)) {
        error = FieldRangeMessage("Data", 5, 8);
        return false;
    }
    data = static_cast<uint8_t>(value);
    return true;
}

bool ParseParityWord(const std::string& text, uint8_t& parity, std::string& error)
{
    static const char* const kWords[] = {"none", "odd", "even", "mark", "space"};
    for (uint8_t i = 0; i < 5; ++i) {
        if (Lower(text) == kWords[i]) {
            parity = i; // NOPARITY..SPACEPARITY, in this order
            return true;
        }
    }
    error = "bad parity \"" + text + "\": must be none, odd, even, mark or space";
    return false;
}

bool ParseStopWord(const std::string& text, uint8_t& stop, std::string& error)
{
    if (text == "1")
        stop = ONESTOPBIT;
    else if (text == "1.5")
        stop = ONE5STOPBITS;
    else if (text == "2")
        stop = TWOSTOPBITS;
    else {
        error = "bad stop bits \"" + text + "\": must be 1, 1.5 or 2";
        return false;
    }
    return true;
}

bool ParseFlowWord(const std::string& text, FlowControl& flow, std::string& error)
{
    const std::string word = Lower(text);
    if (word == "none")
        flow = FlowControl::None;
    else if (word == "xonxoff")
        flow = FlowControl::XonXoff;
    else if (word == "rtscts")
        flow = FlowControl::Hardware;
    else if (word == "dtrdsr") {
        // Kept in the control block, a DSR handshake would not act on the
        // line here: refuse it rather than run without flow control.
        error = "flow control dtrdsr is not available: the serial drivers here have no DTR/DSR handshake";
        return false;
    } else {
        error = "bad flow control \"" + text + "\": must be none, xonxoff or rtscts";
        return false;
    }
    return true;
}

bool ParseSettingsSpec(const std::string& text, SLineChoice& choice, std::string& error)
{
    std::string parts[3];
    int count = 0;
    for (std::size_t start = 0;; ++count) {
        const std::size_t comma = text.find(',', start);
        if (count == 3) {
            error = "too many parts in \"" + text + "\": should be rate,frame,flow as in 115200,8N1,none";
            return false;
        }
        parts[count] = text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        if (comma == std::string::npos) {
            ++count;
            break;
        }
        start = comma + 1;
    }
    SLineChoice result;
    uint32_t baud = 0;
    if (!ParseBaudWord(parts[0], baud, error))
        return false;
    result.baud = baud;
    if (count > 1) {
        const std::string& frame = parts[1];
        uint8_t data = 0, parity = 0, stop = 0;
        const char* const parityLetters = "NOEMS";
        const std::size_t letter =
            frame.size() >= 3 ? std::string(parityLetters).find(static_cast<char>(std::toupper(frame[1]))) : std::string::npos;
        if (letter == std::string::npos || !ParseDataWord(frame.substr(0, 1), data, error) ||
            !ParseStopWord(frame.substr(2), stop, error)) {
            error = "bad frame \"" + frame + "\": should be data bits (5-8), parity (N O E M S), stop bits "
                    "(1 1.5 2) as in 8N1";
            return false;
        }
        parity = static_cast<uint8_t>(letter);
        result.data = data;
        result.parity = parity;
        result.stop = stop;
    }
    if (count > 2) {
        FlowControl flow = FlowControl::None;
        if (!ParseFlowWord(parts[2], flow, error))
            return false;
        result.flow = flow;
    }
    choice = result;
    return true;
}

CPortSession::CPortSession(CSerialPort& serial, CPortReconnect& reconnect) : m_serial(serial), m_reconnect(reconnect) {}

std::string CPortSession::OpenedText(int n) { return PortName(n) + " opened successfully "; }
std::string CPortSession::ClosedText(int n) { return PortName(n) + " Closed "; }

SResult CPortSession::Connect(int n, SResult& settings)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    settings = SResult::Success();
    if (m_openPort != 0)
        return SResult::Failure(PortName(m_openPort) + " is already open ", "");
    if (!m_serial.Open(PortName(n)))
        return SResult::Failure("Unable to open port " + PortName(n), m_serial.LastOpenError());
    m_openPort = n;
    m_reconnect.Opened(n); // also ends a wait for this port's device
    m_serial.ReadState();
    settings = m_serial.ApplySettings(m_serial.Dcb());
    m_serial.StartThreads();
    return SResult::Success();
}

SResult CPortSession::Disconnect(int& closed)
{
    closed = Close();
    if (closed == 0)
        return SResult::Failure("No opened port to disconnect  ", "");
    m_reconnect.Closed();
    return SResult::Success();
}

int CPortSession::Close()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const int n = m_openPort;
    if (n != 0)
        m_serial.Close();
    m_openPort = 0;
    return n;
}

void CPortSession::Reopened(int n)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_openPort = n;
}

SResult CPortSession::ReadSettings(DCB& dcb)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_openPort == 0)
        return SResult::Failure("No port open ", "");
    m_serial.ReadState();
    dcb = m_serial.Dcb();
    return SResult::Success();
}

SResult CPortSession::ApplySettings(const DCB& record, FlowControl choice)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_openPort == 0)
        return SResult::Failure("No port open ", "");
    // The reader and the senders keep running while the engine applies it.
    DCB block = m_serial.Dcb();
    ApplyFlowControlPreset(record, choice, block);
    return m_serial.ApplySettings(block);
}

SResult CPortSession::ChangeSettings(const SLineChoice& choice)
{
    DCB dcb;
    const SResult read = ReadSettings(dcb);
    if (!read.ok)
        return read;
    if (choice.baud)
        dcb.BaudRate = *choice.baud;
    if (choice.data)
        dcb.ByteSize = *choice.data;
    if (choice.parity)
        dcb.Parity = *choice.parity;
    if (choice.stop)
        dcb.StopBits = *choice.stop;
    // Without a flow choice the block's own flags stay, as Advanced keeps them.
    return ApplySettings(dcb, choice.flow.value_or(FlowControl::Advanced));
}
