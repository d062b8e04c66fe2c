#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "core/IUserPrompt.h"
#include "app/SettingsFile.h"
#include "TempDir.h"
#include "TestPlatform.h"

namespace fs = std::filesystem;

namespace {

// Records every message instead of showing it.
class CRecordingPrompt : public IUserPrompt {
public:
    void ShowMessage(const std::string& text, const CCancelSignal*) override { messages.push_back(text); }
    bool AskYesNo(const std::string& text, const CCancelSignal*) override
    {
        messages.push_back(text);
        return false;
    }
    void RequestQuit() override {}
    std::vector<std::string> messages;
};

// Restores the process's current directory when it goes.
class CCwdGuard {
public:
    CCwdGuard() : m_saved(fs::current_path()) {}
    ~CCwdGuard()
    {
        std::error_code ec;
        fs::current_path(m_saved, ec);
        if (ec)
            std::abort();
    }
    CCwdGuard(const CCwdGuard&) = delete;
    CCwdGuard& operator=(const CCwdGuard&) = delete;

private:
    fs::path m_saved;
};

void WriteFile(const std::string& path, const std::string& content)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
    ASSERT_TRUE(out.good());
}

const std::string kWritten =
    "##########################################\n"
    "####                                     #\n"
    "#### Configuration File For 'VORLA'      #\n"
    "####                                     #\n"
    "##########################################\n"
    "\n"
    "[STARTUP]\n"
    "\n"
    "VERSION = 1.0\n"
    "\n";

const std::string kErrorAt = "ini file has error at line no ";
const std::string kWriteError = "Unable to save settings to the ini file";

std::string WithCrLf(const std::string& s)
{
    std::string out;
    for (char c : s) {
        if (c == '\n')
            out += '\r';
        out += c;
    }
    return out;
}

} // namespace

TEST(SettingsFile, WrittenFileHasTheTenLinesAndReadsBackSilently)
{
    CTempDir dir("vorla-settings");
    CRecordingPrompt prompt;
    CSettingsFile settings(prompt);
    settings.SetDirectory(dir.Path());
    EXPECT_EQ(settings.Path(), dir.Path() + "/VORLA.ini");

    WriteFile(settings.Path(), "an old file that is longer than the new one\n" + std::string(1000, 'x'));
    ASSERT_TRUE(settings.WriteSettingsFile());
    // Read as text: a Windows build writes its native CR LF.
    std::ifstream written(settings.Path());
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(written), {}), kWritten);
    settings.ReadSettingsFile();
    EXPECT_TRUE(prompt.messages.empty());
    EXPECT_TRUE(settings.VersionMarked());
}

