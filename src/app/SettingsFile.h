#pragma once

#include <cstdio>
#include <string>

class IUserPrompt;

// The small settings file VORLA.ini in the directory that is current at
// start: written at every close of the main window, read once while the
// command bar initialises. It carries a comment header, the section
// [STARTUP] and the format version. Used on the UI thread only.
class CSettingsFile {
public:
    // The line reader's answer when the file has no further line.
    static constexpr const char* kEndSentinel = "END_OF_FILE_ENCOUNTERED_PLEASE_TERMINATE_READ";
    static constexpr const char* kFileName = "VORLA.ini";
    // The longest directory kept, counted with a terminating NUL as the
    // system's path buffers are: 259 characters at most.
    static constexpr size_t kMaxDirectory = 260;

    explicit CSettingsFile(IUserPrompt& prompt);

    // Captures the process's current directory as the settings directory.
    // If it cannot be obtained or does not fit kMaxDirectory characters with
    // its NUL, the directory stays empty. Later directory changes do not
    // move the file.
    void CaptureDirectory();
    // Sets the settings directory directly, with the same length rule.
    void SetDirectory(const std::string& dir);
    const std::string& Directory() const { return m_directory; }
    // The directory, a separator and the file name; "/VORLA.ini" while the
    // directory is empty.
    std::string Path() const;

    // Writes the ten lines of the file. Shows "Unable to save settings to
    // the ini file" if it cannot be created or written; returns false then.
    bool WriteSettingsFile();
    // Reads and checks the file, if there is one. The first line of the
    // section without "=" is reported as "ini file has error at line no N"
    // and ends the reading.
    void ReadSettingsFile();
    // Whether the last ReadSettingsFile found VERSION = 1.0 in the section.
    bool VersionMarked() const { return m_versionMarked; }

    // The next line of the file without its line feed (and without a
    // carriage return before it), or kEndSentinel when nothing is left.
    static std::string ReadSettingsLine(FILE* file);
    // The line without the blanks that stand outside double quotes.
    static std::string SquashSettingsLine(const std::string& line);

private:
    IUserPrompt& m_prompt;
    std::string m_directory; // captured once at start
    bool m_versionMarked = false;
};
