#include <QComboBox>
#include <QFontDatabase>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QStatusBar>
#include <QToolButton>
#include <QtTest>

#include "GuiTestSupport.h"
#include "app/CommandBar.h"
#include "app/CommandIds.h"
#include "app/MainFrame.h"
#include "app/ThinSplitter.h"
#include "console/ConsoleView.h"
#include "serial/PortMap.h"
#include "terminal/TerminalView.h"

// The main window as a user meets it, on the offscreen platform.
class TestMainWindow : public QObject {
    Q_OBJECT

    CPortMap m_ports;

    std::unique_ptr<CMainFrame> MakeFrame(int width = 1000, int height = 700)
    {
        auto frame = std::make_unique<CMainFrame>(m_ports);
        frame->resize(width, height);
        frame->show();
        QCoreApplication::processEvents();
        return frame;
    }

    static QStringList MenuTexts(QMenu* menu)
    {
        QStringList texts;
        for (QAction* action : menu->actions())
            texts << (action->isSeparator() ? QString("-") : action->text());
        return texts;
    }

private slots:
    void initTestCase() { QDir::setCurrent(QDir::tempPath()); }

    void startUpState()
    {
        auto frame = MakeFrame();
        QCOMPARE(frame->windowTitle(), QString("VORLA"));
        QStringList titles;
        for (QAction* action : frame->menuBar()->actions())
            titles << action->text();
        QCOMPARE(titles, (QStringList{"&File", "&Edit", "&View", "Config", "&Help"}));
        QCOMPARE(MenuTexts(frame->MenuAt(0)), (QStringList{"&Clear Screen\tCtrl+K", "Save", "&Log to File...", "-", "&Print...\tCtrl+P",
                                                           "Print Pre&view", "P&rint Setup...", "-", "E&xit"}));
        QCOMPARE(MenuTexts(frame->MenuAt(1)),
                 (QStringList{"&Copy\tCtrl+C", "&Paste\tCtrl+V", "Select A&ll\tCtrl+A", "-", "&Find...\tCtrl+F",
                              "F&ind Next\tF3", "-", "Send &Hex...", "-", "&Stop Script\tCtrl+Break"}));
        QCOMPARE(MenuTexts(frame->MenuAt(2)), (QStringList{"&Status Bar", "&Timestamps", "He&x", "&ANSI Colours", "&UTF-8"}));
        QCOMPARE(MenuTexts(frame->MenuAt(3)),
                 (QStringList{"Set Vorla Font", "Reconnect Automatically", "-", "Enter Sends LF", "Enter Sends CR",
                              "Enter Sends CR LF", "-", "&Keys to Device"}));
        QCOMPARE(MenuTexts(frame->MenuAt(4)), QStringList{"&About VORLA..."});
        QCOMPARE(frame->MenuAt(0)->actions()[0]->statusTip(), QString("Clear Terminal Screen"));

        // Status bar: Ready, an empty 300-pixel bar (0..1000), a blank label, the indicators.
        auto* ready = frame->findChild<QLabel*>("statusReady");
        QVERIFY(ready);
        QCOMPARE(ready->text(), QString("Ready"));
        QVERIFY(frame->m_wndProgress);
        QCOMPARE(frame->m_wndProgress->width(), 300);
        QCOMPARE(frame->m_wndProgress->maximum(), 1000);
        QCOMPARE(frame->m_wndProgress->value(), 0);
        QCOMPARE(frame->m_wndPercent->text(), QString(" "));
        QCOMPARE(frame->m_wndPercent->width(), 50);
        for (const char* name : {"indicatorCAP", "indicatorNUM", "indicatorSCRL"})
            QVERIFY(frame->findChild<QLabel*>(name));

        // Console: blue "VORLA >" then a black blank.
        CConsoleView* console = frame->Console();
        QCOMPARE(console->toPlainText(), QString("VORLA > "));
        QCOMPARE(ColourAt(console, 0), QColor(0, 0, 255));
        QCOMPARE(ColourAt(console, 7), QColor(0, 0, 0));
        QCOMPARE(frame->Terminal()->accessibleName(), QString("Terminal"));
        QCOMPARE(console->accessibleName(), QString("Console"));
    }

    void fiveSeventhsSplitAtSeveralHeights()
    {
        for (int height : {500, 700, 901, 1200}) {
            auto frame = MakeFrame(900, height);
            CThinSplitterWnd* splitter = frame->Splitter();
            const int outer = frame->frameGeometry().height();
            const int inside = splitter->height() - 2;
            const int expectTop = std::min<int>(outer * 5 / 7, inside);
            QCOMPARE(splitter->RowInfo(0).currentSize, expectTop);
            QCOMPARE(splitter->RowInfo(1).currentSize, inside - expectTop - 7);
            QVERIFY(frame->Console()->isVisible());
            QCOMPARE(frame->Terminal()->geometry().height(), expectTop + 2);
        }
    }

    void consoleHiddenWhenNoRoom()
    {
        // A short window: 5/7 of the outer height leaves less than 8 pixels.
        auto frame = MakeFrame(900, 200);
        QVERIFY(frame->Splitter()->height() - 2 - frame->frameGeometry().height() * 5 / 7 < 8);
        QCOMPARE(frame->Splitter()->RowInfo(1).currentSize, 0);
        QVERIFY(!frame->Console()->isVisible());
    }

