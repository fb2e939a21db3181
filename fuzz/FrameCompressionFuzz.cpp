// Frame decompression of arbitrary bytes. Only EZDecompressionError may come
// out; what inflates is compressed again and inflates to the same bytes.

#include <algorithm>
#include <cstdint>
#include <vector>

#include "FuzzSupport.h"
#include "Korvane.DefTypes.Cache.h"

using namespace korvane;
using korvane::fuzz::Check;

namespace {

// Far below the default bound, so that the fuzzer stays within its memory
// limit; a bound exceeded is the same error as a corrupt stream.
constexpr int64_t MaxOutput = int64_t(1) << 20;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    TOwned<TBytesStream> input(new TBytesStream(std::vector<uint8_t>(data, data + size)));
    TOwned<TMemoryStream> inflated;
    try {
        inflated.reset(TAnimationFrameCompression::Decompress(input.get(), MaxOutput));
    } catch (const EZDecompressionError&) {
        return 0;
    }
    Check(inflated->Position() == 0, "the inflated stream is not at its start");
    Check(inflated->Size() <= MaxOutput, "the output bound was passed");

    TOwned<TMemoryStream> deflated(TAnimationFrameCompression::Compress(inflated->Memory(), inflated->Size()));
    deflated->SetPosition(0);
    TOwned<TMemoryStream> back(TAnimationFrameCompression::Decompress(deflated.get(), MaxOutput));
    Check(back->Size() == inflated->Size() &&
              std::equal(back->Memory(), back->Memory() + back->Size(), inflated->Memory()),
          "compressing and inflating again changed the bytes");
    return 0;
}
