#pragma once

#include <QMainWindow>

// The one main window: menu, command bar, the two panes and the status bar.
class CMainFrame : public QMainWindow {
    Q_OBJECT
public:
    explicit CMainFrame(QWidget* parent = nullptr);
};
