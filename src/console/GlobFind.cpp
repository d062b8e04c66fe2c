#include "console/GlobFind.h"

#include <algorithm>
#include <vector>

namespace {

unsigned char Fold(unsigned char c, bool nocase) { return nocase && c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c; }

// Does the pattern element at p match c? Sets next to the element's end.
// Follows Tcl's string match: a trailing lone \ matches nothing; inside
// [...] there are no escapes, a range may run either way and may end in ],
// and a class left open at the pattern's end matches if an item matched.
bool ElementMatches(std::string_view pat, std::size_t p, unsigned char c, bool nocase, std::size_t& next)
{
    c = Fold(c, nocase);
    if (pat[p] == '?') {
        next = p + 1;
        return true;
    }
    if (pat[p] == '\\') {
        next = p + 2;
        return p + 1 < pat.size() && Fold(static_cast<unsigned char>(pat[p + 1]), nocase) == c;
    }
    if (pat[p] != '[') {
        next = p + 1;
        return Fold(static_cast<unsigned char>(pat[p]), nocase) == c;
    }
    std::size_t i = p + 1;
    for (;;) {
        if (i >= pat.size() || pat[i] == ']')
            return false;
        unsigned char low = Fold(static_cast<unsigned char>(pat[i++]), nocase);
        unsigned char high = low;
        if (i < pat.size() && pat[i] == '-') {
            if (++i >= pat.size())
                return false;
            high = Fold(static_cast<unsigned char>(pat[i++]), nocase);
            if (low > high)
                std::swap(low, high);
        }
        if (c >= low && c <= high)
            break;
    }
    while (i < pat.size() && pat[i] != ']')
        ++i;
    next = std::min(i + 1, pat.size());
    return true;
}

// Matches the pattern from text[s]; returns the match's end or npos.
// atEnd: the match must end with the text. reachedStar: the pattern
// matched up to its first * from here.
std::size_t MatchAt(std::string_view text, std::string_view pat, std::size_t s, bool nocase, bool atEnd,
                    bool& reachedStar)
{
    constexpr std::size_t npos = std::string_view::npos;
    std::size_t p = 0, t = s;
    std::size_t starP = npos, starT = 0;
    for (;;) {
        if (p == pat.size() && (!atEnd || t == text.size()))
            return t;
        if (p < pat.size() && pat[p] == '*') {
            while (p < pat.size() && pat[p] == '*')
                ++p;
            if (p == pat.size())
                return text.size();
            reachedStar = true;
            starP = p;
            starT = t;
            continue;
        }
        std::size_t next = 0;
        if (p < pat.size() && t < text.size() && ElementMatches(pat, p, static_cast<unsigned char>(text[t]), nocase, next)) {
            p = next;
            ++t;
            continue;
        }
        if (starP == npos || starT >= text.size())
            return npos;
        p = starP;
        t = ++starT;
    }
}

// The same search for patterns whose elements do not have fixed ends (a
// range ending in ']' ends its class where the character matched decides),
// where backtracking to the last * alone would miss matches. It follows
// every pattern position at once, keeping the earliest start that reached
// it, in one pass over the text.
bool FindByPositions(std::string_view text, std::string_view pat, bool nocase, bool atStart, bool atEnd,
                     SFoundSpan& found)
{
    constexpr std::size_t none = std::string_view::npos;
    const std::size_t m = pat.size(), n = text.size();
    std::size_t onlyStarsFrom = m; // every element from here on is a *
    while (onlyStarsFrom > 0 && pat[onlyStarsFrom - 1] == '*')
        --onlyStarsFrom;
    std::vector<std::size_t> at(m + 1, none), next(m + 1, none);
    SFoundSpan best{none, none};
    auto consider = [&](std::size_t start, std::size_t end) {
        if (start < best.start)
            best = {start, end};
    };
    for (std::size_t t = 0;; ++t) {
        if ((!atStart || t == 0) && best.start == none)
            at[0] = std::min(at[0], t);
        for (std::size_t p = 0; p < m; ++p)
            if (at[p] != none && pat[p] == '*') {
                at[p + 1] = std::min(at[p + 1], at[p]);
                if (p >= onlyStarsFrom)
                    consider(at[p], n); // a * at the end takes the rest
            }
        if (at[m] != none && (!atEnd || t == n))
            consider(at[m], t);
        if (t == n || std::all_of(at.begin(), at.end(), [&](std::size_t s) { return s >= best.start; }))
            break;
        std::fill(next.begin(), next.end(), none);
        for (std::size_t p = 0; p < m; ++p) {
            std::size_t to = 0;
            if (at[p] == none)
                continue;
            if (pat[p] == '*')
                next[p] = std::min(next[p], at[p]);
            else if (ElementMatches(pat, p, static_cast<unsigned char>(text[t]), nocase, to))
                next[to] = std::min(next[to], at[p]);
        }
        at.swap(next);
    }
    if (best.start == none)
        return false;
    found = best;
    return true;
}

} // namespace

bool FindGlob(std::string_view text, std::string_view pattern, bool nocase, SFoundSpan& found)
{
    const bool atStart = !pattern.empty() && pattern.front() == '^';
    if (atStart)
        pattern.remove_prefix(1);
    const std::size_t n = pattern.size();
    const bool atEnd = n > 0 && pattern[n - 1] == '$' && (n < 2 || pattern[n - 2] != '\\');
    if (atEnd)
        pattern.remove_suffix(1);
    if (pattern.find("-]") != std::string_view::npos)
        return FindByPositions(text, pattern, nocase, atStart, atEnd, found);
    // Once the part before the first * has matched from some start and the
    // rest failed, no later start can do better, so the search stops there.
    for (std::size_t s = 0; s <= text.size(); ++s) {
        bool reachedStar = false;
        const std::size_t end = MatchAt(text, pattern, s, nocase, atEnd, reachedStar);
        if (end != std::string_view::npos) {
            found = {s, end};
            return true;
        }
        if (reachedStar || atStart)
            return false;
    }
    return false;
}

bool FindExact(std::string_view text, std::string_view pattern, bool nocase, SFoundSpan& found)
{
    auto same = [nocase](char a, char b) {
        return Fold(static_cast<unsigned char>(a), nocase) == Fold(static_cast<unsigned char>(b), nocase);
    };
    const auto at = std::search(text.begin(), text.end(), pattern.begin(), pattern.end(), same);
    if (at == text.end() && !pattern.empty())
        return false;
    found.start = static_cast<std::size_t>(at - text.begin());
    found.end = found.start + pattern.size();
    return true;
}
