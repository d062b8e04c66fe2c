#include <QtTest>

#include "app/MainFrame.h"

class TestStartup : public QObject {
    Q_OBJECT
private slots:
    void titleIsVorla()
    {
        CMainFrame frame;
        QCOMPARE(frame.windowTitle(), QString("VORLA"));
    }
};

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
