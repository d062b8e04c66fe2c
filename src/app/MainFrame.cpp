#include "app/MainFrame.h"

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QFileDialog>
#include <QFontDatabase>
#include <QFontDialog>
#include <QGroupBox>
#include <QLabel>
#include <QMenuBar>
#include <QProgressBar>
#include <QScreen>
#include <QSocketNotifier>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>
#include <QDragEnterEvent>
#include <QMimeData>
#include <QPageSetupDialog>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QAbstractTextDocumentLayout>
#include <QPainter>
#include <QPrinter>
#include <QStringDecoder>
#include <QTextDocument>
#include <QVBoxLayout>

#include "app/CaptureDialogs.h"
#include "app/CommandBar.h"
#include "app/CommandIds.h"
#include "app/FindDialog.h"
#include "app/ThinSplitter.h"
#include <QComboBox>
#include "core/Version.h"
#include "serial/PortSettingsDlg.h"
#include "terminal/HexView.h"
#include "text/HexText.h"
#include "widgets/AboutBox.h"
#include "widgets/Icons.h"

namespace {

struct MenuItem {
    const char* text; // nullptr: separator
    int id;
    const char* prompt;
};

} // namespace

CMainFrame::CMainFrame(CPortMap& ports, QWidget* parent)
    : QMainWindow(parent), m_prompt(m_bridge, [this] { return static_cast<QWidget*>(this); }), m_settings(m_prompt),
      m_ports(ports), m_serial(m_prompt, ports), m_reconnect(m_serial, ports), m_session(m_serial, m_reconnect)
{
    setWindowTitle(kAppName);
    setWindowIcon(MakeIcon(VorlaIcon::App, 32));
    m_tclHost.SetMainWindow(this);

    // Client area: the splitter with the terminal pane above the console pane.
    auto* central = new QWidget(this);
    auto* column = new QVBoxLayout(central);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    m_wndCommandBar = new CCommandBar(central);
    m_wndSplitter = new CThinSplitterWnd(central);
    m_wndSplitter->setObjectName("splitter");
    column->addWidget(m_wndCommandBar);
    column->addWidget(m_wndSplitter, 1);
    setCentralWidget(central);

    auto* terminal = new CVORLAView(m_prompt, *this, m_received);
    auto* console = new CConsoleView(m_bridge, m_prompt, *this);
    m_wndSplitter->SetPane(0, terminal);
    m_wndSplitter->SetPane(1, console);
    const QSize client = size();
    m_wndSplitter->SetRowInfo(0, (2 * client.height()) / 3, 0);
    m_wndSplitter->SetRowInfo(1, client.height() / 3, 0);
    console->PrintToConsole(kConsolePrompt, kConsoleNotice);
    m_bPanesCreated = 1;

    m_serial.AttachTerminal(&m_received);
    m_serial.AddByteObserver(&m_log);
    m_serial.AddByteObserver(&m_receivedBytes);
    auto* hex = new CHexView(m_receivedBytes, terminal);
    terminal->SetHexView(hex);
    m_receivedBytes.SetArrivedHandler(
        [hex] { QMetaObject::invokeMethod(hex, &CHexView::Refresh, Qt::QueuedConnection); });
    m_log.SetStoppedHandler([this](const std::string& reason) {
        QMetaObject::invokeMethod(this, [this, text = QString::fromStdString(reason)] { LogEnded(text); },
                                  Qt::QueuedConnection);
    });
    connect(terminal, &CVORLAView::pasteStarting, this, &CMainFrame::CreateStatusControls);
    connect(terminal, &CVORLAView::pasteProgress, this, [this](int pos, const QString& label) {
        if (m_wndProgress)
            m_wndProgress->setValue(pos);
        if (m_wndPercent)
            m_wndPercent->setText(label);
    });
    connect(terminal, &CVORLAView::statusMessage, this,
            [this](const QString& text, int ms) { statusBar()->showMessage(text, ms); });
    connect(terminal, &CVORLAView::focusGained, this, [this] { m_bConsoleFocus = false; });
    connect(console, &CConsoleView::focusGained, this, [this] { m_bConsoleFocus = true; });
    connect(m_wndCommandBar, &CCommandBar::wrapChanged, terminal, &CVORLAView::SetWrap);
    connect(m_wndCommandBar, &CCommandBar::localEchoChanged, terminal, &CVORLAView::SetLocalEcho);
    connect(m_wndCommandBar, &CCommandBar::sendCrLfChanged, terminal, &CVORLAView::SetSendCrLf);
    connect(m_wndCommandBar, &CCommandBar::messageForUser, this,
            [this](const std::string& text) { m_prompt.ShowMessage(text); });
    connect(m_wndCommandBar, &CCommandBar::commandIssued, this, &CMainFrame::OnCommand);
    m_serial.SetLineLostHandler([this] { QMetaObject::invokeMethod(this, [this] { LineLost(); }, Qt::QueuedConnection); });

    // The command bar reads the settings file at the end of its set-up.
    m_settings.CaptureDirectory();
    m_settings.ReadSettingsFile();

    CreateMenus();
    CreateStatusBar();
    m_lfConsole = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    m_lfTerminal = m_lfConsole;

    m_dlgPortSettings = std::make_unique<CPortSettingsDlg>(
        [this](int charDelay, int lineDelay) { m_serial.SetTransmitDelays(charDelay, lineDelay); }, this);
    RefreshPortList();
    m_reconnectRecheck = new QTimer(this);
    m_reconnectRecheck->setSingleShot(true);
    connect(m_reconnectRecheck, &QTimer::timeout, this, &CMainFrame::TryReconnect);

    // A file dropped anywhere on the window opens as the document: the panes
    // take no drops of their own (they would insert the file's name as text).
    setAcceptDrops(true);
    terminal->setAcceptDrops(false);
    console->setAcceptDrops(false);
    qApp->installEventFilter(this);
    PlaceNormalGeometry();
}

