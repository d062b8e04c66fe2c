#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <unistd.h>

#include "app/VorlaDoc.h"
#include "TempDir.h"

namespace {

struct TempDir {
    CTempDir dir{"vorla-doc"};
    const std::string& path = dir.Path();
};

std::string ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteAll(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

} // namespace

TEST(Document, SaveAsProposesUntitledThenThePathUntilCleared)
{
    TempDir dir;
    CVORLADoc doc;
    EXPECT_EQ(doc.ProposedSaveName(), "Untitled.txt");
    std::string error;
    const std::string path = dir.path + "/log.txt";
    ASSERT_TRUE(doc.Save(path, "line 1\nline 2\n", error)) << error;
    EXPECT_EQ(ReadAll(path), "line 1\nline 2\n");
    EXPECT_EQ(doc.ProposedSaveName(), path);
    EXPECT_EQ(doc.Title(), "log.txt");
    doc.OnNewDocument();
    EXPECT_EQ(doc.ProposedSaveName(), "Untitled.txt");
}

TEST(Document, FailedSaveReportsAndKeepsPath)
{
    TempDir dir;
    CVORLADoc doc;
    std::string error;
    ASSERT_TRUE(doc.Save(dir.path + "/a.txt", "x", error));
    EXPECT_FALSE(doc.Save(dir.path + "/missing/b.txt", "x", error));
    EXPECT_NE(error.find("missing/b.txt"), std::string::npos);
    EXPECT_EQ(doc.Path(), dir.path + "/a.txt");
    // A full device fails at write or close, never silently.
    if (access("/dev/full", W_OK) == 0) {
        EXPECT_FALSE(doc.Save("/dev/full", std::string(1 << 16, 'y'), error));
    }
}

TEST(Document, LoadTurnsEveryLineEndIntoOneBreakAndMasksControlBytes)
{
    TempDir dir;
    const struct {
        std::string bytes;
        std::string shown;
    } cases[] = {
        {"a\r\nb\r\n", "a\nb\n"},
        {"a\rb\nc", "a\nb\nc"},
        {"a\r\r\nb", "a\n\nb"},
        {std::string("nul\0esc\x1b" "del\x7f" "tab\t", 16), "nul.esc.del.tab\t"},
        {"", ""},
    };
    for (const auto& c : cases) {
        const std::string path = dir.path + "/in.txt";
        WriteAll(path, c.bytes);
        CVORLADoc doc;
        std::string text, error;
        ASSERT_TRUE(doc.Load(path, text, error)) << error;
        EXPECT_EQ(text, c.shown);
        EXPECT_EQ(doc.Path(), path);
    }
}

TEST(Document, LoadRefusesWhatIsNotAFittingRegularFile)
{
    TempDir dir;
    CVORLADoc doc;
    std::string text = "kept", error;
    EXPECT_FALSE(doc.Load(dir.path + "/none.txt", text, error));
    EXPECT_FALSE(doc.Load(dir.path, text, error)); // a directory
    EXPECT_FALSE(doc.Load("/dev/zero", text, error)); // would never end
    WriteAll(dir.path + "/big.txt", std::string(2000, 'z'));
    EXPECT_FALSE(doc.Load(dir.path + "/big.txt", text, error, 1000));
    EXPECT_EQ(text, "kept");
    EXPECT_TRUE(doc.Path().empty());
}
