#include "app/CommandBar.h"

#include <algorithm>

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QAbstractItemView>
#include <QRadioButton>
#include <QStyledItemDelegate>
#include <QToolButton>
#include <QValidator>

#include "app/CommandIds.h"
#include "widgets/Icons.h"

namespace {

// Makes every letter typed or set into the converter field upper case.
class CUpperCaseValidator : public QValidator {
public:
    using QValidator::QValidator;
    State validate(QString& input, int&) const override
    {
        input = input.toUpper();
        return Acceptable;
    }
};

// The port list's entries in words, under the plain name that the closed
// list shows.
constexpr int kPortTextRole = Qt::UserRole + 1;

// Draws the opened port list's entries with their words.
class CPortEntryDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        const QString text = index.data(kPortTextRole).toString();
        if (!text.isEmpty())
            option->text = text;
    }
};

constexpr int kBarHeightDlu = 40;
constexpr int kBarMarginDlu = 7; // left of the port list, and right of the About button

} // namespace

CCommandBar::CCommandBar(QWidget* parent) : QWidget(parent)
{
    setObjectName("commandBar");
    // Dialog units follow the font: a horizontal unit is a quarter of the
    // average character width, a vertical unit an eighth of the height.
    const QFontMetrics metrics(font());
    m_avgCharWidth = (metrics.horizontalAdvance("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz") / 26 + 1) / 2;
    m_charHeight = metrics.height();
    setFixedHeight(kBarHeightDlu * m_charHeight / 8);

    // Template order, which is also the Tab order.
    m_btnConnect = MakeLargeButton(ID_CONNECT, "Connect", MakeIcon(VorlaIcon::Connect, 32));
    Place(m_btnConnect, 64, 2, 43, 36);

    m_cbPort = new QComboBox(this);
    m_cbPort->setObjectName("portList");
    m_cbPort->setAccessibleName("Port");
    for (int n = 1; n <= 8; ++n)
        m_cbPort->addItem(QStringLiteral("COM%1").arg(n));
    m_cbPort->setCurrentIndex(0);
    m_cbPort->setMaxVisibleItems(8);
    m_cbPort->setItemDelegate(new CPortEntryDelegate(m_cbPort));
    Place(m_cbPort, 7, 13, 53, 12);

    m_btnDisconnect = MakeLargeButton(ID_DISCONNECT, "DisConnect", MakeIcon(VorlaIcon::Disconnect, 32));
    Place(m_btnDisconnect, 108, 2, 43, 36);
    m_btnSettings = MakeLargeButton(ID_SETTINGS, "Settings", MakeIcon(VorlaIcon::Settings, 32));
    Place(m_btnSettings, 152, 2, 43, 36);
    m_btnRunScript = MakeLargeButton(ID_RUN_SCRIPT, "Run Script", MakeIcon(VorlaIcon::RunScript, 32));
    Place(m_btnRunScript, 196, 2, 43, 36);
    m_btnPrompt = MakeLargeButton(ID_PROMPT, "Prompt", MakeIcon(VorlaIcon::ConsoleShown, 32));
    Place(m_btnPrompt, 284, 2, 43, 36);
    m_btnFonts = MakeLargeButton(ID_FONTS, "Fonts", MakeIcon(VorlaIcon::Fonts, 32));
    Place(m_btnFonts, 240, 2, 43, 36);

    auto makeRadio = [this](const char* caption, int left, int width, Radix radix) {
        auto* radio = new QRadioButton(caption, this);
        radio->setObjectName(QStringLiteral("radio%1").arg(caption));
        radio->setAccessibleName(caption);
        radio->setFocusPolicy(Qt::ClickFocus); // Tab never lands on a radio button
        Place(radio, left, 28, width, 10);
        // A button that becomes selected converts, however that comes (click,
        // arrow key, accessibility action); a click on the button already
        // selected converts too. A click that selects converts only once.
        connect(radio, &QRadioButton::pressed, this, [this] { m_convertedSincePress = false; });
        connect(radio, &QRadioButton::toggled, this, [this, radix](bool checked) {
            if (!checked || m_converter.CurrentBase() == radix)
                return;
            m_convertedSincePress = true;
            OnConvert(radix);
        });
        connect(radio, &QRadioButton::clicked, this, [this, radix] {
            if (!m_convertedSincePress)
                OnConvert(radix);
            m_convertedSincePress = false;
        });
        return radio;
    };
    // The switches and the converter sit close to the buttons, and the field
    // is narrower than the dialog template's, so that the bar fits a
    // window 1024 pixels wide.
    m_rbHex = makeRadio("Hex", 396, 29, kRadixHex);
    m_rbDec = makeRadio("Dec", 432, 29, kRadixDec);
    m_rbOct = makeRadio("Oct", 468, 27, kRadixOct);
    m_rbBin = makeRadio("Bin", 504, 26, kRadixBin);
    auto* radios = new QButtonGroup(this);
    for (QRadioButton* radio : {m_rbHex, m_rbDec, m_rbOct, m_rbBin})
        radios->addButton(radio);
    radios->setExclusive(true);

    m_editConverter = new QLineEdit(this);
    m_editConverter->setObjectName("converter");
    m_editConverter->setAccessibleName("Data Converter");
    m_editConverter->setAlignment(Qt::AlignRight);
    m_editConverter->setValidator(new CUpperCaseValidator(m_editConverter));
    Place(m_editConverter, 392, 12, 150, 14);

    auto makeCheck = [this](const char* caption, int top, int width) {
        auto* box = new QCheckBox(caption, this);
        box->setObjectName(QStringLiteral("check%1").arg(QString(caption).remove(' ').remove('+')));
        box->setAccessibleName(caption);
        Place(box, 334, top, width, 10);
        return box;
    };
    m_chkWrap = makeCheck("Wrap", 3, 33);
    m_chkLocalEcho = makeCheck("Local Echo", 16, 52);
    m_chkCrLf = makeCheck("CR+LF", 29, 38);
    // Options follow the box's state, however it changes (click, Space, an
    // accessibility tool's Toggle).
    connect(m_chkWrap, &QCheckBox::toggled, this, &CCommandBar::wrapChanged);
    connect(m_chkLocalEcho, &QCheckBox::toggled, this, &CCommandBar::localEchoChanged);
    connect(m_chkCrLf, &QCheckBox::toggled, this, &CCommandBar::sendCrLfChanged);

    auto* label = new QLabel("Data Converter", this);
    Place(label, 392, 1, 49, 8);
    label->adjustSize(); // the template's width is too narrow for some fonts

    m_btnAbout = new QToolButton(this);
    m_btnAbout->setObjectName("aboutButton");
    m_btnAbout->setAccessibleName("About");
    m_btnAbout->setToolTip("About");
    m_btnAbout->setIcon(MakeIcon(VorlaIcon::About, 16));
    m_btnAbout->setIconSize(QSize(16, 16));
    m_btnAbout->setFocusPolicy(Qt::TabFocus);
    Place(m_btnAbout, 546, 12, 14, 14);
    connect(m_btnAbout, &QToolButton::clicked, this, [this] { emit commandIssued(ID_ABOUT_BUTTON); });

    QWidget* order[] = {m_btnConnect, m_cbPort, m_btnDisconnect, m_btnSettings, m_btnRunScript, m_btnPrompt,
                        m_btnFonts, m_editConverter, m_chkWrap, m_chkLocalEcho, m_chkCrLf, m_btnAbout};
    for (size_t i = 0; i + 1 < std::size(order); ++i)
        setTabOrder(order[i], order[i + 1]);
    setMinimumWidth(childrenRect().right() + 1 + kBarMarginDlu * m_avgCharWidth / 4);

    // Start state.
    m_rbDec->setChecked(true);
    m_strConverter = "0";
    m_editConverter->setText("0");
    m_chkWrap->setChecked(true);
}

