#include <QCheckBox>
#include <QClipboard>
#include <QDragEnterEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPrintPreviewDialog>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <sys/stat.h>

#include <thread>

#include "GuiTestSupport.h"
#include "app/CommandIds.h"
#include "app/FindDialog.h"
#include "app/MainFrame.h"
#include "console/ConsoleView.h"
#include "serial/PortMap.h"
#include "terminal/TerminalView.h"

namespace {

QByteArray ReadFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

void WriteFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(bytes), bytes.size());
}

// One glyph drawn on a PDF page: its origin (left end of the baseline) in
// points from the page's bottom-left corner.
struct SGlyph {
    double x;
    double y;
};

struct SPdfPage {
    double width = 0;
    double height = 0;
    std::vector<SGlyph> glyphs;
};

// A 2-D affine matrix in PDF order [a b c d e f].
struct SMatrix {
    double a = 1, b = 0, c = 0, d = 1, e = 0, f = 0;
    // this * other: first this, then other (PDF's row-vector convention).
    SMatrix Then(const SMatrix& o) const
    {
        return {a * o.a + b * o.c, a * o.b + b * o.d, c * o.a + d * o.c, c * o.b + d * o.d, e * o.a + f * o.c + o.e,
                e * o.b + f * o.d + o.f};
    }
};

// Reads the pages of a PDF as Qt writes it: each page object names its
// content stream, a Flate-compressed sequence of q/Q/cm and BT/Tm/Td/Tj/ET.
// Only what is needed to place glyphs is interpreted.
std::vector<SPdfPage> ReadPdfPages(const QByteArray& pdf)
{
    std::vector<SPdfPage> pages;
    static const QRegularExpression pageObject(
        R"(/Type\s*/Page\b(.*?)>>)", QRegularExpression::DotMatchesEverythingOption);
    static const QRegularExpression contentsRef(R"(/Contents\s+(\d+)\s+0\s+R)");
    static const QRegularExpression mediaBox(R"(/MediaBox\s*\[\s*([\d.]+)\s+([\d.]+)\s+([\d.]+)\s+([\d.]+)\s*\])");
    const QString text = QString::fromLatin1(pdf);
    auto it = pageObject.globalMatch(text);
    while (it.hasNext()) {
        const QString dict = it.next().captured(1);
        const auto contents = contentsRef.match(dict);
        const auto box = mediaBox.match(dict);
        if (!contents.hasMatch() || !box.hasMatch())
            continue;
        SPdfPage page;
        page.width = box.captured(3).toDouble() - box.captured(1).toDouble();
        page.height = box.captured(4).toDouble() - box.captured(2).toDouble();

        const QByteArray objectHead = contents.captured(1).toLatin1() + " 0 obj";
        const qsizetype object = pdf.indexOf("\n" + objectHead) + 1;
        const qsizetype start = pdf.indexOf("stream", object);
        if (object <= 0 || start < 0)
            continue;
        qsizetype dataStart = start + 6;
        if (pdf[dataStart] == '\r')
            ++dataStart;
        ++dataStart; // the line feed after "stream"
        const qsizetype end = pdf.indexOf("endstream", dataStart);
        QByteArray compressed = pdf.mid(dataStart, end - dataStart);
        // qUncompress wants the expected size in front, big-endian.
        const quint32 guess = static_cast<quint32>(compressed.size() * 20 + 4096);
        QByteArray sized(4, '\0');
        for (int i = 0; i < 4; ++i)
            sized[i] = static_cast<char>((guess >> (24 - 8 * i)) & 0xFF);
        const QByteArray ops = qUncompress(sized + compressed);

        // Interpret the operators.
        std::vector<SMatrix> stack;
        SMatrix ctm;
        SMatrix lineMatrix;
        std::vector<double> operands;
        for (const QByteArray& token : ops.simplified().split(' ')) {
            bool number = false;
            const double value = token.toDouble(&number);
            if (number) {
                operands.push_back(value);
                continue;
            }
            auto take = [&](size_t n) {
                std::vector<double> args;
                if (operands.size() >= n)
                    args.assign(operands.end() - static_cast<long>(n), operands.end());
                return args;
            };
            if (token == "q") {
                stack.push_back(ctm);
            } else if (token == "Q") {
                if (!stack.empty()) {
                    ctm = stack.back();
                    stack.pop_back();
                }
            } else if (token == "cm") {
                const auto m = take(6);
                if (m.size() == 6)
                    ctm = SMatrix{m[0], m[1], m[2], m[3], m[4], m[5]}.Then(ctm);
            } else if (token == "BT") {
                lineMatrix = SMatrix{};
            } else if (token == "Tm") {
                const auto m = take(6);
                if (m.size() == 6)
                    lineMatrix = SMatrix{m[0], m[1], m[2], m[3], m[4], m[5]};
            } else if (token == "Td") {
                const auto m = take(2);
                if (m.size() == 2)
                    lineMatrix = SMatrix{1, 0, 0, 1, m[0], m[1]}.Then(lineMatrix);
            } else if (token == "Tj") {
                const SMatrix place = lineMatrix.Then(ctm);
                page.glyphs.push_back({place.e, place.f});
            }
            if (!token.startsWith('<') && !token.startsWith('/'))
                operands.clear();
        }
        pages.push_back(page);
    }
    return pages;
}

