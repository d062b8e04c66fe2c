// The main window's Connect, DisConnect and Settings commands.

#include <QApplication>
#include <QComboBox>
#include <QTimer>
#include <QStatusBar>

#include "app/CommandBar.h"
#include "app/MainFrame.h"
#include "console/ConsoleView.h"
#include "serial/PortSettingsDlg.h"

namespace {

void Report(CConsoleView* console, const std::string& line, int kind)
{
    console->PrintToConsole(line, kind);
    console->PrintToConsole(kConsolePrompt, kConsoleNotice);
}

// A refusal of the settings: the "VORLA" box says only that they were
// refused, the status bar says why (e.g. the device has no 7-bit mode).
void ShowSettingsOutcome(IUserPrompt& prompt, QStatusBar* bar, const SResult& result)
{
    if (result.ok) {
        bar->clearMessage();
        return;
    }
    prompt.ShowMessage(result.message);
    bar->showMessage(QString::fromStdString(result.reason));
}

} // namespace

void CMainFrame::OnConnect()
{
    const int n = m_wndCommandBar->m_cbPort->currentIndex() + 1;
    const std::string name = "COM" + std::to_string(n);
    if (m_openPort != 0) {
        Report(Console(), "COM" + std::to_string(m_openPort.load()) + " is already open \n", kConsoleError);
        return;
    }
    if (!m_serial.Open(name)) {
        Report(Console(), "Unable to open port " + name + "\n", kConsoleError);
        // The console line stays as it is; the reason goes to the status bar.
        statusBar()->showMessage(QString::fromStdString(m_serial.LastOpenError()));
        return;
    }
    statusBar()->clearMessage();
    Report(Console(), name + " opened successfully \n", kConsoleNotice);
    m_wndCommandBar->m_cbPort->setEnabled(false);
    m_openPort = n;
    m_serial.ReadState();
    ShowSettingsOutcome(m_prompt, statusBar(), m_serial.ApplySettings(m_serial.Dcb()));
    PortSettings().m_dcb = m_serial.Dcb();
    PortSettings().m_port = m_openPort;
    m_serial.StartThreads();
}

void CMainFrame::OnDisconnect()
{
    if (m_openPort == 0) {
        Report(Console(), "No opened port to disconnect  \n", kConsoleError);
        return;
    }
    m_serial.Close();
    Report(Console(), "COM" + std::to_string(m_openPort.load()) + " Closed \n", kConsoleNotice);
    m_openPort = 0;
    m_wndCommandBar->m_cbPort->setEnabled(true);
}

void CMainFrame::LineLost()
{
    // The device went away: the engine has said so once; close as DisConnect
    // does. While a message box of the engine's threads is still open, wait:
    // closing joins those threads, and they wait for their box.
    if (QApplication::activeModalWidget()) {
        QTimer::singleShot(100, this, [this] { LineLost(); });
        return;
    }
    if (m_openPort != 0)
        OnDisconnect();
}

void CMainFrame::OnSettings()
{
    if (m_openPort == 0) {
        Report(Console(), "No port open \n", kConsoleError);
        return;
    }
    CPortSettings& record = PortSettings();
    m_serial.ReadState();
    record.m_dcb = m_serial.Dcb();
    const int result = m_runSettingsDialog ? m_runSettingsDialog(*m_dlgPortSettings) : m_dlgPortSettings->exec();
    if (result == QDialog::Accepted) {
        // The record with its flow-control preset laid over it; the reader
        // and the senders keep running while the engine applies it.
        DCB block = m_serial.Dcb();
        ApplyFlowControlPreset(record.m_dcb, record.m_flowControl, block);
        ShowSettingsOutcome(m_prompt, statusBar(), m_serial.ApplySettings(block));
    } else {
        record.m_dcb = m_serial.Dcb(); // edits of the control block are dropped
    }
}
