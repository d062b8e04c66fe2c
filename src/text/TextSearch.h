#pragma once

#include <cstdint>
#include <string_view>

class CLineStore;

struct SFindOptions {
    bool matchCase = false; // otherwise ASCII letters match either case
    bool wholeWord = false; // no letter, digit or '_' right before or after
    bool forward = true;
};

// Finds `what` in the held text of a store without copying it whole.
// Forward: the first match that starts at or after `from`. Backward: the last
// match that ends at or before `from`. Returns the match's start, or kNotFound.
constexpr uint64_t kNotFound = UINT64_MAX;
uint64_t FindText(const CLineStore& store, std::string_view what, uint64_t from, const SFindOptions& options);
