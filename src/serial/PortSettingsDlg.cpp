#include "serial/PortSettingsDlg.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

namespace {

// Fills a list from its labels, appends "UNDEF" when the value has no entry
// (index -1) and selects the value's entry.
void FillList(QComboBox* list, const char* const* labels, int count, int index)
{
    list->clear();
    for (int i = 0; i < count; ++i)
        list->addItem(QString::fromLatin1(labels[i]));
    if (index < 0) {
        list->addItem(QString::fromLatin1(kUndefLabel));
        index = count;
    }
    list->setCurrentIndex(index);
}

// The most a six-digit delay edit holds; well inside the engine's int milliseconds.
constexpr long long kMaxDelayMs = 999999;

} // namespace

CPortSettingsDlg::CPortSettingsDlg(QWidget* parent) : CPortSettingsDlg(TransmitDelaysHandler{}, parent) {}

CPortSettingsDlg::CPortSettingsDlg(TransmitDelaysHandler setTransmitDelays, QWidget* parent)
    : QDialog(parent), m_setTransmitDelays(std::move(setTransmitDelays))
{
    setWindowTitle(QStringLiteral("Port Settings"));
    auto* outer = new QVBoxLayout(this);

    // Lists in the order of the tab chain: port, baud, data, parity, stop bits.
    auto* grid = new QGridLayout;
    outer->addLayout(grid);
    auto addList = [&](const char* caption, const char* name) {
        const int row = grid->rowCount();
        auto* label = new QLabel(QString::fromLatin1(caption), this);
        auto* list = new QComboBox(this);
        list->setObjectName(QString::fromLatin1(name));
        list->setAccessibleName(QString::fromLatin1(caption).remove(QStringLiteral(" :")));
        label->setBuddy(list);
        grid->addWidget(label, row, 0);
        grid->addWidget(list, row, 1);
        return list;
    };
    m_portList = addList("Serial Port :", "portList");
    m_portList->setEnabled(false); // shows the port; the command bar chooses it
    m_baudList = addList("Baud Rate :", "baudList");
    // A rate of the list, or any other typed as a number.
    m_baudList->setEditable(true);
    m_baudList->setInsertPolicy(QComboBox::NoInsert);
    m_baudList->lineEdit()->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,9}")), m_baudList));
    m_dataList = addList("Data :", "dataList");
    m_parityList = addList("Parity :", "parityList");
    m_stopBitList = addList("Stop Bit :", "stopBitList");
    grid->setColumnStretch(1, 1);

    auto* flowGroup = new QGroupBox(QStringLiteral("Flow Control"), this);
    auto* flowLayout = new QGridLayout(flowGroup);
    const char* const radioNames[kFlowControlCount] = {"noneRadio", "hardwareRadio", "xonXoffRadio",
                                                       "advancedRadio"};
    for (int i = 0; i < kFlowControlCount; ++i) {
        auto* radio = new QRadioButton(QString::fromLatin1(kFlowControlLabels[i]), flowGroup);
        radio->setObjectName(QString::fromLatin1(radioNames[i]));
        radio->setAccessibleName(radio->text());
        flowLayout->addWidget(radio, i / 2, i % 2);
        m_flowRadios[i] = radio;
    }
    m_advancedButton = new QPushButton(QStringLiteral("Advanced"), flowGroup);
    m_advancedButton->setObjectName(QStringLiteral("advancedButton"));
    m_advancedButton->setAccessibleName(QStringLiteral("Advanced"));
    m_advancedButton->setAccessibleDescription(QStringLiteral("Opens the Advanced Port Settings"));
    m_advancedButton->setAutoDefault(false);
    m_advancedButton->setEnabled(false);
    flowLayout->addWidget(m_advancedButton, 1, 2);
    outer->addWidget(flowGroup);
    // Only the Advanced choice uses the Advanced dialog's flags.
    connect(m_flowRadios[int(FlowControl::Advanced)], &QRadioButton::toggled, m_advancedButton,
            &QPushButton::setEnabled);
    connect(m_advancedButton, &QPushButton::clicked, this, &CPortSettingsDlg::OnAdvanced);

    auto* delayGroup = new QGroupBox(QStringLiteral("Transmit Delay (msec)"), this);
    auto* delayLayout = new QGridLayout(delayGroup);
    auto* digitsOnly = new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), this);
    auto addDelay = [&](const char* caption, const char* name, int column) {
        auto* label = new QLabel(QString::fromLatin1(caption), delayGroup);
        auto* edit = new QLineEdit(delayGroup);
        edit->setObjectName(QString::fromLatin1(name));
        edit->setAccessibleName(QString::fromLatin1(caption));
        edit->setMaxLength(6);
        edit->setValidator(digitsOnly);
        edit->setAlignment(Qt::AlignCenter);
        label->setBuddy(edit);
        delayLayout->addWidget(label, 0, column);
        delayLayout->addWidget(edit, 0, column + 1);
        return edit;
    };
    m_charDelayEdit = addDelay("Char Delay", "charDelayEdit", 0);
    m_lineDelayEdit = addDelay("Line Delay", "lineDelayEdit", 2);
    outer->addWidget(delayGroup);

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("okButton"));
    ok->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setObjectName(QStringLiteral("cancelButton"));
    cancel->setAutoDefault(false);
    connect(ok, &QPushButton::clicked, this, &CPortSettingsDlg::accept);
    connect(cancel, &QPushButton::clicked, this, &CPortSettingsDlg::reject);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    outer->addLayout(buttons);

    // Created after every control of this dialog, so it is not in their tab chain.
    m_advancedDlg = new CAdvancedPortSettingsDlg(this);
    connect(m_advancedDlg, &QDialog::finished, this, &CPortSettingsDlg::OnAdvancedFinished);
}

