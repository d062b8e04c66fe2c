#include "app/GuiPrompt.h"

#include <QApplication>
#include <QMessageBox>

#include "widgets/UiBridge.h"
#include "core/Version.h"

CGuiPrompt::CGuiPrompt(CUiBridge& bridge, std::function<QWidget*()> parent)
    : m_bridge(bridge), m_parent(std::move(parent))
{
}

void CGuiPrompt::ShowMessage(const std::string& text, const CCancelSignal* abandon)
{
    const QString message = QString::fromStdString(text);
    m_bridge.Call(
        [&] {
            if (m_answer) {
                m_answer(message, false);
                return;
            }
            QMessageBox::information(m_parent(), kAppName, message, QMessageBox::Ok);
        },
        abandon);
}

bool CGuiPrompt::AskYesNo(const std::string& text, const CCancelSignal* abandon)
{
    const QString message = QString::fromStdString(text);
    bool yes = false;
    m_bridge.Call(
        [&] {
            if (m_answer) {
                yes = m_answer(message, true);
                return;
            }
            yes = QMessageBox::question(m_parent(), kAppName, message, QMessageBox::Yes | QMessageBox::No,
                                        QMessageBox::No) == QMessageBox::Yes;
        },
        abandon);
    return yes;
}

void CGuiPrompt::RequestQuit()
{
    // Queued, so that a worker asking for it never waits on the UI thread.
    QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
}
