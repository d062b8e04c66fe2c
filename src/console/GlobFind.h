#pragma once

#include <cstddef>
#include <string_view>

// Where a pattern was found in a text: [start, end).
struct SFoundSpan {
    std::size_t start = 0;
    std::size_t end = 0;
};

// Finds a Tcl glob pattern (*, ?, [a-z], \x) anywhere in text, as expect
// does: the earliest start wins; a * inside the pattern takes as little as
// it can, a * at its end takes the rest of the text; a leading ^ anchors
// the match at the text's start and a trailing $ at its end. nocase folds
// ASCII letters. The search is O(text x pattern): once a start has matched up to
// the first *, no later start can match if this one does not; patterns with
// a range ending in ']' are followed position by position instead.
bool FindGlob(std::string_view text, std::string_view pattern, bool nocase, SFoundSpan& found);

// Finds the exact bytes of pattern in text; nocase folds ASCII letters.
bool FindExact(std::string_view text, std::string_view pattern, bool nocase, SFoundSpan& found);
