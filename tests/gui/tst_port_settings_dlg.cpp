#include <QtTest>

#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTextBlock>

#include <cstring>
#include <functional>
#include <vector>

#include "serial/PortSettingsDlg.h"

namespace {

uint32_t FlagWord(const DCB& dcb)
{
    uint32_t word;
    std::memcpy(&word, reinterpret_cast<const char*>(&dcb) + 8, sizeof word);
    return word;
}

void SetFlagWord(DCB& dcb, uint32_t word)
{
    std::memcpy(reinterpret_cast<char*>(&dcb) + 8, &word, sizeof word);
}

bool SameBlock(const DCB& a, const DCB& b)
{
    return std::memcmp(&a, &b, sizeof(DCB)) == 0;
}

// A control block as a port might report it: 9600 8N1, no flow control, and
// bits in every field the dialogs never write.
DCB PortBlock()
{
    DCB dcb;
    dcb.BaudRate = 9600;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.XonLim = 2048;
    dcb.XoffLim = 512;
    dcb.wReserved = 0x1234;
    dcb.wReserved1 = 0xBEEF;
    SetFlagWord(dcb, 0xABCD0000u | 0x1091u); // fDummy2 bits set, None flags
    return dcb;
}

template <class T> T* Child(QWidget* parent, const char* name)
{
    T* w = parent->findChild<T*>(QString::fromLatin1(name));
    if (!w)
        qWarning("no child %s", name);
    return w;
}

QStringList Items(const QComboBox* list)
{
    QStringList items;
    for (int i = 0; i < list->count(); ++i)
        items << list->itemText(i);
    return items;
}

} // namespace

class TestPortSettingsDlg : public QObject {
    Q_OBJECT

    // Fresh per test: one dialog object as the main frame keeps it, with the
    // delays handler recording what it is given.
    std::unique_ptr<CPortSettingsDlg> m_dlg;
    std::vector<std::pair<int, int>> m_delayCalls;

    CPortSettingsDlg& Dlg() { return *m_dlg; }
    CAdvancedPortSettingsDlg& Adv() { return m_dlg->AdvancedDlg(); }

    template <class T> T* W(const char* name) { return Child<T>(m_dlg.get(), name); }
    template <class T> T* A(const char* name) { return Child<T>(&m_dlg->AdvancedDlg(), name); }

    // Opens the dialog the way the Settings command does after reading the port.
    bool OpenOn(const DCB& dcb, int port = 3)
    {
        Dlg().Settings().m_dcb = dcb;
        Dlg().Settings().m_port = port;
        Dlg().open();
        return Dlg().isVisible();
    }

    bool ClickOk() { return Click(W<QPushButton>("okButton")) && !Dlg().isVisible(); }

    static bool Click(QAbstractButton* b)
    {
        if (!b || !b->isEnabled() || !b->isVisible())
            return false;
        // Near the left edge: a radio button takes clicks only on its indicator and text.
        QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(qMin(6, b->width() / 2), b->height() / 2));
        return true;
    }

    // Chooses the Advanced radio and opens the Advanced dialog.
    bool OpenAdvanced()
    {
        return Click(W<QRadioButton>("advancedRadio")) && Click(W<QPushButton>("advancedButton")) &&
               Adv().isVisible();
    }
    bool AdvancedOk() { return Click(A<QPushButton>("okButton")) && !Adv().isVisible(); }

    // The text of the box that refused a number over `dialog`, closed once
    // read; empty when there is none.
    static QString TakeRefusal(QWidget* dialog)
    {
        QString text;
        for (QMessageBox* box : dialog->findChildren<QMessageBox*>()) {
            if (!box->isVisible())
                continue;
            text = box->text();
            box->close();
        }
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return text;
    }