QString Describe(const std::vector<SPdfPage>& pages)
{
    QString out;
    for (const SPdfPage& page : pages) {
        double minX = 1e9, maxX = -1e9, minY = 1e9, maxY = -1e9;
        for (const SGlyph& g : page.glyphs) {
            minX = std::min(minX, g.x);
            maxX = std::max(maxX, g.x);
            minY = std::min(minY, g.y);
            maxY = std::max(maxY, g.y);
        }
        out += QString::asprintf("[%gx%g: %zu glyphs, x %.1f..%.1f, y %.1f..%.1f] ", page.width, page.height,
                                 page.glyphs.size(), minX, maxX, minY, maxY);
    }
    return out;
}

} // namespace

// The terminal document's commands in the main window: clear, save, open,
// drop, print, find, copy and their command states.
class TestDocument : public QObject {
    Q_OBJECT

    CPortMap m_ports;
    QTemporaryDir m_dir;

    std::unique_ptr<CMainFrame> MakeFrame()
    {
        auto frame = std::make_unique<CMainFrame>(m_ports);
        frame->resize(1000, 700);
        frame->show();
        frame->activateWindow();
        QCoreApplication::processEvents();
        // Message boxes are recorded, never shown.
        frame->GuiPrompt().m_answer = [this](const QString& text, bool) {
            m_messages << text;
            return true;
        };
        m_messages.clear();
        FocusTerminal(*frame);
        return frame;
    }

    static void FocusTerminal(CMainFrame& frame)
    {
        QTest::mouseClick(frame.Terminal()->viewport(), Qt::LeftButton);
        QVERIFY(WaitUntil([&] { return frame.Terminal()->hasFocus() && !frame.ConsoleFocus(); }));
    }

    static void FocusConsole(CMainFrame& frame)
    {
        QTest::mouseClick(frame.Console()->viewport(), Qt::LeftButton);
        QVERIFY(WaitUntil([&] { return frame.Console()->hasFocus() && frame.ConsoleFocus(); }));
    }

    // Received data, delivered as the serial reader does: from another thread.
    static void Receive(CMainFrame& frame, const QByteArray& bytes)
    {
        const QString before = frame.Terminal()->toPlainText();
        std::thread reader([&] { frame.ReceivedText().AppendReceivedText(bytes.constData()); });
        reader.join();
        QVERIFY(WaitUntil([&] { return frame.Terminal()->toPlainText() != before; }));
    }

    // The File or Edit menu's action for a command, after the menu updated
    // its states on opening.
    static QAction* MenuAction(CMainFrame& frame, int menuIndex, int id)
    {
        QMenu* menu = frame.MenuAt(menuIndex);
        menu->popup(frame.mapToGlobal(QPoint(10, 10)));
        QCoreApplication::processEvents();
        menu->hide();
        for (QAction* action : menu->actions())
            if (!action->isSeparator() && action->data().toInt() == id)
                return action;
        return nullptr;
    }