// Each file is read in a fresh directory; the table gives the messages and
// whether the version was found.
TEST(SettingsFile, ReadingTable)
{
    struct Case {
        const char* name;
        std::string content;
        std::vector<std::string> messages;
        bool marked;
    };
    const std::string header = kWritten.substr(0, kWritten.find("[STARTUP]"));
    const Case cases[] = {
        {"as written", kWritten, {}, true},
        {"as written with CR LF", WithCrLf(kWritten), {}, true},
        {"CR LF, error line keeps its number", WithCrLf(header + "[STARTUP]\n\n# note\n"), {kErrorAt + "9"}, false},
        {"blank before header hides section", header + " [STARTUP]\nnot a setting\n", {}, false},
        {"blank after header hides section", header + "[STARTUP] \nnot a setting\n", {}, false},
        {"tab after header hides section", header + "[STARTUP]\t\nnot a setting\n", {}, false},
        {"section name without case", header + "[startup]\nVERSION = 1.0\n", {}, true},
        {"lower-case key with blanks", "[STARTUP]\nversion = 1.0\n", {}, true},
        {"blanks anywhere", "[STARTUP]\n  v e r SION =   1 .0  \n", {}, true},
        {"no blanks", "[STARTUP]\nVERSION=1.0\n", {}, true},
        {"tab before =", "[STARTUP]\nVersion\t=1.0\n", {}, true},
        {"tabs and blanks around", "[STARTUP]\n\t VERSION\t = \t1.0 \t\n", {}, true},
        {"quoted value is not the version", "[STARTUP]\nVERSION = \"1.0\"\n", {}, false},
        {"quoted blanks kept, not the version", "[STARTUP]\nVERSION = \" 1.0 \"\n", {}, false},
        {"other version", "[STARTUP]\nVERSION = 2.0\n", {}, false},
        {"unknown key ignored", "[STARTUP]\nCOLOUR = red\nVERSION = 1.0\n", {}, true},
        {"comment on line 9", header + "[STARTUP]\n\n# comment\nVERSION = 1.0\n", {kErrorAt + "9"}, false},
        {"reading stops at the first error", "[STARTUP]\nVERSION = 1.0\nbad\nworse\n", {kErrorAt + "3"}, true},
        {"second section header", "[STARTUP]\n[STARTUP]\n", {kErrorAt + "2"}, false},
        {"other section header", "[STARTUP]\nVERSION=1.0\n[OTHER]\n", {kErrorAt + "3"}, true},
        {"empty, blank and tab lines", "[STARTUP]\n\n   \n\t\t\n \t \nVERSION = 1.0\n\n", {}, true},
        {"lines before the section unchecked", "junk\n# more junk\n\"[STARTUP]\"\n", {}, false},
        {"sentinel line ends reading",
         "[STARTUP]\nVERSION = 1.0\nEnd_Of_File_Encountered_Please_Terminate_Read\nbad line\n", {}, true},
        {"sentinel first line", "END_OF_FILE_ENCOUNTERED_PLEASE_TERMINATE_READ\n[STARTUP]\nbad\n", {}, false},
        {"sentinel with CR LF", "[STARTUP]\r\nEND_OF_FILE_ENCOUNTERED_PLEASE_TERMINATE_READ\r\nbad\r\n", {}, false},
        {"last line without line feed, good", "[STARTUP]\nVERSION = 1.0", {}, true},
        {"last line without line feed, bad", "[STARTUP]\n\nbad", {kErrorAt + "3"}, false},
        {"quote keeps an = out of the key", "[STARTUP]\n\"a=b\"\n", {}, false},
        {"NUL bytes in the section", std::string("[STARTUP]\nVER\0SION=1.0\n\0\n", 25), {kErrorAt + "3"}, false},
        {"empty file", "", {}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CTempDir dir("vorla-settings");
        CRecordingPrompt prompt;
        CSettingsFile settings(prompt);
        settings.SetDirectory(dir.Path());
        WriteFile(settings.Path(), c.content);
        settings.ReadSettingsFile();
        EXPECT_EQ(prompt.messages, c.messages);
        EXPECT_EQ(settings.VersionMarked(), c.marked);
    }
}

TEST(SettingsFile, MissingFileIsSilent)
{
    CTempDir dir("vorla-settings");
    CRecordingPrompt prompt;
    CSettingsFile settings(prompt);
    settings.SetDirectory(dir.Path());
    settings.ReadSettingsFile();
    settings.SetDirectory(dir.Path() + "/no/such/dir");
    settings.ReadSettingsFile();
    EXPECT_TRUE(prompt.messages.empty());
    EXPECT_FALSE(settings.VersionMarked());
}

TEST(SettingsFile, UnwritableLocationGivesTheWriteMessage)
{
    CTempDir dir("vorla-settings");
    CRecordingPrompt prompt;
    CSettingsFile settings(prompt);

    // The file cannot be created (works even for root, unlike permissions).
    settings.SetDirectory(dir.Path() + "/missing");
    EXPECT_FALSE(settings.WriteSettingsFile());
    ASSERT_EQ(prompt.messages, std::vector<std::string>{kWriteError});
    EXPECT_FALSE(fs::exists(dir.Path() + "/missing"));

    // The name is taken by a directory.
    settings.SetDirectory(dir.Path());
    fs::create_directory(settings.Path());
    EXPECT_FALSE(settings.WriteSettingsFile());
    EXPECT_EQ(prompt.messages.size(), 2u);

    // Opening works but the data cannot be stored: a full device.
    if (access("/dev/full", W_OK) == 0) {
        CTempDir full("vorla-settings");
        settings.SetDirectory(full.Path());
        fs::create_symlink("/dev/full", settings.Path());
        EXPECT_FALSE(settings.WriteSettingsFile());
        EXPECT_EQ(prompt.messages, (std::vector<std::string>{kWriteError, kWriteError, kWriteError}));
    }

    // Usable again once the location is.
    CTempDir good("vorla-settings");
    settings.SetDirectory(good.Path());
    prompt.messages.clear();
    EXPECT_TRUE(settings.WriteSettingsFile());
    EXPECT_TRUE(prompt.messages.empty());
}

TEST(SettingsFile, DirectoryIsCapturedOnceFromTheCurrentDirectory)
{
    CTempDir dir("vorla-settings");
    CTempDir other("vorla-settings");
    CCwdGuard guard;
    ASSERT_EQ(chdir(dir.Path().c_str()), 0);
    char cwd[PATH_MAX];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);

    CRecordingPrompt prompt;
    CSettingsFile settings(prompt);
    settings.CaptureDirectory();
    EXPECT_EQ(settings.Directory(), cwd);
    ASSERT_EQ(chdir(other.Path().c_str()), 0);
    ASSERT_TRUE(settings.WriteSettingsFile());
    EXPECT_TRUE(fs::exists(std::string(cwd) + "/VORLA.ini"));
    EXPECT_FALSE(fs::exists(other.Path() + "/VORLA.ini"));
}

