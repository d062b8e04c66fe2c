#include "serial/AdvancedPortSettingsDlg.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QStyle>
#include <QVBoxLayout>

#include "serial/PortSettings.h"

// Outside any namespace, as the resource initialiser requires: the icons live
// in a static library, whose resource object is only linked when referenced.
static void InitDialogIcons()
{
    static const bool done = [] {
        Q_INIT_RESOURCE(dialog_icons);
        return true;
    }();
    (void)done;
}

namespace {

enum class RowKind { Flag, Dtr, Rts, Limit, Char };

// One row of the dialog: its field, how it is shown and how it is stored.
// Get returns the value shown (list index or number); Set stores a list index
// (-1 for no selection) or the number typed, which OK has checked against
// the range 0..max.
struct CRow {
    const char* label;
    const char* field;
    RowKind kind;
    int (*get)(const DCB&);
    void (*set)(DCB&, int);
    const char* help;
    int max = 0; // edits only
};

constexpr int kLimitMax = 65535;
constexpr int kCharMax = 255;

// A FALSE/TRUE list clears its bit for index 0 and sets it for anything else,
// no selection included.
#define FLAG_ROW(label, field, help)                                                                 \
    {label, #field, RowKind::Flag, [](const DCB& d) { return int(d.field); },                        \
     [](DCB& d, int index) { d.field = index == 0 ? 0u : 1u; }, help}
// Limits are 16-bit counts, characters byte values shown from 0 to 255.
#define LIMIT_ROW(label, field, help)                                                                \
    {label, #field, RowKind::Limit, [](const DCB& d) { return int(d.field); },                       \
     [](DCB& d, int v) { d.field = static_cast<uint16_t>(v); }, help, kLimitMax}
#define CHAR_ROW(label, field, help)                                                                 \
    {label, #field, RowKind::Char, [](const DCB& d) { return int(static_cast<uint8_t>(d.field)); },  \
     [](DCB& d, int v) { d.field = static_cast<char>(static_cast<uint8_t>(v)); }, help, kCharMax}

const CRow kRows[CAdvancedPortSettingsDlg::kRowCount] = {
    FLAG_ROW("Parity Checking Enabled", fParity,
             "Says whether parity checking is enabled. When TRUE, the parity of every received byte is "
             "checked and parity errors are reported."),
    FLAG_ROW("Monitor CTS For Output Flow Control", fOutxCtsFlow,
             "Says whether the CTS (clear-to-send) signal is watched for output flow control. When TRUE "
             "and CTS goes off, output is held back until CTS comes on again."),
    FLAG_ROW("Monitor DSR For Output Flow Control", fOutxDsrFlow,
             "Says whether the DSR (data-set-ready) signal is watched for output flow control. When TRUE "
             "and DSR goes off, output is held back until DSR comes on again."),
    {"DTR Flow Control", "fDtrControl", RowKind::Dtr, [](const DCB& d) { return int(d.fDtrControl); },
     [](DCB& d, int index) {
         if (index >= 0 && index <= 2)
             d.fDtrControl = static_cast<uint32_t>(index);
     },
     "Selects the DTR (data-terminal-ready) flow control.\r\n"
     " DTR_CONTROL_DISABLE=The DTR line is turned off when the port is opened and stays off.\r\n"
     " DTR_CONTROL_ENABLE=The DTR line is turned on when the port is opened and stays on.\r\n"
     " DTR_CONTROL_HANDSHAKE=DTR handshaking is enabled."},
    FLAG_ROW("DTR Sensitivity", fDsrSensitivity,
             "Says whether the driver is sensitive to the state of the DSR signal. When TRUE, every byte "
             "received while the DSR modem input line is low is ignored."),
    FLAG_ROW("TX Continue On XOFF", fTXContinueOnXoff,
             "Says whether transmission stops when the input buffer is full and the driver has sent the "
             "XOFF character. When TRUE, transmission goes on once the input buffer is within XoffLim bytes "
             "of being full and XOFF has been sent. When FALSE, transmission waits until the input buffer "
             "is within XonLim bytes of being empty and XON has been sent."),
    FLAG_ROW("Tx XON/XOFF Enable", fOutX,
             "Says whether XON/XOFF flow control is used while sending. When TRUE, sending stops when the "
             "XOFF character is received and starts again when the XON character is received."),
    FLAG_ROW("Rx XON/XOFF Enable", fInX,
             "Says whether XON/XOFF flow control is used while receiving. When TRUE, the XOFF character is "
             "sent when the input buffer comes within XoffLim bytes of being full, and the XON character "
             "when it comes within XonLim bytes of being empty."),
    FLAG_ROW("Replace Error Byte", fErrorChar,
             "Says whether bytes received with a parity error are replaced by the Error Replace Character. "
             "The replacement happens only when this field and Parity Checking Enabled are both TRUE."),
    FLAG_ROW("Discard NULL Bytes", fNull,
             "Says whether null bytes are discarded. When TRUE, null bytes are dropped as they are received."),
    {"RTS Flow Control", "fRtsControl", RowKind::Rts, [](const DCB& d) { return int(d.fRtsControl); },
     [](DCB& d, int index) {
         if (index >= 0 && index <= 3)
             d.fRtsControl = static_cast<uint32_t>(index);
     },
     "Selects the RTS (request-to-send) flow control.\r\n"
     " RTS_CONTROL_DISABLE=The RTS line is turned off when the port is opened and stays off.\r\n"
     " RTS_CONTROL_ENABLE=The RTS line is turned on when the port is opened and stays on.\r\n"
     " RTS_CONTROL_HANDSHAKE=RTS handshaking is enabled: the driver raises RTS while its input buffer is "
     "less than half full and lowers it when the buffer is more than three-quarters full. Changing the "
     "line by hand is then an error.\r\n"
     " RTS_CONTROL_TOGGLE=RTS is high while bytes are waiting to be sent and goes low once all of them "
     "have been sent."},
    FLAG_ROW("Abort On Error", fAbortOnError,
             "Says whether reads and writes end with an error status when an error occurs. When TRUE, "
             "pending reads and writes stop with an error as soon as one happens."),
    LIMIT_ROW("XON Limit", XonLim,
              "The minimum number of bytes in the input buffer before flow control stops the sender. It "
              "should never be zero, because the sender may go on sending for a while after being told to "
              "stop. It applies when XON/XOFF, RTS or DTR input flow control is selected."),
    LIMIT_ROW("XOFF Limit", XoffLim,
              "The maximum number of bytes in the input buffer before flow control lets the sender go on, "
              "counted down from the size of the input buffer. Like the XON Limit, it applies when XON/XOFF, "
              "RTS or DTR input flow control is selected."),
    CHAR_ROW("XON Char (ASCII)", XonChar,
             "The value of the XON character, for both sending and receiving, as a decimal number."),
    CHAR_ROW("XOFF Char (ASCII)", XoffChar,
             "The value of the XOFF character, for both sending and receiving, as a decimal number."),
    CHAR_ROW("Error Replace Character (ASCII)", ErrorChar,
             "The value of the character that replaces bytes received with a parity error, as a decimal "
             "number."),
    CHAR_ROW("End Of Data Character (ASCII)", EofChar,
             "The value of the character that signals the end of data, as a decimal number."),
    CHAR_ROW("Event Character (ASCII)", EvtChar,
             "The value of the character that signals an event, as a decimal number."),
};

#undef FLAG_ROW
#undef LIMIT_ROW
#undef CHAR_ROW

const char* const kBoolLabels[] = {"FALSE", "TRUE"};
const char* const kDtrLabels[] = {"DTR_CONTROL_DISABLE", "DTR_CONTROL_ENABLE", "DTR_CONTROL_HANDSHAKE"};
const char* const kRtsLabels[] = {"RTS_CONTROL_DISABLE", "RTS_CONTROL_ENABLE", "RTS_CONTROL_HANDSHAKE",
                                  "RTS_CONTROL_TOGGLE"};

// A row label: the caption followed by a run of hyphens up to the control.
// Its text stays the bare caption, so screen readers and tests read that.
class CLeaderLabel : public QLabel {
public:
    CLeaderLabel(const QString& caption, QWidget* parent) : QLabel(caption, parent) {}

