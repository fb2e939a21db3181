// Format with an arbitrary format text and arguments, and the number and GUID
// readers of the same unit on arbitrary text. Format raises EConvertError only
// and its result stays within the bounds of its widths; the readers' values,
// written out, read back the same.

#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "Platform.SysUtils.h"

using namespace korvane;
using korvane::fuzz::Check;

namespace {

// Keeps one run's output small: every specifier may pad to FormatMaxWidth.
constexpr size_t MaxFormatText = 256;

std::vector<FormatArg> Arguments(FuzzedDataProvider& in)
{
    std::vector<FormatArg> args;
    const int count = in.ConsumeIntegralInRange(0, 6);
    for (int i = 0; i < count; ++i) {
        switch (in.ConsumeIntegralInRange(0, 4)) {
        case 0: args.emplace_back(in.ConsumeIntegral<int64_t>()); break;
        case 1: args.emplace_back(in.ConsumeIntegral<uint64_t>()); break;
        case 2: args.emplace_back(in.ConsumeFloatingPoint<double>()); break;
        case 3: args.emplace_back(in.ConsumeRandomLengthString(64)); break;
        default: args.emplace_back(reinterpret_cast<const void*>(in.ConsumeIntegral<uintptr_t>())); break;
        }
    }
    return args;
}

void CheckFormat(FuzzedDataProvider& in)
{
    const std::vector<FormatArg> args = Arguments(in);
    const std::string fmt = in.ConsumeRandomLengthString(MaxFormatText);
    try {
        const std::string text = FormatV(fmt, args);
        // Each specifier is at least two characters and gives at most its
        // bounded width or precision, or a number or string text.
        const size_t perSpecifier = size_t(FormatMaxWidth) + 400;
        Check(text.size() <= fmt.size() + (fmt.size() / 2 + 1) * perSpecifier, "Format output beyond its bounds");
    } catch (const EConvertError&) {
    }
}

void CheckNumberReaders(const std::string& text)
{
    double d = 0;
    if (TryStrToFloat(text, d)) {
        double back = 0;
        const std::string written = FloatToStrGeneral(d, 17);
        Check(std::isfinite(d), "TryStrToFloat gave a non-finite value", text);
        Check(TryStrToFloat(written, back) && back == d, "a float does not read back", written);
    }
    int64_t i = 0;
    if (TryStrToInt64(text, i)) {
        int64_t back = 0;
        Check(TryStrToInt64(IntToStr(i), back) && back == i, "an integer does not read back", text);
    }
    TGUID guid;
    if (TryStringToGUID(text, guid)) {
        TGUID back;
        Check(TryStringToGUID(GUIDToString(guid), back) && back == guid, "a GUID does not read back", text);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    CheckNumberReaders(std::string(reinterpret_cast<const char*>(data), size));
    FuzzedDataProvider in(data, size);
    CheckFormat(in);
    return 0;
}