// The directory must fit 260 characters with its NUL: 259 characters fit,
// 260 do not, and then the path is the empty directory plus "/VORLA.ini".
TEST(SettingsFile, DirectoryLengthLimit)
{
    VORLA_SKIP_UNLESS(ELimit::LongWorkingDirectory);
    CTempDir dir("vorla-settings");
    std::string base = fs::canonical(dir.Path()).generic_string();
    ASSERT_LT(base.size() + 2, 259u);
    // Add parts "/ddd..." until the directory is exactly 259 long; a child
    // "c" of it makes 261.
    std::string fits = base;
    while (fits.size() < 259) {
        const size_t remaining = 259 - fits.size();
        size_t len = remaining - 1;
        if (len > 200)
            len = remaining - 201 == 1 ? 199 : 200; // never leave room for "/" alone
        fits += "/" + std::string(len, 'd');
        ASSERT_TRUE(fs::create_directory(fits));
    }
    ASSERT_EQ(fits.size(), 259u);
    const std::string tooLong = fits + "/c";
    ASSERT_TRUE(fs::create_directory(tooLong));

    CRecordingPrompt prompt;
    CSettingsFile settings(prompt);
    CCwdGuard guard;
    ASSERT_EQ(chdir(fits.c_str()), 0);
    settings.CaptureDirectory();
    EXPECT_EQ(settings.Directory(), fits);
    ASSERT_EQ(chdir(tooLong.c_str()), 0);
    settings.CaptureDirectory();
    EXPECT_EQ(settings.Directory(), "");
    EXPECT_EQ(settings.Path(), "/VORLA.ini");

    settings.SetDirectory(std::string(259, 'x'));
    EXPECT_EQ(settings.Directory().size(), 259u);
    settings.SetDirectory(std::string(260, 'x'));
    EXPECT_EQ(settings.Directory(), "");
}

