#include "app/MainFrame.h"

#include "app/Version.h"

CMainFrame::CMainFrame(QWidget* parent) : QMainWindow(parent) { setWindowTitle(kAppName); }