void CPortSettingsDlg::SetTransmitDelaysHandler(TransmitDelaysHandler setTransmitDelays)
{
    m_setTransmitDelays = std::move(setTransmitDelays);
}

void CPortSettingsDlg::setVisible(bool visible)
{
    if (visible && !isVisible())
        FillControls();
    if (!visible && m_advancedDlg->isVisible())
        m_advancedDlg->reject();
    QDialog::setVisible(visible);
}

void CPortSettingsDlg::FillControls()
{
    const DCB& dcb = m_settings.m_dcb;
    m_pendingDcb = dcb;
    setWindowTitle(QStringLiteral(" Port Settings (COM%1)").arg(m_settings.m_port));

    // Negative port numbers have no entry either: they show "UNDEF" like those above 8.
    FillList(m_portList, kPortLabels, kPortCount, PortIndex(m_settings.m_port));
    // A rate off the list shows as its number.
    m_baudList->clear();
    for (const char* label : kBaudLabels)
        m_baudList->addItem(QString::fromLatin1(label));
    m_baudList->setCurrentIndex(BaudIndex(dcb.BaudRate));
    m_openedBaudText = QString::number(dcb.BaudRate);
    m_baudList->setEditText(m_openedBaudText);
    FillList(m_dataList, kDataLabels, kDataCount, DataIndex(dcb.ByteSize));
    FillList(m_parityList, kParityLabels, kParityCount, ParityIndex(dcb.Parity));
    FillList(m_stopBitList, kStopBitLabels, kStopBitCount, StopBitIndex(dcb.StopBits));

    // A choice outside the four touches neither the radios nor the push button.
    const int choice = static_cast<int>(m_settings.m_flowControl);
    if (choice >= 0 && choice < kFlowControlCount) {
        m_flowRadios[choice]->setChecked(true);
        m_advancedButton->setEnabled(m_settings.m_flowControl == FlowControl::Advanced);
    }

    m_charDelayEdit->setText(QString::number(m_settings.m_charDelay));
    m_lineDelayEdit->setText(QString::number(m_settings.m_lineDelay));
}

void CPortSettingsDlg::OnAdvanced()
{
    m_advancedDlg->SetBlock(m_settings.m_port, m_pendingDcb);
    // Modal over this dialog; the result arrives in OnAdvancedFinished.
    m_advancedDlg->open();
}

void CPortSettingsDlg::OnAdvancedFinished(int result)
{
    if (result == QDialog::Accepted)
        m_pendingDcb = m_advancedDlg->Block();
}

void CPortSettingsDlg::accept()
{
    // The delays are checked first: a refused one changes nothing and keeps
    // the dialog open.
    long long charDelay = 0, lineDelay = 0;
    if (!ReadNumberEdit(this, m_charDelayEdit, "Char Delay", 0, kMaxDelayMs, charDelay) ||
        !ReadNumberEdit(this, m_lineDelayEdit, "Line Delay", 0, kMaxDelayMs, lineDelay))
        return;
    // The rate as the opening showed it is kept as it was (even one no
    // device takes); a rate chosen or typed must be a whole number in range.
    long long baud = m_pendingDcb.BaudRate;
    if (m_baudList->currentText() != m_openedBaudText &&
        !ReadNumberEdit(this, m_baudList->lineEdit(), "Baud Rate", kMinCustomBaudRate, kMaxCustomBaudRate, baud))
        return;

    // Flow control: the checked radio, tested from Advanced down to None; with
    // none checked the choice stays.
    for (int i = kFlowControlCount - 1; i >= 0; --i) {
        if (m_flowRadios[i]->isChecked()) {
            m_settings.m_flowControl = static_cast<FlowControl>(i);
            break;
        }
    }

    m_settings.m_charDelay = static_cast<int>(charDelay);
    m_settings.m_lineDelay = static_cast<int>(lineDelay);
    // The engine uses the new delays from its next byte, whatever else is applied.
    if (m_setTransmitDelays)
        m_setTransmitDelays(m_settings.m_charDelay, m_settings.m_lineDelay);

    DCB& dcb = m_settings.m_dcb;
    dcb = m_pendingDcb;
    dcb.BaudRate = static_cast<uint32_t>(baud);
    // Only listed entries are written; "UNDEF" keeps the field as it was.
    const int data = m_dataList->currentIndex();
    if (data >= 0 && data < kDataCount)
        dcb.ByteSize = kByteSizes[data];
    const int parity = m_parityList->currentIndex();
    if (parity >= 0 && parity < kParityCount)
        dcb.Parity = static_cast<uint8_t>(parity);
    const int stopBits = m_stopBitList->currentIndex();
    if (stopBits >= 0 && stopBits < kStopBitCount)
        dcb.StopBits = static_cast<uint8_t>(stopBits);

    QDialog::accept();
}
