// The Settings command end to end: the Port Settings and Advanced dialogs are
// driven as a user would, then the line's real settings are read back from
// the pseudo-terminal the port has open.
//
// The kernel's termios2 header clashes with <termios.h>; nothing here
// includes the latter.
#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <fcntl.h>
#include <unistd.h>

#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QtTest>

#include <cstring>
#include <functional>
#include <memory>
#include <vector>

#include "GuiTestSupport.h"
#include "app/CommandBar.h"
#include "app/MainFrame.h"
#include "devsim/DevSim.h"
#include "serial/AdvancedPortSettingsDlg.h"
#include "serial/PortMap.h"
#include "serial/PortSettingsDlg.h"
#include "terminal/TerminalView.h"

namespace {

constexpr int kModemPort = 2; // COM2 leads to the simulated device
const QString kConfigureFailed = QStringLiteral("Unable to configure new configuration ");

// A second descriptor on the port side of the pseudo-terminal, opened before
// Connect (the port's exclusive mode then refuses new openings to anyone but
// root). It only reads the line's settings, never its bytes.
class CLineObserver {
public:
    explicit CLineObserver(const std::string& path)
        : m_fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC))
    {
    }
    ~CLineObserver()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    CLineObserver(const CLineObserver&) = delete;
    CLineObserver& operator=(const CLineObserver&) = delete;

    bool IsOpen() const { return m_fd >= 0; }
    bool Read(termios2& t) const
    {
        std::memset(&t, 0, sizeof t);
        return ::ioctl(m_fd, TCGETS2, &t) == 0;
    }

private:
    int m_fd = -1;
};

bool SameTermios(const termios2& a, const termios2& b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

bool SameBlock(const DCB& a, const DCB& b)
{
    return std::memcmp(&a, &b, sizeof(DCB)) == 0;
}

QString Describe(const termios2& t)
{
    return QStringLiteral("ospeed %1 ispeed %2 cflag %3 iflag %4")
        .arg(t.c_ospeed)
        .arg(t.c_ispeed)
        .arg(t.c_cflag, 0, 8)
        .arg(t.c_iflag, 0, 8);
}

// What the user does in one opening of the Port Settings dialog. A null entry
// leaves that control as the dialog showed it.
struct SChoice {
    const char* baud = nullptr;      // list labels
    const char* data = nullptr;
    const char* parity = nullptr;
    const char* stopBits = nullptr;
    const char* flowRadio = nullptr; // object name of the radio to click
    const char* charDelay = nullptr; // typed into the emptied edit
    const char* lineDelay = nullptr;
    // Edits made in the Advanced dialog (opened with the push button, closed
    // with OK); the Advanced radio is clicked first.
    std::function<void(CAdvancedPortSettingsDlg&, QString& error)> advanced;
    bool ok = true;                  // OK, else Cancel
};

template <class T> T* Child(QWidget* parent, const char* name, QString& error)
{
    T* w = parent->findChild<T*>(QString::fromLatin1(name));
    if (!w && error.isEmpty())
        error = QStringLiteral("no control %1").arg(name);
    return w;
}

void Choose(QComboBox* list, const char* label, QString& error)
{
    if (!list || !label)
        return;
    const int index = list->findText(QString::fromLatin1(label));
    if (index < 0) {
        if (error.isEmpty())
            error = QStringLiteral("%1 has no entry %2").arg(list->objectName(), label);
        return;
    }
    list->setCurrentIndex(index);
}

void Type(QLineEdit* edit, const char* text)
{
    if (!edit || !text)
        return;
    edit->clear();
    QTest::keyClicks(edit, QString::fromLatin1(text));
}

void Click(QAbstractButton* button, QString& error)
{
    if (!button)
        return;
    if (!button->isVisible() || !button->isEnabled()) {
        if (error.isEmpty())
            error = QStringLiteral("%1 cannot be clicked").arg(button->objectName());
        return;
    }
    button->click();
}

// Plays `choice` on the shown dialog and closes it; returns its result as
// exec() would. Problems with the controls go to `error`.
int Drive(CPortSettingsDlg& dlg, const SChoice& choice, QString& error)
{
    dlg.show();
    Choose(Child<QComboBox>(&dlg, "baudList", error), choice.baud, error);
    Choose(Child<QComboBox>(&dlg, "dataList", error), choice.data, error);
    Choose(Child<QComboBox>(&dlg, "parityList", error), choice.parity, error);
    Choose(Child<QComboBox>(&dlg, "stopBitList", error), choice.stopBits, error);
    if (choice.flowRadio)
        Click(Child<QRadioButton>(&dlg, choice.flowRadio, error), error);
    Type(Child<QLineEdit>(&dlg, "charDelayEdit", error), choice.charDelay);
    Type(Child<QLineEdit>(&dlg, "lineDelayEdit", error), choice.lineDelay);
    if (choice.advanced) {
        Click(Child<QRadioButton>(&dlg, "advancedRadio", error), error);
        Click(Child<QPushButton>(&dlg, "advancedButton", error), error);
        CAdvancedPortSettingsDlg& adv = dlg.AdvancedDlg();
        if (!adv.isVisible() && error.isEmpty())
            error = QStringLiteral("the Advanced dialog did not open");
        choice.advanced(adv, error);
        Click(Child<QPushButton>(&adv, "okButton", error), error);
        if (adv.isVisible() && error.isEmpty())
            error = QStringLiteral("the Advanced dialog did not close on OK");
    }
    Click(Child<QPushButton>(&dlg, choice.ok ? "okButton" : "cancelButton", error), error);
    if (dlg.isVisible()) {
        if (error.isEmpty())
            error = QStringLiteral("the dialog stayed open");
        dlg.reject();
    }
    return dlg.result();
}

} // namespace

