#pragma once

#include <QWidget>

#include <string>

#include "app/Converter.h"

class QAbstractButton;
class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QRadioButton;
class QToolButton;

// The strip of controls under the menu: port list, Connect, DisConnect,
// Settings, Run Script, Fonts, Prompt, the Wrap / Local Echo / CR+LF switches
// and the number converter. It handles the converter itself; the switches and
// every other command go to the main window as signals.
class CCommandBar : public QWidget {
    Q_OBJECT
public:
    explicit CCommandBar(QWidget* parent = nullptr);

    QComboBox* m_cbPort;
    QToolButton* m_btnConnect;
    QToolButton* m_btnDisconnect;
    QToolButton* m_btnPrompt;
    QToolButton* m_btnSettings;
    QToolButton* m_btnRunScript;
    QToolButton* m_btnFonts;
    std::string m_strConverter = "0";
    QLineEdit* m_editConverter;
    QRadioButton* m_rbHex;
    QRadioButton* m_rbDec;
    QRadioButton* m_rbOct;
    QRadioButton* m_rbBin;
    QCheckBox* m_chkWrap;
    QCheckBox* m_chkLocalEcho;
    QCheckBox* m_chkCrLf;
    QToolButton* m_btnAbout;

    // What COMn (1..8) leads to: `text` in words for the opened list (the
    // closed list shows the name only), `toolTip` where the name comes
    // from; an absent device's entry is greyed.
    void SetPortEntry(int n, const QString& text, const QString& toolTip, bool present);

    // The Prompt button's icon: console shown or hidden.
    void SetConsoleHiddenIcon(bool hidden);
    const CConverter& Converter() const { return m_converter; }

signals:
    // A command for the main window (Connect, DisConnect, Settings, Run Script, Prompt, Fonts, About).
    void commandIssued(int id);
    // The switches, whenever their state changes (click, Space, an accessibility tool's Toggle).
    void wrapChanged(bool on);
    void localEchoChanged(bool on);
    void sendCrLfChanged(bool on);
    // A message for the user: a refused conversion.
    void messageForUser(const std::string& text);

private:
    void OnConvert(Radix newBase);
    QRadioButton* RadioFor(Radix radix) const;
    void Place(QWidget* widget, int left, int top, int width, int height);
    QToolButton* MakeLargeButton(int id, const QString& caption, const QIcon& icon);

    CConverter m_converter;
    bool m_convertedSincePress = false; // a radio's selection converted during the click now under way
    int m_unitX = 2; // pixels per horizontal dialog unit, times 4 (kept exact below)
    int m_unitY = 2;
    int m_avgCharWidth = 6;
    int m_charHeight = 13;
};
