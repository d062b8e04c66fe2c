#include <QClipboard>
#include <QtTest>

#include <future>
#include <mutex>
#include <thread>

#include "GuiTestSupport.h"
#include "widgets/UiBridge.h"
#include "console/ConsoleView.h"
#include "console/TclHost.h"
#include "serial/PortMap.h"
#include "serial/SerialPort.h"

// The console pane on its own, with a recording submitter.
class TestConsolePane : public QObject {
    Q_OBJECT

    // The main window as the interpreter host sees it: just the pane.
    class CHostOwner : public ITclHostOwner {
    public:
        CHostOwner(CConsoleView& pane, CSerialPort& port, IUserPrompt& prompt)
            : m_pane(pane), m_port(port), m_prompt(prompt)
        {
        }
        IConsole* ConsolePane() override { return &m_pane; }
        int OpenPort() const override { return 0; }
        CSerialPort& SerialPort() override { return m_port; }
        IUserPrompt& Prompt() override { return m_prompt; }

    private:
        CConsoleView& m_pane;
        CSerialPort& m_port;
        IUserPrompt& m_prompt;
    };

    // A real interpreter printing into a pane, with no port open.
    struct SLiveInterpreter {
        SLiveInterpreter(CConsoleView& pane, IUserPrompt& prompt) : port(prompt, ports), owner(pane, port, prompt)
        {
            host.SetMainWindow(&owner);
            host.AttachConsole();
        }
        CPortMap ports;
        CSerialPort port;
        CHostOwner owner;
        CTclHost host; // last: ends before what it reaches
    };

    struct Fixture : IConsolePaneOwner {
        CUiBridge bridge;
        CRecordingPrompt prompt;
        CConsoleView pane{bridge, prompt, *this};
        std::mutex mutex;
        std::vector<std::string> submitted;
        Fixture()
        {
            pane.resize(600, 300);
            pane.show();
            pane.PrintToConsole(kConsolePrompt, kConsoleNotice);
        }
        void AttachConsole() override {}
        void SubmitCommandText(const std::string& text) override
        {
            std::lock_guard<std::mutex> lock(mutex);
            submitted.push_back(text);
        }
        bool TranslateKey(QKeyEvent*) override { return false; }
        std::vector<std::string> Submitted()
        {
            std::lock_guard<std::mutex> lock(mutex);
            return submitted;
        }
        // Runs fn on a thread of its own while the UI thread takes no events;
        // false if fn did not return by itself (then events are taken until
        // it does, so that the test fails instead of hanging).
        bool OnWorker(const std::function<void()>& fn)
        {
            auto done = std::async(std::launch::async, fn);
            const bool returned = done.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
            WaitUntil([&] { return done.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }, 60000);
            return returned;
        }
        void Type(const QString& text) { QTest::keyClicks(&pane, text); }
        void Key(Qt::Key key, Qt::KeyboardModifiers mods = Qt::NoModifier) { QTest::keyClick(&pane, key, mods); }
        int Caret() { return static_cast<int>(pane.CaretPosition()); }
        int LineStart()
        {
            const CLineStore& store = pane.Store();
            return static_cast<int>(store.LineStart(store.LineOf(store.Begin() + pane.CaretPosition())) - store.Begin());
        }
        void SetCaret(int pos) { pane.SetSelection(pos, pos); }
    };

private slots:
    void promptIsBlueWithBlackBlank()
    {
        Fixture f;
        QCOMPARE(f.pane.toPlainText(), QString("VORLA > "));
        for (int i = 0; i < 7; ++i)
            QCOMPARE(ColourAt(&f.pane, i), QColor(0, 0, 255));
        QCOMPARE(ColourAt(&f.pane, 7), QColor(0, 0, 0));
        f.pane.PrintToConsole("oops\n", kConsoleError);
        QCOMPARE(ColourAt(&f.pane, 8), QColor(255, 0, 0));
        f.Type("x"); // typed text is black
        QCOMPARE(ColourAt(&f.pane, f.pane.CharacterCount() - 1), QColor(0, 0, 0));
    }

    void printFromWorkerReturnsWithoutWaitingForTheUiThread()
    {
        Fixture f;
        QVERIFY2(f.OnWorker([&] {
            f.pane.PrintToConsole("from worker\n", kConsoleError);
            f.pane.PrintToConsole("second\n", kConsoleOutput);
        }),
                 "a print waited for the UI thread");
        QVERIFY(WaitUntil([&] { return f.pane.toPlainText().contains("second"); }));
        QCOMPARE(f.pane.toPlainText(), QString("VORLA > from worker\nsecond\n"));
        QCOMPARE(ColourAt(&f.pane, 8), QColor(255, 0, 0));
        QCOMPARE(ColourAt(&f.pane, 20), QColor(0, 0, 0));
    }