QToolButton* CCommandBar::MakeLargeButton(int id, const QString& caption, const QIcon& icon)
{
    auto* button = new QToolButton(this);
    button->setObjectName(QString(caption).remove(' ').toLower() + "Button");
    button->setText(caption);
    button->setAccessibleName(caption);
    button->setIcon(icon);
    button->setIconSize(QSize(32, 32));
    button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    // Tab reaches the buttons, a click does not keep the focus: after
    // Connect the user types on in the pane they were typing in.
    button->setFocusPolicy(Qt::TabFocus);
    connect(button, &QToolButton::clicked, this, [this, id] { emit commandIssued(id); });
    return button;
}

void CCommandBar::Place(QWidget* widget, int left, int top, int width, int height)
{
    const int x = left * m_avgCharWidth / 4;
    const int y = top * m_charHeight / 8;
    const int w = width * m_avgCharWidth / 4;
    int h = height * m_charHeight / 8;
    widget->setGeometry(x, y, w, h);
}

void CCommandBar::SetPortEntry(int n, const QString& text, const QString& toolTip, bool present)
{
    const int index = n - 1;
    if (index < 0 || index >= m_cbPort->count())
        return;
    m_cbPort->setItemData(index, text, kPortTextRole);
    m_cbPort->setItemData(index, text, Qt::AccessibleTextRole);
    m_cbPort->setItemData(index, toolTip, Qt::ToolTipRole);
    m_cbPort->setItemData(index, present ? QVariant() : QVariant(palette().brush(QPalette::Disabled, QPalette::Text)),
                          Qt::ForegroundRole);
    // The opened list is as wide as its longest entry, whatever the width
    // of the closed one.
    int widest = 0;
    const QFontMetrics metrics(m_cbPort->view()->font());
    for (int i = 0; i < m_cbPort->count(); ++i)
        widest = std::max(widest, metrics.horizontalAdvance(m_cbPort->itemData(i, kPortTextRole).toString()));
    m_cbPort->view()->setMinimumWidth(widest + 4 * metrics.averageCharWidth());
}

void CCommandBar::SetConsoleHiddenIcon(bool hidden)
{
    m_btnPrompt->setIcon(MakeIcon(hidden ? VorlaIcon::ConsoleHidden : VorlaIcon::ConsoleShown, 32));
}

QRadioButton* CCommandBar::RadioFor(Radix radix) const
{
    switch (radix) {
    case kRadixHex: return m_rbHex;
    case kRadixOct: return m_rbOct;
    case kRadixBin: return m_rbBin;
    case kRadixDec: break;
    }
    return m_rbDec;
}

void CCommandBar::OnConvert(Radix newBase)
{
    std::string shown;
    std::string error;
    if (!m_converter.Convert(m_editConverter->text().toUtf8().toStdString(), newBase, shown, error)) {
        // Refused: the field keeps its text and the base stays selected.
        RadioFor(m_converter.CurrentBase())->setChecked(true);
        emit messageForUser(error);
        return;
    }
    m_strConverter = shown;
    m_editConverter->setText(QString::fromStdString(m_strConverter).toUpper());
}
