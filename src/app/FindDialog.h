#pragma once

#include <QDialog>

class QCheckBox;
class QLineEdit;
class QRadioButton;

// The modeless Find dialog: find what, match case, whole word, direction.
// Each Find Next asks the main window to search with the current choices.
class CFindDialog : public QDialog {
    Q_OBJECT
public:
    explicit CFindDialog(QWidget* parent = nullptr);

    QString FindWhat() const;
    bool MatchCase() const;
    bool WholeWord() const;
    bool Down() const;
    void SetFindWhat(const QString& text);

signals:
    void findNext();

private:
    QLineEdit* m_findWhat;
    QCheckBox* m_matchCase;
    QCheckBox* m_wholeWord;
    QRadioButton* m_up;
    QRadioButton* m_down;
};
