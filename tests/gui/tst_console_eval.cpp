#include <QComboBox>
#include <QtTest>

#include "GuiTestSupport.h"
#include "app/CommandBar.h"
#include "app/MainFrame.h"
#include "console/ConsoleView.h"
#include "devsim/DevSim.h"
#include "serial/PortMap.h"
#include "terminal/TerminalView.h"

// Typing at the console prompt of the real main window: evaluation, the
// console commands, the serial commands against a simulated modem, Stop.
class TestConsoleEval : public QObject {
    Q_OBJECT

    CDevSim m_modem;
    CPortMap m_ports;

    std::unique_ptr<CMainFrame> MakeFrame()
    {
        auto frame = std::make_unique<CMainFrame>(m_ports);
        frame->resize(1000, 700);
        frame->show();
        QCoreApplication::processEvents();
        return frame;
    }

    static void Enter(CMainFrame& frame, const QString& line)
    {
        QTest::keyClicks(frame.Console(), line);
        QTest::keyClick(frame.Console(), Qt::Key_Return);
    }

    // Waits for the console to end with a fresh prompt after `marker`.
    static bool WaitForPromptAfter(CMainFrame& frame, const QString& marker, int timeoutMs = 10000)
    {
        return WaitUntil(
            [&] {
                const QString text = frame.Console()->toPlainText();
                const int at = text.lastIndexOf(marker);
                return at >= 0 && text.indexOf("VORLA > ", at + marker.size()) >= 0 && text.endsWith("VORLA > ");
            },
            timeoutMs);
    }

private slots:
    void initTestCase()
    {
        QDir::setCurrent(QDir::tempPath());
        std::string error;
        CDevSim::SOptions options;
        options.answerDelayMs = 30; // a real modem needs a moment; SendOutR drops what comes within 5 ms
        QVERIFY2(m_modem.Start(options, error), error.c_str());
        m_ports.Build({}, [](const char*) { return nullptr; }, {});
        m_ports.Map(1, m_modem.Path());
    }

    void enterEvaluatesAndShowsResult()
    {
        auto frame = MakeFrame();
        Enter(*frame, "set a 5");
        QVERIFY(WaitForPromptAfter(*frame, "set a 5"));
        const QString text = frame->Console()->toPlainText();
        QCOMPARE(text, QString("VORLA > set a 5\n5\nVORLA > "));
        QCOMPARE(ColourAt(frame->Console(), text.indexOf("\n5") + 1), QColor(0, 0, 0));
        Enter(*frame, "expr {1/0}");
        QVERIFY(WaitForPromptAfter(*frame, "divide by zero"));
        const QString after = frame->Console()->toPlainText();
        QCOMPARE(ColourAt(frame->Console(), after.indexOf("divide by zero")), QColor(255, 0, 0));
    }

    void exitAnsweredNoKeepsEverything()
    {
        auto frame = MakeFrame();
        QString asked;
        frame->GuiPrompt().m_answer = [&](const QString& text, bool) {
            asked = text;
            return false;
        };
        Enter(*frame, "exit");
        QVERIFY(WaitForPromptAfter(*frame, "exit"));
        QCOMPARE(asked, QString("Are you sure want to exit?"));
        QVERIFY(frame->isVisible());
        Enter(*frame, "set b 7");
        QVERIFY(WaitForPromptAfter(*frame, "set b 7"));
    }

    void clearEmptiesThePaneAndPrompts()
    {
        auto frame = MakeFrame();
        Enter(*frame, "puts hello");
        QVERIFY(WaitForPromptAfter(*frame, "hello"));
        Enter(*frame, "clear");
        QVERIFY(WaitUntil([&] { return frame->Console()->toPlainText() == "VORLA > "; }));
    }

    void ctrlBreakStopsAWaitingScript()
    {
        auto frame = MakeFrame();
        Enter(*frame, "after 60000");
        QTest::qWait(100);
        QElapsedTimer timer;
        timer.start();
        QTest::keyClick(frame->Terminal(), Qt::Key_Pause, Qt::ControlModifier);
        QVERIFY(WaitForPromptAfter(*frame, "after 60000", 5000));
        QVERIFY(timer.elapsed() < 5000);
        QVERIFY2(frame->Console()->toPlainText().contains("eval unwound"), qPrintable(frame->Console()->toPlainText()));
        Enter(*frame, "set c 1"); // the interpreter still works
        QVERIFY(WaitForPromptAfter(*frame, "set c 1"));
    }

