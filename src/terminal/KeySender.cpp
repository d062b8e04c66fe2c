#include "terminal/KeySender.h"

#include <utility>

CKeySender::CKeySender(SendByte send, LossHandler onLoss) : m_send(std::move(send)), m_onLoss(std::move(onLoss)) {}

CKeySender::~CKeySender() { Stop(); }

void CKeySender::Send(const std::string& bytes)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_queue.insert(m_queue.end(), bytes.begin(), bytes.end());
        if (!m_thread.joinable()) {
            m_stopping = false;
            m_stop.Reset();
            m_thread = std::thread(&CKeySender::Run, this);
        }
    }
    m_wake.notify_one();
}

bool CKeySender::IsBusy() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_inFlight || !m_queue.empty();
}

void CKeySender::Stop()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
        m_queue.clear();
    }
    m_wake.notify_one();
    m_stop.Cancel();
    if (m_thread.joinable())
        m_thread.join();
}

void CKeySender::Run()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_stopping || !m_queue.empty(); });
        if (m_stopping)
            return;
        const unsigned char b = m_queue.front();
        m_queue.pop_front();
        m_inFlight = true;
        lock.unlock();
        const bool sent = m_send(b, &m_stop);
        lock.lock();
        if (m_stopping) {
            m_inFlight = false;
            return; // stopped mid-send: shutting down, nothing to report
        }
        if (!sent) {
            m_queue.clear();
            if (!m_losing) {
                // Reported before the sender counts as idle again.
                lock.unlock();
                m_onLoss();
                lock.lock();
            }
        }
        m_losing = !sent;
        m_inFlight = false;
    }
}
