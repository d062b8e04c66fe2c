// The settings file reader on any file contents: it reads, reports through
// the prompt and stops; it never crashes or loops, and a line it reads back
// never holds a line feed.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "FuzzInput.h"
#include "app/SettingsFile.h"
#include "core/IUserPrompt.h"

namespace {

class CCountingPrompt : public IUserPrompt {
public:
    void ShowMessage(const std::string&, const CCancelSignal*) override { ++messages; }
    bool AskYesNo(const std::string&, const CCancelSignal*) override { return false; }
    void RequestQuit() override {}
    int messages = 0;
};

std::string ScratchDir()
{
    static const std::string dir = [] {
        char name[] = "/tmp/fuzz_settings_XXXXXX";
        return std::string(mkdtemp(name) ? name : "/tmp");
    }();
    return dir;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    CCountingPrompt prompt;
    CSettingsFile settings(prompt);
    settings.SetDirectory(ScratchDir());
    FILE* file = std::fopen(settings.Path().c_str(), "wb");
    FUZZ_CHECK(file);
    std::fwrite(data, 1, size, file);
    std::fclose(file);

    settings.ReadSettingsFile();
    FUZZ_CHECK(prompt.messages <= 1); // one report at most, then the reading ends

    file = std::fopen(settings.Path().c_str(), "rb");
    std::size_t lines = 0;
    for (;;) {
        const std::string line = CSettingsFile::ReadSettingsLine(file);
        if (line == CSettingsFile::kEndSentinel)
            break;
        FUZZ_CHECK(line.find('\n') == std::string::npos);
        FUZZ_CHECK(++lines <= size + 1);
        (void)CSettingsFile::SquashSettingsLine(line);
    }
    std::fclose(file);
    return 0;
}