    // What the UI thread puts in the text (a print, Enter, a pasted line, a
    // clear) comes after the output a worker printed before it, even while
    // that output still waits to be shown.
    void uiThreadTextComesAfterOutputPrintedBeforeIt()
    {
        Fixture f;
        QVERIFY(f.OnWorker([&] { f.pane.PrintToConsole("one\n", kConsoleOutput); }));
        f.pane.PrintToConsole("two\n", kConsoleNotice);
        QCOMPARE(f.pane.toPlainText(), QString("VORLA > one\ntwo\n"));
        f.pane.PrintToConsole(kConsolePrompt, kConsoleNotice);
        f.Type("x");
        QVERIFY(f.OnWorker([&] { f.pane.PrintToConsole("three\n", kConsoleOutput); }));
        f.Key(Qt::Key_Return);
        QCOMPARE(f.pane.toPlainText(), QString("VORLA > one\ntwo\nthree\nVORLA > x\n"));
        // A pasted line while the output before it waits for the next frame
        // (one was just shown).
        QVERIFY(f.OnWorker([&] { f.pane.PrintToConsole("four\n", kConsoleOutput); }));
        QVERIFY(WaitUntil([&] { return f.pane.toPlainText().endsWith("four\n"); }));
        QVERIFY(f.OnWorker([&] {
            f.pane.PrintToConsole("five\n", kConsoleOutput);
            f.pane.PrintToConsole(kConsolePrompt, kConsoleNotice);
        }));
        QApplication::clipboard()->setText("y\n");
        f.pane.OnEditPaste();
        QVERIFY(WaitUntil([&] { return !f.pane.IsPasteBusy(); }));
        QCOMPARE(f.pane.toPlainText(), QString("VORLA > one\ntwo\nthree\nVORLA > x\nfour\nfive\nVORLA > y\n"));
        // A worker's clear keeps its place: it removes what came before it only.
        QVERIFY(f.OnWorker([&] {
            f.pane.PrintToConsole("six\n", kConsoleOutput);
            f.pane.ClearAll();
            f.pane.PrintToConsole("seven\n", kConsoleOutput);
        }));
        f.pane.PrintToConsole("eight\n", kConsoleOutput);
        QCOMPARE(f.pane.toPlainText(), QString("seven\neight\n"));
        QCOMPARE(f.Submitted(), (std::vector<std::string>{"x\n", "y\n"}));
    }

    // A script that prints without end: the pane keeps the newest lines up to
    // its capacity, and the user's input stays whole below them.
    void fullPaneDropsItsOldestLines()
    {
        Fixture f;
        constexpr int kCapacity = 1000;
        f.pane.SetCapacity(kCapacity);
        f.Type("abc");
        QVERIFY(f.OnWorker([&] {
            for (int i = 0; i < 500; ++i)
                f.pane.PrintToConsole(QString("line %1\n").arg(i, 3, 10, QChar('0')).toStdString(), kConsoleOutput);
        }));
        QVERIFY(WaitUntil([&] { return f.pane.toPlainText().contains("line 499"); }));
        QString text = f.pane.toPlainText();
        QVERIFY2(text.size() <= kCapacity, qPrintable(QString::number(text.size())));
        QVERIFY(text.endsWith("line 499\nVORLA > abc"));
        QStringList lines = text.split('\n');
        lines.removeLast();
        QVERIFY(lines.size() > 90);
        for (int i = 0; i < lines.size(); ++i) // whole lines, the newest, in order
            QCOMPARE(lines[i], QString("line %1").arg(500 - lines.size() + i, 3, 10, QChar('0')));
        // One output line longer than the capacity keeps its newest characters.
        QVERIFY(f.OnWorker([&] { f.pane.PrintToConsole(std::string(1500, 'y') + "z", kConsoleOutput); }));
        QVERIFY(WaitUntil([&] { return f.pane.toPlainText().contains("z"); }));
        text = f.pane.toPlainText();
        QCOMPARE(text.size(), kCapacity);
        QVERIFY(text.endsWith("yz\nVORLA > abc"));
        f.Key(Qt::Key_Return);
        QCOMPARE(f.Submitted(), std::vector<std::string>{"abc\n"});
    }

