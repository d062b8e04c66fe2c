#include <QAccessible>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QStatusBar>
#include <QToolButton>
#include <QtTest>

#include "devsim/DevSim.h"
#include "GuiTestSupport.h"
#include "app/CommandBar.h"
#include "app/FindDialog.h"
#include "app/MainFrame.h"
#include "console/ConsoleView.h"
#include "serial/PortMap.h"
#include "terminal/TerminalView.h"

// The command bar in the main window: start state, keyboard order, the
// converter, the switches, and Connect / DisConnect / Settings on a
// simulated device.
class TestCommandBar : public QObject {
    Q_OBJECT

    CDevSim m_modem;
    CPortMap m_ports;

    std::unique_ptr<CMainFrame> MakeFrame()
    {
        auto frame = std::make_unique<CMainFrame>(m_ports);
        frame->resize(1100, 700);
        frame->show();
        QCoreApplication::processEvents();
        return frame;
    }

    // The console's text after the first prompt.
    static QString ConsoleTail(CMainFrame& frame) { return frame.Console()->toPlainText().mid(8); }

private slots:
    void initTestCase()
    {
        QDir::setCurrent(QDir::tempPath());
        std::string error;
        QVERIFY2(m_modem.Start(CDevSim::SOptions{}, error), error.c_str());
        m_ports.Build({}, [](const char*) { return nullptr; }, {});
        m_ports.Map(2, m_modem.Path());
        m_ports.Map(5, "/dev/vorla-no-such-device");
    }

    void startState()
    {
        auto frame = MakeFrame();
        CCommandBar* bar = frame->m_wndCommandBar;
        QCOMPARE(bar->m_cbPort->count(), 8);
        QCOMPARE(bar->m_cbPort->currentText(), QString("COM1"));
        QCOMPARE(bar->m_cbPort->itemText(7), QString("COM8"));
        QVERIFY(bar->m_rbDec->isChecked());
        QCOMPARE(bar->m_editConverter->text(), QString("0"));
        QVERIFY(bar->m_chkWrap->isChecked());
        QVERIFY(!bar->m_chkLocalEcho->isChecked());
        QVERIFY(!bar->m_chkCrLf->isChecked());
        for (QToolButton* button : {bar->m_btnConnect, bar->m_btnDisconnect, bar->m_btnSettings, bar->m_btnRunScript,
                                    bar->m_btnPrompt, bar->m_btnFonts}) {
            QCOMPARE(button->iconSize(), QSize(32, 32));
            QCOMPARE(button->toolButtonStyle(), Qt::ToolButtonTextUnderIcon);
            QVERIFY(!button->icon().isNull());
        }
        QCOMPARE(bar->m_btnAbout->iconSize(), QSize(16, 16));
        QCOMPARE(bar->m_btnAbout->accessibleName(), QString("About"));
        QCOMPARE(bar->m_editConverter->accessibleName(), QString("Data Converter"));
        // Tool tips name where each COM name leads.
        QVERIFY(bar->m_cbPort->itemData(1, Qt::ToolTipRole).toString().contains(QString::fromStdString(m_modem.Path())));
        // Geometry keeps the template's relative order: Fonts left of Prompt.
        QVERIFY(bar->m_btnFonts->x() < bar->m_btnPrompt->x());
        QVERIFY(bar->m_btnConnect->x() < bar->m_btnDisconnect->x());
    }

