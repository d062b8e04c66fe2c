// The document loader on any file: what it shows has no CR and no control
// byte but tab and line feed, is never longer than the file, and a saved
// and reloaded text reads back the same.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "FuzzInput.h"
#include "app/VorlaDoc.h"

namespace {

std::string ScratchFile(const char* name)
{
    static const std::string dir = [] {
        char pattern[] = "/tmp/fuzz_document_XXXXXX";
        return std::string(mkdtemp(pattern) ? pattern : "/tmp");
    }();
    return dir + "/" + name;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    CFuzzInput in(data, size);
    const std::size_t limit = 1 + in.Byte() * 16;
    const std::string bytes = in.Rest();
    const std::string path = ScratchFile("in.txt");
    FILE* file = std::fopen(path.c_str(), "wb");
    FUZZ_CHECK(file);
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);

    CVORLADoc doc;
    std::string text, error;
    if (!doc.Load(path, text, error, limit)) {
        FUZZ_CHECK(!error.empty() && bytes.size() > limit);
        return 0;
    }
    FUZZ_CHECK(text.size() <= bytes.size());
    for (unsigned char c : text)
        FUZZ_CHECK((c >= 0x20 && c != 0x7F) || c == '\t' || c == '\n');

    const std::string copy = ScratchFile("copy.txt");
    FUZZ_CHECK(doc.Save(copy, text, error));
    std::string again;
    FUZZ_CHECK(doc.Load(copy, again, error, limit));
    FUZZ_CHECK(again == text);
    return 0;
}
