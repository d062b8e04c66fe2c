#include "log/LogFormat.h"

#include <ctime>

namespace {

// The part of a timestamp up to the seconds: "[2026-12-08 12:00:00".
std::string FormatSecond(int64_t second)
{
    const std::time_t t = static_cast<std::time_t>(second);
    std::tm local{};
    localtime_r(&t, &local);
    char text[32];
    std::strftime(text, sizeof text, "[%Y-%m-%d %H:%M:%S", &local);
    return text;
}

int64_t FloorDiv(int64_t a, int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

void AppendMs(int64_t ms, std::string& out)
{
    const int64_t rest = ms - FloorDiv(ms, 1000) * 1000;
    out += '.';
    out += static_cast<char>('0' + rest / 100);
    out += static_cast<char>('0' + rest / 10 % 10);
    out += static_cast<char>('0' + rest % 10);
    out += "] ";
}

} // namespace

std::string FormatLogTime(int64_t msSinceEpoch)
{
    std::string text = FormatSecond(FloorDiv(msSinceEpoch, 1000));
    AppendMs(msSinceEpoch, text);
    return text;
}

void CLogFormatter::Add(EDirection direction, int64_t ms, const char* data, std::size_t n, std::string& out)
{
    if (m_options.raw) {
        if (direction == EDirection::Received)
            out.append(data, n);
        return;
    }
    if (direction == EDirection::Sent && !m_options.sent)
        return;
    if (n == 0)
        return;
    if (m_options.sent && m_lineOpen && m_lineDirection != direction) {
        out += '\n';
        m_breakMade = true;
        m_lineOpen = false;
    }
    for (std::size_t i = 0; i < n;) {
        if (!m_lineOpen) {
            if (m_options.timestamps) {
                const int64_t second = FloorDiv(ms, 1000);
                if (second != m_stampSecond) {
                    m_stamp = FormatSecond(second);
                    m_stampSecond = second;
                }
                out += m_stamp;
                AppendMs(ms, out);
            }
            if (m_options.sent) {
                out += direction == EDirection::Sent ? "TX" : "RX";
                out += m_breakMade ? "~ " : ": ";
                m_breakMade = false;
            }
            m_lineOpen = true;
            m_lineDirection = direction;
        }
        // The rest of this line in one go.
        std::size_t end = i;
        while (end < n && data[end] != '\n')
            ++end;
        if (end < n) {
            ++end;
            m_lineOpen = false;
        }
        out.append(data + i, end - i);
        i = end;
    }
}
