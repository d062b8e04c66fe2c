#pragma once

#include <QDialog>

#include "serial/Dcb.h"

class QLineEdit;
class QPlainTextEdit;
class QWidget;

// Reads a number edit of the settings dialogs. A text that is not a whole
// number from min to max is refused: a box over `dialog` names the field and
// the range, the edit gets the focus with its text selected, and the result
// is false so that the dialog stays open.
bool ReadNumberEdit(QDialog* dialog, QLineEdit* edit, const char* field, long long min, long long max,
                    long long& value);

// The dialog behind the "Advanced" push button of the Port Settings dialog:
// edits the twelve flag fields from fParity to fAbortOnError, the two XON/XOFF
// limits and the five special characters of its own copy of the control block,
// with a help button per row that explains the field. OK refuses a number
// outside its field's range and stores nothing. UI thread only.
class CAdvancedPortSettingsDlg : public QDialog {
    Q_OBJECT
public:
    static constexpr int kRowCount = 19;

    explicit CAdvancedPortSettingsDlg(QWidget* parent = nullptr);

    // The port (shown in the title) and the block to edit; set before opening.
    void SetBlock(int port, const DCB& dcb);
    int Port() const { return m_port; }
    // The edited block: after OK it holds the choices; Cancel leaves it as set.
    const DCB& Block() const { return m_dcb; }

    // Label and help text of row 0..18 (nullptr outside). The DTR and RTS
    // texts put each value on a line of its own, separated by "\r\n".
    static const char* RowLabel(int row);
    static const char* HelpText(int row);

    void setVisible(bool visible) override; // fills the controls at each opening
    void accept() override;                 // stores the controls into the block

private:
    void FillControls();
    void ShowHelp(int row);

    int m_port = 0;
    DCB m_dcb;
    QWidget* m_controls[kRowCount] = {};  // a QComboBox for rows 0..11, a QLineEdit for 12..18
    QPlainTextEdit* m_helpBox = nullptr;
};
