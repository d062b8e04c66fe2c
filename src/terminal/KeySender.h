#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "core/CancelSignal.h"

// Sends typed keys out of the port on a thread of its own, in the order they
// were typed, so the UI thread never waits for a line that does not take
// bytes. When a byte is lost, the keys queued behind it are dropped too (they
// would each wait out a time-out and reach the device with a hole before
// them), and the loss is reported once until a byte goes out again.
class CKeySender {
public:
    using SendByte = std::function<bool(unsigned char, const CCancelSignal*)>;
    using LossHandler = std::function<void()>;

    // Both are called on the sender's thread.
    CKeySender(SendByte send, LossHandler onLoss);
    ~CKeySender();
    CKeySender(const CKeySender&) = delete;
    CKeySender& operator=(const CKeySender&) = delete;

    // Queues the bytes and returns at once; the first call starts the thread.
    void Send(const std::string& bytes);
    // True while keys wait or one is being written.
    bool IsBusy() const;
    // Drops what waits, ends the wait for the byte in flight and joins the
    // thread. A later Send starts it again.
    void Stop();

private:
    void Run();

    const SendByte m_send;
    const LossHandler m_onLoss;
    CCancelSignal m_stop; // ends the wait for the byte in flight

    mutable std::mutex m_mutex;       // guards the four members below
    std::condition_variable m_wake;   // keys queued, or stopping
    std::deque<unsigned char> m_queue;
    bool m_inFlight = false;
    bool m_stopping = false;
    bool m_losing = false;            // a loss was reported; the next byte written ends it

    std::thread m_thread; // started by Send, joined by Stop; both on the same (UI) thread
};
