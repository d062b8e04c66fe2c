#include <QComboBox>
#include <QStatusBar>
#include <QtTest>

#include <algorithm>
#include <memory>

#include "GuiTestSupport.h"
#include "app/CommandBar.h"
#include "app/MainFrame.h"
#include "devsim/DevSim.h"
#include "serial/PortMap.h"
#include "terminal/TerminalView.h"

// Typing in the terminal pane of the main window while the device on a real
// pseudo-terminal does not read: the window stays live, keys go out in order
// once the device reads, and lost keys are reported once in the status bar.
class TestTerminalTyping : public QObject {
    Q_OBJECT

    CDevSim m_device;
    CPortMap m_ports;
    std::unique_ptr<CMainFrame> m_frame;
    int m_lossReports = 0;

    CVORLAView* Pane() { return m_frame->Terminal(); }

    // What reached the device, without the bytes that held the line.
    std::string Typed()
    {
        std::string r = m_device.Received();
        r.erase(std::remove(r.begin(), r.end(), CDevSim::FillerByte()), r.end());
        return r;
    }

    // Clicks each key and returns the longest time one click kept the UI thread.
    qint64 TypeTimed(const char* keys)
    {
        qint64 longest = 0;
        for (const char* k = keys; *k; ++k) {
            QElapsedTimer timer;
            timer.start();
            QTest::keyClick(Pane(), *k);
            longest = std::max(longest, timer.elapsed());
        }
        return longest;
    }

    bool WaitIdle()
    {
        const bool idle = WaitUntil([&] { return !Pane()->IsTypingBusy(); }, 10000);
        QCoreApplication::processEvents(); // the loss report is posted before the sender goes idle
        return idle;
    }

private slots:
    void initTestCase()
    {
        QDir::setCurrent(QDir::tempPath());
        CDevSim::SOptions options;
        options.mode = CDevSim::EMode::Silent;
        std::string error;
        QVERIFY2(m_device.Start(options, error), error.c_str());
        m_ports.Build({}, [](const char*) { return nullptr; }, {});
        m_ports.Map(2, m_device.Path());
    }

    void init()
    {
        m_frame = std::make_unique<CMainFrame>(m_ports);
        m_frame->resize(1100, 700);
        m_frame->show();
        // Counts the reports on their way to the status bar (a repeated
        // message would not show as a change there).
        m_lossReports = 0;
        connect(Pane(), &CVORLAView::statusMessage, this, [this] { ++m_lossReports; });
        m_frame->m_wndCommandBar->m_cbPort->setCurrentIndex(1);
        m_frame->OnConnect();
        QCOMPARE(m_frame->OpenPort(), 2);
        m_device.ClearReceived();
    }

    void cleanup()
    {
        m_device.ReleaseLine();
        m_frame.reset();
    }

    void keysTypedOnAHeldLineArriveInOrderWithoutBlocking()
    {
        QVERIFY(m_device.HoldLine());
        // Each key would hold the window for the write time-out (over 1 s).
        QVERIFY(TypeTimed("A\tBC") < 500); // Tab is a character here, not a move of the focus
        QVERIFY(TypeTimed("DE") < 500);
        m_device.ReleaseLine();
        QVERIFY(WaitUntil([&] { return Typed().size() >= 6; }, 5000));
        QCOMPARE(Typed(), std::string("A\tBCDE"));
        QVERIFY(WaitIdle());
        QCOMPARE(m_lossReports, 0);
    }

    void lostKeysAreReportedOncePerEpisode()
    {
        QVERIFY(m_device.HoldLine());
        QVERIFY(TypeTimed("xyz") < 500);
        QVERIFY(WaitIdle()); // x times out; y and z, queued behind it, are dropped
        QCOMPARE(m_lossReports, 1);
        QVERIFY(m_frame->statusBar()->currentMessage().contains("not sent"));
        QVERIFY(TypeTimed("w") < 500);
        QVERIFY(WaitIdle());
        QCOMPARE(m_lossReports, 1); // the same episode: no second message

        m_device.ReleaseLine();
        QTest::keyClick(Pane(), 'v');
        QVERIFY(WaitUntil([&] { return !Typed().empty(); }, 5000));
        QVERIFY(WaitIdle());
        QCOMPARE(Typed(), std::string("v")); // no dropped key went out late

        // A byte went out, so the next loss is a new episode.
        QVERIFY(m_device.HoldLine());
        QTest::keyClick(Pane(), 'q');
        QVERIFY(WaitIdle());
        QCOMPARE(m_lossReports, 2);
    }
};

QTEST_MAIN(TestTerminalTyping)
#include "tst_terminal_typing.moc"