    void barFitsAWindow1024PixelsWide()
    {
        auto frame = MakeFrame();
        frame->resize(1024, 700);
        QCoreApplication::processEvents();
        QCOMPARE(frame->width(), 1024);
        // Every control stays whole inside the bar, none covering another.
        CCommandBar* bar = frame->m_wndCommandBar;
        const QList<QWidget*> controls = bar->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly);
        for (QWidget* a : controls) {
            QVERIFY2(a->isVisible() && bar->rect().contains(a->geometry()), qPrintable(a->objectName()));
            for (QWidget* b : controls)
                QVERIFY2(a == b || !a->geometry().intersects(b->geometry()),
                         qPrintable(a->objectName() + " overlaps " + b->objectName()));
        }
    }

    void tabOrderSkipsRadios()
    {
        auto frame = MakeFrame();
        CCommandBar* bar = frame->m_wndCommandBar;
        const QList<QWidget*> expected = {bar->m_btnConnect,   bar->m_cbPort,       bar->m_btnDisconnect,
                                          bar->m_btnSettings,  bar->m_btnRunScript, bar->m_btnPrompt,
                                          bar->m_btnFonts,     bar->m_editConverter, bar->m_chkWrap,
                                          bar->m_chkLocalEcho, bar->m_chkCrLf,      bar->m_btnAbout};
        QWidget* w = bar->m_btnConnect;
        for (int i = 1; i < expected.size(); ++i) {
            do
                w = w->nextInFocusChain();
            while (!(w->focusPolicy() & Qt::TabFocus) || !w->isVisibleTo(frame.get()) || w->parentWidget() != bar);
            QCOMPARE(w, expected[i]);
        }
    }

    void converterClicksConvertAndRadiosExclude()
    {
        auto frame = MakeFrame();
        CCommandBar* bar = frame->m_wndCommandBar;
        bar->m_editConverter->setText("255");
        const struct {
            QRadioButton* radio;
            const char* shown;
        } steps[] = {{bar->m_rbHex, "FF"}, {bar->m_rbBin, "11111111"}, {bar->m_rbOct, "377"}, {bar->m_rbDec, "255"}};
        for (const auto& step : steps) {
            QTest::mouseClick(step.radio, Qt::LeftButton);
            QCOMPARE(bar->m_editConverter->text(), QString(step.shown));
            QVERIFY(step.radio->isChecked());
            int checked = 0;
            for (QRadioButton* r : {bar->m_rbHex, bar->m_rbDec, bar->m_rbOct, bar->m_rbBin})
                checked += r->isChecked();
            QCOMPARE(checked, 1);
        }
        // A click on the selected button rewrites the text canonically.
        bar->m_editConverter->setText("007");
        QTest::mouseClick(bar->m_rbDec, Qt::LeftButton);
        QCOMPARE(bar->m_editConverter->text(), QString("7"));
        // Typed letters become upper case.
        bar->m_editConverter->clear();
        QTest::keyClicks(bar->m_editConverter, "ab");
        QCOMPARE(bar->m_editConverter->text(), QString("AB"));
    }

    void switchesSetTerminalOptions()
    {
        auto frame = MakeFrame();
        CCommandBar* bar = frame->m_wndCommandBar;
        QTest::mouseClick(bar->m_chkLocalEcho, Qt::LeftButton, {}, QPoint(5, 5));
        QVERIFY(frame->Terminal()->Options().localEcho);
        QTest::mouseClick(bar->m_chkCrLf, Qt::LeftButton, {}, QPoint(5, 5));
        QVERIFY(frame->Terminal()->Options().SendsCrLf());
        QTest::mouseClick(bar->m_chkWrap, Qt::LeftButton, {}, QPoint(5, 5));
        QVERIFY(!frame->Terminal()->IsWrapping());
        QTest::mouseClick(bar->m_chkWrap, Qt::LeftButton, {}, QPoint(5, 5));
        QVERIFY(frame->Terminal()->IsWrapping());
        QTest::mouseClick(bar->m_chkLocalEcho, Qt::LeftButton, {}, QPoint(5, 5));
        QTest::mouseClick(bar->m_chkCrLf, Qt::LeftButton, {}, QPoint(5, 5));
        QVERIFY(!frame->Terminal()->Options().localEcho && !frame->Terminal()->Options().SendsCrLf());
    }

    // An accessibility tool's Toggle or Press acts as a click does.
    void accessibleActionsApplyOptionsAndConvert()
    {
        auto frame = MakeFrame();
        CCommandBar* bar = frame->m_wndCommandBar;
        auto act = [](QWidget* widget, const QString& action) {
            QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(widget);
            QVERIFY(accessible && accessible->actionInterface());
            accessible->actionInterface()->doAction(action);
        };
        const QString toggle = QAccessibleActionInterface::toggleAction();
        act(bar->m_chkLocalEcho, toggle);
        act(bar->m_chkCrLf, toggle);
        act(bar->m_chkWrap, toggle);
        QVERIFY(frame->Terminal()->Options().localEcho && frame->Terminal()->Options().SendsCrLf());
        QVERIFY(!frame->Terminal()->IsWrapping());
        act(bar->m_chkLocalEcho, toggle);
        act(bar->m_chkWrap, toggle);
        QVERIFY(!frame->Terminal()->Options().localEcho);
        QVERIFY(frame->Terminal()->IsWrapping());

        bar->m_editConverter->setText("255");
        act(bar->m_rbHex, toggle);
        QCOMPARE(bar->m_editConverter->text(), QString("FF"));
        act(bar->m_rbBin, QAccessibleActionInterface::pressAction());
        QVERIFY(WaitUntil([&] { return bar->m_editConverter->text() == "11111111"; }));
        QVERIFY(bar->m_rbBin->isChecked());
        QCOMPARE(bar->Converter().CurrentBase(), kRadixBin);
    }

    // A number beyond 64 bits is refused once per click, with a message
    // naming the field and the range; the field and the base stay.
    void outOfRangeNumberIsRefused()
    {
        auto frame = MakeFrame();
        CCommandBar* bar = frame->m_wndCommandBar;
        QStringList messages;
        frame->GuiPrompt().m_answer = [&](const QString& text, bool) {
            messages << text;
            return true;
        };
        const QString huge = "99999999999999999999999";
        bar->m_editConverter->setText(huge);
        QTest::mouseClick(bar->m_rbHex, Qt::LeftButton);
        QCOMPARE(messages.size(), 1);
        QVERIFY2(messages[0].contains("Data Converter") && messages[0].contains("18446744073709551615"),
                 qPrintable(messages[0]));
        QCOMPARE(bar->m_editConverter->text(), huge);
        QVERIFY(bar->m_rbDec->isChecked() && !bar->m_rbHex->isChecked());
        QTest::mouseClick(bar->m_rbDec, Qt::LeftButton); // the selected button: refused again
        QCOMPARE(messages.size(), 2);
        QAccessible::queryAccessibleInterface(bar->m_rbOct)->actionInterface()->doAction(
            QAccessibleActionInterface::toggleAction());
        QCOMPARE(messages.size(), 3);
        QVERIFY(bar->m_rbDec->isChecked());
        QCOMPARE(bar->m_editConverter->text(), huge);

        bar->m_editConverter->setText("18446744073709551615");
        QTest::mouseClick(bar->m_rbHex, Qt::LeftButton);
        QCOMPARE(bar->m_editConverter->text(), QString("FFFFFFFFFFFFFFFF"));
        bar->m_editConverter->setText("1FFFFFFFFFFFFFFFF");
        QTest::mouseClick(bar->m_rbBin, Qt::LeftButton);
        QCOMPARE(messages.size(), 4);
        QVERIFY(messages[3].contains("FFFFFFFFFFFFFFFF"));
        QVERIFY(bar->m_rbHex->isChecked());
    }

    // Editing keys in the converter field edit the field; they are not the
    // window's commands on the terminal pane (Ctrl+V would send the
    // clipboard to the device). Ctrl+Break and Ctrl+Tab still work there.
    void converterFieldKeepsItsEditingKeys()
    {
        auto frame = MakeFrame();
        frame->m_wndCommandBar->m_cbPort->setCurrentIndex(1);
        frame->OnConnect();
        QCOMPARE(frame->OpenPort(), 2);
        frame->Terminal()->setPlainText("terminal text");
        QLineEdit* field = frame->m_wndCommandBar->m_editConverter;
        frame->activateWindow();
        field->setFocus();
        QVERIFY(WaitUntil([&] { return field->hasFocus(); }));
        m_modem.ClearReceived();
        QClipboard* clipboard = QApplication::clipboard();

        field->setText("12");
        clipboard->setText("345");
        QTest::keyClick(field, Qt::Key_End);
        QTest::keyClick(field, Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(field->text(), QString("12345"));
        QTest::keyClick(field, Qt::Key_Home);
        QTest::keyClick(field, Qt::Key_Insert, Qt::ShiftModifier);
        QCOMPARE(field->text(), QString("34512345"));
        QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
        QCOMPARE(field->selectedText(), field->text());
        QTest::keyClick(field, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(clipboard->text(), QString("34512345"));
        QTest::keyClick(field, Qt::Key_X, Qt::ControlModifier);
        QCOMPARE(field->text(), QString());
        QTest::keyClick(field, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(field->text(), QString("34512345"));
        field->setSelection(0, 2);
        QTest::keyClick(field, Qt::Key_Insert, Qt::ControlModifier);
        QCOMPARE(clipboard->text(), QString("34"));
        QVERIFY(!frame->Terminal()->HasSelection());
        QCOMPARE(frame->Terminal()->toPlainText(), QString("terminal text"));

        // Ctrl+Break as X delivers it (no Qt key code, the keysym Break).
        frame->TclHost().AttachConsole();
        frame->TclHost().SubmitCommandText("while 1 {}\n");
        QVERIFY(WaitUntil([&] { return frame->TclHost().IsEvaluating(); }));
        QKeyEvent breakKey(QEvent::KeyPress, 0, Qt::ControlModifier, 0, 0xff6b, 0);
        QApplication::sendEvent(field, &breakKey);
        QVERIFY(WaitUntil([&] { return frame->Console()->toPlainText().contains("eval unwound"); }));
        QTest::keyClick(field, Qt::Key_Tab, Qt::ControlModifier);
        QVERIFY(WaitUntil([&] { return frame->Console()->hasFocus() || frame->Terminal()->hasFocus(); }));

        QTest::qWait(100); // nothing reaches the device meanwhile
        QCOMPARE(m_modem.Received(), std::string());
        frame->OnDisconnect();
    }

    void connectDisconnectAndTheirLines()
    {
        auto frame = MakeFrame();
        CCommandBar* bar = frame->m_wndCommandBar;
        bar->m_cbPort->setCurrentIndex(1); // COM2: the modem
        bar->m_btnConnect->click();
        QCOMPARE(frame->OpenPort(), 2);
        QVERIFY(!bar->m_cbPort->isEnabled());
        QCOMPARE(ConsoleTail(*frame), QString("COM2 opened successfully \nVORLA > "));
        const int at = frame->Console()->toPlainText().indexOf("COM2 opened");
        QCOMPARE(ColourAt(frame->Console(), at), QColor(0, 0, 255));

        bar->m_btnConnect->click(); // the open port is named, not the selection
        QVERIFY(ConsoleTail(*frame).endsWith("COM2 is already open \nVORLA > "));

        bar->m_btnDisconnect->click();
        QVERIFY(ConsoleTail(*frame).endsWith("COM2 Closed \nVORLA > "));
        QCOMPARE(frame->OpenPort(), 0);
        QVERIFY(bar->m_cbPort->isEnabled());
        QCOMPARE(bar->m_cbPort->currentIndex(), 1);
        bar->m_btnDisconnect->click();
        QVERIFY(ConsoleTail(*frame).endsWith("No opened port to disconnect  \nVORLA > "));
        bar->m_btnSettings->click();
        QVERIFY(ConsoleTail(*frame).endsWith("No port open \nVORLA > "));
    }

    void clickingConnectLeavesTheFocusInThePane()
    {
        auto frame = MakeFrame();
        frame->activateWindow();
        CCommandBar* bar = frame->m_wndCommandBar;
        bar->m_cbPort->setCurrentIndex(1);
        frame->Terminal()->setFocus(Qt::MouseFocusReason);
        QVERIFY(WaitUntil([&] { return frame->Terminal()->hasFocus(); }));
        QTest::mouseClick(bar->m_btnConnect, Qt::LeftButton);
        QCOMPARE(frame->OpenPort(), 2);
        QVERIFY(frame->Terminal()->hasFocus());
        bar->m_btnDisconnect->click();
    }

    void failedOpenKeepsLineAndShowsReason()
    {
        auto frame = MakeFrame();
        CCommandBar* bar = frame->m_wndCommandBar;
        for (int index : {4, 6}) { // COM5: missing device, COM7: not mapped
            bar->m_cbPort->setCurrentIndex(index);
            bar->m_btnConnect->click();
            const QString line = QString("Unable to open port COM%1\nVORLA > ").arg(index + 1);
            QVERIFY2(ConsoleTail(*frame).endsWith(line), qPrintable(ConsoleTail(*frame)));
            const int at = frame->Console()->toPlainText().lastIndexOf("Unable");
            QCOMPARE(ColourAt(frame->Console(), at), QColor(255, 0, 0));
            QCOMPARE(frame->OpenPort(), 0);
            QVERIFY(bar->m_cbPort->isEnabled());
            QVERIFY(!frame->statusBar()->currentMessage().isEmpty());
        }
    }

    void unpluggedDeviceClosesThePortOnce()
    {
        CDevSim device;
        std::string error;
        QVERIFY2(device.Start(CDevSim::SOptions{}, error), error.c_str());
        m_ports.Map(6, device.Path());
        auto frame = MakeFrame();
        QStringList messages;
        frame->GuiPrompt().m_answer = [&](const QString& text, bool) {
            messages << text;
            return true;
        };
        frame->m_wndCommandBar->m_cbPort->setCurrentIndex(5);
        frame->OnConnect();
        QCOMPARE(frame->OpenPort(), 6);
        device.HangUp();
        QVERIFY(WaitUntil([&] { return frame->OpenPort() == 0; }, 5000));
        QVERIFY(ConsoleTail(*frame).endsWith("COM6 Closed \nVORLA > "));
        QVERIFY(frame->m_wndCommandBar->m_cbPort->isEnabled());
        QCOMPARE(messages.size(), 1);
        QTest::qWait(200); // nothing further arrives
        QCOMPARE(messages.size(), 1);
        m_ports.Map(6, "");
    }

    void typedKeysReachTheDeviceAndEchoShows()
    {
        auto frame = MakeFrame();
        frame->m_wndCommandBar->m_cbPort->setCurrentIndex(1);
        frame->OnConnect();
        m_modem.ClearReceived();
        QTest::keyClicks(frame->Terminal(), "AT");
        QTest::keyClick(frame->Terminal(), Qt::Key_Return);
        QVERIFY(m_modem.WaitForReceived(3, 5000));
        QCOMPARE(m_modem.Received(), std::string("AT\n"));
        // The modem echoes and answers; the pane shows both.
        QVERIFY(WaitUntil([&] { return frame->Terminal()->toPlainText().contains("OK"); }));
        QVERIFY(frame->Terminal()->toPlainText().startsWith("AT"));
        // Accelerator keys never reach the port.
        frame->m_printDialog = [](QPrinter&) { return false; };
        QApplication::clipboard()->clear();
        m_modem.ClearReceived();
        for (Qt::Key key : {Qt::Key_A, Qt::Key_C, Qt::Key_F, Qt::Key_K, Qt::Key_O, Qt::Key_P, Qt::Key_S, Qt::Key_V})
            QTest::keyClick(frame->Terminal(), key, Qt::ControlModifier);
        QTest::keyClick(frame->Terminal(), Qt::Key_Escape);
        if (frame->FindDialog())
            frame->FindDialog()->hide();
        QTest::keyClick(frame->Terminal(), Qt::Key_N, Qt::ControlModifier); // not bound: 0x0E
        QVERIFY(m_modem.WaitForReceived(1, 5000));
        QCOMPARE(m_modem.Received(), std::string("\x0e"));
        frame->OnDisconnect();
    }
};

QTEST_MAIN(TestCommandBar)
#include "tst_command_bar.moc"