class TestSettingsE2E : public QObject {
    Q_OBJECT

    std::unique_ptr<CDevSim> m_device;
    CPortMap m_ports;
    std::unique_ptr<CLineObserver> m_line;
    std::unique_ptr<CMainFrame> m_frame;
    QStringList m_messages; // message boxes the user was shown
    QString m_driveError;

    CMainFrame& Frame() { return *m_frame; }
    CSerialPort& Engine() { return m_frame->SerialPort(); }

    bool ReadLine(termios2& t) { return m_line->Read(t); }

    // Runs the Settings command with the user playing `choice`; `inside` runs
    // first while the dialog is shown, before anything is changed.
    void RunSettings(const SChoice& choice, const std::function<void(CPortSettingsDlg&)>& inside = {})
    {
        m_driveError.clear();
        Frame().m_runSettingsDialog = [&](CPortSettingsDlg& dlg) {
            if (inside) {
                dlg.show();
                inside(dlg);
            }
            return Drive(dlg, choice, m_driveError);
        };
        Frame().OnSettings();
        Frame().m_runSettingsDialog = nullptr;
    }

    // Looks at the dialog of one opening without changing anything (Cancel).
    void Peek(const std::function<void(CPortSettingsDlg&)>& inside)
    {
        SChoice cancel;
        cancel.ok = false;
        RunSettings(cancel, inside);
    }

    // Typing reaches the device: the port is open and working.
    bool TypingArrives(const QString& text)
    {
        m_device->ClearReceived();
        QTest::keyClicks(Frame().Terminal(), text);
        return m_device->WaitForReceived(static_cast<std::size_t>(text.size()), 5000) &&
               m_device->Received() == text.toStdString();
    }

private slots:
    void init()
    {
        QDir::setCurrent(QDir::tempPath());
        m_messages.clear();
        m_device = std::make_unique<CDevSim>();
        CDevSim::SOptions options;
        options.mode = CDevSim::EMode::Silent;
        std::string error;
        QVERIFY2(m_device->Start(options, error), error.c_str());
        m_ports.Build({}, [](const char*) { return nullptr; }, {});
        m_ports.Map(kModemPort, m_device->Path());
        m_line = std::make_unique<CLineObserver>(m_device->Path());
        QVERIFY(m_line->IsOpen());

        m_frame = std::make_unique<CMainFrame>(m_ports);
        m_frame->GuiPrompt().m_answer = [this](const QString& text, bool) {
            m_messages << text;
            return true;
        };
        m_frame->resize(1000, 700);
        m_frame->show();
        m_frame->m_wndCommandBar->m_cbPort->setCurrentIndex(kModemPort - 1);
        m_frame->OnConnect();
        QCOMPARE(m_frame->OpenPort(), kModemPort);
        QVERIFY2(m_messages.isEmpty(), qPrintable(m_messages.join('|')));
    }

    void cleanup()
    {
        m_frame.reset(); // closes the port and joins the engine's threads
        m_line.reset();
        m_device.reset();
    }