    QStringList m_messages;

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QDir::setCurrent(m_dir.path());
    }

    void constructionToShownTime()
    {
        QElapsedTimer timer;
        timer.start();
        CMainFrame frame(m_ports);
        const qint64 constructed = timer.elapsed();
        frame.resize(1000, 700);
        frame.show();
        QVERIFY(QTest::qWaitForWindowExposed(&frame));
        qInfo("main window: constructed in %lld ms, shown after %lld ms", constructed, timer.elapsed());
        QVERIFY(timer.elapsed() < 10000); // a hang check only
    }

    void ctrlKClearsTheTerminalOnly()
    {
        auto frame = MakeFrame();
        Receive(*frame, "device output\r\nmore");
        frame->Console()->PrintToConsole("console text\n", kConsoleOutput);
        const QString console = frame->Console()->toPlainText();
        QTest::keyClick(frame->Terminal(), Qt::Key_K, Qt::ControlModifier);
        QCOMPARE(frame->Terminal()->toPlainText(), QString());
        QCOMPARE(frame->Console()->toPlainText(), console);
        // Receiving goes on in the emptied pane, from the start.
        Receive(*frame, "after");
        QCOMPARE(frame->Terminal()->toPlainText(), QString("after"));
        // Clear Screen from the console pane (the File menu) still clears the terminal.
        FocusConsole(*frame);
        QAction* clear = MenuAction(*frame, 0, ID_FILE_NEW);
        QVERIFY(clear && clear->isEnabled());
        clear->trigger();
        QCOMPARE(frame->Terminal()->toPlainText(), QString());
        QCOMPARE(frame->Console()->toPlainText(), console);
        QVERIFY(m_messages.isEmpty()); // never asks to save
    }

    void saveAsProposesUntitledThenPathThenUntitledAgain()
    {
        auto frame = MakeFrame();
        QStringList proposed;
        QString answer;
        frame->m_chooseSaveFile = [&](const QString& name) {
            proposed << name;
            return answer;
        };
        Receive(*frame, "abc");
        answer = QString(); // cancelled: nothing written, nothing remembered
        frame->OnCommand(ID_FILE_SAVE_AS);
        const QString path = m_dir.filePath("first.txt");
        answer = path;
        frame->OnCommand(ID_FILE_SAVE_AS);
        frame->OnCommand(ID_FILE_SAVE_AS);
        QTest::keyClick(frame->Terminal(), Qt::Key_K, Qt::ControlModifier);
        frame->OnCommand(ID_FILE_SAVE_AS);
        QCOMPARE(proposed, (QStringList{"Untitled.txt", "Untitled.txt", path, "Untitled.txt"}));
        QVERIFY(m_messages.isEmpty());
    }

    void savedFileHoldsTheTerminalTextWhicheverPaneIsActive_data()
    {
        QTest::addColumn<bool>("consoleActive");
        QTest::newRow("terminal active") << false;
        QTest::newRow("console active") << true;
    }

    void savedFileHoldsTheTerminalTextWhicheverPaneIsActive()
    {
        QFETCH(bool, consoleActive);
        auto frame = MakeFrame();
        // CR LF, a lone CR, a lone LF, a tab, trailing blanks, an empty line.
        Receive(*frame, "line one\r\nline\ttwo  \rthree\n\nlast");
        frame->Console()->PrintToConsole("console only\n", kConsoleOutput);
        const QString shown = frame->Terminal()->toPlainText();
        QCOMPARE(shown, QString("line one\nline\ttwo  \nthree\n\nlast"));
        if (consoleActive)
            FocusConsole(*frame);
        const QString path = m_dir.filePath(consoleActive ? "console.txt" : "terminal.txt");
        frame->m_chooseSaveFile = [&](const QString&) { return path; };
        QAction* save = MenuAction(*frame, 0, ID_FILE_SAVE_AS);
        QVERIFY(save && save->isEnabled());
        save->trigger();
        QCOMPARE(ReadFile(path), shown.toUtf8());
        QCOMPARE(frame->Terminal()->toPlainText(), shown);
        QVERIFY(m_messages.isEmpty());
    }

    // With ANSI and UTF-8 display on, the pane shows colours and characters
    // without escape sequences, rewrites a progress line on CR and ESC [ 2 K,
    // finds text across colour changes, and saves the text as it shows it.
    void ansiAndUtf8DisplayShowColouredTextThatFindsAndSavesWithoutEscapes()
    {
        auto frame = MakeFrame();
        frame->OnCommand(ID_VIEW_ANSI);
        frame->OnCommand(ID_VIEW_UTF8);
        CVORLAView* pane = frame->Terminal();
        Receive(*frame, "\x1b[1;32mcaf\xC3");
        Receive(*frame, "\xA9\x1b[0m ok\r\n 10%\r 55%\r\x1b[2K100%\r\nbad \xFF end\x1b]0;t\x07\r\n");
        const QString shown = pane->toPlainText();
        QCOMPARE(shown, QString::fromUtf8("caf\xC3\xA9 ok\n100%\nbad \xEF\xBF\xBD end\n"));
        QCOMPARE(pane->TextColourAt(0), QColor(0x00, 0xFF, 0x00)); // bold green: bright green
        QCOMPARE(pane->TextColourAt(3), QColor(0x00, 0xFF, 0x00)); // the é joined across reads
        QCOMPARE(pane->TextColourAt(5), pane->palette().color(QPalette::Text));

        QVERIFY(pane->Find(QString::fromUtf8("caf\xC3\xA9 ok"), SFindOptions{}));
        QCOMPARE(pane->SelectedText(), QString::fromUtf8("caf\xC3\xA9 ok"));
        const QString path = m_dir.filePath("ansi.txt");
        frame->m_chooseSaveFile = [&](const QString&) { return path; };
        frame->OnSaveAs();
        QCOMPARE(ReadFile(path), shown.toUtf8());

        // Off again: ESC shows as '.', as before.
        frame->OnCommand(ID_VIEW_ANSI);
        Receive(*frame, "\x1b[31mx");
        QVERIFY(pane->toPlainText().endsWith(".[31mx"));
        QCOMPARE(pane->TextColourAt(pane->toPlainText().size() - 1), pane->palette().color(QPalette::Text));
    }

    void savedTextReopensAsShown()
    {
        // Bytes above 0x7F show as one character each; saving and opening
        // again shows the same text.
        auto frame = MakeFrame();
        Receive(*frame, "25\xb0" "C \xe9t\xe9\r\nend");
        const QString shown = frame->Terminal()->toPlainText();
        QCOMPARE(shown, QString::fromLatin1("25\xb0" "C \xe9t\xe9\nend"));
        const QString path = m_dir.filePath("latin.txt");
        frame->m_chooseSaveFile = [&](const QString&) { return path; };
        frame->OnSaveAs();
        auto second = MakeFrame();
        QVERIFY(second->OpenDocument(path));
        QCOMPARE(second->Terminal()->toPlainText(), shown);
        // A log written byte for byte by another program shows the same.
        const QString raw = m_dir.filePath("raw.txt");
        WriteFile(raw, "25\xb0" "C \xe9t\xe9\r\nend");
        QVERIFY(second->OpenDocument(raw));
        QCOMPARE(second->Terminal()->toPlainText(), shown);
        QVERIFY(m_messages.isEmpty());
    }

    void failedSaveReportsAndKeepsTextAndPath()
    {
        auto frame = MakeFrame();
        Receive(*frame, "keep me");
        const QString good = m_dir.filePath("good.txt");
        QString answer = good;
        QStringList proposed;
        frame->m_chooseSaveFile = [&](const QString& name) {
            proposed << name;
            return answer;
        };
        frame->OnSaveAs();
        answer = m_dir.filePath("no-such-dir/bad.txt");
        frame->OnSaveAs();
        QCOMPARE(m_messages.size(), 1);
        QVERIFY2(m_messages[0].contains("bad.txt"), qPrintable(m_messages[0]));
        frame->OnSaveAs();
        QCOMPARE(proposed, (QStringList{"Untitled.txt", good, good}));
        QCOMPARE(frame->Terminal()->toPlainText(), QString("keep me"));
    }

    void openedFileShowsItsTextAndReceivedTextFollows()
    {
        auto frame = MakeFrame();
        Receive(*frame, "old text");
        const QString path = m_dir.filePath("saved-log.txt");
        WriteFile(path, "first line\r\nsecond line\r\n");
        QVERIFY(frame->OpenDocument(path));
        QCOMPARE(frame->Terminal()->toPlainText(), QString("first line\nsecond line\n"));
        Receive(*frame, "received\r\n");
        Receive(*frame, "more");
        QCOMPARE(frame->Terminal()->toPlainText(), QString("first line\nsecond line\nreceived\nmore"));
        // The opened file is the document's path: Save As proposes it.
        QString proposed;
        frame->m_chooseSaveFile = [&](const QString& name) {
            proposed = name;
            return QString();
        };
        frame->OnSaveAs();
        QCOMPARE(proposed, path);
        QVERIFY(m_messages.isEmpty());
    }

    void unreadableFileGivesMessageAndKeepsText_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("missing") << "missing.txt";
        QTest::newRow("directory") << "a-directory";
        QTest::newRow("fifo") << "a-fifo"; // would block a plain open-and-read
    }

    void unreadableFileGivesMessageAndKeepsText()
    {
        QFETCH(QString, name);
        QDir(m_dir.path()).mkdir("a-directory");
        ::mkfifo(QFile::encodeName(m_dir.filePath("a-fifo")).constData(), 0600);
        auto frame = MakeFrame();
        const QString good = m_dir.filePath("good-open.txt");
        WriteFile(good, "loaded");
        QVERIFY(frame->OpenDocument(good));
        Receive(*frame, " and received");
        QVERIFY(!frame->OpenDocument(m_dir.filePath(name)));
        QCOMPARE(m_messages.size(), 1);
        QVERIFY2(m_messages[0].contains(name), qPrintable(m_messages[0]));
        QCOMPARE(frame->Terminal()->toPlainText(), QString("loaded and received"));
        QString proposed;
        frame->m_chooseSaveFile = [&](const QString& n) {
            proposed = n;
            return QString();
        };
        frame->OnSaveAs();
        QCOMPARE(proposed, good);
    }

    void droppedFileOpens_data()
    {
        QTest::addColumn<QString>("where");
        QTest::newRow("terminal pane") << "terminal";
        QTest::newRow("console pane") << "console";
        QTest::newRow("status bar") << "statusBar";
    }

    void droppedFileOpens()
    {
        QFETCH(QString, where);
        auto frame = MakeFrame();
        Receive(*frame, "before the drop");
        const QString console = frame->Console()->toPlainText();
        const QString path = m_dir.filePath("dropped.txt");
        WriteFile(path, "dropped text\n");
        QWidget* target = where == "terminal"  ? frame->Terminal()->viewport()
                          : where == "console" ? frame->Console()->viewport()
                                               : frame->findChild<QWidget*>("statusBar");
        QVERIFY(target);
        // Delivered as the window system does: to the widget under the
        // cursor, from where Qt passes it up to a widget that accepts drops.
        QMimeData mime;
        mime.setUrls({QUrl::fromLocalFile(path)});
        const QPoint at = target->rect().center();
        QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent drop(QPointF(at), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &drop);
        QCOMPARE(frame->Terminal()->toPlainText(), QString("dropped text\n"));
        QCOMPARE(frame->Console()->toPlainText(), console);
    }

    void printWritesPagesWithHalfInchMargins()
    {
        auto frame = MakeFrame();
        // Enough lines for several pages, and one line longer than a page is wide.
        QByteArray text;
        int characters = 0;
        for (int i = 1; i <= 150; ++i) {
            const QByteArray line = "line " + QByteArray::number(i) + " of the device log";
            text += line + "\r\n";
            characters += line.size();
        }
        const QByteArray longLine(400, 'x');
        text += longLine;
        characters += longLine.size();
        Receive(*frame, text);
        frame->Terminal()->SetWrap(false); // printing wraps whatever the pane does

        const QString pdf = m_dir.filePath("print.pdf");
        int dialogs = 0;
        frame->m_printDialog = [&](QPrinter& printer) {
            ++dialogs;
            const QMarginsF margins = printer.pageLayout().margins(QPageLayout::Inch);
            if (margins != QMarginsF(0.5, 0.5, 0.5, 0.5))
                qWarning("print dialog opened with margins %g %g %g %g", margins.left(), margins.top(),
                         margins.right(), margins.bottom());
            printer.setOutputFormat(QPrinter::PdfFormat);
            printer.setOutputFileName(pdf);
            return true;
        };
        QTest::keyClick(frame->Terminal(), Qt::Key_P, Qt::ControlModifier);
        QCOMPARE(dialogs, 1);
        QCOMPARE(frame->Printer().pageLayout().margins(QPageLayout::Inch), QMarginsF(0.5, 0.5, 0.5, 0.5));

        const std::vector<SPdfPage> pages = ReadPdfPages(ReadFile(pdf));
        const QString layout = Describe(pages);
        QVERIFY2(pages.size() >= 2, qPrintable(layout));
        const double margin = 36.0; // half an inch in points
        const double lineRoom = 30.0;   // two lines of a 10-point font, at most
        size_t glyphsInside = 0;
        for (size_t p = 0; p < pages.size(); ++p) {
            const SPdfPage& page = pages[p];
            double minX = 1e9, maxX = -1e9, minY = 1e9, maxY = -1e9;
            for (const SGlyph& g : page.glyphs) {
                // Glyphs of a line that falls on the boundary may be drawn
                // into the clipped margin; only those inside are printed.
                if (g.y < margin || g.y > page.height - margin)
                    continue;
                ++glyphsInside;
                minX = std::min(minX, g.x);
                maxX = std::max(maxX, g.x);
                minY = std::min(minY, g.y);
                maxY = std::max(maxY, g.y);
            }
            // Lines start at the left margin; the first baseline sits one
            // ascent below the top margin.
            QVERIFY2(qAbs(minX - margin) < 1.0, qPrintable(layout));
            QVERIFY2(maxY < page.height - margin && maxY > page.height - margin - lineRoom, qPrintable(layout));
            QVERIFY2(maxX < page.width - margin, qPrintable(layout));
            // Full pages run down to the bottom margin.
            if (p + 1 < pages.size())
                QVERIFY2(minY < margin + lineRoom, qPrintable(layout));
        }
        // The long line wraps at the right margin, whatever the pane's Wrap.
        double widest = 0;
        for (const SGlyph& g : pages.back().glyphs)
            widest = std::max(widest, g.x);
        QVERIFY2(widest > pages.back().width - margin - 15.0, qPrintable(layout));
        // Every character is printed once: nothing lost, nothing repeated.
        QCOMPARE(glyphsInside, static_cast<size_t>(characters));
    }

    void printToUnwritableFileReports()
    {
        auto frame = MakeFrame();
        Receive(*frame, "text");
        frame->m_printDialog = [&](QPrinter& printer) {
            printer.setOutputFormat(QPrinter::PdfFormat);
            printer.setOutputFileName(m_dir.filePath("no-such-dir/print.pdf"));
            return true;
        };
        frame->OnPrint();
        QCOMPARE(m_messages.size(), 1);
        QCOMPARE(frame->Terminal()->toPlainText(), QString("text"));
    }

    void printPreviewShowsThePages()
    {
        auto frame = MakeFrame();
        QByteArray text;
        for (int i = 0; i < 120; ++i)
            text += "preview line\r\n";
        Receive(*frame, text);
        int pages = -1;
        QMarginsF margins;
        QTimer::singleShot(0, frame.get(), [&] {
            auto* preview = qobject_cast<QPrintPreviewDialog*>(QApplication::activeModalWidget());
            if (!preview)
                return;
            auto* widget = preview->findChild<QPrintPreviewWidget*>();
            if (widget) {
                widget->updatePreview();
                pages = widget->pageCount();
            }
            margins = preview->printer()->pageLayout().margins(QPageLayout::Inch);
            preview->reject();
        });
        frame->OnCommand(ID_FILE_PRINT_PREVIEW);
        QVERIFY(pages >= 2);
        QCOMPARE(margins, QMarginsF(0.5, 0.5, 0.5, 0.5));
    }

    void printDisabledWhileConsoleIsActive()
    {
        auto frame = MakeFrame();
        Receive(*frame, "something to print");
        int dialogs = 0;
        frame->m_printDialog = [&](QPrinter&) {
            ++dialogs;
            return false;
        };
        QVERIFY(frame->IsCommandEnabled(ID_FILE_PRINT));
        QVERIFY(MenuAction(*frame, 0, ID_FILE_PRINT)->isEnabled());
        QVERIFY(MenuAction(*frame, 0, ID_FILE_PRINT_PREVIEW)->isEnabled());
        QTest::keyClick(frame->Terminal(), Qt::Key_P, Qt::ControlModifier);
        QCOMPARE(dialogs, 1);

        FocusConsole(*frame);
        const QString console = frame->Console()->toPlainText();
        QVERIFY(!frame->IsCommandEnabled(ID_FILE_PRINT));
        QVERIFY(!frame->IsCommandEnabled(ID_FILE_PRINT_PREVIEW));
        QVERIFY(!MenuAction(*frame, 0, ID_FILE_PRINT)->isEnabled());
        QVERIFY(!MenuAction(*frame, 0, ID_FILE_PRINT_PREVIEW)->isEnabled());
        QVERIFY(MenuAction(*frame, 0, ID_FILE_PRINT_SETUP)->isEnabled());
        QTest::keyClick(frame->Console(), Qt::Key_P, Qt::ControlModifier);
        QCOMPARE(dialogs, 1);
        QCOMPARE(frame->Console()->toPlainText(), console); // not typed either

        // Back in the terminal pane, Print is available again.
        FocusTerminal(*frame);
        QVERIFY(MenuAction(*frame, 0, ID_FILE_PRINT)->isEnabled());
        QTest::keyClick(frame->Terminal(), Qt::Key_P, Qt::ControlModifier);
        QCOMPARE(dialogs, 2);
    }

    void ctrlSAndCtrlODoNothing()
    {
        auto frame = MakeFrame();
        Receive(*frame, "unchanged");
        int saves = 0;
        frame->m_chooseSaveFile = [&](const QString&) {
            ++saves;
            return QString();
        };
        const QString console = frame->Console()->toPlainText();
        for (QWidget* pane : {static_cast<QWidget*>(frame->Terminal()), static_cast<QWidget*>(frame->Console())}) {
            QTest::keyClick(pane, Qt::Key_S, Qt::ControlModifier);
            QTest::keyClick(pane, Qt::Key_O, Qt::ControlModifier);
        }
        QCOMPARE(frame->Console()->toPlainText(), console);
        QCOMPARE(saves, 0);
        QCOMPARE(frame->Terminal()->toPlainText(), QString("unchanged"));
        QVERIFY(!frame->IsCommandEnabled(ID_FILE_SAVE));
        QVERIFY(!frame->IsCommandEnabled(ID_FILE_OPEN));
        QVERIFY(frame->IsCommandEnabled(ID_FILE_SAVE_AS));
        QVERIFY(!QApplication::activeModalWidget());
    }

    void copyCopiesTheSelectionOnly()
    {
        auto frame = MakeFrame();
        Receive(*frame, "first line\r\nsecond line");
        QClipboard* clipboard = QApplication::clipboard();
        clipboard->setText("untouched");
        QVERIFY(frame->IsCommandEnabled(ID_EDIT_COPY));
        QVERIFY(MenuAction(*frame, 1, ID_EDIT_COPY)->isEnabled());
        QTest::keyClick(frame->Terminal(), Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(clipboard->text(), QString("untouched"));
        frame->OnCommand(ID_EDIT_COPY);
        QCOMPARE(clipboard->text(), QString("untouched"));

        struct SCase {
            Qt::Key key;
            int from;
            int to;
        };
        for (const SCase& c : {SCase{Qt::Key_C, 6, 17}, SCase{Qt::Key_Insert, 0, 5}}) {
            frame->Terminal()->SetSelection(c.from, c.to);
            QTest::keyClick(frame->Terminal(), c.key, Qt::ControlModifier);
            const QString expected = QString("first line\nsecond line").mid(c.from, c.to - c.from);
            QCOMPARE(clipboard->text(), expected);
            QCOMPARE(frame->Terminal()->SelectedText(), expected); // the selection survives
        }
        // Select All then Copy takes the whole text.
        QTest::keyClick(frame->Terminal(), Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(frame->Terminal(), Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(clipboard->text(), QString("first line\nsecond line"));
    }

    void findWhatLabelMnemonicFocusesTheField()
    {
        auto frame = MakeFrame();
        Receive(*frame, "text");
        frame->OnFind();
        CFindDialog* dialog = frame->FindDialog();
        auto* field = dialog->findChild<QLineEdit*>("findWhat");
        auto* matchCase = dialog->findChild<QCheckBox*>("matchCase");
        dialog->activateWindow();
        matchCase->setFocus();
        QVERIFY(WaitUntil([&] { return matchCase->hasFocus(); }));
        QTest::keyClick(matchCase, Qt::Key_N, Qt::AltModifier);
        QVERIFY(WaitUntil([&] { return field->hasFocus(); }));
        dialog->hide();
    }

    void findSearchesTheWholeText_data()
    {
        QTest::addColumn<QString>("what");
        QTest::addColumn<bool>("matchCase");
        QTest::addColumn<bool>("wholeWord");
        QTest::addColumn<bool>("down");
        QTest::addColumn<QList<int>>("starts"); // the matches, in the order found from the end of the text

        // Text: "Beta alpha beta\nbetamax BETA gamma beta"
        //        0    5     11   16      24   29    35
        QTest::newRow("down") << "beta" << false << false << true << QList<int>{0, 11, 16, 24, 35, 0};
        QTest::newRow("up") << "beta" << false << false << false << QList<int>{35, 24, 16, 11, 0, 35};
        QTest::newRow("match case") << "beta" << true << false << true << QList<int>{11, 16, 35, 11};
        QTest::newRow("whole word") << "beta" << false << true << true << QList<int>{0, 11, 24, 35, 0};
        QTest::newRow("case and word") << "BETA" << true << true << true << QList<int>{24, 24};
        QTest::newRow("whole word up") << "beta" << false << true << false << QList<int>{35, 24, 11, 0, 35};
    }

    void findSearchesTheWholeText()
    {
        QFETCH(QString, what);
        QFETCH(bool, matchCase);
        QFETCH(bool, wholeWord);
        QFETCH(bool, down);
        QFETCH(QList<int>, starts);
        auto frame = MakeFrame();
        Receive(*frame, "Beta alpha beta\r\nbetamax BETA gamma beta");
        const QString text = frame->Terminal()->toPlainText();

        // Ctrl+F: the key rule has put the caret at the end, after every match.
        QTest::keyClick(frame->Terminal(), Qt::Key_F, Qt::ControlModifier);
        CFindDialog* dialog = frame->FindDialog();
        QVERIFY(dialog && dialog->isVisible());
        QCOMPARE(frame->Terminal()->CaretPosition(), text.size());
        QTest::keyClicks(dialog->findChild<QLineEdit*>("findWhat"), what);
        dialog->findChild<QCheckBox*>("matchCase")->setChecked(matchCase);
        dialog->findChild<QCheckBox*>("wholeWord")->setChecked(wholeWord);
        const auto radios = dialog->findChildren<QRadioButton*>();
        for (QRadioButton* radio : radios)
            if (radio->text() == (down ? "&Down" : "&Up"))
                radio->setChecked(true);

        // The first from the dialog's button, the rest with F3 in the pane,
        // whose key rule moves the caret to the end before each search.
        QList<int> found;
        auto record = [&] {
            const CVORLAView* pane = frame->Terminal();
            QCOMPARE(pane->SelectedText().compare(what, matchCase ? Qt::CaseSensitive : Qt::CaseInsensitive), 0);
            found << static_cast<int>(pane->SelectionStart());
        };
        dialog->findChild<QPushButton*>("findNextButton")->click();
        record();
        while (found.size() < starts.size()) {
            QTest::keyClick(frame->Terminal(), Qt::Key_F3);
            record();
        }
        QCOMPARE(found, starts);
        // The dialog's button moves on from the match as well.
        dialog->findChild<QPushButton*>("findNextButton")->click();
        record();
        QCOMPARE(found.last(), starts.size() > 1 ? starts[1] : starts[0]);
    }

    void findNothingLeavesTheSelection()
    {
        auto frame = MakeFrame();
        Receive(*frame, "abc def");
        frame->OnFind();
        frame->FindDialog()->SetFindWhat("xyz");
        QVERIFY(!frame->OnFindNext());
        QCOMPARE(frame->Terminal()->toPlainText(), QString("abc def"));
        QVERIFY(!frame->Terminal()->HasSelection());
    }

    void findIsDisabledInAnEmptyPane()
    {
        auto frame = MakeFrame();
        QVERIFY(!frame->IsCommandEnabled(ID_EDIT_FIND));
        QVERIFY(!frame->IsCommandEnabled(ID_EDIT_REPEAT));
        QVERIFY(!MenuAction(*frame, 1, ID_EDIT_FIND)->isEnabled());
        QVERIFY(!MenuAction(*frame, 1, ID_EDIT_REPEAT)->isEnabled());
        QVERIFY(!MenuAction(*frame, 1, ID_EDIT_SELECT_ALL)->isEnabled());
        QTest::keyClick(frame->Terminal(), Qt::Key_F, Qt::ControlModifier);
        QVERIFY(!frame->FindDialog() || !frame->FindDialog()->isVisible());

        // With text: Find is enabled; Find Next once a search text was given.
        Receive(*frame, "word");
        QVERIFY(MenuAction(*frame, 1, ID_EDIT_FIND)->isEnabled());
        QVERIFY(!MenuAction(*frame, 1, ID_EDIT_REPEAT)->isEnabled());
        QTest::keyClick(frame->Terminal(), Qt::Key_F, Qt::ControlModifier);
        QVERIFY(frame->FindDialog() && frame->FindDialog()->isVisible());
        frame->FindDialog()->SetFindWhat("word");
        QVERIFY(MenuAction(*frame, 1, ID_EDIT_REPEAT)->isEnabled());
        // Cleared again: both disabled, F3 does nothing.
        frame->OnClearScreen();
        QVERIFY(!frame->IsCommandEnabled(ID_EDIT_FIND));
        QVERIFY(!frame->IsCommandEnabled(ID_EDIT_REPEAT));
        QTest::keyClick(frame->Terminal(), Qt::Key_F3);
        QCOMPARE(frame->Terminal()->toPlainText(), QString());
    }
};

QTEST_MAIN(TestDocument)
#include "tst_document.moc"