    void promptHidesAndShowsConsole()
    {
        auto frame = MakeFrame();
        QToolButton* prompt = frame->m_wndCommandBar->m_btnPrompt;
        const QImage shownIcon = prompt->icon().pixmap(32, 32).toImage();
        prompt->click();
        QCOMPARE(frame->m_bConsoleHidden, 1);
        QVERIFY(!frame->Console()->isVisible());
        QVERIFY(prompt->icon().pixmap(32, 32).toImage() != shownIcon);
        frame->Terminal()->setFocus();
        prompt->click();
        QCOMPARE(frame->m_bConsoleHidden, 0);
        QVERIFY(frame->Console()->isVisible());
        QCOMPARE(prompt->icon().pixmap(32, 32).toImage(), shownIcon);
        QVERIFY(WaitUntil([&] { return frame->Console()->hasFocus(); }));
    }

    void resizeShowsHiddenConsoleAndNextPromptReapplies()
    {
        auto frame = MakeFrame();
        frame->OnPrompt(); // hide
        frame->resize(1000, 720);
        QCoreApplication::processEvents();
        QVERIFY(frame->Console()->isVisible()); // the resize brought it back
        QCOMPARE(frame->m_bConsoleHidden, 1);   // but the flag is unchanged
        frame->OnPrompt(); // re-applies the split and focuses the console
        QCOMPARE(frame->m_bConsoleHidden, 0);
        QVERIFY(frame->Console()->isVisible());
        frame->OnPrompt(); // and now hides it
        QVERIFY(!frame->Console()->isVisible());
    }

    void ctrlTabTogglesFocus()
    {
        auto frame = MakeFrame();
        frame->activateWindow();
        frame->Terminal()->setFocus();
        QVERIFY(WaitUntil([&] { return frame->Terminal()->hasFocus(); }));
        QVERIFY(!frame->ConsoleFocus());
        QTest::keyClick(frame->Terminal(), Qt::Key_Tab, Qt::ControlModifier);
        QVERIFY(WaitUntil([&] { return frame->Console()->hasFocus(); }));
        QVERIFY(frame->ConsoleFocus());
        QTest::keyClick(frame->Console(), Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier);
        QVERIFY(WaitUntil([&] { return frame->Terminal()->hasFocus(); }));
        QVERIFY(!frame->ConsoleFocus());
        // A click into the console pane: the next Ctrl+Tab goes to the other pane.
        QTest::mouseClick(frame->Console()->viewport(), Qt::LeftButton);
        QVERIFY(WaitUntil([&] { return frame->ConsoleFocus(); }));
        QTest::keyClick(frame->Console(), Qt::Key_Tab, Qt::ControlModifier);
        QVERIFY(WaitUntil([&] { return frame->Terminal()->hasFocus(); }));
    }

    void stopScriptMenuItemStopsARunningEvaluation()
    {
        auto frame = MakeFrame();
        QMenu* edit = frame->MenuAt(1);
        QAction* stop = edit->actions().last();
        QCOMPARE(stop->data().toInt(), int(ID_STOP_SCRIPT));
        QVERIFY(stop->statusTip().contains("Tcl"));
        emit edit->aboutToShow();
        QVERIFY(!stop->isEnabled()); // nothing runs

        frame->TclHost().AttachConsole();
        frame->TclHost().SubmitCommandText("while 1 {}\n");
        QVERIFY(WaitUntil([&] { return frame->TclHost().IsEvaluating(); }));
        emit edit->aboutToShow();
        QVERIFY(stop->isEnabled());
        stop->trigger();
        QVERIFY(WaitUntil([&] { return frame->Console()->toPlainText().contains("eval unwound"); }));
        emit edit->aboutToShow();
        QVERIFY(!stop->isEnabled());
    }

    void fontsOpenOnSystemFixedFontAndCancelKeepsFont()
    {
        auto frame = MakeFrame();
        QFont seen;
        frame->m_chooseFont = [&](QFont& font, const QString&) {
            seen = font;
            return false;
        };
        const QFont before = frame->Terminal()->font();
        frame->OnFonts();
        QCOMPARE(seen, QFontDatabase::systemFont(QFontDatabase::FixedFont));
        QCOMPARE(frame->Terminal()->font(), before);
        frame->m_chooseFont = [&](QFont& font, const QString&) {
            seen = font;
            font.setPointSize(23);
            return true;
        };
        frame->OnSetVorlaFont();
        QCOMPARE(frame->Console()->font().pointSize(), 23);
        QCOMPARE(frame->Terminal()->font(), before);
        // A new window opens on the system font again.
        auto second = MakeFrame();
        second->m_chooseFont = frame->m_chooseFont;
        second->OnSetVorlaFont();
        QCOMPARE(seen, QFontDatabase::systemFont(QFontDatabase::FixedFont));
    }

    void acceleratorsNeverReachTheTerminal()
    {
        auto frame = MakeFrame();
        frame->Terminal()->setPlainText("some text");
        // Ctrl+K clears the terminal only.
        QTest::keyClick(frame->Terminal(), Qt::Key_K, Qt::ControlModifier);
        QCOMPARE(frame->Terminal()->toPlainText(), QString());
        QCOMPARE(frame->Console()->toPlainText(), QString("VORLA > "));
        // Ctrl+S and Ctrl+O are disabled commands: nothing happens.
        QVERIFY(!frame->IsCommandEnabled(57603));
        QVERIFY(!frame->IsCommandEnabled(57601));
    }

    void closeWritesSettingsFileWithoutAsking()
    {
        QTemporaryDir dir;
        const QString old = QDir::currentPath();
        QDir::setCurrent(dir.path());
        {
            auto frame = MakeFrame();
            frame->Terminal()->setPlainText("unsaved device output");
            CRecordingPrompt* none = nullptr;
            Q_UNUSED(none);
            frame->GuiPrompt().m_answer = [](const QString&, bool) {
                QTest::qFail("no question expected", __FILE__, __LINE__);
                return false;
            };
            QVERIFY(frame->close());
        }
        QDir::setCurrent(old);
        QVERIFY(QFile::exists(dir.filePath("VORLA.ini")));
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_main_window.moc"
