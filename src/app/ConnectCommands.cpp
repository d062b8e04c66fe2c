// The main window's Connect, DisConnect and Settings commands, and what
// follows the serial devices: the port list, the loss of the open port's
// device and its reconnect, the port's state in the status bar.

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QSocketNotifier>
#include <QStatusBar>
#include <QTimer>

#include <algorithm>

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

QString PortName(int n) { return QStringLiteral("COM%1").arg(n); }

// With no inotify to be had, the devices are looked at this often.
constexpr int kRescanFallbackMs = 500;
// How long the status bar says that a port came back.
constexpr int kReconnectedMessageMs = 10000;

} // namespace

void CMainFrame::OnConnect()
{
    const int n = m_wndCommandBar->m_cbPort->currentIndex() + 1;
    SResult settings;
    const SResult opened = m_session.Connect(n, settings);
    if (!opened.ok) {
        Report(Console(), opened.message + "\n", kConsoleError);
        // The console line stays as it is; the reason goes to the status bar.
        if (!opened.reason.empty())
            statusBar()->showMessage(QString::fromStdString(opened.reason));
        return;
    }
    statusBar()->clearMessage();
    Report(Console(), CPortSession::OpenedText(n) + "\n", kConsoleNotice);
    m_wndCommandBar->m_cbPort->setEnabled(false);
    ShowSettingsOutcome(m_prompt, statusBar(), settings);
    PortSettings().m_dcb = m_serial.Dcb();
    PortSettings().m_port = n;
    UpdatePortState();
}

void CMainFrame::OnDisconnect()
{
    if (m_session.OpenPort() == 0 && m_reconnect.WaitingPort() != 0) {
        StopWaitingForDevice();
        return;
    }
    int closed = 0;
    const SResult result = m_session.Disconnect(closed);
    if (!result.ok) {
        Report(Console(), result.message + "\n", kConsoleError);
        return;
    }
    Report(Console(), CPortSession::ClosedText(closed) + "\n", kConsoleNotice);
    m_wndCommandBar->m_cbPort->setEnabled(true);
    UpdatePortState();
}

void CMainFrame::ClosePort()
{
    const int n = m_session.Close();
    Report(Console(), CPortSession::ClosedText(n) + "\n", kConsoleNotice);
    m_wndCommandBar->m_cbPort->setEnabled(true);
}

void CMainFrame::StopWaitingForDevice()
{
    const int n = m_reconnect.WaitingPort();
    m_reconnect.Closed();
    m_reconnectRecheck->stop();
    Report(Console(), PortName(n).toStdString() + " no longer waits for its device \n", kConsoleNotice);
    UpdatePortState();
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
    const int n = m_session.OpenPort();
    if (n == 0)
        return;
    ClosePort();
    // Only now, with the lost opening closed, may the device be opened again.
    if (m_reconnect.Lost(n))
        Report(Console(), PortName(n).toStdString() + " waits for its device to come back (DisConnect stops) \n",
               kConsoleNotice);
    UpdatePortState();
    // Look at the devices now: a node can vanish without an event in a
    // watched directory (a pseudo-terminal goes when its last holder closes).
    OnDevicesChanged();
}

void CMainFrame::OnReconnectOption(bool on)
{
    m_reconnect.SetEnabled(on);
    if (!on && m_reconnect.WaitingPort() != 0)
        StopWaitingForDevice();
}

void CMainFrame::WatchDevices(const SDeviceDirs& dirs)
{
    if (m_workersStopped)
        return;
    m_deviceDirs = dirs;
    // The directories of paths given by --port, VORLA_COMn or the demo too:
    // a reconnect hears of their device there.
    std::vector<std::string> watched = {dirs.dev, dirs.byId};
    for (int n = 1; n <= CPortMap::kPortCount; ++n) {
        const CPortMap::SEntry entry = m_ports.Entry(n);
        const auto slash = entry.path.rfind('/');
        if (entry.source == CPortMap::ESource::None || slash == std::string::npos || slash == 0)
            continue;
        const std::string dir = entry.path.substr(0, slash);
        if (std::find(watched.begin(), watched.end(), dir) == watched.end())
            watched.push_back(dir);
    }
    delete m_deviceNotifier;
    m_deviceNotifier = nullptr;
    delete m_deviceRescan;
    m_deviceRescan = nullptr;
    m_deviceWatcher = std::make_unique<CDeviceWatcher>(watched);
    if (m_deviceWatcher->Descriptor() >= 0) {
        m_deviceNotifier = new QSocketNotifier(m_deviceWatcher->Descriptor(), QSocketNotifier::Read, this);
        connect(m_deviceNotifier, &QSocketNotifier::activated, this, &CMainFrame::OnDevicesChanged);
    } else {
        m_deviceRescan = new QTimer(this);
        connect(m_deviceRescan, &QTimer::timeout, this, &CMainFrame::OnDevicesChanged);
        m_deviceRescan->start(kRescanFallbackMs);
    }
    OnDevicesChanged();
}

