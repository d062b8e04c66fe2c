#pragma once

#include <tcl.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "console/TclObjRef.h"
#include "serial/MatchBuffer.h"

// The Tcl thread's copy of a buffer that expect matches. Refresh takes only
// the bytes that are new, ConsumeTo drops matched ones from the front, and
// the characters that regexps run on grow along, so that a match costs what
// it looks at rather than the whole buffer: matching a 1 MB backlog line by
// line would otherwise copy a megabyte per line.
class CMatchView {
public:
    // Catches up with the buffer; returns its state (bytes: the new ones).
    CMatchBuffer::SSnapshot Refresh(const CMatchBuffer& buffer);
    std::string_view Bytes() const { return std::string_view(m_bytes).substr(m_head); }
    uint64_t Start() const { return m_start; }
    // The held bytes as characters 0..255, for regexps: they begin at `offset`.
    Tcl_Obj* Chars(int& offset);
    void ConsumeTo(uint64_t end);

private:
    void AppendChars(std::string_view bytes);

    std::string m_bytes;        // held bytes start at m_head
    std::size_t m_head = 0;
    uint64_t m_start = 0;       // absolute position of m_bytes[m_head]
    CObjRef m_chars;            // m_bytes from m_charsFrom on; made when a regexp needs it
    std::size_t m_charsFrom = 0;
};
