#include "widgets/UiBridge.h"

#include <QThread>

#include <memory>
#include <optional>

#include "core/CancelSignal.h"

struct CUiBridge::Request {
    enum State { Pending, Running, Done, Dropped };
    std::function<void()> fn;
    State state = Pending;
};

CUiBridge::CUiBridge(QObject* parent) : QObject(parent) {}

CUiBridge::~CUiBridge() { Shutdown(); }

bool CUiBridge::OnUiThread() const { return QThread::currentThread() == thread(); }

bool CUiBridge::IsShutDown() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_shutDown;
}

void CUiBridge::Shutdown()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_shutDown = true;
    }
    m_done.notify_all();
}

void CUiBridge::Run(const std::shared_ptr<Request>& request)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (request->state != Request::Pending || m_shutDown)
            return;
        request->state = Request::Running;
    }
    request->fn();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        request->state = Request::Done;
    }
    m_done.notify_all();
}

bool CUiBridge::Call(const std::function<void()>& fn, const CCancelSignal* abandon)
{
    if (OnUiThread()) {
        fn(); // the UI thread never waits on itself, also during shut-down
        return true;
    }
    auto request = std::make_shared<Request>();
    request->fn = fn;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_shutDown)
            return false;
    }
    QMetaObject::invokeMethod(this, [this, request] { Run(request); }, Qt::QueuedConnection);

    // The subscription must outlive the lock below: it is released after it.
    std::optional<CCancelSignal::Subscription> wake;
    if (abandon)
        wake.emplace(abandon->OnCancel([this] {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_done.notify_all();
        }));
    std::unique_lock<std::mutex> lock(m_mutex);
    m_done.wait(lock, [&] {
        if (request->state == Request::Done)
            return true;
        // A request that has started runs to its end: it may use the caller's data.
        return request->state == Request::Pending && (m_shutDown || (abandon && abandon->IsCancelled()));
    });
    if (request->state == Request::Done)
        return true;
    request->state = Request::Dropped;
    return false;
}

void CUiBridge::Post(std::function<void()> fn)
{
    auto request = std::make_shared<Request>();
    request->fn = std::move(fn);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_shutDown)
            return;
    }
    QMetaObject::invokeMethod(this, [this, request] { Run(request); }, Qt::QueuedConnection);
}