    // The interpreter floods the console while the UI thread shows nothing:
    // its backlog stays at the bound, and shutting the interpreter down
    // releases it at once (the UI thread, waiting for the join, drains nothing).
    void floodingInterpreterWaitsAtTheBoundAndShutsDown()
    {
        Fixture f;
        SLiveInterpreter live(f.pane, f.prompt);
        CTclHost& host = live.host;
        host.SubmitCommandText("set s [string repeat x 999]; while 1 {puts $s}\n");
        const std::size_t bound = CConsoleView::kOutputBacklog;
        QElapsedTimer clock;
        clock.start();
        std::size_t largest = 0;
        while (largest < bound && clock.elapsed() < 20000)
            largest = std::max(largest, f.pane.QueuedOutput());
        QVERIFY2(largest >= bound, "the backlog never reached the bound");
        for (int i = 0; i < 1000; ++i)
            largest = std::max(largest, f.pane.QueuedOutput());
        QVERIFY2(largest < bound + 2048, qPrintable(QString::number(largest))); // a print beyond it at most
        clock.restart();
        QVERIFY(host.Shutdown(CTclHost::kShutdownTimeoutMs));
        QVERIFY(clock.elapsed() < 1000);
        // What was queued before the shut-down is still shown, in order.
        QVERIFY(WaitUntil([&] { return f.pane.QueuedOutput() == 0; }));
        QVERIFY(f.pane.toPlainText().startsWith("VORLA > " + QString(999, 'x') + "\n" + QString(999, 'x') + "\n"));
    }

    // A script floods a pane at its capacity while the user has typed ahead;
    // Ctrl+Break ends it. What is held is the newest output, every line once
    // and in order, and the typed line keeps its prompt below the report.
    void floodAtCapacityKeepsTheNewestLinesAndTheInput()
    {
        Fixture f;
        constexpr std::size_t kCapacity = 256 << 10;
        f.pane.SetCapacity(kCapacity);
        SLiveInterpreter live(f.pane, f.prompt);
        CTclHost& host = live.host;
        host.SubmitCommandText("set i 0; while 1 {puts [incr i]}\n");
        QVERIFY(WaitUntil([&] { return f.pane.Store().DroppedLines() > 0; }, 30000));
        f.Type("abc");
        QVERIFY(WaitUntil([&] { return f.pane.Store().DroppedLines() > 2 * f.pane.Store().LineCount(); }, 30000));
        host.CancelEvaluation();
        QVERIFY(WaitUntil([&] { return !host.IsEvaluating() && f.pane.QueuedOutput() == 0; }));
        QVERIFY(WaitUntil([&] { return f.pane.toPlainText().count("VORLA > ") == 1; }));
        const QString text = f.pane.toPlainText();
        QVERIFY2(static_cast<std::size_t>(text.size()) <= kCapacity, qPrintable(QString::number(text.size())));
        QStringList lines = text.split('\n');
        QCOMPARE(lines.last(), QString("VORLA > abc"));
        QCOMPARE(ColourAt(&f.pane, text.size() - 11), QColor(0, 0, 255));
        bool isNumber = false;
        qint64 first = lines[0].toLongLong(&isNumber);
        QVERIFY2(isNumber && first > 1, qPrintable(lines[0])); // whole lines, the oldest gone
        int at = 1;
        for (; at < lines.size() && lines[at].toLongLong(&isNumber) != 0 && isNumber; ++at)
            QCOMPARE(lines[at].toLongLong(), first + at);
        QVERIFY(at > 1000);
        for (; at + 1 < lines.size(); ++at) // only the report of the stop follows
            QVERIFY2(!lines[at].isEmpty() && lines[at].toLongLong(&isNumber) == 0 && !isNumber, qPrintable(lines[at]));
        f.Key(Qt::Key_Return);
        QCOMPARE(f.Submitted(), std::vector<std::string>{"abc\n"});
        QVERIFY(host.Shutdown(CTclHost::kShutdownTimeoutMs));
    }

