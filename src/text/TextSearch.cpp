#include "text/TextSearch.h"

#include <algorithm>
#include <string>

#include "text/LineStore.h"

namespace {

// The held text is searched a window at a time; windows overlap by the
// length of the text sought less one, so no match is missed at their seams.
constexpr std::size_t kWindow = 64 << 10;

char Fold(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool IsWordByte(char c)
{
    const auto b = static_cast<unsigned char>(c);
    return (b >= '0' && b <= '9') || (b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z') || b == '_' || b >= 0x80;
}

class CSearch {
public:
    CSearch(const CLineStore& store, std::string_view what, const SFindOptions& options)
        : m_store(store), m_what(what), m_options(options)
    {
        if (!options.matchCase)
            std::transform(m_what.begin(), m_what.end(), m_what.begin(), Fold);
    }

    uint64_t Forward(uint64_t from)
    {
        const uint64_t end = m_store.End();
        for (uint64_t at = std::max(from, m_store.Begin()); at + m_what.size() <= end; at += kWindow) {
            Load(at, kWindow + m_what.size() - 1);
            for (std::size_t i = 0; (i = m_window.find(m_what, i)) != std::string::npos && i < kWindow; ++i)
                if (Accept(at + i))
                    return at + i;
        }
        return kNotFound;
    }

    uint64_t Backward(uint64_t from)
    {
        const uint64_t begin = m_store.Begin();
        uint64_t end = std::min(from, m_store.End());
        while (end >= begin + m_what.size()) {
            const uint64_t at = end - std::min<uint64_t>(end - begin, kWindow + m_what.size() - 1);
            Load(at, static_cast<std::size_t>(end - at));
            for (std::size_t i = m_window.size() - m_what.size();; --i) {
                i = m_window.rfind(m_what, i);
                if (i == std::string::npos)
                    break;
                if (Accept(at + i))
                    return at + i;
                if (i == 0)
                    break;
            }
            if (at == begin)
                break;
            end = at + m_what.size() - 1;
        }
        return kNotFound;
    }

private:
    void Load(uint64_t at, std::size_t length)
    {
        m_window.clear();
        m_store.Read(at, length, m_window);
        if (!m_options.matchCase)
            std::transform(m_window.begin(), m_window.end(), m_window.begin(), Fold);
    }

    bool Accept(uint64_t start) const
    {
        if (!m_options.wholeWord)
            return true;
        const uint64_t end = start + m_what.size();
        if (start > m_store.Begin() && IsWordByte(m_store.At(start - 1)))
            return false;
        return end >= m_store.End() || !IsWordByte(m_store.At(end));
    }

    const CLineStore& m_store;
    std::string m_what;
    const SFindOptions m_options;
    std::string m_window;
};

} // namespace

uint64_t FindText(const CLineStore& store, std::string_view what, uint64_t from, const SFindOptions& options)
{
    if (what.empty() || what.size() > store.Size())
        return kNotFound;
    CSearch search(store, what, options);
    return options.forward ? search.Forward(from) : search.Backward(from);
}