    QSize sizeHint() const override { return WithLeader(QLabel::sizeHint()); }
    QSize minimumSizeHint() const override { return WithLeader(QLabel::minimumSizeHint()); }

protected:
    void paintEvent(QPaintEvent*) override
    {
        const QFontMetrics fm(font());
        QString shown = text() + QLatin1Char(' ');
        const int dash = fm.horizontalAdvance(QLatin1Char('-'));
        const int room = contentsRect().width() - fm.horizontalAdvance(shown);
        if (dash > 0 && room > 0)
            shown += QString(room / dash, QLatin1Char('-'));
        QPainter p(this);
        style()->drawItemText(&p, contentsRect(), Qt::AlignLeft | Qt::AlignVCenter, palette(), isEnabled(),
                              shown, foregroundRole());
    }

private:
    QSize WithLeader(QSize s) const
    {
        s.rwidth() += fontMetrics().horizontalAdvance(QStringLiteral(" ----"));
        return s;
    }
};

// A 16 by 16 button that shows the help icon, and the pressed icon while held.
class CHelpButton : public QAbstractButton {
public:
    explicit CHelpButton(QWidget* parent) : QAbstractButton(parent)
    {
        InitDialogIcons();
        m_icon = QPixmap(QStringLiteral(":/icons/help.png"));
        m_pressed = QPixmap(QStringLiteral(":/icons/help_pressed.png"));
        setFixedSize(16, 16);
        setCursor(Qt::PointingHandCursor);
    }