    // One line of a million characters from puts, while the user has typed
    // ahead: it is shown whole above the input (a rich text editor took
    // minutes), and the input line still edits as before.
    void longOutputLineStandsWholeAboveTheInput()
    {
        Fixture f;
        SLiveInterpreter live(f.pane, f.prompt);
        CTclHost& host = live.host;
        f.Type("abc");
        host.SubmitCommandText("puts [string repeat z 1000000]; puts after\n");
        QVERIFY(WaitUntil([&] { return f.pane.toPlainText().contains("after"); }, 20000));
        QVERIFY(WaitUntil([&] { return !host.IsEvaluating() && f.pane.QueuedOutput() == 0; }));
        QCOMPARE(f.pane.toPlainText(), QString(1000000, 'z') + "\nafter\nVORLA > abc");
        QVERIFY(f.pane.IsFollowingEnd());
        f.Key(Qt::Key_Home);
        f.Type("x");
        f.Key(Qt::Key_End);
        f.Key(Qt::Key_Backspace);
        for (int i = 0; i < 6; ++i) // stops at the prompt
            f.Key(Qt::Key_Backspace);
        QCOMPARE(LastLine(&f.pane), QString("VORLA > "));
        QCOMPARE(f.pane.CharacterCount(), 1000000 + 15);
        QVERIFY(host.Shutdown(CTclHost::kShutdownTimeoutMs));
    }

    // A selection dragged with the mouse from the middle of the output,
    // across a wrapped line and a tab, into the input: copy takes exactly
    // that text. A selection in the input stays on its text while output
    // goes in above it.
    void dragSelectionCopiesAcrossRows()
    {
        Fixture f;
        const QString wrapped = QString(300, 'w') + "\tend";
        f.pane.PrintToConsole("first line\n" + wrapped.toStdString() + "\nlast\n", kConsoleOutput);
        f.pane.PrintToConsole(kConsolePrompt, kConsoleNotice);
        f.Type("typed");
        QVERIFY(f.pane.RowCount() > 5); // the long line wraps
        const QString text = f.pane.toPlainText();
        auto drag = [&](int from, int to) {
            const QPoint a = f.pane.CharacterRect(from).center();
            const QPoint b = f.pane.CharacterRect(to).center();
            QMouseEvent press(QEvent::MouseButtonPress, a, f.pane.viewport()->mapToGlobal(a), Qt::LeftButton,
                              Qt::LeftButton, Qt::NoModifier);
            QMouseEvent move(QEvent::MouseMove, b, f.pane.viewport()->mapToGlobal(b), Qt::NoButton, Qt::LeftButton,
                             Qt::NoModifier);
            QMouseEvent release(QEvent::MouseButtonRelease, b, f.pane.viewport()->mapToGlobal(b), Qt::LeftButton,
                                Qt::NoButton, Qt::NoModifier);
            QApplication::sendEvent(f.pane.viewport(), &press);
            QApplication::sendEvent(f.pane.viewport(), &move);
            QApplication::sendEvent(f.pane.viewport(), &release);
        };
        const int from = text.indexOf("line");
        const int to = text.indexOf("typed") + 3;
        drag(from, to);
        QApplication::clipboard()->clear();
        f.Key(Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QApplication::clipboard()->text(), text.mid(from, to - from));

        // A selection inside the input stays on its text when output goes in above it.
        const int inInput = text.indexOf("typed") + 1;
        drag(inInput, inInput + 3);
        QVERIFY(f.OnWorker([&] { f.pane.PrintToConsole("more\n", kConsoleOutput); }));
        QVERIFY(WaitUntil([&] { return f.pane.toPlainText().contains("more"); }));
        f.Key(Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QApplication::clipboard()->text(), QString("ype"));

        f.Key(Qt::Key_A, Qt::ControlModifier);
        f.Key(Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QApplication::clipboard()->text(), f.pane.toPlainText());
        f.Type("!"); // the key rules clip the selection to the input, which the letter replaces
        QCOMPARE(LastLine(&f.pane), QString("VORLA > !"));
    }

    void enterSubmitsExactlyTheTypedText()
    {
        Fixture f;
        f.Type("puts x");
        f.Key(Qt::Key_Return);
        QCOMPARE(f.Submitted(), std::vector<std::string>{"puts x\n"});
        QCOMPARE(f.pane.History().GetAt(0), std::string("puts x"));
        // The prompt's text inside a command is part of the command.
        f.pane.PrintToConsole(kConsolePrompt, kConsoleNotice);
        f.Type("set a {VORLA >}");
        f.Key(Qt::Key_Return);
        QCOMPARE(QString::fromStdString(f.Submitted().back()), QString("set a {VORLA >}\n"));
        QCOMPARE(f.pane.History().GetAt(0), std::string("set a {VORLA >}"));
    }

