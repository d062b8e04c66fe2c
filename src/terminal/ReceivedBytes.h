#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "serial/IByteObserver.h"
#include "text/ByteRing.h"
#include "text/HexText.h"

// The received bytes as they came off the line, for the hex view: the
// engine's reader appends them (IByteObserver), the view reads the rows it
// shows. Holds the newest kCapacity bytes, as the text pane holds its
// newest characters; positions are CByteRing's.
class CReceivedBytes : public IByteObserver {
public:
    static constexpr std::size_t kCapacity = 0xFFFFFF;

    explicit CReceivedBytes(std::size_t capacity = kCapacity) : m_ring(capacity) {}

    // Reader thread. Calls the handler when bytes start waiting for the view.
    void BytesReceived(const char* data, std::size_t n) override;

    // The view's side. The handler runs on the reader thread under the
    // lock: it only posts. No further call comes until the view calls Seen.
    void SetArrivedHandler(std::function<void()> handler);
    void Seen();
    void Clear();
    uint64_t Begin() const;
    uint64_t End() const;
    // Copies the held bytes of [pos, pos + n) to out; returns how many.
    std::size_t Copy(uint64_t pos, std::size_t n, unsigned char* out) const;
    // Hex dump rows cover 16 positions each, row r from position 16 r: the
    // first and last rows held may be partly blank.
    uint64_t FirstRow() const { return Begin() / CHexRow::kBytesPerRow; }
    uint64_t RowEnd() const; // one past the last row held (FirstRow when empty)
    std::string Row(uint64_t row) const;

private:
    mutable std::mutex m_mutex; // guards every member below
    CByteRing m_ring;
    std::function<void()> m_arrived;
    bool m_viewTold = false;
};