void CMainFrame::PlaceNormalGeometry()
{
    // The window starts maximised; this is what restoring it shows (and what
    // a display without a maximising window manager shows): two thirds of
    // the screen's free area, centred, so both panes have room.
    const QRect available = screen()->availableGeometry();
    const QSize normal(available.width() * 2 / 3, available.height() * 2 / 3);
    setGeometry(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, normal.expandedTo(minimumSizeHint()), available));
}

CMainFrame::~CMainFrame()
{
    qApp->removeEventFilter(this);
    StopWorkers();
    // The panes outlive this object's members (Qt deletes children later):
    // what they tell from now on reaches nobody.
    disconnect(Terminal(), nullptr, this, nullptr);
    disconnect(Console(), nullptr, this, nullptr);
}

void CMainFrame::StopWorkers()
{
    if (m_workersStopped)
        return;
    m_workersStopped = true;
    // Workers first give up their requests of the UI thread, then are joined.
    m_bridge.Shutdown();
    m_reconnect.Shutdown();
    // Nothing may watch the device watcher's descriptor once the watcher
    // (a member) closes it.
    delete m_deviceNotifier;
    m_deviceNotifier = nullptr;
    delete m_deviceRescan;
    m_deviceRescan = nullptr;
    m_reconnectRecheck->stop();
    m_received.AbortDelivery();
    Terminal()->StopPaste();
    Console()->StopPaste();
    m_tclHost.DeleteInterpreter();
    m_serial.Close();
    m_log.Stop();
    m_serial.RemoveByteObserver(&m_log);
    m_serial.RemoveByteObserver(&m_receivedBytes);
    m_receivedBytes.SetArrivedHandler(nullptr);
}

IConsole* CMainFrame::ConsolePane() { return Console(); }

CConsoleView* CMainFrame::Console() const { return static_cast<CConsoleView*>(m_wndSplitter->GetPane(1, 0)); }

CVORLAView* CMainFrame::Terminal() const { return static_cast<CVORLAView*>(m_wndSplitter->GetPane(0, 0)); }

QMenu* CMainFrame::MenuAt(int index) const
{
    const auto actions = menuBar()->actions();
    return index < actions.size() ? actions[index]->menu() : nullptr;
}