    void emptyEnterSubmitsLineFeedAndStoresNothing()
    {
        Fixture f;
        f.Key(Qt::Key_Return);
        QCOMPARE(f.Submitted(), std::vector<std::string>{"\n"});
        QCOMPARE(f.pane.History().GetCount(), 0);
    }

    void outputGoesAboveUnfinishedInput()
    {
        Fixture f;
        f.Type("zzz");
        f.Key(Qt::Key_Left); // the caret between "zz" and "z"
        // Printed from a worker, as Tcl's unbuffered puts does (the line feed
        // comes on its own); the last text has no line end.
        std::thread worker([&] {
            f.pane.PrintToConsole("GetVorlaVersion", kConsoleOutput);
            f.pane.PrintToConsole("\n", kConsoleOutput);
            f.pane.PrintToConsole("puts INJECTED", kConsoleOutput);
        });
        QVERIFY(WaitUntil([&] { return f.pane.toPlainText().contains("INJECTED"); }));
        worker.join();
        QCOMPARE(f.pane.toPlainText(), QString("GetVorlaVersion\nputs INJECTED\nVORLA > zzz"));
        QCOMPARE(ColourAt(&f.pane, f.pane.toPlainText().lastIndexOf("VORLA")), QColor(0, 0, 255));
        f.Type("y"); // the caret stayed where the user had it
        QCOMPARE(LastLine(&f.pane), QString("VORLA > zzyz"));
        f.Key(Qt::Key_Return);
        QCOMPARE(f.Submitted(), std::vector<std::string>{"zzyz\n"});
    }

    void inputTypedAheadStaysBelowOutputAndPrompt()
    {
        Fixture f;
        f.Type("after 500");
        f.Key(Qt::Key_Return);
        f.Type("abc"); // typed before the evaluation is over
        f.pane.PrintToConsole("done", kConsoleOutput);
        f.pane.PrintToConsole(kConsolePrompt, kConsoleNotice);
        QCOMPARE(f.pane.toPlainText(), QString("VORLA > after 500\ndone\nVORLA > abc"));
        // A report and its prompt while the user types: one prompt, above it the report.
        f.pane.PrintToConsole("COM1 opened successfully \n", kConsoleNotice);
        f.pane.PrintToConsole(kConsolePrompt, kConsoleNotice);
        QCOMPARE(f.pane.toPlainText(), QString("VORLA > after 500\ndone\nCOM1 opened successfully \nVORLA > abc"));
        f.Key(Qt::Key_Up); // recall replaces the whole input
        QCOMPARE(LastLine(&f.pane), QString("VORLA > after 500"));
        f.Key(Qt::Key_Return);
        QCOMPARE(f.Submitted().back(), std::string("after 500\n"));
    }

    void backspaceLeftHomeRespectThePrompt()
    {
        Fixture f;
        f.Key(Qt::Key_Backspace);
        f.Key(Qt::Key_Left);
        QCOMPARE(f.pane.toPlainText(), QString("VORLA > "));
        QCOMPARE(f.Caret() - f.LineStart(), 8);
        f.Type("abc");
        f.Key(Qt::Key_Home);
        QCOMPARE(f.Caret() - f.LineStart(), 8);
        f.Key(Qt::Key_End);
        f.Key(Qt::Key_Home, Qt::ShiftModifier);
        QCOMPARE(f.pane.SelectedText(), QString("abc"));
        // Typing inside the prompt puts the letter at the end.
        f.SetCaret(f.LineStart() + 2);
        f.Type("z");
        QCOMPARE(LastLine(&f.pane), QString("VORLA > abcz"));
    }

    void continuationLineIsProtectedToo()
    {
        Fixture f;
        f.Type("proc p {} {");
        f.Key(Qt::Key_Return);
        // No prompt is printed for an unfinished command: the first 8 characters
        // of the new line are still protected.
        f.Type("abcdefghij");
        for (int i = 0; i < 5; ++i)
            f.Key(Qt::Key_Backspace);
        QCOMPARE(LastLine(&f.pane), QString("abcdefgh"));
        f.Key(Qt::Key_Backspace);
        QCOMPARE(LastLine(&f.pane), QString("abcdefgh"));
    }

    void selectionOverPromptIsClipped()
    {
        Fixture f;
        f.Type("hello");
        f.pane.SetSelection(f.LineStart() + 3, f.LineStart() + 11);
        f.Key(Qt::Key_Right, Qt::ShiftModifier);
        QVERIFY(f.pane.SelectionStart() >= f.LineStart() + 8);
    }