    // Frame, rate and flow control chosen in the dialog are what the line
    // then holds. A pseudo-terminal keeps every rate, stop bits and the flow
    // control bits, but always 8 data bits without parity.
    void choicesReachTheLine_data()
    {
        QTest::addColumn<QString>("radio");
        QTest::addColumn<bool>("crtscts");
        QTest::addColumn<bool>("xonXoff");
        QTest::newRow("Hardware") << "hardwareRadio" << true << false;
        QTest::newRow("Xon/XOff") << "xonXoffRadio" << false << true;
        QTest::newRow("None") << "noneRadio" << false << false;
    }
    void choicesReachTheLine()
    {
        QFETCH(QString, radio);
        QFETCH(bool, crtscts);
        QFETCH(bool, xonXoff);
        // Start from the other extreme, so every flag has to change.
        SChoice first;
        first.flowRadio = crtscts ? "xonXoffRadio" : "hardwareRadio";
        RunSettings(first);

        const QByteArray radioName = radio.toLatin1();
        SChoice choice;
        choice.baud = "57600";
        choice.data = "8 bits";
        choice.parity = "No Parity";
        choice.stopBits = "2 Stop bits";
        choice.flowRadio = radioName.constData();
        RunSettings(choice);
        QVERIFY2(m_driveError.isEmpty(), qPrintable(m_driveError));
        QVERIFY2(m_messages.isEmpty(), qPrintable(m_messages.join('|')));

        termios2 t;
        QVERIFY(ReadLine(t));
        QCOMPARE(t.c_ospeed, 57600u);
        QCOMPARE(t.c_ispeed, 57600u);
        QCOMPARE(t.c_cflag & CBAUD, tcflag_t(BOTHER));
        QCOMPARE(t.c_cflag & CSIZE, tcflag_t(CS8));
        QVERIFY(!(t.c_cflag & (PARENB | CMSPAR)));
        QVERIFY(t.c_cflag & CSTOPB);
        QCOMPARE(bool(t.c_cflag & CRTSCTS), crtscts);
        QCOMPARE(bool(t.c_iflag & IXON), xonXoff);
        QCOMPARE(bool(t.c_iflag & IXOFF), xonXoff);
        QVERIFY(!(t.c_iflag & INPCK)); // every preset turns parity checking off

        // The engine's block is the record with the preset laid over it.
        const int preset = int(Frame().PortSettings().m_flowControl);
        QCOMPARE(preset, radio == "hardwareRadio" ? 1 : radio == "xonXoffRadio" ? 2 : 0);
        const DCB dcb = Engine().Dcb();
        QCOMPARE(DcbFlagWord(dcb) & kPresetFieldBits, kFlowMasks[preset].set);
        QCOMPARE(dcb.BaudRate, 57600u);
        QCOMPARE(int(dcb.StopBits), int(TWOSTOPBITS));

        // The next opening shows what the line holds.
        Peek([&](CPortSettingsDlg& dlg) {
            QCOMPARE(dlg.findChild<QComboBox*>("baudList")->currentText(), QString("57600"));
            QCOMPARE(dlg.findChild<QComboBox*>("stopBitList")->currentText(), QString("2 Stop bits"));
            QVERIFY(dlg.findChild<QRadioButton*>(radio)->isChecked());
        });
        QVERIFY(TypingArrives("ok"));
    }

    // Every rate of the list through the dialog. The pseudo-terminal keeps
    // any rate exactly (the platform layer sets it with BOTHER).
    void everyListedRateReachesTheLine_data()
    {
        QTest::addColumn<int>("index");
        for (int i = 0; i < kBaudCount; ++i)
            QTest::newRow(kBaudLabels[i]) << i;
    }
    void everyListedRateReachesTheLine()
    {
        QFETCH(int, index);
        SChoice choice;
        choice.baud = kBaudLabels[index];
        RunSettings(choice);
        QVERIFY2(m_driveError.isEmpty(), qPrintable(m_driveError));
        QVERIFY2(m_messages.isEmpty(), qPrintable(m_messages.join('|')));
        termios2 t;
        QVERIFY(ReadLine(t));
        QCOMPARE(t.c_ospeed, kBaudRates[index]);
        QCOMPARE(t.c_ispeed, kBaudRates[index]);
        QVERIFY(Engine().ReadState());
        QCOMPARE(Engine().Dcb().BaudRate, kBaudRates[index]);
    }