void CMainFrame::CreateMenus()
{
    struct Menu {
        const char* title;
        std::vector<MenuItem> items;
    };
    const Menu menus[] = {
        {"&File",
         {{"&Clear Screen\tCtrl+K", ID_FILE_NEW, "Clear Terminal Screen"},
          {"Save", ID_FILE_SAVE_AS, "Save the active document with a new name"},
          {"&Log to File...", ID_FILE_LOG, "Log what the port receives to a file; checked while logging"},
          {nullptr, 0, nullptr},
          {"&Print...\tCtrl+P", ID_FILE_PRINT, "Print the active document"},
          {"Print Pre&view", ID_FILE_PRINT_PREVIEW, "Display full pages"},
          {"P&rint Setup...", ID_FILE_PRINT_SETUP, "Change the printer and printing options"},
          {nullptr, 0, nullptr},
          {"E&xit", ID_APP_EXIT, "Quit the application; prompts to save documents"}}},
        {"&Edit",
         {{"&Copy\tCtrl+C", ID_EDIT_COPY, "Copy the selection and put it on the Clipboard"},
          {"&Paste\tCtrl+V", ID_EDIT_PASTE, "Insert Clipboard contents"},
          {"Select A&ll\tCtrl+A", ID_EDIT_SELECT_ALL, "Select the entire document"},
          {nullptr, 0, nullptr},
          {"&Find...\tCtrl+F", ID_EDIT_FIND, "Find the specified text"},
          {"F&ind Next\tF3", ID_EDIT_REPEAT, "Repeat the last action"},
          {nullptr, 0, nullptr},
          {"Send &Hex...", ID_SEND_HEX, "Send bytes typed as hex"},
          {nullptr, 0, nullptr},
          {"&Stop Script\tCtrl+Break", ID_STOP_SCRIPT, "Stop the running Tcl command or script"}}},
        {"&View",
         {{"&Status Bar", ID_VIEW_STATUS_BAR, "Show or hide the status bar"},
          {"&Timestamps", ID_VIEW_TIMESTAMPS, "Show each received line's arrival time"},
          {"He&x", ID_VIEW_HEX, "Show the received bytes as a hex dump"},
          {"&ANSI Colours", ID_VIEW_ANSI, "Show received ANSI colours and take escape sequences out of the text"},
          {"&UTF-8", ID_VIEW_UTF8, "Show received UTF-8 as the characters it encodes (off: one character per byte)"}}},
        {"Config",
         {{"Set Vorla Font", ID_SET_VORLA_FONT, ""},
          {"Reconnect Automatically", ID_RECONNECT_AUTO,
           "Reopen the port with its settings when its device comes back after an unplug"},
          {nullptr, 0, nullptr},
          {"Enter Sends LF", ID_ENTER_LF, "The Enter key sends a line feed"},
          {"Enter Sends CR", ID_ENTER_CR, "The Enter key sends a carriage return"},
          {"Enter Sends CR LF", ID_ENTER_CRLF, "The Enter key sends a carriage return and a line feed"},
          {nullptr, 0, nullptr},
          {"&Keys to Device", ID_KEYS_TO_DEVICE,
           "Send every typed key to the device (Ctrl+C, arrows, F1-F12); copy and paste move to Ctrl+Shift+C/V"}}},
        {"&Help", {{"&About VORLA...", ID_APP_ABOUT, "Display program information, version number and copyright"}}},
    };
    for (const Menu& spec : menus) {
        QMenu* menu = menuBar()->addMenu(spec.title);
        for (const MenuItem& item : spec.items) {
            if (!item.text) {
                menu->addSeparator();
                continue;
            }
            // The text after the tab shows the key; the keys themselves are
            // the accelerator table's, applied after each pane's key rules.
            QAction* action = menu->addAction(item.text);
            action->setData(item.id);
            action->setStatusTip(item.prompt);
            if (item.id == ID_VIEW_STATUS_BAR) {
                action->setCheckable(true);
                action->setChecked(true);
            }
            if (item.id == ID_FILE_LOG || item.id == ID_VIEW_TIMESTAMPS || item.id == ID_VIEW_HEX ||
                item.id == ID_KEYS_TO_DEVICE || item.id == ID_ENTER_LF || item.id == ID_ENTER_CR ||
                item.id == ID_ENTER_CRLF || item.id == ID_VIEW_UTF8 ||
                item.id == ID_VIEW_ANSI)
                action->setCheckable(true);
            if (item.id == ID_RECONNECT_AUTO) {
                // Off at start; the option follows the check mark however it changes.
                action->setCheckable(true);
                m_reconnectAction = action;
                connect(action, &QAction::toggled, this, &CMainFrame::OnReconnectOption);
                continue;
            }
            connect(action, &QAction::triggered, this, [this, id = item.id] { OnCommand(id); });
        }
        connect(menu, &QMenu::aboutToShow, this, [this, menu] {
            for (QAction* action : menu->actions()) {
                if (action->isSeparator())
                    continue;
                const int id = action->data().toInt();
                action->setEnabled(IsCommandEnabled(id));
                if (id == ID_FILE_LOG)
                    action->setChecked(m_log.IsRunning());
                if (id == ID_VIEW_TIMESTAMPS)
                    action->setChecked(Terminal()->IsShowingTimestamps());
                if (id == ID_VIEW_HEX)
                    action->setChecked(Terminal()->IsHexShown());
                if (id == ID_VIEW_ANSI)
                    action->setChecked(m_received.ShowsAnsi());
                if (id == ID_VIEW_UTF8)
                    action->setChecked(m_received.ShowsUtf8());
                if (id == ID_KEYS_TO_DEVICE)
                    action->setChecked(Terminal()->Options().keysToDevice);
                const EEnterSends enter = Terminal()->Options().enter;
                if (id == ID_ENTER_LF || id == ID_ENTER_CR || id == ID_ENTER_CRLF)
                    action->setChecked((id == ID_ENTER_LF && enter == EEnterSends::Lf) ||
                                       (id == ID_ENTER_CR && enter == EEnterSends::Cr) ||
                                       (id == ID_ENTER_CRLF && enter == EEnterSends::CrLf));
            }
        });
    }
}

