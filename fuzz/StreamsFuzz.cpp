// The memory streams driven by an arbitrary sequence of operations, next to a
// plain byte vector that says what each one must do. Checked reads and writes
// move exactly what they are asked for or raise EStreamError (EReadError,
// EWriteError); seeks before the start and sizes out of range raise
// EStreamError; nothing else comes out, and the bytes always match.

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "Platform.Streams.h"

using namespace korvane;
using korvane::fuzz::Check;
using korvane::fuzz::Fail;

namespace {

// The model never grows past this; positions may go anywhere.
constexpr int64_t MaxModelSize = int64_t(1) << 20;

struct TModel {
    std::vector<uint8_t> Data;
    int64_t Position = 0;
    int64_t Size() const { return int64_t(Data.size()); }
};

void ModelWrite(TModel& m, const std::string& bytes)
{
    if (bytes.empty()) return;
    const int64_t end = m.Position + int64_t(bytes.size());
    if (end > m.Size()) m.Data.resize(size_t(end), 0);
    std::copy(bytes.begin(), bytes.end(), m.Data.begin() + m.Position);
    m.Position = end;
}

int64_t Offset(FuzzedDataProvider& in)
{
    switch (in.ConsumeIntegralInRange(0, 3)) {
    case 0: return in.ConsumeIntegralInRange<int64_t>(-64, 4096);
    case 1: return in.ConsumeIntegral<int64_t>();
    case 2: return std::numeric_limits<int64_t>::max() - in.ConsumeIntegralInRange<int64_t>(0, 64);
    default: return std::numeric_limits<int64_t>::min() + in.ConsumeIntegralInRange<int64_t>(0, 64);
    }
}

void CheckSame(const TStringStream& s, const TModel& m, const char* after)
{
    Check(s.Size() == m.Size(), after, "size differs");
    Check(s.Position() == m.Position, after, "position differs");
    Check(s.DataString() == std::string(m.Data.begin(), m.Data.end()), after, "bytes differ");
}

// Runs f and says whether it raised one of the documented stream errors.
template <typename F>
bool Raises(F&& f)
{
    try {
        f();
    } catch (const EStreamError&) {
        return true;
    }
    return false;
}

void Step(FuzzedDataProvider& in, TStringStream& s, TModel& m)
{
    switch (in.ConsumeIntegralInRange(0, 7)) {
    case 0: { // WriteBuffer
        const std::vector<uint8_t> bytes = in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange(0, 64));
        const int64_t count = int64_t(bytes.size());
        const bool overflow = m.Position > TMemoryStream::MaxSize - count;
        // Positions far out would need that much memory: only the refused ones are tried.
        if (!overflow && m.Position + count > MaxModelSize) return;
        const bool raised = Raises([&] { s.WriteBuffer(bytes.data(), count); });
        Check(raised == (overflow && count > 0), "WriteBuffer raised or not against the model");
        if (!raised) ModelWrite(m, std::string(bytes.begin(), bytes.end()));
        break;
    }
    case 1: { // ReadBuffer
        const int64_t count = in.ConsumeIntegralInRange<int64_t>(-2, 80);
        std::vector<uint8_t> out(size_t(std::max<int64_t>(count, 1)));
        const int64_t left = std::max<int64_t>(0, m.Size() - m.Position);
        const bool raised = Raises([&] { s.ReadBuffer(out.data(), count); });
        Check(raised == (count < 0 || count > left), "ReadBuffer raised or not against the model");
        if (!raised && count > 0) {
            Check(std::equal(out.begin(), out.begin() + count, m.Data.begin() + m.Position), "ReadBuffer bytes");
            m.Position += count;
        } else if (raised && count > 0) {
            // What there was has been read before the error.
            m.Position += left;
        }
        break;
    }
    case 2: { // Read
        const int64_t count = in.ConsumeIntegralInRange<int64_t>(-2, 80);
        std::vector<uint8_t> out(size_t(std::max<int64_t>(count, 1)));
        const int64_t expected = count <= 0 ? 0 : std::min(count, std::max<int64_t>(0, m.Size() - m.Position));
        Check(s.Read(out.data(), count) == expected, "Read moved other than the model");
        Check(std::equal(out.begin(), out.begin() + expected, m.Data.begin() + std::min(m.Position, m.Size())),
              "Read bytes");
        m.Position += expected;
        break;
    }
    case 3: { // Seek
        const int64_t offset = Offset(in);
        const auto origin = static_cast<TSeekOrigin>(in.ConsumeIntegralInRange(0, 2));
        const int64_t base = origin == soBeginning ? 0 : origin == soCurrent ? m.Position : m.Size();
        int64_t target = 0;
        const bool bad = __builtin_add_overflow(base, offset, &target) || target < 0;
        const bool raised = Raises([&] { s.Seek(offset, origin); });
        Check(raised == bad, "Seek raised or not against the model");
        if (!bad) m.Position = target;
        break;
    }
    case 4: { // SetSize
        const int64_t size = in.ConsumeBool() ? in.ConsumeIntegralInRange<int64_t>(-4, 4096) : Offset(in);
        if (size > MaxModelSize && size <= TMemoryStream::MaxSize) return;
        const bool raised = Raises([&] { s.SetSize(size); });
        Check(raised == (size < 0 || size > TMemoryStream::MaxSize), "SetSize raised or not against the model");
        if (!raised) {
            m.Data.resize(size_t(size), 0);
            m.Position = std::min(m.Position, size);
        }
        break;
    }
    case 5: { // CopyFrom a second stream, in one chunk
        const std::string text = in.ConsumeRandomLengthString(64);
        TStringStream source(text);
        const int64_t from = in.ConsumeIntegralInRange<int64_t>(0, 70);
        source.SetPosition(from);
        const int64_t count = in.ConsumeIntegralInRange<int64_t>(-1, 70);
        if (m.Position > MaxModelSize - 70) return;
        bool raised = false;
        try {
            s.CopyFrom(&source, count);
        } catch (const EReadError&) {
            raised = true;
        } catch (const EArgumentException&) {
            raised = true;
        }
        const int64_t size = int64_t(text.size());
        const bool fits = count == 0 || (count > 0 && from + count <= size);
        Check(raised == !fits, "CopyFrom raised or not against the model");
        if (fits) ModelWrite(m, count == 0 ? text : text.substr(size_t(from), size_t(count)));
        break;
    }
    case 6: { // ReadString
        const int64_t count = in.ConsumeIntegralInRange<int64_t>(-2, 80);
        const int64_t expected = std::clamp<int64_t>(count, 0, std::max<int64_t>(0, m.Size() - m.Position));
        const std::string got = s.ReadString(count);
        Check(int64_t(got.size()) == expected, "ReadString length");
        const auto first = m.Data.begin() + std::min(m.Position, m.Size());
        Check(got == std::string(first, first + expected), "ReadString bytes");
        m.Position += expected;
        break;
    }
    default: { // SaveToStream and LoadFromStream
        TMemoryStream copy;
        s.SaveToStream(&copy);
        Check(copy.Size() == m.Size() && std::equal(m.Data.begin(), m.Data.end(), copy.Memory()), "SaveToStream");
        s.LoadFromStream(&copy);
        m.Position = 0;
        break;
    }
    }
    CheckSame(s, m, "after a step");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider in(data, size);
    const std::string initial = in.ConsumeRandomLengthString(256);
    TStringStream s(initial);
    TModel m;
    m.Data.assign(initial.begin(), initial.end());
    for (int steps = 0; steps < 64 && in.remaining_bytes() > 0; ++steps) Step(in, s, m);
    return 0;
}
