#pragma once

#include <string>

// The one document: the terminal pane's text as a file. It remembers the
// file it was last saved to or loaded from (path and title), forgets them on
// Clear Screen, and turns text to and from the file's bytes.
class CVORLADoc {
public:
    const std::string& Path() const { return m_path; }
    const std::string& Title() const { return m_title; }
    // Clear Screen: path and title forgotten.
    void OnNewDocument();
    // The file name the next Save As proposes: the path, or "Untitled.txt" before any save.
    std::string ProposedSaveName() const;

    // Writes text to path as it stands (line breaks as "\n"). On failure
    // returns false with a message naming the reason; the path is kept as it was.
    bool Save(const std::string& path, const std::string& text, std::string& error);
    // Reads path for the terminal pane: CR LF, a lone CR and a lone LF each
    // become one line break, and control bytes other than tab become '.', as
    // received bytes would. Files longer than maxBytes are refused.
    bool Load(const std::string& path, std::string& text, std::string& error, size_t maxBytes = 0xFFFFFF);

private:
    void Remember(const std::string& path);

    std::string m_path;  // empty until a save or a load
    std::string m_title;
};
