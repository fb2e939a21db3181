// Reads the input as a BSON document. Whatever reads without error is written
// back through the token writer and must read again as the same tokens.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "Korvane.JSON.BSON.h"
#include "Platform.Streams.h"

using namespace korvane;

namespace {

// One token with its value, comparable.
struct TToken {
    TJsonToken Type;
    std::string Value;
    bool operator==(const TToken&) const = default;
};

std::string Text(std::span<const uint8_t> bytes) { return std::string(bytes.begin(), bytes.end()); }

TToken Capture(const TJsonReader& r)
{
    TToken t{r.TokenType(), {}};
    switch (r.TokenType()) {
    case TJsonToken::PropertyName:
    case TJsonToken::String: t.Value = std::string(r.AsString()); break;
    case TJsonToken::Integer: t.Value = std::to_string(r.AsInteger()); break;
    case TJsonToken::Float: {
        const double v = r.AsFloat();
        t.Value.assign(reinterpret_cast<const char*>(&v), sizeof(v));
        break;
    }
    case TJsonToken::Boolean: t.Value = r.AsBoolean() ? "1" : "0"; break;
    case TJsonToken::Date: t.Value = std::to_string(r.AsDateTime().time_since_epoch().count()); break;
    case TJsonToken::Bytes: t.Value = std::to_string(static_cast<int>(r.BinaryType())) + ":" + Text(r.AsBytes()); break;
    case TJsonToken::Oid: t.Value = Text(r.AsOid().Bytes); break;
    case TJsonToken::RegEx: t.Value = r.AsRegEx().Expression + '\0' + r.AsRegEx().Options; break;
    case TJsonToken::DBRef: t.Value = r.AsDBRef().Ref + '\0' + Text(r.AsDBRef().Id.Bytes); break;
    case TJsonToken::CodeWScope:
        t.Value = r.AsCodeWScope().Code;
        for (const auto& [name, value] : r.AsCodeWScope().Scope) t.Value += '\0' + name + '\0' + value;
        break;
    default: break;
    }
    return t;
}

// All tokens of a document; false when the reader raised or the data ended early.
bool ReadTokens(TStream& stream, bool asArray, std::vector<TToken>& tokens, TJsonWriter* copy)
{
    try {
        TBsonReader reader(&stream, asArray);
        while (reader.Read()) {
            tokens.push_back(Capture(reader));
            if (copy) copy->WriteToken(reader);
        }
        return !reader.Incomplete();
    } catch (const EJsonReaderException&) {
        return false;
    }
}

[[noreturn]] void Fail(const char* what)
{
    std::fprintf(stderr, "BSON round trip: %s\n", what);
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // The first byte chooses how the root is read; the rest is the document.
    if (size < 1) return 0;
    const bool asArray = data[0] & 1;
    TBytesStream input(std::vector<uint8_t>(data + 1, data + size));
    std::vector<TToken> first;
    TBytesStream output;
    {
        TBsonWriter writer(&output);
        if (!ReadTokens(input, asArray, first, &writer)) return 0;
        if (writer.Top() != 0) Fail("a complete read left containers open");
    }
    output.SetPosition(0);
    std::vector<TToken> second;
    if (!ReadTokens(output, asArray, second, nullptr)) Fail("what was written does not read");
    if (first != second) Fail("what was written reads differently");
    return 0;
}
