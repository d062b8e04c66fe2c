#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QStatusBar>
#include <QtTest>

#include <algorithm>
#include <memory>

#include "GuiTestSupport.h"
#include "app/CommandBar.h"
#include "app/CommandIds.h"
#include "app/MainFrame.h"
#include "devsim/DevSim.h"
#include "serial/PortMap.h"
#include "terminal/HexView.h"
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
        const std::string error = MapSilentDeviceAsCom2(m_device, m_ports);
        QVERIFY2(error.empty(), error.c_str());
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

    // Enter sends what the menu chose; the CR+LF box shows the CR LF choice
    // and, unticked, goes back to LF without undoing a CR choice.
    void enterSendsTheChosenLineEnd()
    {
        QCheckBox* box = m_frame->m_wndCommandBar->m_chkCrLf;
        std::string expected;
        auto enter = [&](const char* bytes) {
            QTest::keyClick(Pane(), Qt::Key_Return);
            expected += bytes;
        };
        enter("\n"); // the default
        m_frame->OnCommand(ID_ENTER_CR);
        QVERIFY(!box->isChecked());
        enter("\r");
        m_frame->OnCommand(ID_ENTER_CRLF);
        QVERIFY(box->isChecked());
        enter("\r\n");
        m_frame->OnCommand(ID_ENTER_CR);
        QVERIFY(!box->isChecked());
        enter("\r");
        QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(5, 5));
        enter("\r\n");
        QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(5, 5));
        enter("\n");
        QVERIFY(WaitUntil([&] { return Typed().size() >= expected.size(); }, 5000));
        QVERIFY(WaitIdle());
        QCOMPARE(Typed(), expected);
    }

    // With Keys to Device on, control, cursor, editing and function keys
    // reach the device as a terminal sends them; copy and paste move to
    // Ctrl+Shift+C/V and Ctrl+Tab still moves the focus. Off, Ctrl+C copies again.
    void keysToDeviceSendsTheKeyTable()
    {
        Pane()->setFocus();
        Pane()->LoadText("some text");
        m_frame->OnCommand(ID_KEYS_TO_DEVICE);
        QVERIFY(Pane()->Options().keysToDevice);
        m_frame->OnCommand(ID_ENTER_CR);
        const struct {
            int key;
            Qt::KeyboardModifiers mods;
            const char* bytes;
        } table[] = {
            {Qt::Key_C, Qt::ControlModifier, "\x03"},  {Qt::Key_A, Qt::ControlModifier, "\x01"},
            {Qt::Key_Z, Qt::ControlModifier, "\x1a"},  {Qt::Key_BracketLeft, Qt::ControlModifier, "\x1b"},
            {Qt::Key_Escape, {}, "\x1b"},              {Qt::Key_Tab, {}, "\t"},
            {Qt::Key_Backspace, {}, "\x7f"},           {Qt::Key_Delete, {}, "\x1b[3~"},
            {Qt::Key_Up, {}, "\x1b[A"},                {Qt::Key_Down, {}, "\x1b[B"},
            {Qt::Key_Right, {}, "\x1b[C"},             {Qt::Key_Left, {}, "\x1b[D"},
            {Qt::Key_Home, {}, "\x1b[H"},              {Qt::Key_End, {}, "\x1b[F"},
            {Qt::Key_PageUp, {}, "\x1b[5~"},           {Qt::Key_PageDown, {}, "\x1b[6~"},
            {Qt::Key_Insert, {}, "\x1b[2~"},           {Qt::Key_F1, {}, "\x1bOP"},
            {Qt::Key_F3, {}, "\x1bOR"},                {Qt::Key_F5, {}, "\x1b[15~"},
            {Qt::Key_F6, {}, "\x1b[17~"},              {Qt::Key_F12, {}, "\x1b[24~"},
            {Qt::Key_Return, {}, "\r"},                {Qt::Key_K, Qt::ControlModifier, "\x0b"},
        };
        std::string expected;
        for (const auto& k : table) {
            QTest::keyClick(Pane(), static_cast<Qt::Key>(k.key), k.mods);
            expected += k.bytes;
        }
        QTest::keyClicks(Pane(), "ok");
        expected += "ok";
        // The line is never held here: '~' (the filler) ends sequences, so compare all bytes.
        WaitUntil([&] { return m_device.Received().size() >= expected.size(); }, 5000);
        QVERIFY(WaitIdle());
        QCOMPARE(QByteArray::fromStdString(m_device.Received()).toHex(' '), QByteArray::fromStdString(expected).toHex(' '));
        QCOMPARE(Pane()->Store().Text(), std::string("some text")); // Ctrl+K did not clear the screen

        QApplication::clipboard()->clear();
        Pane()->SelectAll();
        QTest::keyClick(Pane(), Qt::Key_C, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(QApplication::clipboard()->text(), QString("some text"));
        QTest::keyClick(Pane(), Qt::Key_Tab, Qt::ControlModifier);
        QVERIFY(m_frame->Console()->hasFocus());
        Pane()->setFocus();
        m_frame->OnCommand(ID_VIEW_HEX); // the hex view covers the pane and takes the keys
        QVERIFY(Pane()->HexView()->hasFocus());
        QTest::keyClick(Pane()->HexView(), Qt::Key_C, Qt::ControlModifier);
        QTest::keyClick(Pane()->HexView(), Qt::Key_Left);
        expected += "\x03\x1b[D";
        WaitUntil([&] { return m_device.Received().size() >= expected.size(); }, 5000);
        QCOMPARE(m_device.Received(), expected);
        m_frame->OnCommand(ID_VIEW_HEX);

        m_frame->OnCommand(ID_KEYS_TO_DEVICE);
        QApplication::clipboard()->clear();
        Pane()->SelectAll();
        QTest::keyClick(Pane(), Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QApplication::clipboard()->text(), QString("some text"));
        QTest::keyClick(Pane(), Qt::Key_Up);
        QVERIFY(WaitIdle());
        QCOMPARE(m_device.Received(), expected); // neither Ctrl+C nor Up went out
    }
};

QTEST_MAIN(TestTerminalTyping)
#include "tst_terminal_typing.moc"
