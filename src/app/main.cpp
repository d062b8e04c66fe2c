#include <QApplication>

#include "app/MainFrame.h"

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    CMainFrame frame;
    frame.showMaximized();
    return app.exec();
}
