#include "shell/StdStreams.h"

#include <cstdio>

namespace {
std::mutex g_streamMutex; // one C stream writer at a time, whichever thread
}

void WriteStream(FILE* stream, const std::string& text)
{
    std::lock_guard<std::mutex> lock(g_streamMutex);
    std::fwrite(text.data(), 1, text.size(), stream);
    std::fflush(stream);
}

void CStdPrompt::ShowMessage(const std::string& text, const CCancelSignal*)
{
    // Messages of the window's boxes may end in blanks or a line feed.
    std::string line = text;
    while (!line.empty() && (line.back() == ' ' || line.back() == '\n' || line.back() == '\r'))
        line.pop_back();
    WriteStream(stderr, "vorlash: " + line + "\n");
}

bool CStdPrompt::AskYesNo(const std::string&, const CCancelSignal*) { return false; }

void CStdConsole::AttachTclThread()
{
    m_tclThread = std::this_thread::get_id();
    m_tclOut = Tcl_GetStdChannel(TCL_STDOUT);
}

void CStdConsole::PrintToConsole(const std::string& text, int)
{
    if (m_tclOut && std::this_thread::get_id() == m_tclThread) {
        Tcl_WriteChars(m_tclOut, text.data(), static_cast<int>(text.size()));
        return;
    }
    WriteStream(stdout, text);
}

void CEchoSink::AppendReceivedText(const char* chunk) { WriteStream(stdout, chunk); }
