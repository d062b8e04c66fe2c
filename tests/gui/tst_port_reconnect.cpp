#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QMenu>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QtTest>

#include <filesystem>
#include <time.h>

#include "GuiTestSupport.h"
#include "app/CommandBar.h"
#include "app/MainFrame.h"
#include "devsim/DevSim.h"
#include "serial/PortSettingsDlg.h"

// The main window follows serial devices: the port list in words, the port
// and its settings in the status bar, and Config > Reconnect Automatically,
// on a simulated device behind a by-id style link that comes and goes.
class TestPortReconnect : public QObject {
    Q_OBJECT

    QTemporaryDir m_root;
    SDeviceDirs m_dirs;
    std::string m_link;
    CPortMap m_ports;
    QStringList m_messages;

    std::unique_ptr<CMainFrame> MakeFrame()
    {
        m_messages.clear();
        auto frame = std::make_unique<CMainFrame>(m_ports);
        frame->GuiPrompt().m_answer = [this](const QString& text, bool) {
            m_messages << text;
            return true;
        };
        frame->WatchDevices(m_dirs);
        frame->show();
        return frame;
    }
    void Plug(CDevSim& device)
    {
        CDevSim::SOptions options;
        options.mode = CDevSim::EMode::Echo;
        options.link = m_link;
        std::string error;
        QVERIFY2(device.Start(options, error), error.c_str());
    }
    static QLabel* PortState(CMainFrame& frame) { return frame.findChild<QLabel*>("statusPort"); }
    static QAction* ReconnectOption(CMainFrame& frame)
    {
        for (QAction* action : frame.MenuAt(3)->actions())
            if (action->text() == "Reconnect Automatically")
                return action;
        return nullptr;
    }
    static long long ProcessCpuMs()
    {
        timespec ts{};
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
        return ts.tv_sec * 1000LL + ts.tv_nsec / 1000000;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_root.isValid());
        const std::string root = m_root.path().toStdString();
        m_dirs = {root + "/dev", root + "/serial/by-id", root + "/sys"};
        std::filesystem::create_directories(m_dirs.dev);
        std::filesystem::create_directories(m_dirs.byId);
        m_link = m_dirs.byId + "/usb-VORLA_Sim_0001-if00-port0";
        m_ports.Build({}, [](const char*) { return nullptr; }, {});
    }

    void listAndStatusFollowTheDevice()
    {
        auto frame = MakeFrame();
        QAction* option = ReconnectOption(*frame);
        QVERIFY(option && option->isCheckable() && !option->isChecked());
        QCOMPARE(PortState(*frame)->text(), QString("Not connected"));

        CDevSim device;
        Plug(device);
        QComboBox* list = frame->m_wndCommandBar->m_cbPort;
        const QString entry = QString("COM1 — %1").arg(QString::fromStdString(device.Path()));
        QVERIFY(WaitUntil([&] { return list->itemData(0, Qt::AccessibleTextRole).toString() == entry; }));
        QCOMPARE(list->itemText(0), QString("COM1"));
        QVERIFY(list->itemData(0, Qt::ToolTipRole).toString().contains(QString::fromStdString(m_link)));

        frame->OnConnect();
        QCOMPARE(frame->OpenPort(), 1);
        QCOMPARE(PortState(*frame)->text(),
                 QString::fromStdString("COM1 " + DescribeLineSettings(frame->SerialPort().Dcb())));
        frame->m_runSettingsDialog = [](CPortSettingsDlg& dlg) {
            dlg.Settings().m_dcb.BaudRate = 921600;
            dlg.Settings().m_flowControl = FlowControl::XonXoff;
            return int(QDialog::Accepted);
        };
        frame->OnSettings();
        QCOMPARE(PortState(*frame)->text(), QString("COM1 921600 8N1 XON/XOFF"));

        // Reconnect off: the loss closes the port once, for good.
        device.HangUp();
        QVERIFY(WaitUntil([&] { return frame->OpenPort() == 0; }));
        QCOMPARE(PortState(*frame)->text(), QString("Not connected"));
        QVERIFY(WaitUntil([&] { return list->itemData(0, Qt::AccessibleTextRole).toString() == entry + " (absent)"; }));
        QCOMPARE(m_messages, QStringList{"Unable to wait for commevent"});
    }

    void reconnectsAndDisConnectEndsTheWait()
    {
        auto frame = MakeFrame();
        ReconnectOption(*frame)->trigger();
        QVERIFY(frame->Reconnect().Enabled());
        CDevSim first, second, third;
        Plug(first);
        QVERIFY(WaitUntil([&] { return m_ports.IsPresent(1); }));
        frame->OnConnect();
        QCOMPARE(frame->OpenPort(), 1);
        first.HangUp();
        QVERIFY(WaitUntil([&] { return frame->Reconnect().WaitingPort() == 1; }));
        QCOMPARE(PortState(*frame)->text(), QString("COM1 waiting for its device"));
        QVERIFY(!frame->m_wndCommandBar->m_cbPort->isEnabled());

        // Waiting costs nothing: the whole process over 1.5 s of its event loop.
        const long long cpuBefore = ProcessCpuMs();
        QElapsedTimer window;
        window.start();
        QTest::qWait(1500);
        const long long cpu = ProcessCpuMs() - cpuBefore;
        QVERIFY2(cpu < 50 + window.elapsed() / 10, qPrintable(QString("cpu ms %1").arg(cpu)));

        Plug(second);
        QElapsedTimer back;
        back.start();
        QVERIFY(WaitUntil([&] { return frame->OpenPort() == 1; }));
        QVERIFY2(back.elapsed() < 2000, qPrintable(QString("reopened after %1 ms").arg(back.elapsed())));
        QVERIFY(frame->Terminal()->toPlainText().contains("--- COM1 reconnected: "));
        QCOMPARE(frame->statusBar()->currentMessage(), QString("COM1 reconnected"));
        QVERIFY(PortState(*frame)->text().startsWith("COM1 "));
        second.Inject("again\r\n");
        QVERIFY(WaitUntil([&] { return frame->Terminal()->toPlainText().endsWith("again\n"); }));
        QCOMPARE(m_messages.size(), 1);

        second.HangUp();
        QVERIFY(WaitUntil([&] { return frame->Reconnect().WaitingPort() == 1; }));
        frame->OnDisconnect();
        QCOMPARE(frame->Reconnect().WaitingPort(), 0);
        QVERIFY(frame->Console()->toPlainText().endsWith("COM1 no longer waits for its device \nVORLA > "));
        QCOMPARE(PortState(*frame)->text(), QString("Not connected"));
        QVERIFY(frame->m_wndCommandBar->m_cbPort->isEnabled());
        Plug(third); // each look tries to reopen at once: none happens
        QVERIFY(WaitUntil([&] { return m_ports.IsPresent(1); }));
        QCOMPARE(frame->OpenPort(), 0);
    }

    // A device back but held by another program: one notice, then quiet
    // tries; once the other program lets go, the port opens without any
    // further device event.
    void aBusyReturnIsSaidOnceThenReopens()
    {
        auto frame = MakeFrame();
        ReconnectOption(*frame)->trigger();
        CDevSim first, second;
        Plug(first);
        QVERIFY(WaitUntil([&] { return m_ports.IsPresent(1); }));
        frame->OnConnect();
        QCOMPARE(frame->OpenPort(), 1);
        first.HangUp();
        QVERIFY(WaitUntil([&] { return frame->Reconnect().WaitingPort() == 1; }));

        Plug(second);
        CSerialLine holder; // taken before the window hears of the device
        std::string reason;
        QVERIFY2(holder.Open(second.Path(), reason), reason.c_str());
        QVERIFY(WaitUntil([&] { return frame->statusBar()->currentMessage().contains("busy"); }));
        const QString notice = "--- COM1 is back but cannot be opened";
        QTest::qWait(CPortReconnect::kReportAfterMs * 3);
        QCOMPARE(frame->Terminal()->toPlainText().count(notice), 1);
        QCOMPARE(frame->OpenPort(), 0);

        holder.Close();
        QVERIFY(WaitUntil([&] { return frame->OpenPort() == 1; }));
        QCOMPARE(frame->Terminal()->toPlainText().count(notice), 1);
        second.Inject("free\r\n");
        QVERIFY(WaitUntil([&] { return frame->Terminal()->toPlainText().endsWith("free\n"); }));
    }
};

QTEST_MAIN(TestPortReconnect)
#include "tst_port_reconnect.moc"