void CMainFrame::CreateStatusBar()
{
    m_wndStatusBar = statusBar();
    m_wndStatusBar->setObjectName("statusBar");
    m_wndReady = new QLabel("Ready");
    m_wndReady->setObjectName("statusReady");
    m_wndStatusBar->addWidget(m_wndReady, 1);
    m_wndPortState = new QLabel("Not connected");
    m_wndPortState->setObjectName("statusPort");
    m_wndPortState->setAccessibleName("Port");
    m_wndPortState->setFrameShape(QFrame::Panel);
    m_wndPortState->setFrameShadow(QFrame::Sunken);
    m_wndStatusBar->addPermanentWidget(m_wndPortState);
    m_wndLog = new QLabel;
    m_wndLog->setObjectName("statusLog");
    m_wndLog->setAccessibleName("Log");
    m_wndLog->setFrameShape(QFrame::Panel);
    m_wndLog->setFrameShadow(QFrame::Sunken);
    m_wndLog->hide();
    m_wndStatusBar->addPermanentWidget(m_wndLog);
    m_logTimer = new QTimer(this);
    m_logTimer->setInterval(1000);
    connect(m_logTimer, &QTimer::timeout, this, &CMainFrame::UpdateLogState);
    m_logTimer->start(); // a script may start or stop a log at any time
    const char* names[] = {"CAP", "NUM", "SCRL"};
    for (int i = 0; i < 3; ++i) {
        m_indicators[i] = new QLabel(names[i]);
        m_indicators[i]->setObjectName(QStringLiteral("indicator%1").arg(names[i]));
        m_indicators[i]->setFrameShape(QFrame::Panel);
        m_indicators[i]->setFrameShadow(QFrame::Sunken);
        m_indicators[i]->setEnabled(false); // lit while the lock is on, where the platform tells
        m_wndStatusBar->addPermanentWidget(m_indicators[i]);
    }
}

void CMainFrame::CreateStatusControls()
{
    if (!m_bStatusCtrlsPending && m_wndProgress)
        return;
    m_wndProgress = new QProgressBar;
    m_wndProgress->setObjectName("pasteProgress");
    m_wndProgress->setAccessibleName("Paste progress");
    m_wndProgress->setRange(0, 1000);
    m_wndProgress->setValue(0);
    m_wndProgress->setTextVisible(false);
    m_wndProgress->setFixedWidth(300);
    m_wndPercent = new QLabel(" ");
    m_wndPercent->setObjectName("pastePercent");
    m_wndPercent->setFixedWidth(50);
    m_wndStatusBar->insertWidget(1, m_wndProgress);
    m_wndStatusBar->insertWidget(2, m_wndPercent);
    m_bStatusCtrlsPending = false;
}

void CMainFrame::resizeEvent(QResizeEvent* event)
{
    QMainWindow::resizeEvent(event);
    if (!m_bPanesCreated)
        return;
    CreateStatusControls();
    // Every size change restores the 5/7 split of the window's outer height.
    m_wndSplitter->SetRowInfo(0, FiveSevenths(frameGeometry().height()), 10);
    m_wndSplitter->RecalcLayout();
}

void CMainFrame::OnPrompt()
{
    const int outer = frameGeometry().height();
    if (m_bConsoleHidden == 0) {
        m_wndSplitter->SetRowInfo(0, outer, 0);
        m_wndCommandBar->SetConsoleHiddenIcon(true);
    } else {
        m_wndSplitter->SetRowInfo(0, FiveSevenths(outer), 0);
        m_wndCommandBar->SetConsoleHiddenIcon(false);
        Console()->setFocus();
    }
    m_wndSplitter->RecalcLayout();
    m_bConsoleHidden = !m_bConsoleHidden;
}

bool CMainFrame::ChooseFont(QFont& font, const QString& title)
{
    if (m_chooseFont)
        return m_chooseFont(font, title);
    QFontDialog dialog(font, this);
    dialog.setWindowTitle(title);
    dialog.setOption(QFontDialog::DontUseNativeDialog);
    // No effects section: the panes take the face, style and size only.
    for (QGroupBox* box : dialog.findChildren<QGroupBox*>())
        box->hide();
    if (dialog.exec() != QDialog::Accepted)
        return false;
    font = dialog.selectedFont();
    return true;
}

void CMainFrame::OnFonts()
{
    QFont font = m_lfTerminal;
    if (!ChooseFont(font, "Terminal Font"))
        return;
    m_lfTerminal = font;
    Terminal()->setFont(font);
}

void CMainFrame::OnSetVorlaFont()
{
    QFont font = m_lfConsole;
    if (!ChooseFont(font, "Console Font"))
        return;
    m_lfConsole = font;
    Console()->setFont(font);
}

CTextView* CMainFrame::ActivePane() const
{
    // Commands act on the pane that has, or last had, the keyboard focus.
    return m_bConsoleFocus ? static_cast<CTextView*>(Console()) : static_cast<CTextView*>(Terminal());
}