    QSize sizeHint() const override { return {16, 16}; }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.drawPixmap(rect(), isDown() ? m_pressed : m_icon);
        if (hasFocus()) {
            p.setPen(QPen(palette().color(QPalette::Highlight), 1, Qt::DotLine));
            p.drawRect(rect().adjusted(0, 0, -1, -1));
        }
    }

private:
    QPixmap m_icon;
    QPixmap m_pressed;
};

QComboBox* MakeList(QWidget* parent, const char* const* labels, int count)
{
    auto* list = new QComboBox(parent);
    for (int i = 0; i < count; ++i)
        list->addItem(QString::fromLatin1(labels[i]));
    return list;
}

} // namespace

bool ReadNumberEdit(QDialog* dialog, QLineEdit* edit, const char* field, long long min, long long max,
                    long long& value)
{
    if (ParseFieldNumber(edit->text().toStdString(), min, max, value))
        return true;
    edit->setFocus();
    edit->selectAll();
    // Window-modal over the dialog: it stays open for the user to correct the field.
    auto* box = new QMessageBox(QMessageBox::Warning, QStringLiteral("VORLA"),
                                QString::fromStdString(FieldRangeMessage(field, min, max)), QMessageBox::Ok, dialog);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
    return false;
}

CAdvancedPortSettingsDlg::CAdvancedPortSettingsDlg(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Advanced Port Settings"));
    auto* outer = new QVBoxLayout(this);
    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(6);
    grid->setVerticalSpacing(3);
    grid->setColumnStretch(0, 1);
    outer->addLayout(grid);

    auto* digitsOnly = new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), this);
    for (int row = 0; row < kRowCount; ++row) {
        const CRow& r = kRows[row];
        const QString caption = QString::fromLatin1(r.label);
        const QString field = QString::fromLatin1(r.field);
        auto* label = new CLeaderLabel(caption, this);

        QWidget* control = nullptr;
        switch (r.kind) {
        case RowKind::Flag:
            control = MakeList(this, kBoolLabels, 2);
            break;
        case RowKind::Dtr:
            control = MakeList(this, kDtrLabels, 3);
            break;
        case RowKind::Rts:
            control = MakeList(this, kRtsLabels, 4);
            break;
        case RowKind::Limit: {
            auto* edit = new QLineEdit(this);
            edit->setValidator(digitsOnly);
            control = edit;
            break;
        }
        case RowKind::Char:
            control = new QLineEdit(this);
            break;
        }
        const bool isList = r.kind == RowKind::Flag || r.kind == RowKind::Dtr || r.kind == RowKind::Rts;
        control->setObjectName(field + (isList ? QStringLiteral("List") : QStringLiteral("Edit")));
        control->setAccessibleName(caption);
        label->setBuddy(control);
        m_controls[row] = control;

        auto* help = new CHelpButton(this);
        help->setObjectName(field + QStringLiteral("Help"));
        help->setAccessibleName(QStringLiteral("Help: ") + caption);
        help->setToolTip(QStringLiteral("Help: ") + caption);
        connect(help, &QAbstractButton::clicked, this, [this, row] { ShowHelp(row); });

        grid->addWidget(label, row, 0);
        grid->addWidget(control, row, 1);
        grid->addWidget(help, row, 2);
    }

    auto* helpGroup = new QGroupBox(QStringLiteral("Help Message"), this);
    auto* helpLayout = new QVBoxLayout(helpGroup);
    m_helpBox = new QPlainTextEdit(helpGroup);
    m_helpBox->setObjectName(QStringLiteral("helpBox"));
    m_helpBox->setAccessibleName(QStringLiteral("Help Message"));
    m_helpBox->setReadOnly(true);
    m_helpBox->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    m_helpBox->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_helpBox->setFixedHeight(m_helpBox->fontMetrics().lineSpacing() * 6 + 8);
    helpLayout->addWidget(m_helpBox);
    outer->addWidget(helpGroup);

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("okButton"));
    ok->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setObjectName(QStringLiteral("cancelButton"));
    connect(ok, &QPushButton::clicked, this, &CAdvancedPortSettingsDlg::accept);
    connect(cancel, &QPushButton::clicked, this, &CAdvancedPortSettingsDlg::reject);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    outer->addLayout(buttons);
}