private slots:
    void init()
    {
        m_delayCalls.clear();
        m_dlg = std::make_unique<CPortSettingsDlg>(
            [this](int charDelay, int lineDelay) { m_delayCalls.emplace_back(charDelay, lineDelay); });
    }
    void cleanup() { m_dlg.reset(); }

    void titlesNameThePort()
    {
        QVERIFY(OpenOn(PortBlock(), 3));
        QCOMPARE(Dlg().windowTitle(), QString(" Port Settings (COM3)"));
        auto* port = W<QComboBox>("portList");
        QVERIFY(port);
        QVERIFY(!port->isEnabled());
        QCOMPARE(port->currentText(), QString("COM3"));
        QCOMPARE(port->count(), 9);
        QVERIFY(OpenAdvanced());
        QCOMPARE(Adv().windowTitle(), QString(" Advanced Port Settings (COM3)"));
        QVERIFY(Adv().isModal());
        QVERIFY(AdvancedOk());
        QVERIFY(ClickOk());

        QVERIFY(OpenOn(PortBlock(), 12));
        QCOMPARE(Dlg().windowTitle(), QString(" Port Settings (COM12)"));
        QCOMPARE(port->count(), 10);
        QCOMPARE(port->currentIndex(), 9);
        QCOMPARE(port->currentText(), QString("UNDEF"));
        QVERIFY(ClickOk());
        QCOMPARE(Dlg().Settings().m_port, 12); // the port list is never read back
    }

    void listsShowUndefAndKeepTheValue_data()
    {
        QTest::addColumn<QString>("list");
        QTest::addColumn<int>("count");  // entries without "UNDEF"
        QTest::addColumn<std::function<void(DCB&)>>("odd");
        QTest::addColumn<std::function<bool(const DCB&)>>("kept");
        QTest::addColumn<int>("choice"); // an entry to choose on the next opening
        QTest::addColumn<std::function<bool(const DCB&)>>("chosen");

        QTest::newRow("bytesize 5") << "dataList" << 2 << std::function<void(DCB&)>([](DCB& d) { d.ByteSize = 5; })
                                    << std::function<bool(const DCB&)>([](const DCB& d) { return d.ByteSize == 5; })
                                    << 0 << std::function<bool(const DCB&)>([](const DCB& d) { return d.ByteSize == 7; });
        QTest::newRow("bytesize 6") << "dataList" << 2 << std::function<void(DCB&)>([](DCB& d) { d.ByteSize = 6; })
                                    << std::function<bool(const DCB&)>([](const DCB& d) { return d.ByteSize == 6; })
                                    << 1 << std::function<bool(const DCB&)>([](const DCB& d) { return d.ByteSize == 8; });
        QTest::newRow("parity 5") << "parityList" << 5 << std::function<void(DCB&)>([](DCB& d) { d.Parity = 5; })
                                  << std::function<bool(const DCB&)>([](const DCB& d) { return d.Parity == 5; })
                                  << 2 << std::function<bool(const DCB&)>([](const DCB& d) { return d.Parity == EVENPARITY; });
        QTest::newRow("stopbits 3") << "stopBitList" << 3 << std::function<void(DCB&)>([](DCB& d) { d.StopBits = 3; })
                                    << std::function<bool(const DCB&)>([](const DCB& d) { return d.StopBits == 3; })
                                    << 2 << std::function<bool(const DCB&)>([](const DCB& d) { return d.StopBits == TWOSTOPBITS; });
    }

    void listsShowUndefAndKeepTheValue()
    {
        QFETCH(QString, list);
        QFETCH(int, count);
        QFETCH(std::function<void(DCB&)>, odd);
        QFETCH(std::function<bool(const DCB&)>, kept);
        QFETCH(int, choice);
        QFETCH(std::function<bool(const DCB&)>, chosen);

        DCB dcb = PortBlock();
        odd(dcb);
        QVERIFY(OpenOn(dcb));
        auto* box = W<QComboBox>(list.toLatin1().constData());
        QVERIFY(box);
        QCOMPARE(box->count(), count + 1);
        QCOMPARE(box->itemText(count), QString("UNDEF"));
        QCOMPARE(box->currentIndex(), count);
        QVERIFY(ClickOk());
        QVERIFY(kept(Dlg().Settings().m_dcb));

        // The next opening shows the odd value again; choosing an entry writes it.
        QVERIFY(OpenOn(Dlg().Settings().m_dcb));
        QCOMPARE(box->count(), count + 1);
        box->setCurrentIndex(choice);
        QVERIFY(ClickOk());
        QVERIFY(chosen(Dlg().Settings().m_dcb));

        // A listed value needs no "UNDEF" entry: each opening rebuilds the list.
        QVERIFY(OpenOn(Dlg().Settings().m_dcb));
        QCOMPARE(box->count(), count);
        QCOMPARE(box->currentIndex(), choice);
        QVERIFY(ClickOk());
    }

    void listsWriteTheChosenLineSettings()
    {
        QVERIFY(OpenOn(PortBlock()));
        QCOMPARE(Items(W<QComboBox>("baudList")).join(','),
                 QString("110,300,600,1200,2400,4800,9600,14400,19200,38400,56000,57600,115200,128000,230400,"
                         "256000,460800,921600,1000000,2000000,3000000"));
        QCOMPARE(Items(W<QComboBox>("dataList")), QStringList({"7 bits", "8 bits"}));
        QCOMPARE(Items(W<QComboBox>("parityList")), QStringList({"No Parity", "Odd", "Even", "Mark", "Space"}));
        QCOMPARE(Items(W<QComboBox>("stopBitList")), QStringList({"1 Stop bits", "1.5 Stop bits", "2 Stop bits"}));
        QCOMPARE(W<QComboBox>("baudList")->currentText(), QString("9600"));

        W<QComboBox>("baudList")->setCurrentIndex(15);
        W<QComboBox>("dataList")->setCurrentIndex(0);
        W<QComboBox>("parityList")->setCurrentIndex(3);
        W<QComboBox>("stopBitList")->setCurrentIndex(1);
        QVERIFY(ClickOk());
        const DCB& d = Dlg().Settings().m_dcb;
        QCOMPARE(d.BaudRate, 256000u);
        QCOMPARE(int(d.ByteSize), 7);
        QCOMPARE(int(d.Parity), int(MARKPARITY));
        QCOMPARE(int(d.StopBits), int(ONE5STOPBITS));
        // Nothing else of the block moved.
        DCB expected = PortBlock();
        expected.BaudRate = 256000;
        expected.ByteSize = 7;
        expected.Parity = MARKPARITY;
        expected.StopBits = ONE5STOPBITS;
        QVERIFY(SameBlock(d, expected));
    }

    // A rate off the list shows as its number and is kept; any rate can be
    // typed; what is no rate is refused by name and writes nothing.
    void baudListTakesATypedRate()
    {
        DCB dcb = PortBlock();
        dcb.BaudRate = 4000;
        QVERIFY(OpenOn(dcb));
        auto* baud = W<QComboBox>("baudList");
        QVERIFY(baud->isEditable());
        QCOMPARE(baud->count(), kBaudCount);
        QCOMPARE(baud->currentText(), QString("4000"));
        QVERIFY(ClickOk());
        QCOMPARE(Dlg().Settings().m_dcb.BaudRate, 4000u);

        QVERIFY(OpenOn(Dlg().Settings().m_dcb));
        baud->lineEdit()->selectAll();
        QTest::keyClicks(baud->lineEdit(), "25x0000");
        QCOMPARE(baud->currentText(), QString("250000"));
        QVERIFY(ClickOk());
        QCOMPARE(Dlg().Settings().m_dcb.BaudRate, 250000u);

        m_delayCalls.clear();
        for (const char* bad : {"", "0", "30000000"}) {
            QVERIFY(OpenOn(Dlg().Settings().m_dcb));
            baud->setEditText(bad);
            QVERIFY(Click(W<QPushButton>("okButton")));
            QVERIFY(Dlg().isVisible());
            QCOMPARE(TakeRefusal(&Dlg()), QString("Baud Rate must be a whole number from 1 to 20000000."));
            QVERIFY(m_delayCalls.empty());
            baud->setEditText("921600");
            QVERIFY(ClickOk());
            QCOMPARE(Dlg().Settings().m_dcb.BaudRate, 921600u);
            m_delayCalls.clear();
        }
    }

    void delaysReadTheWholeNumber_data()
    {
        QTest::addColumn<QString>("charText");
        QTest::addColumn<QString>("lineText");
        QTest::addColumn<int>("charDelay");
        QTest::addColumn<int>("lineDelay");
        QTest::newRow("123456") << "123456" << "500" << 123456 << 500;
        QTest::newRow("empty") << "" << "" << 0 << 0;
        QTest::newRow("leading zeros") << "0042" << "000007" << 42 << 7;
        QTest::newRow("six nines") << "999999" << "10" << 999999 << 10;
    }

    void delaysReadTheWholeNumber()
    {
        QFETCH(QString, charText);
        QFETCH(QString, lineText);
        QFETCH(int, charDelay);
        QFETCH(int, lineDelay);

        Dlg().Settings().m_charDelay = 77;
        Dlg().Settings().m_lineDelay = 88;
        QVERIFY(OpenOn(PortBlock()));
        auto* charEdit = W<QLineEdit>("charDelayEdit");
        auto* lineEdit = W<QLineEdit>("lineDelayEdit");
        QCOMPARE(charEdit->text(), QString("77"));
        QCOMPARE(lineEdit->text(), QString("88"));
        charEdit->selectAll();
        QTest::keyClicks(charEdit, charText);
        lineEdit->selectAll();
        QTest::keyClicks(lineEdit, lineText);
        if (charText.isEmpty())
            QTest::keyClick(charEdit, Qt::Key_Backspace);
        if (lineText.isEmpty())
            QTest::keyClick(lineEdit, Qt::Key_Backspace);
        QCOMPARE(charEdit->text(), charText);
        QCOMPARE(lineEdit->text(), lineText);
        QVERIFY(ClickOk());

        QCOMPARE(Dlg().Settings().m_charDelay, charDelay);
        QCOMPARE(Dlg().Settings().m_lineDelay, lineDelay);
        QCOMPARE(m_delayCalls.size(), size_t(1));
        QCOMPARE(m_delayCalls[0], std::make_pair(charDelay, lineDelay));
    }

    // A delay that is no number (the validator sees only what is typed) is
    // refused by name, the dialog stays open and nothing is written.
    void refusedDelayChangesNothing()
    {
        Dlg().Settings().m_charDelay = 5;
        Dlg().Settings().m_lineDelay = 6;
        const DCB before = PortBlock();
        QVERIFY(OpenOn(before));
        W<QComboBox>("baudList")->setCurrentIndex(0);
        QVERIFY(Click(W<QRadioButton>("hardwareRadio")));
        W<QLineEdit>("charDelayEdit")->setText("100");
        auto* line = W<QLineEdit>("lineDelayEdit");
        line->setText("12x");
        QVERIFY(Click(W<QPushButton>("okButton")));
        QVERIFY(Dlg().isVisible());
        QCOMPARE(TakeRefusal(&Dlg()), QString("Line Delay must be a whole number from 0 to 999999."));
        QCOMPARE(Dlg().focusWidget(), line); // where the user comes back to
        QCOMPARE(line->selectedText(), QString("12x"));
        QCOMPARE(Dlg().Settings().m_charDelay, 5);
        QCOMPARE(Dlg().Settings().m_lineDelay, 6);
        QCOMPARE(int(Dlg().Settings().m_flowControl), int(FlowControl::None));
        QVERIFY(SameBlock(Dlg().Settings().m_dcb, before));
        QVERIFY(m_delayCalls.empty());

        line->setText("12");
        QVERIFY(ClickOk());
        QCOMPARE(m_delayCalls, (std::vector<std::pair<int, int>>{{100, 12}}));
    }

    void delayEditsTakeSixDigitsOnly()
    {
        QVERIFY(OpenOn(PortBlock()));
        auto* edit = W<QLineEdit>("charDelayEdit");
        QCOMPARE(edit->maxLength(), 6);
        QVERIFY(edit->alignment() & Qt::AlignHCenter);
        edit->clear();
        QTest::keyClicks(edit, "1a2-3 4.5678");
        QCOMPARE(edit->text(), QString("123456"));
        QCOMPARE(edit->accessibleName(), QString("Char Delay"));
    }

    void cancelWritesNothing()
    {
        Dlg().Settings().m_charDelay = 5;
        Dlg().Settings().m_lineDelay = 6;
        const DCB before = PortBlock();
        QVERIFY(OpenOn(before));
        W<QComboBox>("baudList")->setCurrentIndex(0);
        W<QLineEdit>("charDelayEdit")->setText("100");
        QVERIFY(Click(W<QRadioButton>("hardwareRadio")));
        QVERIFY(Click(W<QPushButton>("cancelButton")));
        QVERIFY(!Dlg().isVisible());
        QCOMPARE(Dlg().result(), int(QDialog::Rejected));
        QCOMPARE(Dlg().Settings().m_charDelay, 5);
        QCOMPARE(Dlg().Settings().m_lineDelay, 6);
        QCOMPARE(int(Dlg().Settings().m_flowControl), int(FlowControl::None));
        QVERIFY(SameBlock(Dlg().Settings().m_dcb, before));
        QVERIFY(m_delayCalls.empty());

        // The next opening shows the record again, not the cancelled edits.
        QVERIFY(OpenOn(before));
        QVERIFY(W<QRadioButton>("noneRadio")->isChecked());
        QCOMPARE(W<QLineEdit>("charDelayEdit")->text(), QString("5"));
    }

    void advancedEditsThenOuterCancelLeaveTheRecord()
    {
        const DCB before = PortBlock();
        QVERIFY(OpenOn(before));
        QVERIFY(OpenAdvanced());
        A<QComboBox>("fParityList")->setCurrentIndex(1);
        A<QComboBox>("fRtsControlList")->setCurrentIndex(3);
        A<QLineEdit>("XonCharEdit")->setText("65");
        QVERIFY(AdvancedOk());
        QVERIFY(Click(W<QPushButton>("cancelButton")));
        QVERIFY(SameBlock(Dlg().Settings().m_dcb, before));
        QCOMPARE(int(Dlg().Settings().m_flowControl), int(FlowControl::None));

        // Opened again, the Advanced dialog starts from the record, not the dropped edits.
        QVERIFY(OpenOn(before));
        QVERIFY(OpenAdvanced());
        QCOMPARE(A<QComboBox>("fParityList")->currentIndex(), 0);
        QCOMPARE(A<QComboBox>("fRtsControlList")->currentIndex(), 1);
        QCOMPARE(A<QLineEdit>("XonCharEdit")->text(), QString("17"));
    }

    void advancedCancelDropsItsEdits()
    {
        const DCB before = PortBlock();
        QVERIFY(OpenOn(before));
        QVERIFY(OpenAdvanced());
        A<QComboBox>("fNullList")->setCurrentIndex(1);
        QVERIFY(Click(A<QPushButton>("cancelButton")));
        QVERIFY(!Adv().isVisible());
        QVERIFY(ClickOk());
        QCOMPARE(int(Dlg().Settings().m_flowControl), int(FlowControl::Advanced));
        QVERIFY(SameBlock(Dlg().Settings().m_dcb, before));
    }

    void advancedEditsReachTheRecordOnOk()
    {
        const DCB before = PortBlock();
        QVERIFY(OpenOn(before));
        QVERIFY(OpenAdvanced());
        A<QComboBox>("fOutxCtsFlowList")->setCurrentIndex(1);
        A<QComboBox>("fDtrControlList")->setCurrentIndex(2);
        QVERIFY(AdvancedOk());
        // A second visit within the same opening starts from the first one's edits.
        QVERIFY(Click(W<QPushButton>("advancedButton")));
        QCOMPARE(A<QComboBox>("fOutxCtsFlowList")->currentIndex(), 1);
        A<QComboBox>("fInXList")->setCurrentIndex(1);
        QVERIFY(AdvancedOk());
        QVERIFY(ClickOk());

        const DCB& rec = Dlg().Settings().m_dcb;
        QCOMPARE(int(Dlg().Settings().m_flowControl), int(FlowControl::Advanced));
        QCOMPARE(rec.fOutxCtsFlow, 1u);
        QCOMPARE(rec.fDtrControl, uint32_t(DTR_CONTROL_HANDSHAKE));
        QCOMPARE(rec.fInX, 1u);
        QCOMPARE(FlagWord(rec) & 0xFFFF8000u, FlagWord(before) & 0xFFFF8000u);

        DCB engine;
        QVERIFY(ApplyFlowControlPreset(rec, Dlg().Settings().m_flowControl, engine));
        QVERIFY(SameBlock(engine, rec));
    }

    void hardwareChoiceWinsOverAdvancedFlags()
    {
        const DCB before = PortBlock();
        QVERIFY(OpenOn(before));
        QVERIFY(OpenAdvanced());
        for (const char* name : {"fParityList", "fOutXList", "fInXList", "fNullList", "fAbortOnErrorList"})
            A<QComboBox>(name)->setCurrentIndex(1);
        A<QComboBox>("fRtsControlList")->setCurrentIndex(3);
        A<QComboBox>("fDtrControlList")->setCurrentIndex(0);
        QVERIFY(AdvancedOk());
        QVERIFY(Click(W<QRadioButton>("hardwareRadio")));
        QVERIFY(ClickOk());
        QCOMPARE(int(Dlg().Settings().m_flowControl), int(FlowControl::Hardware));

        DCB engine;
        QVERIFY(ApplyFlowControlPreset(Dlg().Settings().m_dcb, Dlg().Settings().m_flowControl, engine));
        QCOMPARE(FlagWord(engine), (FlagWord(before) & 0xFFFF909Du) | 0x109Du);
        QCOMPARE(FlagWord(engine), 0xABCD0000u | 0x109Du);
    }

    void unknownFlowChoiceTouchesNoRadio()
    {
        QVERIFY(OpenOn(PortBlock()));
        QVERIFY(Click(W<QRadioButton>("xonXoffRadio")));
        QVERIFY(ClickOk());
        QCOMPARE(int(Dlg().Settings().m_flowControl), int(FlowControl::XonXoff));

        Dlg().Settings().m_flowControl = static_cast<FlowControl>(7);
        QVERIFY(OpenOn(PortBlock()));
        QVERIFY(W<QRadioButton>("xonXoffRadio")->isChecked()); // as left by the last opening
        QVERIFY(!W<QPushButton>("advancedButton")->isEnabled());
        QVERIFY(Click(W<QPushButton>("cancelButton")));
        QCOMPARE(int(Dlg().Settings().m_flowControl), 7);

        // On a fresh object no radio is checked yet, and OK then keeps the choice.
        m_dlg = std::make_unique<CPortSettingsDlg>();
        Dlg().Settings().m_flowControl = static_cast<FlowControl>(-2);
        QVERIFY(OpenOn(PortBlock()));
        for (const char* name : {"noneRadio", "hardwareRadio", "xonXoffRadio", "advancedRadio"})
            QVERIFY2(!W<QRadioButton>(name)->isChecked(), name);
        QVERIFY(ClickOk());
        QCOMPARE(int(Dlg().Settings().m_flowControl), -2);
    }

    void advancedButtonFollowsTheAdvancedRadio()
    {
        Dlg().Settings().m_flowControl = FlowControl::Advanced;
        QVERIFY(OpenOn(PortBlock()));
        QApplication::setActiveWindow(&Dlg());
        QVERIFY(QTest::qWaitForWindowActive(&Dlg()));
        auto* button = W<QPushButton>("advancedButton");
        auto* advancedRadio = W<QRadioButton>("advancedRadio");
        auto* hardwareRadio = W<QRadioButton>("hardwareRadio");
        QVERIFY(advancedRadio->isChecked());
        QVERIFY(button->isEnabled());

        // Tab from the checked radio reaches the push button while it is enabled.
        advancedRadio->setFocus(Qt::TabFocusReason);
        QCOMPARE(QApplication::focusWidget(), advancedRadio);
        QTest::keyClick(advancedRadio, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), button);

        // Another radio disables it, and Tab passes it by.
        QVERIFY(Click(hardwareRadio));
        QVERIFY(!button->isEnabled());
        advancedRadio->setFocus(Qt::TabFocusReason);
        QTest::keyClick(advancedRadio, Qt::Key_Tab);
        QVERIFY(QApplication::focusWidget() != button);
        QCOMPARE(QApplication::focusWidget(), W<QLineEdit>("charDelayEdit"));

        // An arrow key onto the Advanced radio checks it, and the button follows.
        hardwareRadio->setFocus(Qt::TabFocusReason);
        QTest::keyClick(hardwareRadio, Qt::Key_Down);
        QCOMPARE(QApplication::focusWidget(), advancedRadio);
        QVERIFY(advancedRadio->isChecked());
        QVERIFY(button->isEnabled());
        QTest::keyClick(advancedRadio, Qt::Key_Up);
        QVERIFY(hardwareRadio->isChecked());
        QVERIFY(!button->isEnabled());
        QVERIFY(Click(advancedRadio));
        QVERIFY(button->isEnabled());
        QVERIFY(Click(W<QRadioButton>("noneRadio")));
        QVERIFY(!button->isEnabled());
        QVERIFY(ClickOk());
        QCOMPARE(int(Dlg().Settings().m_flowControl), int(FlowControl::None));
    }

    void rtsAndDtrOpenOnTheirValues_data()
    {
        QTest::addColumn<int>("dtr");
        QTest::addColumn<int>("rts");
        QTest::addColumn<int>("dtrIndex");
        QTest::newRow("rts 2") << 1 << 2 << 1;
        QTest::newRow("rts 3") << 0 << 3 << 0;
        QTest::newRow("rts 0, dtr 2") << 2 << 0 << 2;
        QTest::newRow("dtr 3") << 3 << 1 << -1;
    }

    void rtsAndDtrOpenOnTheirValues()
    {
        QFETCH(int, dtr);
        QFETCH(int, rts);
        QFETCH(int, dtrIndex);
        DCB dcb = PortBlock();
        dcb.fDtrControl = static_cast<uint32_t>(dtr);
        dcb.fRtsControl = static_cast<uint32_t>(rts);
        Dlg().Settings().m_flowControl = FlowControl::Advanced;
        QVERIFY(OpenOn(dcb));
        QVERIFY(Click(W<QPushButton>("advancedButton")));
        auto* dtrList = A<QComboBox>("fDtrControlList");
        auto* rtsList = A<QComboBox>("fRtsControlList");
        QCOMPARE(dtrList->currentIndex(), dtrIndex);
        QCOMPARE(rtsList->currentIndex(), rts);
        QCOMPARE(Items(rtsList), QStringList({"RTS_CONTROL_DISABLE", "RTS_CONTROL_ENABLE", "RTS_CONTROL_HANDSHAKE",
                                              "RTS_CONTROL_TOGGLE"}));
        QCOMPARE(dtrList->count(), 3);
        QVERIFY(AdvancedOk());
        QVERIFY(ClickOk());
        QCOMPARE(int(Dlg().Settings().m_dcb.fDtrControl), dtr);
        QCOMPARE(int(Dlg().Settings().m_dcb.fRtsControl), rts);
        QVERIFY(SameBlock(Dlg().Settings().m_dcb, dcb));
    }

    void flagListsClearOnlyForFalse()
    {
        const char* const lists[] = {"fParityList", "fOutxCtsFlowList", "fOutxDsrFlowList", "fDsrSensitivityList",
                                     "fTXContinueOnXoffList", "fOutXList", "fInXList", "fErrorCharList",
                                     "fNullList", "fAbortOnErrorList"};
        Dlg().Settings().m_flowControl = FlowControl::Advanced;
        QVERIFY(OpenOn(PortBlock()));
        // FALSE everywhere, then read back.
        QVERIFY(Click(W<QPushButton>("advancedButton")));
        for (const char* name : lists) {
            QCOMPARE(Items(A<QComboBox>(name)), QStringList({"FALSE", "TRUE"}));
            A<QComboBox>(name)->setCurrentIndex(0);
        }
        QVERIFY(AdvancedOk());
        QCOMPARE(Adv().Block().fParity | Adv().Block().fOutxCtsFlow | Adv().Block().fOutxDsrFlow |
                     Adv().Block().fDsrSensitivity | Adv().Block().fTXContinueOnXoff | Adv().Block().fOutX |
                     Adv().Block().fInX | Adv().Block().fErrorChar | Adv().Block().fNull |
                     Adv().Block().fAbortOnError,
                 0u);
        // No selection counts as TRUE.
        QVERIFY(Click(W<QPushButton>("advancedButton")));
        for (const char* name : lists)
            A<QComboBox>(name)->setCurrentIndex(-1);
        QVERIFY(AdvancedOk());
        const uint32_t word = FlagWord(Adv().Block());
        // Every single-bit flag field set: bits 1,2,3,6,7,8,9,10,11,14.
        QCOMPARE(word & 0x4FCEu, 0x4FCEu);
        QCOMPARE(word & 0xFFFF8000u, 0xABCD0000u);
        QVERIFY(ClickOk());
    }

    // Characters are byte values from 0 to 255, shown as such (0x91 is 145),
    // limits 16-bit counts; an empty edit is 0.
    void numberEditsKeepTheirValue_data()
    {
        QTest::addColumn<QString>("edit");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("stored"); // unsigned field value
        QTest::addColumn<QString>("shown"); // at the next opening
        QTest::newRow("XON char 65") << "XonCharEdit" << "65" << 65 << "65";
        QTest::newRow("XOFF char 0x91") << "XoffCharEdit" << "145" << 0x91 << "145";
        QTest::newRow("error char 255") << "ErrorCharEdit" << "255" << 0xFF << "255";
        QTest::newRow("eof char blanks") << "EofCharEdit" << "  26 " << 26 << "26";
        QTest::newRow("evt char empty") << "EvtCharEdit" << "" << 0 << "0";
        QTest::newRow("XOFF limit 65535") << "XoffLimEdit" << "65535" << 65535 << "65535";
        QTest::newRow("XON limit empty") << "XonLimEdit" << "" << 0 << "0";
    }

    void numberEditsKeepTheirValue()
    {
        QFETCH(QString, edit);
        QFETCH(QString, typed);
        QFETCH(int, stored);
        QFETCH(QString, shown);
        Dlg().Settings().m_flowControl = FlowControl::Advanced;
        QVERIFY(OpenOn(PortBlock()));
        QVERIFY(Click(W<QPushButton>("advancedButton")));
        auto* e = A<QLineEdit>(edit.toLatin1().constData());
        QVERIFY(e);
        e->setText(typed);
        QVERIFY(AdvancedOk());
        QVERIFY(ClickOk());

        const DCB d = Dlg().Settings().m_dcb;
        const QMap<QString, int> fields = {
            {"XonCharEdit", uint8_t(d.XonChar)},   {"XoffCharEdit", uint8_t(d.XoffChar)},
            {"ErrorCharEdit", uint8_t(d.ErrorChar)}, {"EofCharEdit", uint8_t(d.EofChar)},
            {"EvtCharEdit", uint8_t(d.EvtChar)},   {"XonLimEdit", d.XonLim},
            {"XoffLimEdit", d.XoffLim}};
        QCOMPARE(fields.value(edit), stored);

        // Shown again as stored, and OK without changes keeps it.
        QVERIFY(OpenOn(d));
        QVERIFY(Click(W<QPushButton>("advancedButton")));
        QCOMPARE(e->text(), shown);
        QVERIFY(AdvancedOk());
        QVERIFY(ClickOk());
        QVERIFY(SameBlock(Dlg().Settings().m_dcb, d));
    }

    // A number outside its field is refused by name and range, nothing is cut
    // to fit: the Advanced dialog stays open and its block is unchanged, also
    // by the edits of the other rows.
    void numberEditsRefuseWhatDoesNotFit_data()
    {
        QTest::addColumn<QString>("edit");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("message");
        const QString chars = " must be a whole number from 0 to 255.";
        const QString limits = " must be a whole number from 0 to 65535.";
        QTest::newRow("XON char 999") << "XonCharEdit" << "999" << "XON Char (ASCII)" + chars;
        QTest::newRow("XON char abc-1") << "XonCharEdit" << "abc-1" << "XON Char (ASCII)" + chars;
        QTest::newRow("XOFF char 256") << "XoffCharEdit" << "256" << "XOFF Char (ASCII)" + chars;
        QTest::newRow("error char -1") << "ErrorCharEdit" << "-1" << "Error Replace Character (ASCII)" + chars;
        QTest::newRow("eof char text") << "EofCharEdit" << "26 end" << "End Of Data Character (ASCII)" + chars;
        QTest::newRow("XON limit 70000") << "XonLimEdit" << "70000" << "XON Limit" + limits;
        QTest::newRow("XOFF limit huge") << "XoffLimEdit" << "99999999999" << "XOFF Limit" + limits;
    }

    void numberEditsRefuseWhatDoesNotFit()
    {
        QFETCH(QString, edit);
        QFETCH(QString, typed);
        QFETCH(QString, message);
        Dlg().Settings().m_flowControl = FlowControl::Advanced;
        const DCB before = PortBlock();
        QVERIFY(OpenOn(before));
        QVERIFY(Click(W<QPushButton>("advancedButton")));
        A<QComboBox>("fParityList")->setCurrentIndex(1);
        A<QLineEdit>("EvtCharEdit")->setText("7");
        auto* e = A<QLineEdit>(edit.toLatin1().constData());
        QVERIFY(e);
        e->setText(typed);
        QVERIFY(Click(A<QPushButton>("okButton")));
        QVERIFY(Adv().isVisible());
        QCOMPARE(TakeRefusal(&Adv()), message);
        QCOMPARE(Adv().focusWidget(), e);
        QVERIFY(SameBlock(Adv().Block(), before));

        // Corrected, the row is taken with the others.
        e->setText("0");
        QVERIFY(AdvancedOk());
        QCOMPARE(Adv().Block().fParity, 1u);
        QCOMPARE(int(Adv().Block().EvtChar), 7);
        QVERIFY(ClickOk());
    }

    void limitEditsTakeDigitsOnly()
    {
        Dlg().Settings().m_flowControl = FlowControl::Advanced;
        QVERIFY(OpenOn(PortBlock()));
        QVERIFY(Click(W<QPushButton>("advancedButton")));
        auto* limit = A<QLineEdit>("XonLimEdit");
        limit->clear();
        QTest::keyClicks(limit, "-7x0");
        QCOMPARE(limit->text(), QString("70"));
        auto* character = A<QLineEdit>("XonCharEdit");
        character->clear();
        QTest::keyClicks(character, "-7");
        QCOMPARE(character->text(), QString("-7"));
    }

    void helpTextsPutEachLineValueOnItsOwnLine_data()
    {
        QTest::addColumn<int>("row");
        QTest::addColumn<QStringList>("values");
        QTest::newRow("DTR") << 3 << QStringList({"DTR_CONTROL_DISABLE", "DTR_CONTROL_ENABLE", "DTR_CONTROL_HANDSHAKE"});
        QTest::newRow("RTS") << 10 << QStringList({"RTS_CONTROL_DISABLE", "RTS_CONTROL_ENABLE", "RTS_CONTROL_HANDSHAKE",
                                                    "RTS_CONTROL_TOGGLE"});
    }

    void helpTextsPutEachLineValueOnItsOwnLine()
    {
        QFETCH(int, row);
        QFETCH(QStringList, values);
        const QString text = QString::fromLatin1(CAdvancedPortSettingsDlg::HelpText(row));
        const QStringList lines = text.split("\r\n");
        QCOMPARE(lines.size(), values.size() + 1);
        QVERIFY(!lines[0].isEmpty() && !lines[0].startsWith(' '));
        for (int i = 0; i < values.size(); ++i) {
            QVERIFY2(lines[i + 1].startsWith(' ' + values[i] + '='), qPrintable(lines[i + 1]));
            QVERIFY(lines[i + 1].size() > values[i].size() + 5);
        }
        QVERIFY(!text.endsWith("\r\n"));
        QCOMPARE(text.count('\n'), text.count("\r\n")); // no bare line feeds

        // The help button shows it in the box, one value per line.
        Dlg().Settings().m_flowControl = FlowControl::Advanced;
        QVERIFY(OpenOn(PortBlock()));
        QVERIFY(Click(W<QPushButton>("advancedButton")));
        auto* box = A<QPlainTextEdit>("helpBox");
        QVERIFY(box->isReadOnly());
        QVERIFY(box->toPlainText().isEmpty());
        const char* button = row == 3 ? "fDtrControlHelp" : "fRtsControlHelp";
        QVERIFY(Click(A<QAbstractButton>(button)));
        QCOMPARE(box->document()->blockCount(), values.size() + 1);
        QCOMPARE(box->document()->findBlockByNumber(1).text(), lines[1]);
        QCOMPARE(box->toPlainText(), QString(text).replace("\r\n", "\n"));
    }

    void everyRowHasItsOwnHelpAndNames()
    {
        Dlg().Settings().m_flowControl = FlowControl::Advanced;
        QVERIFY(OpenOn(PortBlock()));
        QVERIFY(Click(W<QPushButton>("advancedButton")));
        auto* box = A<QPlainTextEdit>("helpBox");
        const auto helpButtons = Adv().findChildren<QAbstractButton*>(QRegularExpression("Help$"));
        QCOMPARE(helpButtons.size(), CAdvancedPortSettingsDlg::kRowCount);
        QSet<QString> seen;
        for (int row = 0; row < CAdvancedPortSettingsDlg::kRowCount; ++row) {
            const QString label = QString::fromLatin1(CAdvancedPortSettingsDlg::RowLabel(row));
            QAbstractButton* help = nullptr;
            for (auto* b : helpButtons)
                if (b->accessibleName() == "Help: " + label)
                    help = b;
            QVERIFY2(help, qPrintable(label));
            QCOMPARE(help->size(), QSize(16, 16));
            QVERIFY(Click(help));
            const QString text = box->toPlainText();
            QVERIFY2(text.size() > 30, qPrintable(label));
            QCOMPARE(text, QString::fromLatin1(CAdvancedPortSettingsDlg::HelpText(row)).replace("\r\n", "\n"));
            QVERIFY2(!seen.contains(text), qPrintable(label));
            seen.insert(text);
            // The row's control carries the label as its accessible name.
            bool named = false;
            for (QWidget* w : Adv().findChildren<QWidget*>())
                if ((qobject_cast<QComboBox*>(w) || qobject_cast<QLineEdit*>(w)) && w->accessibleName() == label)
                    named = true;
            QVERIFY2(named, qPrintable(label));
        }
        QVERIFY(AdvancedOk());
        // The box starts empty at the next opening.
        QVERIFY(Click(W<QPushButton>("advancedButton")));
        QVERIFY(box->toPlainText().isEmpty());
        QVERIFY(AdvancedOk());
    }

    void helpButtonsShowTheirIcons()
    {
        Dlg().Settings().m_flowControl = FlowControl::Advanced;
        QVERIFY(OpenOn(PortBlock()));
        QVERIFY(Click(W<QPushButton>("advancedButton")));
        const QImage normal = QImage(":/icons/help.png").convertToFormat(QImage::Format_ARGB32_Premultiplied);
        const QImage pressed = QImage(":/icons/help_pressed.png").convertToFormat(QImage::Format_ARGB32_Premultiplied);
        QCOMPARE(normal.size(), QSize(16, 16));
        QCOMPARE(pressed.size(), QSize(16, 16));
        QVERIFY(normal != pressed);
        auto* help = A<QAbstractButton>("XonLimHelp");
        QVERIFY(help);
        auto render = [help] {
            QImage img(16, 16, QImage::Format_ARGB32_Premultiplied);
            img.fill(Qt::transparent);
            help->render(&img, QPoint(), QRegion(), QWidget::DrawChildren);
            return img;
        };
        QCOMPARE(render(), normal);
        help->setDown(true);
        QCOMPARE(render(), pressed);
        help->setDown(false);
        QVERIFY(AdvancedOk());
    }

    void controlsAreNamedForScreenReaders()
    {
        QVERIFY(OpenOn(PortBlock()));
        const struct {
            const char* object;
            const char* name;
        } controls[] = {{"portList", "Serial Port"}, {"baudList", "Baud Rate"}, {"dataList", "Data"},
                        {"parityList", "Parity"},    {"stopBitList", "Stop Bit"}, {"noneRadio", "None"},
                        {"hardwareRadio", "Hardware"}, {"xonXoffRadio", "Xon/XOff"}, {"advancedRadio", "Advanced"},
                        {"advancedButton", "Advanced"}, {"charDelayEdit", "Char Delay"}, {"lineDelayEdit", "Line Delay"}};
        for (const auto& c : controls) {
            QWidget* w = W<QWidget>(c.object);
            QVERIFY2(w, c.object);
            QCOMPARE(w->accessibleName(), QString(c.name));
        }
        // The radios sit together in the "Flow Control" group, the delays in theirs.
        auto* flow = qobject_cast<QGroupBox*>(W<QWidget>("noneRadio")->parentWidget());
        QVERIFY(flow);
        QCOMPARE(flow->title(), QString("Flow Control"));
        QCOMPARE(W<QWidget>("advancedButton")->parentWidget(), flow);
        auto* delays = qobject_cast<QGroupBox*>(W<QWidget>("charDelayEdit")->parentWidget());
        QVERIFY(delays);
        QCOMPARE(delays->title(), QString("Transmit Delay (msec)"));
    }

    // The Settings command runs the dialog with exec(); the Advanced dialog
    // opens inside that loop. A guard timer ends the loops if a step fails.
    void execRunsModallyWithTheAdvancedDialogInside()
    {
        Dlg().Settings().m_dcb = PortBlock();
        Dlg().Settings().m_port = 2;
        bool timedOut = false;
        bool stepsDone = false;
        QTimer guard;
        guard.setSingleShot(true);
        connect(&guard, &QTimer::timeout, this, [&] {
            timedOut = true;
            Adv().reject();
            Dlg().reject();
        });
        guard.start(10000);
        QTimer::singleShot(0, this, [&] {
            if (!Dlg().isVisible() || QApplication::activeModalWidget() != &Dlg() || !OpenAdvanced())
                return;
            if (QApplication::activeModalWidget() != &Adv())
                return;
            // A refused number puts its box over the Advanced dialog, inside both loops.
            A<QLineEdit>("XonCharEdit")->setText("999");
            if (!Click(A<QPushButton>("okButton")) || !Adv().isVisible() ||
                !qobject_cast<QMessageBox*>(QApplication::activeModalWidget()) || TakeRefusal(&Adv()).isEmpty())
                return;
            A<QLineEdit>("XonCharEdit")->setText("19");
            A<QComboBox>("fRtsControlList")->setCurrentIndex(3);
            if (!AdvancedOk())
                return;
            stepsDone = ClickOk();
        });
        const int result = Dlg().exec();
        guard.stop();
        QVERIFY(!timedOut);
        QVERIFY(stepsDone);
        QCOMPARE(result, int(QDialog::Accepted));
        QCOMPARE(int(Dlg().Settings().m_dcb.fRtsControl), int(RTS_CONTROL_TOGGLE));
        QCOMPARE(int(Dlg().Settings().m_dcb.XonChar), 19);
        QCOMPARE(int(Dlg().Settings().m_flowControl), int(FlowControl::Advanced));
        QCOMPARE(m_delayCalls.size(), size_t(1));
    }
};

QTEST_MAIN(TestPortSettingsDlg)
#include "tst_port_settings_dlg.moc"