bool CMainFrame::IsCommandEnabled(int id) const
{
    CTextView* pane = ActivePane();
    const bool terminalActive = pane == Terminal();
    const bool hasText = !pane->IsEmpty();
    switch (id) {
    case ID_FILE_OPEN:
    case ID_FILE_SAVE:
        return false;
    case ID_FILE_PRINT:
    case ID_FILE_PRINT_PREVIEW:
        return terminalActive;
    case ID_EDIT_SELECT_ALL:
        return hasText || (terminalActive && Terminal()->IsHexShown());
    case ID_EDIT_FIND:
        return hasText && !(terminalActive && Terminal()->IsHexShown()); // finds text, not bytes
    case ID_EDIT_REPEAT:
        return hasText && m_findDlg && !m_findDlg->FindWhat().isEmpty() && !(terminalActive && Terminal()->IsHexShown());
    case ID_SEND_HEX:
        return OpenPort() != 0;
    case ID_FILE_LOG:
        return OpenPort() != 0 || m_log.IsRunning();
    case ID_EDIT_PASTE:
        return !terminalActive || !QApplication::clipboard()->text().isEmpty();
    case ID_NOTHING:
        return false;
    case ID_STOP_SCRIPT:
        return m_tclHost.IsEvaluating();
    default:
        return true;
    }
}

bool CMainFrame::IsBreakKey(const QKeyEvent* event)
{
    // Under X11 the PC keymap turns Ctrl+Pause into the keysym Break, for
    // which Qt has no key code: only the native keysym tells it apart.
    constexpr quint32 kXKeysymBreak = 0xff6b;
    const int key = event->key();
    if ((key == 0 || key == Qt::Key_unknown) && event->nativeVirtualKey() == kXKeysymBreak)
        return true;
    return (event->modifiers() & Qt::ControlModifier) && (key == Qt::Key_Pause || key == Qt::Key_Cancel);
}

int CMainFrame::AcceleratorFor(const QKeyEvent* event)
{
    const Qt::KeyboardModifiers mods =
        event->modifiers() & (Qt::ControlModifier | Qt::ShiftModifier | Qt::AltModifier | Qt::MetaModifier);
    const int key = event->key();
    if (mods == Qt::ControlModifier) {
        switch (key) {
        case Qt::Key_A: return ID_EDIT_SELECT_ALL;
        case Qt::Key_C: return ID_EDIT_COPY;
        case Qt::Key_F: return ID_EDIT_FIND;
        case Qt::Key_K: return ID_FILE_NEW;
        case Qt::Key_O: return ID_FILE_OPEN;
        case Qt::Key_P: return ID_FILE_PRINT;
        case Qt::Key_S: return ID_FILE_SAVE;
        case Qt::Key_V: return ID_EDIT_PASTE;
        case Qt::Key_Insert: return ID_EDIT_COPY;
        default: return 0;
        }
    }
    if (mods == Qt::ShiftModifier) {
        if (key == Qt::Key_F6)
            return ID_PREV_PANE;
        if (key == Qt::Key_Insert)
            return ID_EDIT_PASTE;
        return 0;
    }
    if (mods == Qt::NoModifier) {
        switch (key) {
        case Qt::Key_Escape: return ID_NOTHING;
        case Qt::Key_F3: return ID_EDIT_REPEAT;
        case Qt::Key_F6: return ID_NEXT_PANE;
        default: return 0;
        }
    }
    return 0;
}

bool CMainFrame::eventFilter(QObject* watched, QEvent* event)
{
    // Keys of the other controls of the window (the command bar) meet the
    // accelerators here; the panes run their own key rules first and then
    // call TranslateKey themselves.
    if (event->type() != QEvent::KeyPress || !watched->isWidgetType())
        return false;
    auto* widget = static_cast<QWidget*>(watched);
    if (widget->window() != this || widget == Terminal() || widget == Console())
        return false;
    // A key that a child ignored travels on to its parents: handle it once.
    if (widget != QApplication::focusWidget())
        return false;
    auto* key = static_cast<QKeyEvent*>(event);
    // The hex view stands in for the terminal pane: with Keys to Device its keys go to the device.
    if (widget == Terminal()->HexView() && Terminal()->Options().keysToDevice && Terminal()->SendKeyToDevice(key))
        return true;
    // Ctrl+Tab and Ctrl+Break work from everywhere. Other keys that the
    // control takes for itself (the converter field's Ctrl+V, Ctrl+C,
    // Ctrl+A, Shift+Insert, ...) stay with it: the control says so when
    // asked, as Qt asks before applying a shortcut.
    const bool ctrlTab = (key->modifiers() & Qt::ControlModifier) &&
                         (key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab);
    if (!ctrlTab && !IsBreakKey(key)) {
        QKeyEvent query(QEvent::ShortcutOverride, key->key(), key->modifiers(), key->nativeScanCode(),
                        key->nativeVirtualKey(), key->nativeModifiers(), key->text(), key->isAutoRepeat(),
                        key->count());
        query.ignore();
        QCoreApplication::sendEvent(widget, &query);
        if (query.isAccepted())
            return false;
    }
    return TranslateKey(key);
}