    void upDownBrowseHistory()
    {
        Fixture f;
        f.Key(Qt::Key_Up); // empty history: nothing after the prompt
        QCOMPARE(LastLine(&f.pane), QString("VORLA > "));
        for (int i = 1; i <= 16; ++i) {
            f.Type(QString("cmd%1").arg(i));
            f.Key(Qt::Key_Return);
            f.pane.PrintToConsole(kConsolePrompt, kConsoleNotice);
        }
        QCOMPARE(f.pane.History().GetCount(), 15); // the 16th dropped the oldest
        for (int i = 0; i < 20; ++i)
            f.Key(Qt::Key_Up);
        QCOMPARE(LastLine(&f.pane), QString("VORLA > cmd2"));
        f.Key(Qt::Key_Down);
        QCOMPARE(LastLine(&f.pane), QString("VORLA > cmd3"));
        for (int i = 0; i < 20; ++i)
            f.Key(Qt::Key_Down);
        QCOMPARE(LastLine(&f.pane), QString("VORLA > "));
        // Up on an earlier line only sends the caret to the end.
        f.SetCaret(3);
        f.Key(Qt::Key_Up);
        QCOMPARE(f.Caret(), f.pane.CharacterCount());
    }

    void historySkipsDuplicatesBlanksAndCmdhist()
    {
        Fixture f;
        for (const char* line : {"same", "same", "   ", "cmdhist", "  padded  "}) {
            f.Type(line);
            f.Key(Qt::Key_Return);
            f.pane.PrintToConsole(kConsolePrompt, kConsoleNotice);
        }
        QCOMPARE(f.pane.History().GetCount(), 2);
        QCOMPARE(f.pane.History().GetAt(0), std::string("padded"));
        QCOMPARE(f.pane.History().GetAt(1), std::string("same"));
    }

    void pasteSubmitsWholeLinesAndLeavesTheRest()
    {
        Fixture f;
        QApplication::clipboard()->setText("puts a\nputs b");
        f.pane.OnEditPaste();
        QVERIFY(f.pane.IsPasteBusy());
        f.pane.OnEditPaste(); // a second paste while busy
        QVERIFY(WaitUntil([&] { return !f.pane.IsPasteBusy(); }));
        QCOMPARE(f.Submitted(), std::vector<std::string>{"puts a\n"});
        QCOMPARE(LastLine(&f.pane), QString("puts b"));
        QCOMPARE(f.prompt.Messages(), std::vector<std::string>{"Last paste operation not yet finished"});
        QCOMPARE(f.pane.History().GetCount(), 0); // pasted lines are not history
        // The unfinished pasted line is input: the evaluation's output goes above it.
        f.pane.PrintToConsole("a\n", kConsoleOutput);
        f.pane.PrintToConsole(kConsolePrompt, kConsoleNotice);
        QCOMPARE(f.pane.toPlainText(), QString("VORLA > puts a\na\nVORLA > puts b"));
        f.Key(Qt::Key_Return);
        QCOMPARE(f.Submitted().back(), std::string("puts b\n"));
        // A pasted line completes what was typed before it, as shown.
        f.pane.PrintToConsole(kConsolePrompt, kConsoleNotice);
        f.Type("set ");
        QApplication::clipboard()->setText("x 1\n");
        f.pane.OnEditPaste();
        QVERIFY(WaitUntil([&] { return !f.pane.IsPasteBusy(); }));
        QCOMPARE(f.Submitted().back(), std::string("set x 1\n"));
    }

    void rightClickReentersSelection()
    {
        Fixture f;
        f.pane.PrintToConsole("set q 1\n", kConsoleOutput);
        const int at = f.pane.toPlainText().indexOf("set q 1");
        f.pane.SetSelection(at, at + 8);
        QTest::mouseClick(f.pane.viewport(), Qt::RightButton);
        QVERIFY(WaitUntil([&] { return !f.pane.IsPasteBusy(); }));
        QCOMPARE(f.Submitted(), std::vector<std::string>{"set q 1\n"});
    }

    void clearAllEmptiesPane()
    {
        Fixture f;
        f.Type("abc");
        f.pane.ClearAll();
        QCOMPARE(f.pane.toPlainText(), QString());
    }
};

QTEST_MAIN(TestConsolePane)
#include "tst_console_pane.moc"
