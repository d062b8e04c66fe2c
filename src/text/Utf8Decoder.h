#pragma once

#include <cstddef>
#include <string>

// Turns received bytes into UTF-8 text for showing: valid UTF-8 passes, a
// character split across two reads is joined, and each ill-formed part (a
// stray continuation byte, a cut-off sequence, an overlong form, a surrogate,
// a value past U+10FFFF) becomes one U+FFFD. A byte that cannot continue the
// sequence before it starts a new one, so no good character beside a bad
// sequence is lost.
class CUtf8Decoder {
public:
    // Appends the text of data[0, n) to out; an unfinished character at the
    // end waits for the next call.
    void Decode(const char* data, std::size_t n, std::string& out);
    // Gives up an unfinished character: U+FFFD for it, if there is one.
    void Flush(std::string& out);
    void Reset() { m_have = m_need = 0; }

    static constexpr const char* kReplacement = "\xEF\xBF\xBD";

private:
    unsigned char m_seq[4] = {};
    int m_have = 0; // bytes of the unfinished character held in m_seq
    int m_need = 0; // its full length
};
