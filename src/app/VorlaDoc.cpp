#include "app/VorlaDoc.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>

void CVORLADoc::OnNewDocument()
{
    m_path.clear();
    m_title.clear();
}

std::string CVORLADoc::ProposedSaveName() const
{
    // Before any save or load, a visible name: ".txt" alone would make a
    // hidden file that the save dialog does not even list afterwards.
    return m_path.empty() ? "Untitled.txt" : m_path;
}

void CVORLADoc::Remember(const std::string& path)
{
    m_path = path;
    const size_t slash = path.find_last_of('/');
    m_title = slash == std::string::npos ? path : path.substr(slash + 1);
}

bool CVORLADoc::Save(const std::string& path, const std::string& text, std::string& error)
{
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) {
        error = "Unable to write to " + path + ": " + std::strerror(errno) + ".";
        return false;
    }
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    const int writeErrno = errno;
    const bool closed = std::fclose(file) == 0;
    if (!written || !closed) {
        error = "Failed to save document " + path + ": " + std::strerror(written ? errno : writeErrno) + ".";
        return false;
    }
    Remember(path);
    return true;
}

bool CVORLADoc::Load(const std::string& path, std::string& text, std::string& error, size_t maxBytes)
{
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        error = "Failed to open document " + path + ": " + std::strerror(errno) + ".";
        return false;
    }
    if (!S_ISREG(info.st_mode)) {
        error = "Failed to open document " + path + ": not a regular file.";
        return false;
    }
    if (static_cast<unsigned long long>(info.st_size) > maxBytes) {
        error = "Failed to open document " + path + ": the file is larger than the terminal holds.";
        return false;
    }
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) {
        error = "Failed to open document " + path + ": " + std::strerror(errno) + ".";
        return false;
    }
    std::string raw;
    char buffer[65536];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0 && raw.size() <= maxBytes)
        raw.append(buffer, n);
    const bool failed = std::ferror(file);
    std::fclose(file);
    if (failed) {
        error = "Failed to open document " + path + ": read error.";
        return false;
    }
    text.clear();
    text.reserve(raw.size());
    bool lastWasCr = false;
    for (char ch : raw) {
        const auto byte = static_cast<unsigned char>(ch);
        if (ch == '\n' && lastWasCr) {
            lastWasCr = false;
            continue;
        }
        lastWasCr = ch == '\r';
        if (ch == '\r' || ch == '\n')
            text += '\n';
        else if ((byte < 0x20 && ch != '\t') || byte == 0x7F)
            text += '.';
        else
            text += ch;
    }
    Remember(path);
    return true;
}