bool CMainFrame::TranslateKey(QKeyEvent* key)
{
    const bool ctrl = key->modifiers() & Qt::ControlModifier;
    // Ctrl+Tab (with or without Shift) moves the focus between the panes.
    if (ctrl && (key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab)) {
        if (!m_bConsoleFocus) {
            Console()->setFocus(Qt::OtherFocusReason);
            m_bConsoleFocus = true;
        } else {
            Terminal()->setFocus(Qt::OtherFocusReason);
            m_bConsoleFocus = false;
        }
        return true;
    }
    // Ctrl+Break stops the running evaluation, whichever pane has the focus.
    if (IsBreakKey(key)) {
        m_tclHost.CancelEvaluation();
        return true;
    }
    // The accelerator table: a bound key is a command, never a character,
    // also while its command is disabled.
    if (const int id = AcceleratorFor(key)) {
        if (IsCommandEnabled(id))
            OnCommand(id);
        return true;
    }
    // The lock indicators follow the lock keys as they are pressed.
    const int locks[] = {Qt::Key_CapsLock, Qt::Key_NumLock, Qt::Key_ScrollLock};
    for (int i = 0; i < 3; ++i)
        if (key->key() == locks[i])
            m_indicators[i]->setEnabled(!m_indicators[i]->isEnabled());
    return false;
}

void CMainFrame::OnCommand(int id)
{
    CTextView* pane = ActivePane();
    switch (id) {
    case ID_CONNECT: OnConnect(); break;
    case ID_DISCONNECT: OnDisconnect(); break;
    case ID_SETTINGS: OnSettings(); break;
    case ID_RUN_SCRIPT: OnRunScript(); break;
    case ID_PROMPT: OnPrompt(); break;
    case ID_FONTS: OnFonts(); break;
    case ID_SET_VORLA_FONT: OnSetVorlaFont(); break;
    case ID_STOP_SCRIPT: m_tclHost.CancelEvaluation(); break;
    case ID_RECONNECT_AUTO: m_reconnectAction->toggle(); break;
    case ID_APP_ABOUT:
    case ID_ABOUT_BUTTON: {
        CAboutBox about(this);
        about.exec();
        break;
    }
    case ID_APP_EXIT: close(); break;
    case ID_FILE_NEW: OnClearScreen(); break;
    case ID_FILE_SAVE_AS: OnSaveAs(); break;
    case ID_FILE_PRINT: OnPrint(); break;
    case ID_FILE_PRINT_PREVIEW: OnPrintPreview(); break;
    case ID_FILE_PRINT_SETUP: OnPrintSetup(); break;
    case ID_EDIT_FIND: OnFind(); break;
    case ID_EDIT_REPEAT: OnFindNext(); break;
    case ID_EDIT_COPY:
        if (pane == Terminal() && Terminal()->IsHexShown())
            Terminal()->HexView()->Copy();
        else
            pane->Copy();
        break;
    case ID_EDIT_SELECT_ALL:
        if (pane == Terminal() && Terminal()->IsHexShown())
            Terminal()->HexView()->SelectAll();
        else
            pane->SelectAll();
        break;
    case ID_FILE_LOG: OnLogToFile(); break;
    case ID_SEND_HEX: OnSendHex(); break;
    case ID_VIEW_TIMESTAMPS: OnViewTimestamps(); break;
    case ID_VIEW_HEX: OnViewHex(); break;
    case ID_VIEW_ANSI: m_received.SetShowAnsi(!m_received.ShowsAnsi()); break;
    case ID_VIEW_UTF8: m_received.SetShowUtf8(!m_received.ShowsUtf8()); break;
    case ID_KEYS_TO_DEVICE: Terminal()->SetKeysToDevice(!Terminal()->Options().keysToDevice); break;
    case ID_ENTER_LF: SetEnterSends(EEnterSends::Lf); break;
    case ID_ENTER_CR: SetEnterSends(EEnterSends::Cr); break;
    case ID_ENTER_CRLF: SetEnterSends(EEnterSends::CrLf); break;
    case ID_EDIT_PASTE:
        if (pane == Terminal())
            Terminal()->OnEditPaste();
        else
            Console()->OnEditPaste();
        break;
    case ID_NEXT_PANE:
    case ID_PREV_PANE:
        if (pane == Terminal())
            Console()->setFocus(Qt::OtherFocusReason);
        else
            Terminal()->setFocus(Qt::OtherFocusReason);
        break;
    case ID_VIEW_STATUS_BAR: m_wndStatusBar->setVisible(!m_wndStatusBar->isVisible()); break;
    default: break;
    }
}

void CMainFrame::OnRunScript()
{
    QString path;
    if (m_chooseScript)
        path = m_chooseScript();
    else
        path = QFileDialog::getOpenFileName(this, "Open", QString(), "TCL Script (*.tcl)");
    if (!path.isEmpty())
        m_tclHost.RunScriptFile(path.toUtf8().toStdString());
}

void CMainFrame::closeEvent(QCloseEvent* event)
{
    // The workers and the interpreter go first (any running script is
    // stopped), then the settings file is written; the terminal text is never
    // offered for saving.
    StopWorkers();
    m_settings.WriteSettingsFile();
    event->accept();
    QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
}

