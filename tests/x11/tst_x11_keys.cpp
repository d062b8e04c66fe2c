#include <QComboBox>
#include <QProcess>
#include <QtTest>

#include "GuiTestSupport.h"
#include "app/CommandBar.h"
#include "app/CommandIds.h"
#include "app/MainFrame.h"
#include "devsim/DevSim.h"
#include "serial/PortMap.h"
#include "terminal/TerminalView.h"

// Keys to Device with real X key events (run inside with-x11.sh on the xcb
// platform): keys that the window's accelerators, the focus chain or a
// desktop would otherwise take (Ctrl+C, Ctrl+V, Ctrl+A, Escape, Tab, F1,
// F10) reach a device on a pseudo-terminal as a terminal sends them.
class TestX11Keys : public QObject {
    Q_OBJECT

    CDevSim m_device;
    CPortMap m_ports;

private slots:
    void initTestCase()
    {
        QDir::setCurrent(QDir::tempPath());
        QCOMPARE(QGuiApplication::platformName(), QString("xcb"));
        const std::string error = MapSilentDeviceAsCom2(m_device, m_ports);
        QVERIFY2(error.empty(), error.c_str());
    }

    void keysTypedOnTheKeyboardReachTheDevice()
    {
        CMainFrame frame(m_ports);
        frame.show();
        frame.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&frame, 20000));
        frame.m_wndCommandBar->m_cbPort->setCurrentIndex(1);
        frame.OnConnect();
        QCOMPARE(frame.OpenPort(), 2);
        frame.Terminal()->setFocus();
        QVERIFY(WaitUntil([&] { return frame.Terminal()->hasFocus(); }, 5000));
        frame.OnCommand(ID_KEYS_TO_DEVICE);
        frame.OnCommand(ID_ENTER_CR);
        m_device.ClearReceived();

        const QStringList keys = {"ctrl+c", "ctrl+v", "ctrl+a", "Escape", "Tab", "F1", "F10", "Up", "BackSpace", "Return"};
        const std::string expected = "\x03\x16\x01\x1b\t\x1bOP\x1b[21~\x1b[A\x7f\r";
        QProcess xdotool;
        xdotool.start("xdotool", QStringList{"key", "--delay", "20"} + keys);
        QVERIFY(xdotool.waitForStarted(10000));
        QVERIFY(WaitUntil([&] { return m_device.Received().size() >= expected.size(); }, 20000));
        QVERIFY(xdotool.waitForFinished(10000));
        QVERIFY(WaitUntil([&] { return !frame.Terminal()->IsTypingBusy(); }, 10000));
        QCOMPARE(QByteArray::fromStdString(m_device.Received()).toHex(' '),
                 QByteArray::fromStdString(expected).toHex(' '));
        QVERIFY(frame.Terminal()->hasFocus()); // Tab went to the device, not to the next control
        frame.OnDisconnect();
    }
};

QTEST_MAIN(TestX11Keys)
#include "tst_x11_keys.moc"
