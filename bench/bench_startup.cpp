// Start-up of the main window: time from the start of main() to the first
// shown and exposed main window, and resident memory once idle. The process
// start itself (loading Qt and Tcl) is measured by the caller with `time`.

#include <QApplication>
#include <QElapsedTimer>
#include <QTest>

#include <cstdio>
#include <string>

#include "BenchSerialSupport.h"
#include "app/MainFrame.h"
#include "serial/PortMap.h"

int main(int argc, char** argv)
{
    QElapsedTimer clock;
    clock.start();
    if (qgetenv("QT_QPA_PLATFORM").isEmpty())
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    CPortMap ports;
    ports.Build({});
    CMainFrame frame(ports);
    frame.showMaximized();
    const bool exposed = QTest::qWaitForWindowExposed(&frame, 10000);
    const double shownMs = clock.nsecsElapsed() / 1e6;
    QTest::qWait(2000);
    std::printf("main window shown %s after %.1f ms from main(); resident memory idle: %.1f MB\n",
                exposed ? "and exposed" : "(not exposed)", shownMs, bench::ResidentKb() / 1024.0);
    return 0;
}
