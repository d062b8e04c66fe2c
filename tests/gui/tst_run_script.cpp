#include <QComboBox>
#include <QtTest>

#include "GuiTestSupport.h"
#include "app/CommandBar.h"
#include "app/MainFrame.h"
#include "console/ConsoleView.h"
#include "devsim/DevSim.h"
#include "serial/PortMap.h"
#include "terminal/TerminalView.h"

// Run Script in the real main window: the modem check script that ships with
// the tests, against a simulated modem on COM1 and a silent device on COM2.
class TestRunScript : public QObject {
    Q_OBJECT

    CDevSim m_modem;
    CDevSim m_silent;
    CPortMap m_ports;
    QString m_script;

    std::unique_ptr<CMainFrame> MakeFrame()
    {
        auto frame = std::make_unique<CMainFrame>(m_ports);
        frame->resize(1000, 700);
        frame->show();
        QCoreApplication::processEvents();
        frame->m_chooseScript = [this] { return m_script; };
        return frame;
    }

    static void Connect(CMainFrame& frame, int port)
    {
        frame.m_wndCommandBar->m_cbPort->setCurrentIndex(port - 1);
        frame.OnConnect();
    }

    // Runs the script and waits until the console ends with a fresh prompt
    // after the text `end`. Returns the console text from the run on.
    static QString RunScript(CMainFrame& frame, const QString& end, int& at)
    {
        const int from = frame.Console()->toPlainText().size();
        frame.OnRunScript();
        const bool ended = WaitUntil(
            [&] {
                const QString text = frame.Console()->toPlainText();
                at = text.indexOf(end, from);
                return at >= 0 && text.endsWith("VORLA > ") && text.size() > at + end.size();
            },
            30000);
        const QString text = frame.Console()->toPlainText();
        if (!ended)
            qWarning("console: %s", qPrintable(QString(text).replace("\n", "|")));
        return ended ? text.mid(from) : QString();
    }

private slots:
    void initTestCase()
    {
        QDir::setCurrent(QDir::tempPath());
        m_script = QFINDTESTDATA("../scripts/modem_check.tcl");
        QVERIFY(!m_script.isEmpty());
        std::string error;
        CDevSim::SOptions options;
        options.mode = CDevSim::EMode::Modem;
        options.answerDelayMs = 30;
        QVERIFY2(m_modem.Start(options, error), error.c_str());
        options.mode = CDevSim::EMode::Silent;
        QVERIFY2(m_silent.Start(options, error), error.c_str());
        m_ports.Build({}, [](const char*) { return nullptr; }, {});
        m_ports.Map(1, m_modem.Path());
        m_ports.Map(2, m_silent.Path());
    }

    void scriptPassesAgainstTheModem()
    {
        auto frame = MakeFrame();
        Connect(*frame, 1);
        QCOMPARE(frame->OpenPort(), 1);
        int at = -1;
        const QString run = RunScript(*frame, "PASS\n", at);
        QVERIFY(!run.isEmpty());
        QVERIFY2(run.contains("all 8 checks passed\n"), qPrintable(run));
        QVERIFY(!run.contains("FAIL"));
        QVERIFY(run.endsWith("PASS\nVORLA > "));
        // The result in black on a line of its own, then the prompt in blue.
        QCOMPARE(ColourAt(frame->Console(), at), QColor(0, 0, 0));
        QCOMPARE(LastLine(frame->Console()), QString("VORLA > "));
        const int prompt = frame->Console()->toPlainText().size() - 8;
        QCOMPARE(ColourAt(frame->Console(), prompt), QColor(0, 0, 255));
        // The terminal pane saw the modem's answers; the read delay is back.
        QVERIFY(WaitUntil([&] { return frame->Terminal()->toPlainText().contains("DEVSIM MODEM"); }));
        QCOMPARE(frame->SerialPort().ReadDelay(), 200);
        QVERIFY(m_modem.Received().find("ATQ9\r") != std::string::npos);
        frame->OnDisconnect();
    }

    // The script must be able to fail: a device that never answers fails
    // every check, and without a port the first command stops the script.
    void scriptFailsInRedWithoutAModem()
    {
        auto frame = MakeFrame();
        Connect(*frame, 2);
        QCOMPARE(frame->OpenPort(), 2);
        int at = -1;
        QString run = RunScript(*frame, "FAIL: 8 of 8 checks failed", at);
        QVERIFY(!run.isEmpty());
        QCOMPARE(ColourAt(frame->Console(), at), QColor(255, 0, 0));
        QVERIFY(!run.contains("PASS"));
        frame->OnDisconnect();

        run = RunScript(*frame, "Error : No Port Open to send data out", at);
        QVERIFY(!run.isEmpty());
        QCOMPARE(ColourAt(frame->Console(), at), QColor(255, 0, 0));
        QVERIFY(!run.contains("ok "));
    }

    // The same checks written with expect: each waits for the modem's final
    // answer. Against a device that never answers every expect times out and
    // the script fails, naming the file and line of its error.
    void expectScriptPassesAgainstTheModemOnly()
    {
        const QString saved = m_script;
        m_script = QFINDTESTDATA("../scripts/modem_expect.tcl");
        QVERIFY(!m_script.isEmpty());
        auto frame = MakeFrame();
        Connect(*frame, 1);
        QCOMPARE(frame->OpenPort(), 1);
        int at = -1;
        QString run = RunScript(*frame, "PASS\n", at);
        QVERIFY2(run.contains("ok    ATI    -> ATI DEVSIM MODEM 1.0  OK\n"), qPrintable(run));
        QVERIFY2(run.contains("all 8 checks passed\n"), qPrintable(run));
        QVERIFY(!run.contains("FAIL"));
        QVERIFY(m_modem.Received().find("ATQ9\r") != std::string::npos);
        frame->OnDisconnect();

        Connect(*frame, 2);
        run = RunScript(*frame, "FAIL: 8 of 8 checks failed: AT AT AT ATI ATE0 AT ATE1 ATQ9\n", at);
        QVERIFY(!run.isEmpty());
        QCOMPARE(ColourAt(frame->Console(), at), QColor(255, 0, 0));
        QVERIFY2(run.contains("FAIL  ATQ9   -> no answer (want ERROR)\n"), qPrintable(run));
        QVERIFY2(run.contains("modem_expect.tcl\" line "), qPrintable(run));
        frame->OnDisconnect();
        m_script = saved;
    }
};

QTEST_MAIN(TestRunScript)
#include "tst_run_script.moc"
