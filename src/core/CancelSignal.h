#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <list>
#include <mutex>

// A signal that cuts waits short: set when the user stops an evaluation
// (Ctrl+Break) or when the application shuts down. Waits inside commands
// either sleep on it directly (WaitFor) or subscribe a wake-up of their own.
class CCancelSignal {
public:
    using Callback = std::function<void()>;

    // Keeps a wake-up registered while it lives.
    class Subscription {
    public:
        Subscription() = default;
        Subscription(const CCancelSignal* signal, std::list<Callback>::iterator it) : m_signal(signal), m_it(it) {}
        Subscription(Subscription&& other) noexcept { *this = std::move(other); }
        Subscription& operator=(Subscription&& other) noexcept
        {
            Release();
            m_signal = other.m_signal;
            m_it = other.m_it;
            other.m_signal = nullptr;
            return *this;
        }
        Subscription(const Subscription&) = delete;
        Subscription& operator=(const Subscription&) = delete;
        ~Subscription() { Release(); }

    private:
        void Release()
        {
            if (m_signal) {
                std::lock_guard<std::mutex> lock(m_signal->m_mutex);
                m_signal->m_callbacks.erase(m_it);
                m_signal = nullptr;
            }
        }
        const CCancelSignal* m_signal = nullptr;
        std::list<Callback>::iterator m_it;
    };

    // Sets the signal and runs every registered wake-up. The wake-ups run
    // under the signal's lock, so a Subscription's destructor waits for a
    // running one; do not drop a Subscription while holding a lock that its
    // callback takes.
    void Cancel()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_cancelled = true;
        m_cv.notify_all();
        for (auto& cb : m_callbacks)
            cb();
    }

    void Reset()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_cancelled = false;
    }

    // Lock-free, so waits may test it while holding locks of their own.
    bool IsCancelled() const { return m_cancelled.load(); }

    // Sleeps ms milliseconds (none for ms <= 0). Returns false if cancelled.
    // Waiting only watches the signal, so a holder of a const one may wait.
    bool WaitFor(int ms) const
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (ms > 0)
            m_cv.wait_for(lock, std::chrono::milliseconds(ms), [this] { return m_cancelled.load(); });
        return !m_cancelled.load();
    }

    // Registers a wake-up for waits that sleep on a condition of their own.
    // The callback must not call back into this signal.
    Subscription OnCancel(Callback cb) const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_callbacks.push_back(std::move(cb));
        return Subscription(this, std::prev(m_callbacks.end()));
    }

private:
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_cv;
    std::atomic<bool> m_cancelled{false};
    mutable std::list<Callback> m_callbacks;
};
