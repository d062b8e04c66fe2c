#include "widgets/AboutBox.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "core/Version.h"
#include "widgets/Icons.h"

CAboutBox::CAboutBox(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("About %1").arg(kAppName));
    auto* icon = new QLabel;
    icon->setPixmap(MakeIcon(VorlaIcon::App, 32).pixmap(32, 32));
    icon->setAccessibleName("VORLA icon");
    auto* text = new QLabel(QStringLiteral("%1 Version %2").arg(kAppName, kVorlaVersion));
    text->setObjectName("aboutText");
    auto* row = new QHBoxLayout;
    row->addWidget(icon);
    row->addSpacing(12);
    row->addWidget(text, 1);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(row);
    layout->addWidget(buttons);
    setFixedSize(sizeHint());
}
