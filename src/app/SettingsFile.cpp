#include "app/SettingsFile.h"

#include <filesystem>
#include <memory>
#include <system_error>

#include "core/IUserPrompt.h"

namespace {

const char* const kSettingsLines[] = {
    "##########################################",
    "####                                     #",
    "#### Configuration File For 'VORLA'      #",
    "####                                     #",
    "##########################################",
    "",
    "[STARTUP]",
    "",
    "VERSION = 1.0",
    "",
};

struct FileCloser {
    void operator()(FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

// ASCII-only, so that bytes above 127 and the locale play no part.
bool EqualsNoCase(const std::string& a, const char* b)
{
    size_t i = 0;
    for (; i < a.size() && b[i] != '\0'; ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]);
        unsigned char y = static_cast<unsigned char>(b[i]);
        if (x >= 'A' && x <= 'Z')
            x = static_cast<unsigned char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z')
            y = static_cast<unsigned char>(y - 'A' + 'a');
        if (x != y)
            return false;
    }
    return i == a.size() && b[i] == '\0';
}

bool IsSentinel(const std::string& line) { return EqualsNoCase(line, CSettingsFile::kEndSentinel); }

// Trims blanks at both ends, drops blanks outside quotes, removes tabs.
std::string CleanSectionLine(const std::string& line)
{
    const size_t first = line.find_first_not_of(' ');
    std::string s = first == std::string::npos ? std::string() : line.substr(first, line.find_last_not_of(' ') - first + 1);
    s = CSettingsFile::SquashSettingsLine(s);
    std::string out;
    out.reserve(s.size());
    for (char c : s) {
        if (c != '\t')
            out.push_back(c);
    }
    return out;
}

} // namespace

CSettingsFile::CSettingsFile(IUserPrompt& prompt) : m_prompt(prompt) {}

void CSettingsFile::CaptureDirectory()
{
    std::error_code error;
    const std::filesystem::path here = std::filesystem::current_path(error);
    SetDirectory(error ? std::string() : here.string());
}

void CSettingsFile::SetDirectory(const std::string& dir)
{
    m_directory = dir.size() < kMaxDirectory ? dir : std::string();
}

std::string CSettingsFile::Path() const
{
    return m_directory + "/" + kFileName;
}

bool CSettingsFile::WriteSettingsFile()
{
    bool ok = false;
    if (FILE* raw = std::fopen(Path().c_str(), "w")) {
        ok = true;
        for (const char* line : kSettingsLines) {
            if (std::fputs(line, raw) == EOF || std::fputc('\n', raw) == EOF)
                ok = false;
        }
        // A full disk often shows only when the buffer is flushed at close.
        if (std::fclose(raw) != 0)
            ok = false;
    }
    if (!ok)
        m_prompt.ShowMessage("Unable to save settings to the ini file");
    return ok;
}

void CSettingsFile::ReadSettingsFile()
{
    m_versionMarked = false;
    // Binary, so that the line reader alone handles CR LF, alike everywhere.
    FilePtr file(std::fopen(Path().c_str(), "rb"));
    if (!file)
        return;

    std::string line = ReadSettingsLine(file.get());
    int lineNo = 1;
    bool inSection = false;
    if (IsSentinel(line))
        return;
    for (;;) {
        if (inSection) {
            line = CleanSectionLine(line);
            const size_t eq = line.find('=');
            if (eq == std::string::npos && !line.empty()) {
                m_prompt.ShowMessage("ini file has error at line no " + std::to_string(lineNo));
                return;
            }
            if (eq != std::string::npos && EqualsNoCase(line.substr(0, eq), "VERSION") &&
                EqualsNoCase(line.substr(eq + 1), "1.0"))
                m_versionMarked = true;
        }
        if (EqualsNoCase(line, "[startup]"))
            inSection = true;
        line = ReadSettingsLine(file.get());
        ++lineNo;
        if (IsSentinel(line))
            break;
    }
}

std::string CSettingsFile::ReadSettingsLine(FILE* file)
{
    int c = std::getc(file);
    if (c == EOF)
        return kEndSentinel;
    std::string line;
    while (c != EOF && c != '\n') {
        line.push_back(static_cast<char>(c));
        c = std::getc(file);
    }
    // A file edited on Windows ends its lines with CR LF.
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return line;
}

std::string CSettingsFile::SquashSettingsLine(const std::string& line)
{
    std::string out;
    out.reserve(line.size());
    bool inQuotes = false;
    for (char c : line) {
        if (c == '"')
            inQuotes = !inQuotes;
        if (inQuotes || c != ' ')
            out.push_back(c);
    }
    return out;
}