CPortSettings& CMainFrame::PortSettings() { return m_dlgPortSettings->Settings(); }

void CMainFrame::OnClearScreen()
{
    // Both views of the received data go; a running log keeps everything.
    Terminal()->ClearText();
    m_receivedBytes.Clear();
    Terminal()->HexView()->Refresh();
    m_doc.OnNewDocument();
}

void CMainFrame::OnSaveAs()
{
    const QString proposed = QString::fromStdString(m_doc.ProposedSaveName());
    QString path;
    if (m_chooseSaveFile) {
        path = m_chooseSaveFile(proposed);
    } else {
        QFileDialog dialog(this, "Save As", proposed, "VORLA Files (*.txt);;All Files (*.*)");
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setDefaultSuffix("txt");
        dialog.selectFile(proposed);
        if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
            path = dialog.selectedFiles().first();
    }
    if (path.isEmpty())
        return;
    std::string error;
    if (!m_doc.Save(path.toLocal8Bit().toStdString(), Terminal()->Store().Text(), error))
        m_prompt.ShowMessage(error);
}

bool CMainFrame::OpenDocument(const QString& path)
{
    std::string text;
    std::string error;
    if (!m_doc.Load(path.toLocal8Bit().toStdString(), text, error)) {
        m_prompt.ShowMessage(error);
        return false;
    }
    // Saved text is UTF-8; a file that is not (a log written byte for byte
    // by another program) shows each byte as one character, as received
    // bytes are shown.
    QStringDecoder utf8(QStringConverter::Utf8);
    const QString decoded = utf8.decode(QByteArrayView(text.data(), static_cast<qsizetype>(text.size())));
    if (utf8.hasError())
        text = QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size())).toUtf8().toStdString();
    Terminal()->ClearText();
    Terminal()->LoadText(text);
    return true;
}

namespace {

const QMarginsF kPrintMargins(0.5, 0.5, 0.5, 0.5); // inches, on every side

// Prints the text in the font on the printer's pages, filling each page up
// to its margins. Long lines wrap at the right margin whatever the pane's
// Wrap setting, so nothing is cut off. Returns false when the printer cannot
// start.
bool PrintText(const QString& text, const QFont& font, QPrinter& printer)
{
    QPainter painter;
    if (!painter.begin(&printer))
        return false;
    auto doc = std::make_unique<QTextDocument>();
    doc->setDefaultFont(font);
    doc->setPlainText(text);
    doc->documentLayout()->setPaintDevice(&printer);
    doc->setDocumentMargin(0);
    QTextOption option = doc->defaultTextOption();
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    doc->setDefaultTextOption(option);
    // The painter's origin is the top-left corner inside the margins.
    const QRectF body(QPointF(0, 0), printer.pageLayout().paintRectPixels(printer.resolution()).size());
    doc->setPageSize(body.size());
    const int pages = doc->pageCount();
    const int first = printer.fromPage() > 0 ? printer.fromPage() : 1;
    const int last = printer.toPage() > 0 ? std::min(printer.toPage(), pages) : pages;
    for (int page = first; page <= last; ++page) {
        if (page > first)
            printer.newPage();
        const QRectF view = body.translated(0, (page - 1) * body.height());
        painter.save();
        painter.translate(0, -view.top());
        painter.setClipRect(view);
        QAbstractTextDocumentLayout::PaintContext context;
        context.clip = view;
        context.palette.setColor(QPalette::Text, Qt::black);
        doc->documentLayout()->draw(&painter, context);
        painter.restore();
    }
    return true;
}

} // namespace

QPrinter& CMainFrame::Printer()
{
    if (!m_printer) {
        m_printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
        m_printer->setPageMargins(kPrintMargins, QPageLayout::Inch);
    }
    return *m_printer;
}

void CMainFrame::OnPrint()
{
    QPrinter& printer = Printer();
    bool go;
    if (m_printDialog) {
        go = m_printDialog(printer);
    } else {
        QPrintDialog dialog(&printer, this);
        go = dialog.exec() == QDialog::Accepted;
    }
    if (!go)
        return;
    printer.setPageMargins(kPrintMargins, QPageLayout::Inch);
    if (!PrintText(Terminal()->toPlainText(), Terminal()->font(), printer))
        m_prompt.ShowMessage("Failed to start print job.");
}

void CMainFrame::OnPrintPreview()
{
    QPrinter& printer = Printer();
    QPrintPreviewDialog preview(&printer, this);
    connect(&preview, &QPrintPreviewDialog::paintRequested, this, [this](QPrinter* target) {
        target->setPageMargins(kPrintMargins, QPageLayout::Inch);
        PrintText(Terminal()->toPlainText(), Terminal()->font(), *target);
    });
    preview.exec();
}

void CMainFrame::OnPrintSetup()
{
    QPageSetupDialog dialog(&Printer(), this);
    dialog.exec();
}

