#pragma once

#include <QDialog>
#include <QString>
#include <functional>

#include "serial/AdvancedPortSettingsDlg.h"
#include "serial/PortSettings.h"

class QComboBox;
class QLineEdit;
class QPushButton;
class QRadioButton;

// The modal dialog of the Settings command: port (shown only), baud rate,
// data size, parity, stop bits, flow-control choice and transmit delays, with
// the Advanced dialog for the rest of the control block. One object lives as
// long as the main window and holds the settings record, so choices persist
// between openings. UI thread only.
//
// Each opening fills the controls from Settings(). OK (accept) writes the
// record, then hands the new delays to the delays handler; Cancel (reject)
// writes nothing, not even the Advanced dialog's edits of this opening. A
// delay that is not a whole number of milliseconds from 0 to 999999 is
// refused with a message, and OK then writes nothing either; so is a baud
// rate typed into the (editable) baud list that is no whole number from
// kMinCustomBaudRate to kMaxCustomBaudRate.
class CPortSettingsDlg : public QDialog {
    Q_OBJECT
public:
    // Receives CharDelay and LineDelay on OK, e.g. CSerialPort::SetTransmitDelays.
    using TransmitDelaysHandler = std::function<void(int charDelay, int lineDelay)>;

    explicit CPortSettingsDlg(QWidget* parent = nullptr);
    explicit CPortSettingsDlg(TransmitDelaysHandler setTransmitDelays, QWidget* parent = nullptr);

    void SetTransmitDelaysHandler(TransmitDelaysHandler setTransmitDelays);

    CPortSettings& Settings() { return m_settings; }
    const CPortSettings& Settings() const { return m_settings; }
    CAdvancedPortSettingsDlg& AdvancedDlg() { return *m_advancedDlg; }

    void setVisible(bool visible) override; // fills the controls at each opening
    void accept() override;                 // writes the record and the delays

private:
    void FillControls();
    void OnAdvanced();
    void OnAdvancedFinished(int result);

    CPortSettings m_settings;
    DCB m_pendingDcb;                 // m_dcb plus this opening's Advanced edits, stored on OK
    TransmitDelaysHandler m_setTransmitDelays;
    CAdvancedPortSettingsDlg* m_advancedDlg = nullptr; // child dialog, lives as long as this one

    QComboBox* m_portList = nullptr;
    QComboBox* m_baudList = nullptr;
    QComboBox* m_dataList = nullptr;
    QComboBox* m_parityList = nullptr;
    QComboBox* m_stopBitList = nullptr;
    QRadioButton* m_flowRadios[kFlowControlCount] = {}; // indexed by FlowControl
    QPushButton* m_advancedButton = nullptr;
    QLineEdit* m_charDelayEdit = nullptr;
    QLineEdit* m_lineDelayEdit = nullptr;
    QString m_openedBaudText; // the rate as this opening showed it
};
