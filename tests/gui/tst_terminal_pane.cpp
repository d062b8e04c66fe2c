#include <QClipboard>
#include <QtTest>

#include <atomic>
#include <mutex>
#include <thread>

#include "GuiTestSupport.h"
#include "terminal/ReceivedTextQueue.h"
#include "terminal/TerminalView.h"

// The terminal pane with a recording sender in place of the engine.
class TestTerminalPane : public QObject {
    Q_OBJECT

    struct Fixture : ITerminalPaneOwner {
        CRecordingPrompt prompt;
        CReceivedTextQueue received;
        CVORLAView pane{prompt, *this, received};
        std::atomic<int> openPort{1};
        std::mutex mutex;
        std::string sent;
        std::vector<QString> labels;
        std::vector<int> positions;
        CCancelSignal sendGate; // set: sends return at once
        bool blockSends = false;
        Fixture()
        {
            pane.resize(500, 300);
            pane.show();
            QObject::connect(&pane, &CVORLAView::pasteProgress, [this](int pos, const QString& label) {
                positions.push_back(pos);
                labels.push_back(label);
            });
        }
        ~Fixture() { pane.StopPaste(); } // joins the senders before the members they use go

        int OpenPort() const override { return openPort.load(); }
        bool SendByte(unsigned char b, const CCancelSignal* cancel) override
        {
            if (blockSends) {
                // A device that never takes the byte: wait for the paste to be stopped.
                while (!(cancel && cancel->IsCancelled()) && openPort.load() != 0 && !sendGate.IsCancelled())
                    sendGate.WaitFor(5);
                return false;
            }
            std::lock_guard<std::mutex> lock(mutex);
            sent += static_cast<char>(b);
            return true;
        }
        bool TranslateKey(QKeyEvent*) override { return false; }
        std::string Sent()
        {
            std::lock_guard<std::mutex> lock(mutex);
            return sent;
        }
        // Typed keys go out on the pane's own sender thread.
        bool SentBecomes(const std::string& expected)
        {
            if (WaitUntil([&] { return Sent() == expected; }))
                return true;
            qWarning("sent: %s", Sent().c_str());
            return false;
        }
        void Receive(const char* chunk)
        {
            std::thread reader([&] { received.AppendReceivedText(chunk); });
            reader.join();
            QCoreApplication::processEvents();
        }
    };

private slots:
    void enterSendsLineFeedOrCrLf()
    {
        Fixture f;
        QTest::keyClick(&f.pane, Qt::Key_Return);
        QVERIFY(f.SentBecomes("\n"));
        QTest::keyClick(&f.pane, Qt::Key_M, Qt::ControlModifier); // Ctrl+M is Enter
        QVERIFY(f.SentBecomes("\n\n"));
        f.pane.SetSendCrLf(true);
        QTest::keyClick(&f.pane, Qt::Key_Return);
        QVERIFY(f.SentBecomes("\n\n\r\n"));
        QTest::keyClick(&f.pane, Qt::Key_N, Qt::ControlModifier);
        QVERIFY(f.SentBecomes("\n\n\r\n\x0e"));
        QCOMPARE(f.pane.toPlainText(), QString()); // no echo
    }

    void nothingWithoutPortAndEchoOnRequest()
    {
        Fixture f;
        f.openPort = 0;
        f.pane.SetLocalEcho(true);
        QTest::keyClicks(&f.pane, "ab");
        QCOMPARE(f.Sent(), std::string());
        QCOMPARE(f.pane.toPlainText(), QString());
        f.openPort = 1;
        QTest::keyClicks(&f.pane, "ab");
        QTest::keyClick(&f.pane, Qt::Key_Backspace);
        QTest::keyClick(&f.pane, Qt::Key_Return);
        QCOMPARE(f.pane.toPlainText(), QString("a\n")); // echo is shown at once
        QVERIFY(f.SentBecomes("ab\b\n"));
    }

    void receivedTextKeepsOrderAndLineBreaks()
    {
        Fixture f;
        f.Receive("one\r");
        f.Receive("\ntwo\nthree\rfour");
        QCOMPARE(f.pane.toPlainText(), QString("one\ntwo\nthree\nfour"));
        // A chunk that begins with Backspace is shown; the Backspace removes
        // the character already in the pane, never a line break.
        f.Receive("\bR");
        QCOMPARE(f.pane.toPlainText(), QString("one\ntwo\nthree\nfouR"));
        f.Receive("\n");
        f.Receive("\b\bx.y"); // ESC arrives sanitised as '.', shown as is
        QCOMPARE(f.pane.toPlainText(), QString("one\ntwo\nthree\nfouR\nx.y"));
    }

