#include <QAccessible>
#include <QClipboard>
#include <QScrollBar>
#include <QtTest>

#include <algorithm>
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
        // Sends text from a reader thread as the engine does, in chunks of
        // 100 bytes, and waits until the pane holds as many characters as
        // it should show.
        bool ReceiveFlood(const std::string& text, qint64 shown)
        {
            std::atomic<bool> done{false};
            std::thread reader([&] {
                for (size_t at = 0; at < text.size(); at += 100)
                    received.AppendReceivedText(text.substr(at, 100).c_str());
                done = true;
            });
            const bool arrived = WaitUntil([&] { return done && pane.CharacterCount() >= shown; }, 60000);
            received.AbortDelivery(); // releases the reader if the pane fell behind
            reader.join();
            received.ResumeDelivery();
            return arrived;
        }
        // The number of characters on the first row of a wrapped line that starts at offset 0.
        qint64 Columns()
        {
            qint64 n = 1;
            while (n < pane.CharacterCount() && pane.CharacterRect(n).y() == pane.CharacterRect(0).y())
                ++n;
            return n;
        }
        // The text at the top left of the pane.
        QString TopText(int length) const
        {
            const qint64 at = pane.OffsetAt(QPoint(1, 1));
            return pane.TextRange(at, at + length);
        }
    };

    static std::string NumberedLines(int from, int count)
    {
        std::string text;
        for (int i = from; i < from + count; ++i)
            text += "line " + std::to_string(i) + " " + std::string(i % 70, '-') + "\r\n";
        return text;
    }

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
        f.pane.SetSelection(0, 5);
        f.Receive("!");
        QCOMPARE(f.pane.toPlainText(), QString("hello world!"));
        QVERIFY(!f.pane.HasSelection());
        QCOMPARE(f.pane.CaretPosition(), 12);
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
        QVERIFY(WaitUntil([&] { return f.pane.CharacterCount() >= qint64(expected.size()); }));
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
        QVERIFY(f.pane.IsWrapping());
        f.pane.SetWrap(false);
        QVERIFY(!f.pane.IsWrapping());
        f.pane.SetWrap(true);
        QVERIFY(f.pane.IsWrapping());
    }

    // Rows follow the width with Wrap on, and are one per line with it off.
    void wrapOnAndOffCountsRows()
    {
        Fixture f;
        const std::string longLine(1000, 'w');
        f.Receive((longLine + "\nshort\n" + longLine).c_str());
        const qint64 columns = f.Columns();
        QVERIFY(columns > 10 && columns < 1000);
        const qint64 rowsOfLong = (1000 + columns - 1) / columns;
        QCOMPARE(f.pane.RowCount(), 2 * rowsOfLong + 1);
        f.pane.SetWrap(false);
        QCOMPARE(f.pane.RowCount(), qint64(3));
        QCOMPARE(f.pane.CharacterRect(999).y(), f.pane.CharacterRect(0).y());
        f.pane.resize(1000, 300); // no wrapping: the width changes nothing
        QCOMPARE(f.pane.RowCount(), qint64(3));
        f.pane.SetWrap(true); // the wider pane takes more per row
        QVERIFY(f.Columns() > columns);
        QCOMPARE(f.pane.RowCount(), 2 * ((1000 + f.Columns() - 1) / f.Columns()) + 1);
        QCOMPARE(f.pane.toPlainText().toStdString(), longLine + "\nshort\n" + longLine);
        // Text arriving later wraps the same way: the last line grows by rows.
        f.Receive(std::string(1000, 'x').c_str());
        QCOMPARE(f.pane.RowCount(), (2000 + f.Columns() - 1) / f.Columns() + 1 + (1000 + f.Columns() - 1) / f.Columns());
    }

    // A mouse drag selects across line breaks and wrapped rows; Copy and
    // Select All take exactly that text.
    void mouseSelectionAcrossManyRowsCopies()
    {
        Fixture f;
        const std::string text = "first\n" + std::string(300, 'a') + "\nthird line\nfourth";
        f.Receive(text.c_str());
        QVERIFY(WaitUntil([&] { return f.pane.FirstVisibleRow() == 0; }));
        const qint64 from = 2;
        const qint64 to = text.find("line") + 2;
        const QRect start = f.pane.CharacterRect(from);
        const QRect end = f.pane.CharacterRect(to);
        QVERIFY(end.y() - start.y() >= 3 * start.height()); // several rows apart
        QTest::mousePress(f.pane.viewport(), Qt::LeftButton, {}, start.topLeft() + QPoint(1, 2));
        QTest::mouseMove(f.pane.viewport(), (start.center() + end.center()) / 2);
        QTest::mouseMove(f.pane.viewport(), end.topLeft() + QPoint(1, 2));
        QTest::mouseRelease(f.pane.viewport(), Qt::LeftButton, {}, end.topLeft() + QPoint(1, 2));
        QCOMPARE(f.pane.SelectionStart(), from);
        QCOMPARE(f.pane.SelectionEnd(), to);
        QApplication::clipboard()->setText("before");
        f.pane.Copy();
        QCOMPARE(QApplication::clipboard()->text().toStdString(), text.substr(from, to - from));
        f.pane.SelectAll();
        f.pane.Copy();
        QCOMPARE(QApplication::clipboard()->text().toStdString(), text);
    }

    // A match that straddles the end of a wrapped row is found, selected and shown.
    void findAcrossTheWrapPoint()
    {
        Fixture f;
        f.Receive(std::string(2000, '.').c_str());
        const qint64 columns = f.Columns();
        f.pane.ClearText();
        std::string text = NumberedLines(0, 100) + std::string(2000, '.');
        text.replace(text.size() - 2000 + 3 * columns - 3, 6, "needle");
        f.Receive(text.c_str());
        QVERIFY(WaitUntil([&] { return f.pane.FirstVisibleRow() > 0; }));
        f.pane.verticalScrollBar()->setValue(0); // reading the top: the match is far below
        QVERIFY(f.pane.Find("NEEDLE", SFindOptions{}));
        const qint64 found = f.pane.SelectionStart();
        QCOMPARE(found, qint64(f.pane.toPlainText().indexOf("needle")));
        QCOMPARE(f.pane.SelectedText(), QString("needle"));
        QVERIFY(f.pane.CharacterRect(found).y() < f.pane.CharacterRect(found + 5).y()); // across the wrap
        QVERIFY(f.pane.viewport()->rect().contains(f.pane.CharacterRect(found)));
        // Again: it wraps around to the same match.
        QVERIFY(f.pane.Find("needle", SFindOptions{}));
        QCOMPARE(f.pane.SelectionStart(), found);
    }

    // ANSI display paints a bold run heavier than the same text in the
    // regular weight, and a background run's colour behind its glyphs, with
    // the sequence cut across reads.
    void ansiBoldAndBackgroundArePainted()
    {
        Fixture f;
        f.received.SetShowAnsi(true);
        f.Receive("ABC \x1b[1mABC\x1b[0m \x1b[48;2;0;0;");
        f.Receive("200mABC\x1b[0m");
        QCOMPARE(f.pane.toPlainText(), QString("ABC ABC ABC"));
        const QImage image = f.pane.viewport()->grab().toImage();
        auto cells = [&](int from) {
            return image.copy(f.pane.CharacterRect(from).united(f.pane.CharacterRect(from + 2)));
        };
        auto ink = [](const QImage& cells) {
            int dark = 0;
            for (int y = 0; y < cells.height(); ++y)
                for (int x = 0; x < cells.width(); ++x)
                    dark += qGray(cells.pixel(x, y)) < 128;
            return dark;
        };
        const QImage regular = cells(0), bold = cells(4), filled = cells(8);
        QVERIFY(ink(regular) > 0);
        // (where a glyph falls between pixels moves the count by a few per cent)
        QVERIFY2(ink(bold) > ink(regular) * 5 / 4, qPrintable(QString("%1 <= %2").arg(ink(bold)).arg(ink(regular))));
        const QColor fill(0, 0, 200);
        QCOMPARE(filled.pixelColor(1, 1), fill);
        QCOMPARE(filled.pixelColor(filled.width() - 2, filled.height() - 2), fill);
        QVERIFY(regular.pixelColor(1, 1) != fill && bold.pixelColor(1, 1) != fill);
        bool glyphs = false; // drawn over the fill
        for (int y = 0; y < filled.height(); ++y)
            for (int x = 0; x < filled.width(); ++x)
                glyphs = glyphs || filled.pixelColor(x, y) != fill;
        QVERIFY(glyphs);
    }

    // A screen reader reads exactly what was received, and the caret and
    // selection through Qt's accessible text interface.
    void accessibleTextIsWhatWasReceived()
    {
        Fixture f;
        std::string sent = NumberedLines(0, 2000) + "tab\there\rlone CR, back\bspace";
        QVERIFY(f.ReceiveFlood(sent, 1));
        QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(&f.pane);
        QVERIFY(accessible && accessible->textInterface());
        QCOMPARE(accessible->text(QAccessible::Name), QString("Terminal"));
        QAccessibleTextInterface* text = accessible->textInterface();
        std::string shown = sent;
        for (size_t at; (at = shown.find("\r\n")) != std::string::npos;)
            shown.erase(at, 1);
        shown.replace(shown.find('\r'), 1, "\n");
        shown.replace(shown.find("k\b"), 2, "");
        QVERIFY(WaitUntil([&] { return text->characterCount() == int(shown.size()); }));
        QCOMPARE(text->text(0, text->characterCount()).toStdString(), shown);
        QCOMPARE(text->cursorPosition(), text->characterCount());
        int start = 0, end = 0;
        QCOMPARE(text->textAtOffset(3, QAccessible::LineBoundary, &start, &end), QString("line 0 \n"));
        text->setSelection(0, 5, 11);
        QCOMPARE(f.pane.SelectedText(), QString("0 \nlin"));
        text->selection(0, &start, &end);
        QCOMPARE(start, 5);
        QCOMPARE(end, 11);
    }

    // A full pane drops its oldest lines and goes on showing the newest; a
    // reader who scrolled up keeps the same text in view meanwhile.
    void fullPaneKeepsShowingTheNewest()
    {
        Fixture f;
        f.pane.resize(1200, 300); // no line wraps
        std::string sent;
        int lines = 0;
        while (sent.size() < size_t(CVORLAView::kCapacity) + (1 << 20))
            sent += NumberedLines(lines++, 1);
        QVERIFY(f.ReceiveFlood(sent, CVORLAView::kCapacity - 200));
        const std::string last = "line " + std::to_string(lines - 1) + " ";
        QVERIFY(WaitUntil([&] { return f.pane.TextRange(f.pane.CharacterCount() - 200, f.pane.CharacterCount())
                                           .contains(QString::fromStdString(last)); }));
        QVERIFY(f.pane.CharacterCount() <= CVORLAView::kCapacity);
        std::string shown;
        std::remove_copy(sent.begin(), sent.end(), std::back_inserter(shown), '\r');
        const std::string held = f.pane.Store().Text();
        QCOMPARE(shown.compare(shown.size() - held.size(), held.size(), held), 0); // the newest, in order
        QCOMPARE(shown[shown.size() - held.size() - 1], '\n');                  // from a line's start
        QVERIFY(WaitUntil([&] {
            return f.pane.IsFollowingEnd() && f.pane.FirstVisibleRow() + f.pane.VisibleRows() >= f.pane.RowCount();
        }));

        // Scrolled up to read: more lines arrive and push old ones out; the
        // text in view stays.
        f.pane.verticalScrollBar()->setValue(int(f.pane.RowCount() / 2));
        const QString reading = f.TopText(12);
        QVERIFY(reading.startsWith("line "));
        QVERIFY(f.ReceiveFlood(NumberedLines(lines, 20000), 0));
        const std::string newest = "line " + std::to_string(lines + 19999) + " ";
        QVERIFY(WaitUntil([&] { return f.pane.TextRange(f.pane.CharacterCount() - 200, f.pane.CharacterCount())
                                           .contains(QString::fromStdString(newest)); }));
        QVERIFY(WaitUntil([&] { return f.TopText(12) == reading; }));
        QVERIFY(!f.pane.IsFollowingEnd());
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
        f.pane.SetSelection(4, 7);
        f.blockSends = true;
        QTest::mouseClick(f.pane.viewport(), Qt::RightButton);
        QVERIFY(f.pane.IsPasteBusy());
        QVERIFY(!f.pane.HasSelection());
        QCOMPARE(f.pane.CaretPosition(), 7);
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