    // Cancel after changing everything, the Advanced dialog included: the
    // line, the engine, the record's delays and flow choice stay as they were,
    // and the record's block equals the engine's again.
    void cancelLeavesLineAndRecord()
    {
        SChoice setup;
        setup.baud = "19200";
        setup.stopBits = "2 Stop bits";
        setup.flowRadio = "xonXoffRadio";
        setup.charDelay = "7";
        setup.lineDelay = "9";
        RunSettings(setup);
        QVERIFY2(m_driveError.isEmpty(), qPrintable(m_driveError));
        QVERIFY(m_messages.isEmpty());

        termios2 before;
        QVERIFY(ReadLine(before));
        const DCB engineBefore = Engine().Dcb();

        SChoice edit;
        edit.baud = "115200";
        edit.data = "7 bits";
        edit.parity = "Odd";
        edit.stopBits = "1 Stop bits";
        edit.charDelay = "500";
        edit.lineDelay = "800";
        edit.advanced = [](CAdvancedPortSettingsDlg& adv, QString& error) {
            Choose(Child<QComboBox>(&adv, "fOutxCtsFlowList", error), "TRUE", error);
            Choose(Child<QComboBox>(&adv, "fRtsControlList", error), "RTS_CONTROL_HANDSHAKE", error);
            Choose(Child<QComboBox>(&adv, "fOutXList", error), "FALSE", error);
            Type(Child<QLineEdit>(&adv, "XonCharEdit", error), "5");
        };
        edit.ok = false;
        RunSettings(edit);
        QVERIFY2(m_driveError.isEmpty(), qPrintable(m_driveError));
        QVERIFY(m_messages.isEmpty());

        termios2 after;
        QVERIFY(ReadLine(after));
        QVERIFY2(SameTermios(before, after), qPrintable(Describe(before) + " / " + Describe(after)));
        const CPortSettings& record = Frame().PortSettings();
        QVERIFY(SameBlock(record.m_dcb, Engine().Dcb()));
        QVERIFY(SameBlock(Engine().Dcb(), engineBefore));
        QCOMPARE(record.m_charDelay, 7);
        QCOMPARE(record.m_lineDelay, 9);
        QCOMPARE(record.m_flowControl, FlowControl::XonXoff);

        Peek([&](CPortSettingsDlg& dlg) {
            QCOMPARE(dlg.findChild<QComboBox*>("baudList")->currentText(), QString("19200"));
            QCOMPARE(dlg.findChild<QComboBox*>("dataList")->currentText(), QString("8 bits"));
            QVERIFY(dlg.findChild<QRadioButton*>("xonXoffRadio")->isChecked());
            QCOMPARE(dlg.findChild<QLineEdit*>("charDelayEdit")->text(), QString("7"));
        });
    }

