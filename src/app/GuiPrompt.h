#pragma once

#include <QString>

#include <functional>

#include "core/IUserPrompt.h"

class CUiBridge;
class QWidget;

// Message boxes titled "VORLA", shown on the UI thread for whichever thread
// asks. Tests can replace the boxes with an answering function.
class CGuiPrompt : public IUserPrompt {
public:
    CGuiPrompt(CUiBridge& bridge, std::function<QWidget*()> parent);

    void ShowMessage(const std::string& text, const CCancelSignal* abandon = nullptr) override;
    bool AskYesNo(const std::string& text, const CCancelSignal* abandon = nullptr) override;
    void RequestQuit() override;

    // Test hook: when set, called on the UI thread instead of showing a box;
    // returns the answer (true for OK/Yes). `question` tells the two kinds apart.
    std::function<bool(const QString& text, bool question)> m_answer;

private:
    CUiBridge& m_bridge;
    std::function<QWidget*()> m_parent;
};