TEST(SettingsFile, ReadSettingsLineTable)
{
    struct Case {
        std::string content;
        std::vector<std::string> lines; // before the sentinel
    };
    const Case cases[] = {
        {"", {}},
        {"\n", {""}},
        {"a", {"a"}},
        {"a\nb\n", {"a", "b"}},
        {"a\n\nb", {"a", "", "b"}},
        {"a\r\nb\r\n", {"a", "b"}},
        {"\r\n", {""}},
        {"a\rb\n", {"a\rb"}},
        {"a\r\r\n", {"a\r"}},
        {std::string("x\0y\n", 4), {std::string("x\0y", 3)}},
    };
    CTempDir dir("vorla-settings");
    const std::string path = dir.Path() + "/lines";
    for (const Case& c : cases) {
        WriteFile(path, c.content);
        FILE* f = std::fopen(path.c_str(), "rb");
        ASSERT_NE(f, nullptr);
        std::vector<std::string> got;
        for (std::string line; (line = CSettingsFile::ReadSettingsLine(f)) != CSettingsFile::kEndSentinel;)
            got.push_back(line);
        EXPECT_EQ(CSettingsFile::ReadSettingsLine(f), CSettingsFile::kEndSentinel);
        std::fclose(f);
        EXPECT_EQ(got, c.lines) << "content: " << c.content;
    }
}

TEST(SettingsFile, SquashSettingsLineTable)
{
    const std::pair<std::string, std::string> cases[] = {
        {"VERSION = 1.0", "VERSION=1.0"},
        {"  a b  c ", "abc"},
        {"k = \" 1.0 \"", "k=\" 1.0 \""},
        {"a\tb = c", "a\tb=c"},
        {"\"open quote keeps  blanks", "\"open quote keeps  blanks"},
        {"\"a b\" c \"d e\"", "\"a b\"c\"d e\""},
        {"", ""},
        {"    ", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CSettingsFile::SquashSettingsLine(c.first), c.second) << c.first;
}

// Random bytes, and a section of random well-formed lines, are read to the
// end without a crash or a hang.
TEST(SettingsFile, LargeRandomFilesAreReadSafely)
{
    CTempDir dir("vorla-settings");
    CRecordingPrompt prompt;
    CSettingsFile settings(prompt);
    settings.SetDirectory(dir.Path());
    std::mt19937 rng(1234567);

    std::string bytes(10 * 1024 * 1024, '\0');
    for (char& c : bytes)
        c = static_cast<char>(rng() & 0xff);
    const std::string inSection = "[STARTUP]\n" + bytes;

    // Lines of blanks, tabs, quotes, CRs and letters, each with an "=" outside quotes.
    static const char kAlphabet[] = " \t\"\rabcVERSION1.0=";
    std::string wellFormed = "[startup]\n";
    while (wellFormed.size() < 10 * 1024 * 1024) {
        std::string key(rng() % 20, ' ');
        for (char& c : key)
            c = kAlphabet[rng() % (sizeof kAlphabet - 1)];
        if (std::count(key.begin(), key.end(), '"') % 2)
            key += '"';
        wellFormed += key + "=" + std::to_string(rng()) + "\n";
    }
    wellFormed += "VERSION = 1.0";

    const auto start = std::chrono::steady_clock::now();
    WriteFile(settings.Path(), bytes);
    settings.ReadSettingsFile();
    EXPECT_LE(prompt.messages.size(), 1u);

    prompt.messages.clear();
    WriteFile(settings.Path(), inSection);
    settings.ReadSettingsFile();
    ASSERT_EQ(prompt.messages.size(), 1u); // random lines soon lack an "="
    EXPECT_EQ(prompt.messages[0].rfind(kErrorAt, 0), 0u);

    prompt.messages.clear();
    WriteFile(settings.Path(), wellFormed);
    settings.ReadSettingsFile();
    EXPECT_TRUE(prompt.messages.empty()) << prompt.messages[0];
    EXPECT_TRUE(settings.VersionMarked());
    // A hang check only: a few seconds of work even under a sanitizer.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(120));
}