    // The delays typed in the dialog are the writer's from the next byte:
    // after "ab" and Enter, the byte typed next leaves two character delays
    // and one line delay after the first. Typing itself returns at once.
    void transmitDelaysReachTheWriter()
    {
        SChoice choice;
        choice.charDelay = "50";
        choice.lineDelay = "300";
        RunSettings(choice);
        QVERIFY2(m_driveError.isEmpty(), qPrintable(m_driveError));

        m_device->ClearReceived();
        QElapsedTimer timer;
        timer.start();
        QTest::keyClicks(Frame().Terminal(), "ab");
        QTest::keyClick(Frame().Terminal(), Qt::Key_Return);
        QTest::keyClicks(Frame().Terminal(), "c");
        QVERIFY(m_device->WaitForReceived(3, 5000));
        const qint64 lineFeed = timer.nsecsElapsed();
        QVERIFY(m_device->WaitForReceived(4, 5000));
        const qint64 next = timer.nsecsElapsed();
        QCOMPARE(m_device->Received(), std::string("ab\nc"));
        QVERIFY2(lineFeed >= 100'000'000, qPrintable(QString::number(lineFeed / 1'000'000))); // 2 x 50 ms
        QVERIFY2(next >= 400'000'000, qPrintable(QString::number(next / 1'000'000)));          // then 300 ms
        QVERIFY2(next < 8'000'000'000, "sending four bytes hung"); // each byte waits at most 2 s
        QCOMPARE(Frame().PortSettings().m_charDelay, 50);
        QCOMPARE(Frame().PortSettings().m_lineDelay, 300);
    }

    // With the Advanced choice the flags set in the Advanced dialog reach the
    // engine unchanged and the line where it has a place for them; the next
    // opening reads them back; None then overwrites them.
    void advancedFlagsReachEngineAndLine()
    {
        DCB expected;
        SChoice choice;
        choice.advanced = [](CAdvancedPortSettingsDlg& adv, QString& error) {
            const struct {
                const char* list;
                const char* entry;
            } lists[] = {
                {"fParityList", "TRUE"},
                {"fOutxCtsFlowList", "TRUE"},
                {"fOutxDsrFlowList", "TRUE"},
                {"fDtrControlList", "DTR_CONTROL_HANDSHAKE"},
                {"fDsrSensitivityList", "TRUE"},
                {"fTXContinueOnXoffList", "FALSE"},
                {"fOutXList", "TRUE"},
                {"fInXList", "FALSE"},
                {"fErrorCharList", "TRUE"},
                {"fNullList", "TRUE"},
                {"fRtsControlList", "RTS_CONTROL_HANDSHAKE"},
                {"fAbortOnErrorList", "TRUE"},
            };
            for (const auto& l : lists)
                Choose(Child<QComboBox>(&adv, l.list, error), l.entry, error);
            Type(Child<QLineEdit>(&adv, "XonCharEdit", error), "20");
            Type(Child<QLineEdit>(&adv, "XoffCharEdit", error), "22");
        };
        RunSettings(choice, [&](CPortSettingsDlg& dlg) {
            expected = dlg.Settings().m_dcb;
            expected.fParity = 1;
            expected.fOutxCtsFlow = 1;
            expected.fOutxDsrFlow = 1;
            expected.fDtrControl = DTR_CONTROL_HANDSHAKE;
            expected.fDsrSensitivity = 1;
            expected.fTXContinueOnXoff = 0;
            expected.fOutX = 1;
            expected.fInX = 0;
            expected.fErrorChar = 1;
            expected.fNull = 1;
            expected.fRtsControl = RTS_CONTROL_HANDSHAKE;
            expected.fAbortOnError = 1;
            expected.XonChar = 20;
            expected.XoffChar = 22;
        });
        QVERIFY2(m_driveError.isEmpty(), qPrintable(m_driveError));
        QVERIFY2(m_messages.isEmpty(), qPrintable(m_messages.join('|')));
        QCOMPARE(Frame().PortSettings().m_flowControl, FlowControl::Advanced);
        QCOMPARE(DcbFlagWord(Engine().Dcb()), DcbFlagWord(expected));
        QVERIFY(SameBlock(Engine().Dcb(), expected));

        termios2 t;
        QVERIFY(ReadLine(t));
        QVERIFY(t.c_cflag & CRTSCTS);
        QVERIFY(t.c_iflag & IXON);
        QVERIFY(!(t.c_iflag & IXOFF));
        QVERIFY(t.c_iflag & INPCK);
        QCOMPARE(int(t.c_cc[VSTART]), 20);
        QCOMPARE(int(t.c_cc[VSTOP]), 22);

        // Discard NULL Bytes reached the reader.
        m_device->Inject(std::string("x\0y\n", 4));
        QVERIFY(WaitUntil([&] { return Frame().Terminal()->toPlainText().contains('y'); }));
        QVERIFY2(Frame().Terminal()->toPlainText().contains("xy"), qPrintable(Frame().Terminal()->toPlainText()));

        // The next opening refreshes the record from the port and keeps every flag.
        uint32_t reread = 0;
        SChoice none;
        none.flowRadio = "noneRadio";
        RunSettings(none, [&](CPortSettingsDlg& dlg) {
            reread = DcbFlagWord(dlg.Settings().m_dcb);
            QVERIFY(dlg.findChild<QRadioButton*>("advancedRadio")->isChecked());
        });
        QCOMPARE(reread, DcbFlagWord(expected));
        QVERIFY2(m_driveError.isEmpty(), qPrintable(m_driveError));
        QVERIFY(m_messages.isEmpty());
        const uint32_t word = DcbFlagWord(Engine().Dcb());
        QCOMPARE(word, (DcbFlagWord(expected) & kFlowMasks[0].keep) | kFlowMasks[0].set);
        QVERIFY(ReadLine(t));
        QVERIFY(!(t.c_cflag & CRTSCTS));
        QVERIFY(!(t.c_iflag & (IXON | IXOFF | INPCK)));
        QCOMPARE(int(t.c_cc[VSTART]), 20); // the characters are no preset's business
    }

    // Settings the device cannot honour: the user is told, the line stays as
    // it was, the port stays open and usable, and the next opening shows the
    // line's real settings. A pseudo-terminal always runs 8 data bits without
    // parity; 1.5 stop bits exist only with 5 data bits.
    void refusedSettingsAreReported_data()
    {
        QTest::addColumn<QString>("baud");
        QTest::addColumn<QString>("data");
        QTest::addColumn<QString>("parity");
        QTest::addColumn<QString>("stopBits");
        QTest::addColumn<QString>("radio");
        QTest::addColumn<QString>("reason"); // part of the status bar's text
        QTest::newRow("57600 7E2 Hardware")
            << "57600" << "7 bits" << "Even" << "2 Stop bits" << "hardwareRadio" << "data bits";
        QTest::newRow("7 bits") << "" << "7 bits" << "No Parity" << "" << "" << "data bits";
        QTest::newRow("odd parity") << "" << "8 bits" << "Odd" << "" << "" << "parity";
        QTest::newRow("even parity") << "" << "8 bits" << "Even" << "" << "" << "parity";
        QTest::newRow("mark parity") << "" << "8 bits" << "Mark" << "" << "" << "parity";
        QTest::newRow("space parity") << "" << "8 bits" << "Space" << "" << "" << "parity";
        QTest::newRow("1.5 stop bits") << "" << "8 bits" << "No Parity" << "1.5 Stop bits" << "" << "1.5 stop bits";
    }
    void refusedSettingsAreReported()
    {
        QFETCH(QString, baud);
        QFETCH(QString, data);
        QFETCH(QString, parity);
        QFETCH(QString, stopBits);
        QFETCH(QString, radio);
        QFETCH(QString, reason);
        termios2 before;
        QVERIFY(ReadLine(before));

        const QByteArray b = baud.toLatin1(), d = data.toLatin1(), p = parity.toLatin1(),
                         s = stopBits.toLatin1(), r = radio.toLatin1();
        SChoice choice;
        choice.baud = baud.isEmpty() ? nullptr : b.constData();
        choice.data = d.constData();
        choice.parity = p.constData();
        choice.stopBits = stopBits.isEmpty() ? nullptr : s.constData();
        choice.flowRadio = radio.isEmpty() ? nullptr : r.constData();
        RunSettings(choice);
        QVERIFY2(m_driveError.isEmpty(), qPrintable(m_driveError));
        QCOMPARE(m_messages, QStringList{kConfigureFailed});
        QVERIFY2(Frame().statusBar()->currentMessage().contains(reason), // the device's reason
                 qPrintable(Frame().statusBar()->currentMessage()));

        termios2 after;
        QVERIFY(ReadLine(after));
        QVERIFY2(SameTermios(before, after), qPrintable(Describe(before) + " / " + Describe(after)));
        QCOMPARE(Frame().OpenPort(), kModemPort);
        QVERIFY(Engine().IsOpen());
        QVERIFY(TypingArrives("still"));

        Peek([&](CPortSettingsDlg& dlg) {
            QCOMPARE(dlg.findChild<QComboBox*>("baudList")->currentText(), QString::number(before.c_ospeed));
            QCOMPARE(dlg.findChild<QComboBox*>("dataList")->currentText(), QString("8 bits"));
            QCOMPARE(dlg.findChild<QComboBox*>("parityList")->currentText(), QString("No Parity"));
            QCOMPARE(dlg.findChild<QComboBox*>("stopBitList")->currentText(), QString("1 Stop bits"));
        });
        QCOMPARE(m_messages.size(), 1);
        QVERIFY(SameBlock(Frame().PortSettings().m_dcb, Engine().Dcb()));

        // A setting the line can take still goes through afterwards.
        SChoice fine;
        fine.data = "8 bits";
        fine.parity = "No Parity";
        fine.stopBits = "2 Stop bits";
        RunSettings(fine);
        QCOMPARE(m_messages.size(), 1);
        QVERIFY(Frame().statusBar()->currentMessage().isEmpty());
        QVERIFY(ReadLine(after));
        QVERIFY(after.c_cflag & CSTOPB);
    }
};

QTEST_MAIN(TestSettingsE2E)
#include "tst_settings_e2e.moc"
