#include "Korvane.BSON.Writer.h"

#include <bit>
#include <charconv>

namespace korvane {

namespace {

// A number's text as the narrowest of double, 32-bit and 64-bit integer that
// reads all of it; raises "failed to read number value" when none does.
struct TNumber {
    enum class TKind : uint8_t { Double, Int32, Int64 } Kind;
    double Double = 0;
    int32_t Int32 = 0;
    int64_t Int64 = 0;
};

template <typename T>
bool ParseAll(std::string_view AText, T& AValue)
{
    const char* end = AText.data() + AText.size();
    const auto result = std::from_chars(AText.data(), end, AValue);
    return result.ec == std::errc() && result.ptr == end;
}

TNumber ParseNumber(const TJSONNumber& ANumber)
{
    const std::string_view text = ANumber.Text();
    TNumber n{TNumber::TKind::Double};
    if (ParseAll(text, n.Double)) return n;
    n.Kind = TNumber::TKind::Int32;
    if (ParseAll(text, n.Int32)) return n;
    n.Kind = TNumber::TKind::Int64;
    if (ParseAll(text, n.Int64)) return n;
    throw Exception("failed to read number value");
}

[[noreturn]] void RaiseUnexpected(const TJSONValue* pValue)
{
    throw Exception(korvane::Format("unexpected json value type \"%s\" found", pValue ? pValue->ClassName() : "nil"));
}

// Starts an object or an array, writes its members with AMembers and ends
// it, also when a member fails.
template <typename Members>
void WriteContainer(TBsonWriter& AWriter, bool AIsArray, Members&& AMembers)
{
    auto end = [&] {
        if (AIsArray) AWriter.WriteEndArray();
        else AWriter.WriteEndObject();
    };
    if (AIsArray) AWriter.WriteStartArray();
    else AWriter.WriteStartObject();
    try {
        AMembers();
    } catch (...) {
        try {
            end();
        } catch (...) {
            // The member's failure is the one to report.
        }
        throw;
    }
    end();
}

} // namespace

void TKorvaneBSONWriter::WriteJsonObject(const TJSONObject* pObject)
{
    WriteContainer(*this, false, [&] {
        for (const TJSONPair& pair : *pObject) {
            WritePropertyName(std::string(pair.Name()));
            WriteJsonValue(pair.JsonValue());
        }
    });
}

void TKorvaneBSONWriter::WriteJsonArray(const TJSONArray* pArray)
{
    WriteContainer(*this, true, [&] {
        for (const auto& item : *pArray) WriteJsonValue(item.get());
    });
}

void TKorvaneBSONWriter::WriteJsonValue(const TJSONValue* pValue)
{
    if (!pValue) RaiseUnexpected(pValue);
    switch (pValue->Kind()) {
    case TJSONValue::TKind::Object: WriteJsonObject(static_cast<const TJSONObject*>(pValue)); break;
    case TJSONValue::TKind::Null: WriteNull(); break;
    case TJSONValue::TKind::Array: WriteJsonArray(static_cast<const TJSONArray*>(pValue)); break;
    case TJSONValue::TKind::Number: {
        const TNumber n = ParseNumber(static_cast<const TJSONNumber&>(*pValue));
        switch (n.Kind) {
        case TNumber::TKind::Double: WriteValue(n.Double); break;
        case TNumber::TKind::Int32: WriteValue(n.Int32); break;
        case TNumber::TKind::Int64: WriteValue(n.Int64); break;
        }
        break;
    }
    case TJSONValue::TKind::True: WriteValue(true); break;
    case TJSONValue::TKind::False: WriteValue(false); break;
    case TJSONValue::TKind::String: WriteValue(static_cast<const TJSONString*>(pValue)->Text()); break;
    default: RaiseUnexpected(pValue);
    }
}

void TKorvaneBSONWriter::WriteRawJsonValue(const TJSONValue* pValue)
{
    if (!pValue) RaiseUnexpected(pValue);
    switch (pValue->Kind()) {
    case TJSONValue::TKind::Object: throw Exception("raw bson for json-object not supported");
    case TJSONValue::TKind::Null: break;
    case TJSONValue::TKind::Array: throw Exception("raw bson for json-array not supported");
    case TJSONValue::TKind::Number: {
        const TNumber n = ParseNumber(static_cast<const TJSONNumber&>(*pValue));
        uint8_t bytes[8];
        size_t size = 8;
        switch (n.Kind) {
        case TNumber::TKind::Double: bson::StoreLE<uint64_t>(bytes, std::bit_cast<uint64_t>(n.Double)); break;
        case TNumber::TKind::Int32:
            bson::StoreLE<int32_t>(bytes, n.Int32);
            size = 4;
            break;
        case TNumber::TKind::Int64: bson::StoreLE<int64_t>(bytes, n.Int64); break;
        }
        WriteBytes(bytes, size);
        break;
    }
    case TJSONValue::TKind::True: WriteBytes("\1", 1); break;
    case TJSONValue::TKind::False: WriteBytes("\0", 1); break;
    case TJSONValue::TKind::String: WriteStringBytes(static_cast<const TJSONString*>(pValue)->Text()); break;
    default: RaiseUnexpected(pValue);
    }
}

} // namespace korvane
