// The number converter: every base, any text. Parsing must equal parsing the
// filtered digits, and a value written in a base must read back the same.
#include <cstdio>
#include <cstdlib>

#include "FuzzInput.h"
#include "app/Converter.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    CFuzzInput in(data, size);
    const Radix from = Radix(1 + in.Byte() % 4);
    const Radix to = Radix(1 + in.Byte() % 4);
    const std::string text = in.Rest();

    const std::string digits = FilterDigits(text, from);
    const std::optional<uint64_t> value = ParseNumber(text, from);
    FUZZ_CHECK(value == ParseNumber(digits, from));
    if (value) {
        const std::string written = FormatNumber(*value, to);
        FUZZ_CHECK(ParseNumber(written, to) == value);
        FUZZ_CHECK(FilterDigits(written, to) == written);
    }

    CConverter converter; // reads in decimal first: switch it to `from`
    std::string shown, error;
    FUZZ_CHECK(converter.Convert("", from, shown, error) && converter.CurrentBase() == from);
    if (converter.Convert(text, to, shown, error)) {
        FUZZ_CHECK(converter.CurrentBase() == to);
        FUZZ_CHECK(value && shown == FormatNumber(*value, to));
    } else {
        FUZZ_CHECK(!value && !error.empty());
        FUZZ_CHECK(converter.CurrentBase() == from);
    }
    return 0;
}