void CMainFrame::OnFind()
{
    if (!m_findDlg) {
        m_findDlg = new CFindDialog(this);
        connect(m_findDlg, &CFindDialog::findNext, this, [this] { OnFindNext(); });
    }
    m_findDlg->show();
    m_findDlg->raise();
    m_findDlg->activateWindow();
}

bool CMainFrame::OnFindNext()
{
    if (!m_findDlg || m_findDlg->FindWhat().isEmpty())
        return false;
    // The pane goes on from the selection, else from its last match (the
    // terminal's key rule has cleared the selection before Ctrl+F or F3
    // run), else from the caret, and wraps around.
    SFindOptions options;
    options.matchCase = m_findDlg->MatchCase();
    options.wholeWord = m_findDlg->WholeWord();
    options.forward = m_findDlg->Down();
    if (ActivePane()->Find(m_findDlg->FindWhat(), options))
        return true;
    QApplication::beep();
    return false;
}

void CMainFrame::dragEnterEvent(QDragEnterEvent* event)
{
    if (event->mimeData()->hasUrls())
        event->acceptProposedAction();
}

void CMainFrame::dropEvent(QDropEvent* event)
{
    const QList<QUrl> urls = event->mimeData()->urls();
    if (!urls.isEmpty() && urls.first().isLocalFile())
        OpenDocument(urls.first().toLocalFile());
}

namespace {

QString SizeText(uint64_t bytes)
{
    if (bytes < 10240)
        return QStringLiteral("%1 bytes").arg(bytes);
    if (bytes < 10u << 20)
        return QStringLiteral("%1 KB").arg(bytes / 1024);
    return QStringLiteral("%1 MB").arg(static_cast<double>(bytes) / 1048576.0, 0, 'f', 1);
}

} // namespace

void CMainFrame::OnLogToFile()
{
    if (m_log.IsRunning()) {
        const SResult stopped = m_log.Stop();
        if (!stopped.ok)
            m_prompt.ShowMessage(stopped.message + ": " + stopped.reason);
        UpdateLogState();
        return;
    }
    if (OpenPort() == 0) {
        m_prompt.ShowMessage("No port is open to log");
        return;
    }
    QString path = m_logPath.isEmpty() ? CLogDialog::SuggestedName() : m_logPath;
    SLogOptions options = m_logOptions;
    if (m_chooseLog) {
        if (!m_chooseLog(path, options))
            return;
    } else {
        CLogDialog dialog(path, options, this);
        if (dialog.exec() != QDialog::Accepted)
            return;
        path = dialog.Path();
        options = dialog.Options();
    }
    m_logPath = path;
    m_logOptions = options;
    const SResult started = m_log.Start(path.toLocal8Bit().toStdString(), options);
    if (!started.ok)
        m_prompt.ShowMessage(started.message + ": " + started.reason);
    UpdateLogState();
}

void CMainFrame::UpdateLogState()
{
    const CSessionLog::SStatus status = m_log.Status();
    m_wndLog->setVisible(status.running);
    if (status.running) {
        m_wndLog->setText("Log: " + SizeText(status.bytesWritten));
        m_wndLog->setToolTip(QString::fromLocal8Bit(status.path.c_str()));
    }
}

void CMainFrame::LogEnded(const QString& reason)
{
    const CSessionLog::SStatus status = m_log.Status();
    Console()->PrintToConsole("Log stopped (" + reason.toStdString() + "): " + status.path + ", " +
                                  std::to_string(status.bytesWritten) + " bytes\n",
                              kConsoleError);
    Console()->PrintToConsole(kConsolePrompt, kConsoleNotice);
    UpdateLogState();
}

void CMainFrame::OnSendHex()
{
    if (OpenPort() == 0)
        return;
    std::string bytes;
    if (m_chooseHex) {
        const QString text = m_chooseHex();
        if (text.isEmpty())
            return;
        const SHexParse parsed = ParseHexBytes(text.toStdString());
        if (!parsed.ok) {
            m_prompt.ShowMessage("Nothing sent: " + parsed.error + " at position " + std::to_string(parsed.position));
            return;
        }
        m_hexText = text;
        bytes = parsed.bytes;
    } else {
        CSendHexDialog dialog(m_hexText, this);
        if (dialog.exec() != QDialog::Accepted)
            return;
        m_hexText = dialog.Text();
        bytes = dialog.Bytes();
    }
    Terminal()->SendBytes(bytes);
}

void CMainFrame::OnViewTimestamps() { Terminal()->ShowTimestamps(!Terminal()->IsShowingTimestamps()); }

void CMainFrame::SetEnterSends(EEnterSends enter)
{
    // The pane first, so that the check box's toggle keeps a CR choice.
    Terminal()->SetEnterSends(enter);
    m_wndCommandBar->m_chkCrLf->setChecked(enter == EEnterSends::CrLf);
}

void CMainFrame::OnViewHex() { Terminal()->ShowHex(!Terminal()->IsHexShown()); }
