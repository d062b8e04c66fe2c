#pragma once

#include <QObject>

#include <condition_variable>
#include <functional>
#include <mutex>

class CCancelSignal;

// Carries requests of worker threads (show a chunk, print to the console,
// show a message box) to the UI thread and lets the worker wait for them.
// Shutdown() first makes every pending and later request return at once
// without running, so the UI thread can then join workers that were waiting
// for it.
class CUiBridge : public QObject {
    Q_OBJECT
public:
    explicit CUiBridge(QObject* parent = nullptr);
    ~CUiBridge() override;

    // Runs fn on the UI thread and waits for it (runs it directly when called
    // on the UI thread). From a worker it returns false, without running fn,
    // after Shutdown() or once `abandon` is set while fn has not started.
    bool Call(const std::function<void()>& fn, const CCancelSignal* abandon = nullptr);
    // Queues fn for the UI thread without waiting; dropped after Shutdown().
    void Post(std::function<void()> fn);
    void Shutdown();
    bool IsShutDown() const;
    bool OnUiThread() const;

private:
    struct Request;
    void Run(const std::shared_ptr<Request>& request);

    mutable std::mutex m_mutex;     // guards m_shutDown and every Request's state
    std::condition_variable m_done; // signalled when a request finishes, on shutdown and on abandon
    bool m_shutDown = false;
};
