#include <QProcess>
#include <QScreen>
#include <QtTest>

#include "GuiTestSupport.h"
#include "app/MainFrame.h"
#include "app/SplitterLayout.h"
#include "app/ThinSplitter.h"
#include "console/ConsoleView.h"
#include "serial/PortMap.h"
#include "terminal/TerminalView.h"

// The main window under a real window manager (run inside with-x11.sh on the
// xcb platform): what the user sees after restoring the maximised window.
class TestX11Window : public QObject {
    Q_OBJECT

    CPortMap m_ports;

    // Asks the window manager, as a user's restore button does.
    static bool Wmctrl(const CMainFrame& frame, const QString& action)
    {
        const QString id = QString::number(frame.winId());
        return QProcess::execute("wmctrl", {"-i", "-r", id, "-b", action}) == 0;
    }

private slots:
    void initTestCase()
    {
        QDir::setCurrent(QDir::tempPath());
        QCOMPARE(QGuiApplication::platformName(), QString("xcb"));
    }

    void restoreShowsBothPanesAtTheSplit()
    {
        CMainFrame frame(m_ports);
        frame.showMaximized();
        const QRect available = frame.screen()->availableGeometry();
        QVERIFY(WaitUntil([&] { return frame.isMaximized() && frame.width() > available.width() * 9 / 10; }, 20000));

        QVERIFY(Wmctrl(frame, "remove,maximized_vert,maximized_horz"));
        QVERIFY(WaitUntil([&] { return !frame.isMaximized() && frame.width() < available.width() * 9 / 10; }, 20000));
        QVERIFY(WaitUntil([&] { return frame.Console()->isVisible(); }, 5000));

        // Two thirds of the screen, and the 5/7 split of the outer height.
        QVERIFY2(qAbs(frame.width() - available.width() * 2 / 3) < 40, qPrintable(QString::number(frame.width())));
        QVERIFY2(qAbs(frame.height() - available.height() * 2 / 3) < 60, qPrintable(QString::number(frame.height())));
        CThinSplitterWnd* splitter = frame.Splitter();
        const int inside = splitter->height() - 2;
        const int top = FiveSevenths(frame.frameGeometry().height());
        QCOMPARE(splitter->RowInfo(0).currentSize, top);
        QCOMPARE(splitter->RowInfo(1).currentSize, inside - top - kSplitterGap);
        QVERIFY(frame.Terminal()->isVisible() && frame.Terminal()->height() > 200);
        QVERIFY(frame.Console()->height() > 40);
        frame.close();
    }
};

QTEST_MAIN(TestX11Window)
#include "tst_x11_window.moc"
