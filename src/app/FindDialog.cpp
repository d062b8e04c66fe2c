#include "app/FindDialog.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

CFindDialog::CFindDialog(QWidget* parent) : QDialog(parent)
{
    setWindowTitle("Find");
    setModal(false);
    m_findWhat = new QLineEdit;
    m_findWhat->setObjectName("findWhat");
    m_findWhat->setAccessibleName("Find what");
    m_matchCase = new QCheckBox("Match &case");
    m_matchCase->setObjectName("matchCase");
    m_wholeWord = new QCheckBox("Match &whole word only");
    m_wholeWord->setObjectName("wholeWord");
    m_up = new QRadioButton("&Up");
    m_down = new QRadioButton("&Down");
    m_down->setChecked(true);
    auto* direction = new QGroupBox("Direction");
    auto* directionLayout = new QHBoxLayout(direction);
    directionLayout->addWidget(m_up);
    directionLayout->addWidget(m_down);
    auto* findNextButton = new QPushButton("&Find Next");
    findNextButton->setObjectName("findNextButton");
    findNextButton->setDefault(true);
    auto* cancel = new QPushButton("Cancel");
    connect(findNextButton, &QPushButton::clicked, this, &CFindDialog::findNext);
    connect(cancel, &QPushButton::clicked, this, &QDialog::hide);
    connect(m_findWhat, &QLineEdit::textChanged, this,
            [findNextButton](const QString& text) { findNextButton->setEnabled(!text.isEmpty()); });
    findNextButton->setEnabled(false);

    auto* grid = new QGridLayout(this);
    auto* findWhatLabel = new QLabel("Fi&nd what:");
    findWhatLabel->setBuddy(m_findWhat); // Alt+N goes to the field, and the & shows as an underline
    grid->addWidget(findWhatLabel, 0, 0);
    grid->addWidget(m_findWhat, 0, 1);
    grid->addWidget(findNextButton, 0, 2);
    grid->addWidget(m_matchCase, 1, 0, 1, 2);
    grid->addWidget(cancel, 1, 2);
    grid->addWidget(m_wholeWord, 2, 0, 1, 2);
    grid->addWidget(direction, 3, 0, 1, 2);
}

QString CFindDialog::FindWhat() const { return m_findWhat->text(); }
bool CFindDialog::MatchCase() const { return m_matchCase->isChecked(); }
bool CFindDialog::WholeWord() const { return m_wholeWord->isChecked(); }
bool CFindDialog::Down() const { return m_down->isChecked(); }
void CFindDialog::SetFindWhat(const QString& text) { m_findWhat->setText(text); }