void CAdvancedPortSettingsDlg::SetBlock(int port, const DCB& dcb)
{
    m_port = port;
    m_dcb = dcb;
}

const char* CAdvancedPortSettingsDlg::RowLabel(int row)
{
    return row >= 0 && row < kRowCount ? kRows[row].label : nullptr;
}

const char* CAdvancedPortSettingsDlg::HelpText(int row)
{
    return row >= 0 && row < kRowCount ? kRows[row].help : nullptr;
}

void CAdvancedPortSettingsDlg::setVisible(bool visible)
{
    if (visible && !isVisible())
        FillControls();
    QDialog::setVisible(visible);
}

void CAdvancedPortSettingsDlg::FillControls()
{
    setWindowTitle(QStringLiteral(" Advanced Port Settings (COM%1)").arg(m_port));
    for (int row = 0; row < kRowCount; ++row) {
        const CRow& r = kRows[row];
        const int value = r.get(m_dcb);
        if (auto* list = qobject_cast<QComboBox*>(m_controls[row])) {
            // A value without an entry (DTR 3) shows no selection.
            list->setCurrentIndex(value < list->count() ? value : -1);
        } else {
            static_cast<QLineEdit*>(m_controls[row])->setText(QString::number(value));
        }
    }
    m_helpBox->clear();
}

void CAdvancedPortSettingsDlg::accept()
{
    // Every number is checked before anything is stored: a refused one
    // leaves the block as it was and the dialog open.
    long long numbers[kRowCount] = {};
    for (int row = 0; row < kRowCount; ++row) {
        auto* edit = qobject_cast<QLineEdit*>(m_controls[row]);
        if (edit && !ReadNumberEdit(this, edit, kRows[row].label, 0, kRows[row].max, numbers[row]))
            return;
    }
    for (int row = 0; row < kRowCount; ++row) {
        const CRow& r = kRows[row];
        if (auto* list = qobject_cast<QComboBox*>(m_controls[row]))
            r.set(m_dcb, list->currentIndex());
        else
            r.set(m_dcb, static_cast<int>(numbers[row]));
    }
    QDialog::accept();
}

void CAdvancedPortSettingsDlg::ShowHelp(int row)
{
    // QPlainTextEdit takes "\r\n" as one line break.
    m_helpBox->setPlainText(QString::fromLatin1(kRows[row].help));
}