void CMainFrame::OnDevicesChanged()
{
    if (m_workersStopped)
        return;
    if (m_deviceWatcher) {
        // Events first, then the look: whatever changes after the events
        // were read wakes the descriptor again.
        m_deviceWatcher->TakeEvents();
        const int keep = m_session.OpenPort() != 0 ? m_session.OpenPort() : m_reconnect.WaitingPort();
        if (m_ports.Update(ScanSerialDevices(m_deviceDirs), ResolveDevicePath, keep))
            RefreshPortList();
    }
    TryReconnect();
}

void CMainFrame::RefreshPortList()
{
    for (int n = 1; n <= CPortMap::kPortCount; ++n) {
        const CPortMap::SEntry entry = m_ports.Entry(n);
        m_wndCommandBar->SetPortEntry(n, QString::fromStdString(m_ports.ListText(n)),
                                      QString::fromStdString(m_ports.Description(n)),
                                      entry.path.empty() || entry.present);
    }
}

void CMainFrame::TryReconnect()
{
    if (m_workersStopped || m_reconnect.WaitingPort() == 0)
        return;
    const CPortReconnect::SAttempt attempt = m_reconnect.TryReopen();
    const QString name = PortName(attempt.port);
    switch (attempt.kind) {
    case CPortReconnect::SAttempt::EKind::None:
        if (attempt.recheckMs >= 0)
            m_reconnectRecheck->start(attempt.recheckMs);
        return;
    case CPortReconnect::SAttempt::EKind::Refused:
        // Once per wait; later tries go on quietly.
        Terminal()->ShowNotice(QStringLiteral("--- %1 is back but cannot be opened; still waiting (DisConnect stops) ---")
                                   .arg(name)
                                   .toStdString());
        statusBar()->showMessage(QString::fromStdString(attempt.reason));
        m_reconnectRecheck->start(attempt.recheckMs);
        return;
    case CPortReconnect::SAttempt::EKind::Reopened:
        break;
    }
    m_reconnectRecheck->stop();
    m_session.Reopened(attempt.port);
    m_wndCommandBar->m_cbPort->setEnabled(false);
    PortSettings().m_dcb = m_serial.Dcb();
    PortSettings().m_port = attempt.port;
    const QString settings = QString::fromStdString(DescribeLineSettings(m_serial.Dcb()));
    Report(Console(), name.toStdString() + " reconnected \n", kConsoleNotice);
    Terminal()->ShowNotice(QStringLiteral("--- %1 reconnected: %2 ---").arg(name, settings).toStdString());
    if (attempt.settings.ok)
        statusBar()->showMessage(QStringLiteral("%1 reconnected").arg(name), kReconnectedMessageMs);
    else
        ShowSettingsOutcome(m_prompt, statusBar(), attempt.settings);
    UpdatePortState();
}

void CMainFrame::UpdatePortState()
{
    const int waiting = m_reconnect.WaitingPort();
    QString text = QStringLiteral("Not connected");
    if (m_session.OpenPort() != 0)
        text = PortName(m_session.OpenPort()) + " " + QString::fromStdString(DescribeLineSettings(m_serial.Dcb()));
    else if (waiting != 0)
        text = PortName(waiting) + " waiting for its device";
    m_wndPortState->setText(text);
    // A port waiting for its device keeps its name until DisConnect.
    m_wndCommandBar->m_cbPort->setEnabled(m_session.OpenPort() == 0 && waiting == 0);
}

void CMainFrame::OnSettings()
{
    CPortSettings& record = PortSettings();
    const SResult read = m_session.ReadSettings(record.m_dcb);
    if (!read.ok) {
        Report(Console(), read.message + "\n", kConsoleError);
        return;
    }
    const int result = m_runSettingsDialog ? m_runSettingsDialog(*m_dlgPortSettings) : m_dlgPortSettings->exec();
    if (result == QDialog::Accepted)
        ShowSettingsOutcome(m_prompt, statusBar(), m_session.ApplySettings(record.m_dcb, record.m_flowControl));
    else
        record.m_dcb = m_serial.Dcb(); // edits of the control block are dropped
    UpdatePortState();
}