    void sendOutRTalksToTheModem()
    {
        auto frame = MakeFrame();
        Enter(*frame, "SendOut AT\\r");
        QVERIFY(WaitForPromptAfter(*frame, "SendOut"));
        QVERIFY(frame->Console()->toPlainText().contains("Error : No Port Open to send data out"));

        frame->m_wndCommandBar->m_cbPort->setCurrentIndex(0);
        frame->OnConnect();
        QCOMPARE(frame->OpenPort(), 1);
        Enter(*frame, "SendOutR AT\\r");
        QVERIFY(WaitForPromptAfter(*frame, "SendOutR"));
        const QString text = frame->Console()->toPlainText();
        const int ok = text.lastIndexOf("OK");
        QVERIFY2(ok > text.lastIndexOf("SendOutR"), qPrintable(QString(text).replace("\n", "|")));
        QCOMPARE(ColourAt(frame->Console(), ok), QColor(0, 0, 0));
        // The terminal pane shows the modem's echo and its answer.
        QVERIFY(WaitUntil([&] { return frame->Terminal()->toPlainText().contains("AT"); }));
        QVERIFY(WaitUntil([&] { return frame->Terminal()->toPlainText().contains("OK"); }));
        frame->OnDisconnect();
    }

    void outputNeverBecomesInput()
    {
        auto frame = MakeFrame();
        // Output without a line end, then the prompt: Enter submits only what is typed.
        Enter(*frame, "puts -nonewline {puts INJECTED}");
        QVERIFY(WaitForPromptAfter(*frame, "{puts INJECTED}"));
        Enter(*frame, "string length {VORLA >}");
        QVERIFY(WaitForPromptAfter(*frame, "string length"));
        const QString text = frame->Console()->toPlainText();
        QVERIFY2(text.endsWith("VORLA > string length {VORLA >}\n7\nVORLA > "), qPrintable(text));
        QVERIFY(!text.contains("\nINJECTED"));
        // Typed while a command runs: its output and prompt go above the input.
        Enter(*frame, "after 300; puts GetVorlaVersion");
        QTest::keyClicks(frame->Console(), "zzz");
        const bool typedBelow = WaitUntil([&] { return frame->Console()->toPlainText().endsWith("GetVorlaVersion\nVORLA > zzz"); });
        QVERIFY2(typedBelow, qPrintable(frame->Console()->toPlainText().replace("\n", "|")));
        QTest::keyClick(frame->Console(), Qt::Key_Return);
        QVERIFY(WaitForPromptAfter(*frame, "invalid command name \"zzz\""));
    }

    void printingLeavesTheFocusWhereTheUserPutIt()
    {
        auto frame = MakeFrame();
        frame->activateWindow();
        QVERIFY(WaitUntil([&] { return frame->Console()->hasFocus(); })); // where the window starts
        Enter(*frame, "after 300; puts late");
        // The user moves on to the terminal pane while the command runs.
        QTest::mouseClick(frame->Terminal()->viewport(), Qt::LeftButton);
        QVERIFY(WaitUntil([&] { return frame->Terminal()->hasFocus(); }));
        frame->m_wndCommandBar->m_cbPort->setCurrentIndex(0);
        frame->OnConnect();
        QVERIFY(frame->Console()->toPlainText().contains("COM1 opened successfully"));
        QVERIFY(WaitForPromptAfter(*frame, "late")); // printed by the evaluation thread
        QVERIFY(frame->Terminal()->hasFocus());
        QVERIFY(!frame->ConsoleFocus());
        frame->OnDisconnect();
    }

    void closeDuringBusyScriptEndsPromptly_data()
    {
        QTest::addColumn<QString>("script");
        QTest::newRow("busy loop") << "while 1 {}";
        QTest::newRow("printing loop") << "while 1 {puts x}";
        QTest::newRow("loop printing long lines") << "set s [string repeat x 5000]; while 1 {puts $s}";
    }

    void closeDuringBusyScriptEndsPromptly()
    {
        QFETCH(QString, script);
        auto frame = MakeFrame();
        Enter(*frame, script);
        QTest::qWait(100);
        QElapsedTimer timer;
        timer.start();
        frame->close();
        frame.reset();
        QVERIFY(timer.elapsed() < 2000);
    }

    // A command that floods the console, and one typed ahead while it runs:
    // every line once and in order, each command's output before its prompt.
    void floodOfOutputKeepsItsOrder()
    {
        auto frame = MakeFrame();
        const QString flood = "for {set i 0} {$i < 20000} {incr i} {puts $i}";
        Enter(*frame, flood);
        Enter(*frame, "set after done");
        QVERIFY(WaitForPromptAfter(*frame, "VORLA > done\n", 60000));
        QString text = frame->Console()->toPlainText();
        // The typed-ahead line stands where Enter found the output.
        const int echo = text.indexOf("\nset after done\n");
        QVERIFY(echo >= 0);
        QCOMPARE(text.indexOf("\nset after done\n", echo + 1), -1);
        text.remove(echo, QString("\nset after done").size());
        // Tcl writes a line and its line feed apart: an Enter between them
        // leaves that line feed as an empty line below the entered one.
        if (text.mid(echo, 2) == "\n\n")
            text.remove(echo, 1);
        QString expected = "VORLA > " + flood + "\n";
        for (int i = 0; i < 20000; ++i)
            expected += QString::number(i) + "\n";
        expected += "VORLA > done\nVORLA > ";
        QCOMPARE(text, expected);
    }
};

QTEST_MAIN(TestConsoleEval)
#include "tst_console_eval.moc"