    void dataLandsAtEndAndClearsSelection()
    {
        Fixture f;
        f.Receive("hello world");
        QTextCursor cursor = f.pane.textCursor();
        cursor.setPosition(0);
        cursor.setPosition(5, QTextCursor::KeepAnchor);
        f.pane.setTextCursor(cursor);
        f.Receive("!");
        QCOMPARE(f.pane.toPlainText(), QString("hello world!"));
        QVERIFY(!f.pane.textCursor().hasSelection());
        QCOMPARE(f.pane.textCursor().position(), 12);
    }

    void floodFromReaderArrivesWholeAndInOrder()
    {
        Fixture f;
        std::string expected;
        std::atomic<bool> done{false};
        std::thread reader([&] {
            for (int i = 0; i < 20000; ++i) {
                std::string line = "line " + std::to_string(i) + "\n";
                f.received.AppendReceivedText(line.c_str());
            }
            done = true;
        });
        for (int i = 0; i < 20000; ++i)
            expected += "line " + std::to_string(i) + "\n";
        QVERIFY(WaitUntil([&] { return done.load(); }, 60000));
        reader.join();
        // The queue drains in slices, one per turn of the event loop.
        QVERIFY(WaitUntil([&] { return f.pane.document()->characterCount() - 1 >= int(expected.size()); }));
        QCOMPARE(f.pane.toPlainText().toStdString(), expected);
    }

    void abortReleasesBlockedReader()
    {
        Fixture f;
        // Without the UI thread draining, the reader blocks once the backlog is full;
        // AbortDelivery must release it.
        std::atomic<bool> done{false};
        std::string chunk(100, 'x');
        std::thread reader([&] {
            for (int i = 0; i < 20000 && !done; ++i)
                f.received.AppendReceivedText(chunk.c_str());
            done = true;
        });
        std::this_thread::yield();
        f.received.AbortDelivery();
        reader.join();
        QVERIFY(done);
        f.received.ResumeDelivery();
    }

    void wrapSwitch()
    {
        Fixture f;
        QCOMPARE(f.pane.lineWrapMode(), QPlainTextEdit::WidgetWidth);
        f.pane.SetWrap(false);
        QCOMPARE(f.pane.lineWrapMode(), QPlainTextEdit::NoWrap);
        f.pane.SetWrap(true);
        QCOMPARE(f.pane.lineWrapMode(), QPlainTextEdit::WidgetWidth);
    }

    void pasteSendsBytesWithProgress()
    {
        Fixture f;
        QApplication::clipboard()->setText("0123456789");
        f.pane.OnEditPaste();
        QVERIFY(WaitUntil([&] { return !f.pane.IsPasteBusy() && f.positions.size() == 12; }));
        QCOMPARE(f.Sent(), std::string("0123456789"));
        std::vector<QString> expected;
        for (int i = 0; i < 10; ++i)
            expected.push_back(QString(" %1% ").arg(i * 10));
        expected.push_back(" ");
        expected.push_back(" ");
        QCOMPARE(f.labels, expected);
        QCOMPARE(f.positions.back(), 0);
        QCOMPARE(f.pane.toPlainText(), QString()); // pasted bytes are not echoed
    }

    void pastedLineBreaksGoOutUntranslated()
    {
        Fixture f;
        QApplication::clipboard()->setText("a\r\nb");
        f.pane.OnEditPaste();
        QVERIFY(WaitUntil([&] { return !f.pane.IsPasteBusy(); }));
        QCOMPARE(f.Sent(), std::string("a\r\nb"));
    }

    void rightClickSendsSelectionAndBusyShowsMessage()
    {
        Fixture f;
        f.Receive("abc def");
        QTextCursor cursor = f.pane.textCursor();
        cursor.setPosition(4);
        cursor.setPosition(7, QTextCursor::KeepAnchor);
        f.pane.setTextCursor(cursor);
        f.blockSends = true;
        QTest::mouseClick(f.pane.viewport(), Qt::RightButton);
        QVERIFY(f.pane.IsPasteBusy());
        QVERIFY(!f.pane.textCursor().hasSelection());
        QCOMPARE(f.pane.textCursor().position(), 7);
        f.pane.OnEditPaste();
        QCOMPARE(f.prompt.Messages(), std::vector<std::string>{"Last paste operation not yet finished"});
        // Closing the port ends the paste promptly.
        QElapsedTimer timer;
        timer.start();
        f.openPort = 0;
        QVERIFY(WaitUntil([&] { return !f.pane.IsPasteBusy(); }, 1000));
        QVERIFY(timer.elapsed() < 1000);
    }

    void noPortPasteDoesNothing()
    {
        Fixture f;
        f.openPort = 0;
        QApplication::clipboard()->setText("xyz");
        f.pane.OnEditPaste();
        QVERIFY(!f.pane.IsPasteBusy());
        QCOMPARE(f.Sent(), std::string());
        QVERIFY(f.prompt.Messages().empty());
    }
};

QTEST_MAIN(TestTerminalPane)
#include "tst_terminal_pane.moc"
