#pragma once

#include <QApplication>
#include <QElapsedTimer>
#include <QTest>

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "core/IUserPrompt.h"
#include "devsim/DevSim.h"
#include "serial/PortMap.h"
#include "widgets/TextView.h"

// Waits, processing events, until pred() holds or the deadline passes.
inline bool WaitUntil(const std::function<bool()>& pred, int timeoutMs = 5000)
{
    QElapsedTimer timer;
    timer.start();
    while (!pred()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QTest::qWait(1);
    }
    return true;
}

// Records the questions asked of the user and answers them.
class CRecordingPrompt : public IUserPrompt {
public:
    void ShowMessage(const std::string& text, const CCancelSignal* = nullptr) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_messages.push_back(text);
    }
    bool AskYesNo(const std::string& text, const CCancelSignal* = nullptr) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_messages.push_back(text);
        return m_answer;
    }
    void RequestQuit() override { m_quitRequested = true; }
    std::vector<std::string> Messages()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_messages;
    }
    bool m_answer = false;
    bool m_quitRequested = false;

private:
    std::mutex m_mutex;
    std::vector<std::string> m_messages;
};

// The colour of the character at position pos of a text pane.
inline QColor ColourAt(const CTextView* pane, int pos) { return pane->TextColourAt(pos); }

// The last line of a text pane, without a line break.
inline QString LastLine(const CTextView* pane)
{
    const CLineStore& store = pane->Store();
    const qint64 start = static_cast<qint64>(store.LineStart(store.LineCount() - 1) - store.Begin());
    return pane->TextRange(start, pane->CharacterCount());
}

// Starts `device` as a silent simulated device and makes it COM2, the only
// port in `ports`. Returns the reason when the device cannot start.
inline std::string MapSilentDeviceAsCom2(CDevSim& device, CPortMap& ports)
{
    CDevSim::SOptions options;
    options.mode = CDevSim::EMode::Silent;
    std::string error;
    if (!device.Start(options, error))
        return error.empty() ? "the simulated device did not start" : error;
    ports.Build({}, [](const char*) { return nullptr; }, {});
    ports.Map(2, device.Path());
    return {};
}
