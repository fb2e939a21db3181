#include "Korvane.JSON.BSON.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>

namespace korvane {

using bson::LoadLE;
using bson::StoreLE;

namespace {

enum : uint8_t {
    btDouble = 0x01, btString = 0x02, btDocument = 0x03, btArray = 0x04, btBinary = 0x05, btUndefined = 0x06,
    btObjectId = 0x07, btBoolean = 0x08, btDateTime = 0x09, btNull = 0x0A, btRegEx = 0x0B, btDBPointer = 0x0C,
    btCode = 0x0D, btSymbol = 0x0E, btCodeWScope = 0x0F, btInt32 = 0x10, btTimestamp = 0x11, btInt64 = 0x12,
    btMaxKey = 0x7F, btMinKey = 0xFF
};

// The element types the reader supports: 0x01 to 0x12, max key and min key.
constexpr bool IsSupportedType(uint8_t AType) { return (AType >= 0x01 && AType <= 0x12) || AType == 0x7F || AType == 0xFF; }

constexpr int64_t MaxInt32 = std::numeric_limits<int32_t>::max();

void CheckCString(std::string_view AText, const char* AWhat)
{
    if (std::memchr(AText.data(), 0, AText.size()))
        throw EJsonWriterException(korvane::Format("A BSON %s cannot hold a zero character", AWhat));
}

void CheckStringSize(size_t ASize)
{
    if (ASize > static_cast<size_t>(MaxInt32 - 5)) throw EJsonWriterException("String too long for BSON");
}

} // namespace

// ---- TBsonWriter ----

TBsonWriter::TBsonWriter(TStream* AStream) : FStream(AStream)
{
    if (!FStream) throw EArgumentException("TBsonWriter needs a stream");
    FStreamStart = FStream->Position();
}

TBsonWriter::~TBsonWriter()
{
    try {
        if (State() != TState::Closed) Close();
    } catch (...) {
        // Destructors never throw; a writer that cannot complete its document leaves it as it is.
    }
    std::free(FData);
}

uint8_t* TBsonWriter::Reserve(size_t ACount)
{
    // Every size in a document is a signed 32-bit number.
    if (ACount > static_cast<size_t>(MaxInt32) - FSize) throw EJsonWriterException("BSON document too large");
    if (FCapacity - FSize < ACount) {
        size_t capacity = FCapacity ? FCapacity : 256;
        while (capacity - FSize < ACount) capacity *= 2;
        auto* data = static_cast<uint8_t*>(std::realloc(FData, capacity));
        if (!data) throw std::bad_alloc();
        FData = data;
        FCapacity = capacity;
    }
    return FData + FSize;
}

uint8_t* TBsonWriter::Header(uint8_t AType, size_t AValueSize)
{
    if (FOpen.empty()) throw EJsonWriterException("A BSON value needs an object or an array around it");
    TOpenContainer& c = FOpen.back();
    char digits[16];
    const char* name;
    size_t length;
    if (c.IsArray) {
        const auto result = std::to_chars(digits, digits + sizeof(digits), c.Index++);
        name = digits;
        length = static_cast<size_t>(result.ptr - digits);
    } else {
        name = FPropertyName.data();
        length = FPropertyName.size();
    }
    uint8_t* p = Reserve(length + 2 + AValueSize);
    p[0] = AType;
    std::memcpy(p + 1, name, length);
    p[1 + length] = 0;
    FSize += length + 2;
    return p + length + 2;
}

void TBsonWriter::WriteBytes(const void* AData, size_t ACount)
{
    std::memcpy(Reserve(ACount), AData, ACount);
    Advance(ACount);
}

void TBsonWriter::WriteStringBytes(std::string_view AValue)
{
    CheckStringSize(AValue.size());
    uint8_t* p = Reserve(AValue.size() + 5);
    StoreLE<int32_t>(p, static_cast<int32_t>(AValue.size() + 1));
    std::memcpy(p + 4, AValue.data(), AValue.size());
    p[4 + AValue.size()] = 0;
    Advance(AValue.size() + 5);
}

void TBsonWriter::Reset()
{
    FSize = 0;
    FDirtyFrom = 0;
    FOpen.clear();
    FPropertyName.clear();
    FStreamStart = FStream->Position();
}

void TBsonWriter::Rewind()
{
    TJsonWriter::Rewind();
    Reset();
}

void TBsonWriter::Close()
{
    TJsonWriter::Close();
    Reset();
}

void TBsonWriter::Flush()
{
    if (FSize == 0) return;
    FStream->SetPosition(FStreamStart + static_cast<int64_t>(FDirtyFrom));
    FStream->WriteBuffer(FData + FDirtyFrom, static_cast<int64_t>(FSize - FDirtyFrom));
    FDirtyFrom = FSize;
    if (FOpen.empty()) return;
    // The provisional end: a null for a pending name, then each open
    // container's terminator, innermost first; the sizes follow from that.
    std::vector<uint8_t> tail;
    if (State() == TState::Property && !FOpen.back().IsArray) {
        tail.push_back(btNull);
        tail.insert(tail.end(), FPropertyName.begin(), FPropertyName.end());
        tail.push_back(0);
    }
    tail.insert(tail.end(), FOpen.size(), 0);
    FStream->WriteBuffer(tail.data(), static_cast<int64_t>(tail.size()));
    const size_t end = FSize + tail.size();
    for (size_t i = 0; i < FOpen.size(); ++i) {
        const size_t containerEnd = end - i; // the outermost ends last
        const size_t size = containerEnd - FOpen[i].Start;
        if (size > static_cast<size_t>(MaxInt32)) throw EJsonWriterException("BSON document too large");
        uint8_t field[4];
        StoreLE<int32_t>(field, static_cast<int32_t>(size));
        FStream->SetPosition(FStreamStart + static_cast<int64_t>(FOpen[i].Start));
        FStream->WriteBuffer(field, 4);
    }
    FStream->SetPosition(FStreamStart + static_cast<int64_t>(FSize));
}

void TBsonWriter::StartContainer(bool AIsArray)
{
    if (FOpen.size() >= static_cast<size_t>(BsonMaxDepth))
        throw EJsonWriterException(korvane::Format("BSON nesting deeper than %d levels", BsonMaxDepth));
    if (AIsArray) TJsonWriter::WriteStartArray();
    else TJsonWriter::WriteStartObject();
    uint8_t* p = FOpen.empty() ? Reserve(4) : Header(AIsArray ? btArray : btDocument, 4);
    std::memset(p, 0, 4);
    FOpen.push_back({FSize, 0, AIsArray});
    Advance(4);
}

void TBsonWriter::EndContainer()
{
    *Reserve(1) = 0;
    Advance(1);
    const TOpenContainer c = FOpen.back();
    FOpen.pop_back();
    StoreLE<int32_t>(FData + c.Start, static_cast<int32_t>(FSize - c.Start));
    if (c.Start < FDirtyFrom) FDirtyFrom = c.Start;
    if (FOpen.empty()) {
        Flush();
        Reset();
    }
}

void TBsonWriter::WriteStartObject() { StartContainer(false); }
void TBsonWriter::WriteStartArray() { StartContainer(true); }

void TBsonWriter::WriteEndObject()
{
    TJsonWriter::WriteEndObject();
    EndContainer();
}

void TBsonWriter::WriteEndArray()
{
    TJsonWriter::WriteEndArray();
    EndContainer();
}

void TBsonWriter::WritePropertyName(const std::string& AName)
{
    CheckCString(AName, "name");
    TJsonWriter::WritePropertyName(AName);
    FPropertyName = AName;
}

void TBsonWriter::WriteStartConstructor(const std::string&)
{
    throw EJsonWriterException("JSON-Konstruktor kann nicht als BSON geschrieben werden");
}

void TBsonWriter::WriteComment(const std::string&)
{
    throw EJsonWriterException("JSON-Kommentar kann nicht als BSON geschrieben werden");
}

void TBsonWriter::WriteRaw(const std::string&)
{
    throw EJsonWriterException("Roh-JSON kann nicht als BSON geschrieben werden");
}

void TBsonWriter::WriteRawValue(const std::string&)
{
    throw EJsonWriterException("Roh-JSON kann nicht als BSON geschrieben werden");
}

void TBsonWriter::WriteNull()
{
    TJsonWriter::WriteNull();
    Header(btNull, 0);
}

void TBsonWriter::WriteUndefined()
{
    TJsonWriter::WriteUndefined();
    Header(btUndefined, 0);
}

void TBsonWriter::WriteMinKey()
{
    TJsonWriter::WriteMinKey();
    Header(btMinKey, 0);
}

void TBsonWriter::WriteMaxKey()
{
    TJsonWriter::WriteMaxKey();
    Header(btMaxKey, 0);
}

void TBsonWriter::WriteString(uint8_t AType, std::string_view AValue)
{
    CheckStringSize(AValue.size());
    uint8_t* p = Header(AType, AValue.size() + 5);
    StoreLE<int32_t>(p, static_cast<int32_t>(AValue.size() + 1));
    std::memcpy(p + 4, AValue.data(), AValue.size());
    p[4 + AValue.size()] = 0;
    Advance(AValue.size() + 5);
}

void TBsonWriter::WriteCode(const std::string& ACode)
{
    TJsonWriter::WriteCode(ACode);
    WriteString(btCode, ACode);
}

void TBsonWriter::WriteValue(std::string_view AValue)
{
    TJsonWriter::WriteValue(AValue);
    if (AValue.empty() && EmptyValueHandling() == TJsonEmptyValueHandling::Null) return;
    WriteString(btString, AValue);
}

void TBsonWriter::WriteValue(bool AValue)
{
    TJsonWriter::WriteValue(AValue);
    WriteFixed<uint8_t>(btBoolean, AValue ? 1 : 0);
}

void TBsonWriter::WriteValue(int32_t AValue)
{
    TJsonWriter::WriteValue(AValue);
    WriteFixed<int32_t>(btInt32, AValue);
}

void TBsonWriter::WriteValue(uint32_t AValue)
{
    TJsonWriter::WriteValue(AValue);
    WriteFixed<uint32_t>(btInt32, AValue);
}

void TBsonWriter::WriteValue(int64_t AValue)
{
    TJsonWriter::WriteValue(AValue);
    WriteFixed<int64_t>(btInt64, AValue);
}

void TBsonWriter::WriteValue(uint64_t AValue)
{
    TJsonWriter::WriteValue(AValue);
    WriteFixed<uint64_t>(btInt64, AValue);
}

void TBsonWriter::WriteValue(double AValue)
{
    TJsonWriter::WriteValue(AValue);
    WriteFixed<uint64_t>(btDouble, std::bit_cast<uint64_t>(AValue));
}

void TBsonWriter::WriteValue(TJsonDateTime AValue)
{
    TJsonWriter::WriteValue(AValue);
    const auto seconds = std::chrono::floor<std::chrono::seconds>(AValue.time_since_epoch());
    WriteFixed<int64_t>(btDateTime, std::chrono::milliseconds(seconds).count());
}

void TBsonWriter::WriteValue(std::span<const uint8_t> AValue, TJsonBinaryType ABinaryType)
{
    TJsonWriter::WriteValue(AValue, ABinaryType);
    if (AValue.empty() && EmptyValueHandling() == TJsonEmptyValueHandling::Null) return;
    // The old binary subtype repeats the length inside the value.
    const bool old = ABinaryType == TJsonBinaryType::BinaryOld;
    const size_t inner = old ? 4 : 0;
    if (AValue.size() > static_cast<size_t>(MaxInt32 - 9)) throw EJsonWriterException("Binary value too long for BSON");
    uint8_t* p = Header(btBinary, 5 + inner + AValue.size());
    StoreLE<int32_t>(p, static_cast<int32_t>(AValue.size() + inner));
    p[4] = static_cast<uint8_t>(ABinaryType);
    if (old) StoreLE<int32_t>(p + 5, static_cast<int32_t>(AValue.size()));
    if (!AValue.empty()) std::memcpy(p + 5 + inner, AValue.data(), AValue.size());
    Advance(5 + inner + AValue.size());
}

void TBsonWriter::WriteValue(const TJsonOid& AValue)
{
    TJsonWriter::WriteValue(AValue);
    std::memcpy(Header(btObjectId, 12), AValue.Bytes, 12);
    Advance(12);
}

void TBsonWriter::WriteValue(const TJsonRegEx& AValue)
{
    CheckCString(AValue.Expression, "regular expression");
    CheckCString(AValue.Options, "regular expression");
    CheckStringSize(AValue.Expression.size() + AValue.Options.size());
    TJsonWriter::WriteValue(AValue);
    const size_t size = AValue.Expression.size() + AValue.Options.size() + 2;
    uint8_t* p = Header(btRegEx, size);
    std::memcpy(p, AValue.Expression.data(), AValue.Expression.size() + 1);
    std::memcpy(p + AValue.Expression.size() + 1, AValue.Options.data(), AValue.Options.size() + 1);
    Advance(size);
}

void TBsonWriter::WriteValue(const TJsonDBRef& AValue)
{
    CheckStringSize(AValue.Ref.size());
    TJsonWriter::WriteValue(AValue);
    Header(btDBPointer, 0);
    WriteStringBytes(AValue.Ref);
    WriteBytes(AValue.Id.Bytes, 12);
}

void TBsonWriter::WriteValue(const TJsonCodeWScope& AValue)
{
    size_t total = 4 + AValue.Code.size() + 5 + 5;
    for (const auto& [name, value] : AValue.Scope) {
        CheckCString(name, "name");
        total += 2 + name.size() + 5 + value.size();
    }
    if (total > static_cast<size_t>(MaxInt32)) throw EJsonWriterException("Code with scope too long for BSON");
    TJsonWriter::WriteValue(AValue);
    Header(btCodeWScope, 0);
    const size_t start = FSize;
    WriteBytes("\0\0\0\0", 4);
    WriteStringBytes(AValue.Code);
    const size_t scope = FSize;
    WriteBytes("\0\0\0\0", 4);
    for (const auto& [name, value] : AValue.Scope) {
        uint8_t type = btString;
        WriteBytes(&type, 1);
        WriteBytes(name.c_str(), name.size() + 1);
        WriteStringBytes(value);
    }
    WriteBytes("", 1);
    StoreLE<int32_t>(FData + scope, static_cast<int32_t>(FSize - scope));
    StoreLE<int32_t>(FData + start, static_cast<int32_t>(FSize - start));
}

// ---- TBsonReader ----

namespace {

// The token an element type reads as, for messages.
TJsonToken TokenOfType(uint8_t AType)
{
    switch (AType) {
    case btDouble: return TJsonToken::Float;
    case btString:
    case btCode:
    case btSymbol: return TJsonToken::String;
    case btDocument: return TJsonToken::StartObject;
    case btArray: return TJsonToken::StartArray;
    case btBinary: return TJsonToken::Bytes;
    case btUndefined: return TJsonToken::Undefined;
    case btObjectId: return TJsonToken::Oid;
    case btBoolean: return TJsonToken::Boolean;
    case btDateTime: return TJsonToken::Date;
    case btNull: return TJsonToken::Null;
    case btRegEx: return TJsonToken::RegEx;
    case btDBPointer: return TJsonToken::DBRef;
    case btCodeWScope: return TJsonToken::CodeWScope;
    case btInt32:
    case btTimestamp:
    case btInt64: return TJsonToken::Integer;
    case btMaxKey: return TJsonToken::MaxKey;
    case btMinKey: return TJsonToken::MinKey;
    default: return TJsonToken::None;
    }
}

// Reads until Count bytes are in or the stream has no more; the number read.
int64_t ReadFully(TStream* AStream, uint8_t* ABuffer, int64_t ACount)
{
    int64_t done = 0;
    while (done < ACount) {
        const int64_t n = AStream->Read(ABuffer + done, ACount - done);
        if (n <= 0) break;
        done += n;
    }
    return done;
}

} // namespace

TBsonReader::TBsonReader(TStream* AStream, bool AReadRootValueAsArray)
    : FStream(AStream), FReadRootValueAsArray(AReadRootValueAsArray)
{
    if (!FStream) throw EArgumentException("TBsonReader needs a stream");
    FStreamStart = FStream->Position();
}

TBsonReader::~TBsonReader()
{
    try {
        GiveBackStream();
    } catch (...) {
        // Destructors never throw.
    }
}

void TBsonReader::GiveBackStream()
{
    if (FLoaded) FStream->SetPosition(FStreamStart + FPos);
}

bool TBsonReader::Load()
{
    FLoaded = true;
    if (auto* memory = dynamic_cast<TMemoryStream*>(FStream)) {
        const int64_t size = memory->Size();
        FLimit = size > FStreamStart ? size - FStreamStart : 0;
        FData = FLimit > 0 ? memory->Memory() + FStreamStart : nullptr;
        return true;
    }
    // Another stream: the length, then the rest of the document as far as the stream holds it.
    FOwnedData.resize(4);
    FOwnedData.resize(static_cast<size_t>(ReadFully(FStream, FOwnedData.data(), 4)));
    if (FOwnedData.size() == 4) {
        const int32_t length = LoadLE<int32_t>(FOwnedData.data());
        if (length > 4) {
            const int64_t wanted = std::min<int64_t>(length - 4, FStream->Remaining());
            FOwnedData.resize(static_cast<size_t>(4 + wanted));
            FOwnedData.resize(static_cast<size_t>(4 + ReadFully(FStream, FOwnedData.data() + 4, wanted)));
        }
    }
    FData = FOwnedData.data();
    FLimit = static_cast<int64_t>(FOwnedData.size());
    return true;
}

void TBsonReader::Raise(const std::string& AMessage, int64_t AOffset)
{
    // A reader that met a fault reads no further.
    FState = TState::Error;
    FTokenType = TJsonToken::None;
    FStack.clear();
    const int64_t offset = FStreamStart + AOffset;
    throw EJsonReaderException(korvane::Format("%s (offset %d)", AMessage, offset), offset);
}

void TBsonReader::RaisePastContainer(int64_t AOffset)
{
    Raise(korvane::Format("BSON value of type 0x%.2x runs past the end of its container", FCurrentElementType),
          AOffset);
}

bool TBsonReader::DataEnded()
{
    FTokenType = TJsonToken::None;
    FIncomplete = true;
    FState = TState::Finished;
    FStack.clear();
    return false;
}

bool TBsonReader::ReadCStringAt(int64_t AEnd, std::string_view& AValue)
{
    // Names are short: one pass finds the terminator and whether any byte is beyond ASCII.
    const uint8_t* start = FData + FPos;
    const uint8_t* limit = FData + std::max(FPos, std::min(AEnd, FLimit));
    const uint8_t* q = start;
    uint8_t high = 0;
    while (q < limit && *q) high |= *q++;
    if (q == limit) {
        if (AEnd <= FLimit) Raise("BSON text without terminator", FPos);
        return false;
    }
    AValue = std::string_view(reinterpret_cast<const char*>(start), static_cast<size_t>(q - start));
    if ((high & 0x80) && !IsValidUTF8(AValue)) Raise("Invalid UTF-8 in a BSON text", FPos);
    FPos += static_cast<int64_t>(AValue.size()) + 1;
    return true;
}

bool TBsonReader::ReadStringAt(int64_t AEnd, std::string_view& AValue)
{
    if (AEnd - FPos < 4) RaisePastContainer(FPos);
    if (FPos + 4 > FLimit) return false;
    const int32_t length = LoadLE<int32_t>(FData + FPos);
    if (length < 1) Raise(korvane::Format("Invalid BSON string length %d", length), FPos);
    if (length > AEnd - FPos - 4) Raise(korvane::Format("BSON string length %d runs past its container", length), FPos);
    const int64_t text = FPos + 4;
    if (text + length > FLimit) return false;
    if (FData[text + length - 1] != 0) Raise("BSON string without terminator", text + length - 1);
    AValue = std::string_view(reinterpret_cast<const char*>(FData + text), static_cast<size_t>(length - 1));
    if (!IsValidUTF8(AValue)) Raise("Invalid UTF-8 in a BSON string", text);
    FPos = text + length;
    return true;
}

bool TBsonReader::PushContainer(uint8_t AType)
{
    // The root may claim more than the data holds (the data then ends early);
    // a nested container must fit the one around it.
    const bool nested = !FStack.empty();
    const int64_t end = nested ? FStack.back().End : 0;
    if (nested && end - FPos < 4) RaisePastContainer(FPos);
    if (FPos + 4 > FLimit) return DataEnded();
    const int32_t length = LoadLE<int32_t>(FData + FPos);
    if (length < 5 || (nested && length > end - FPos))
        Raise(korvane::Format("BSON %s length %d does not fit its container", AType == btArray ? "array" : "document",
                              length),
              FPos);
    if (FStack.size() >= static_cast<size_t>(BsonMaxDepth))
        Raise(korvane::Format("BSON nesting deeper than %d levels", BsonMaxDepth), FPos);
    FStack.push_back({AType, FPos, FPos + length - 1});
    FPos += 4;
    if (AType == btArray) {
        FTokenType = TJsonToken::StartArray;
        FState = TState::ArrayStart;
    } else {
        FTokenType = TJsonToken::StartObject;
        FState = TState::ObjectStart;
    }
    return true;
}

bool TBsonReader::Read()
{
    switch (FState) {
    case TState::Start:
        if (!FLoaded) Load();
        FPos = 0;
        return PushContainer(FReadRootValueAsArray ? btArray : btDocument);
    case TState::Property: return ReadValue();
    case TState::ObjectStart:
    case TState::ArrayStart:
    case TState::PostValue: return ReadElement();
    case TState::Object:
    case TState::Array: Raise("The BSON reader is in a state it never takes", FPos);
    default: FTokenType = TJsonToken::None; return false;
    }
}

bool TBsonReader::ReadElement()
{
    if (FStack.empty()) {
        FTokenType = TJsonToken::None;
        FState = TState::Finished;
        return false;
    }
    const TContainerContext& context = FStack.back();
    if (FPos < context.End) {
        if (FPos >= FLimit) return DataEnded();
        const uint8_t type = FData[FPos];
        // An element the reader cannot read would leave it without its place.
        if (!IsSupportedType(type)) Raise(korvane::Format("Unsupported BSON element type 0x%.2x", type), FPos);
        FCurrentElementType = type;
        ++FPos;
        std::string_view name;
        if (!ReadCStringAt(context.End, name)) return DataEnded();
        if (context.Type == btArray) return ReadValue();
        FText = name;
        FTokenType = TJsonToken::PropertyName;
        FState = TState::Property;
        return true;
    }
    if (FPos == context.End) {
        if (FPos >= FLimit) return DataEnded();
        if (FData[FPos] != 0) Raise("Unerwartetes Ende des Objekt-Byte-Wertes", FPos);
        ++FPos;
        FTokenType = context.Type == btArray ? TJsonToken::EndArray : TJsonToken::EndObject;
        FState = TState::PostValue;
        FStack.pop_back();
        if (FStack.empty()) GiveBackStream();
        return true;
    }
    Raise("Nach Ende des aktuellen Container-Kontexts gelesen", FPos);
}

bool TBsonReader::ReadValue()
{
    const int64_t end = FStack.back().End;
    // Whether n more bytes are at hand; raises when the container has no room for them.
    auto have = [&](int64_t n) {
        if (end - FPos < n) RaisePastContainer(FPos);
        return FPos + n <= FLimit;
    };
    const uint8_t* p = FData + FPos;
    switch (FCurrentElementType) {
    case btDouble:
        if (!have(8)) return DataEnded();
        FFloat = std::bit_cast<double>(LoadLE<uint64_t>(p));
        FPos += 8;
        FTokenType = TJsonToken::Float;
        break;
    case btString:
    case btCode:
    case btSymbol:
        if (!ReadStringAt(end, FText)) return DataEnded();
        FTokenType = TJsonToken::String;
        break;
    case btDocument:
    case btArray: return PushContainer(FCurrentElementType);
    case btBinary: {
        if (!have(5)) return DataEnded();
        const int32_t length = LoadLE<int32_t>(p);
        const uint8_t subtype = p[4];
        if (length < 0 || length > end - FPos - 5)
            Raise(korvane::Format("BSON binary length %d does not fit its container", length), FPos);
        if (!have(5 + length)) return DataEnded();
        if (subtype == static_cast<uint8_t>(TJsonBinaryType::BinaryOld)) {
            if (length < 4) Raise(korvane::Format("BSON binary length %d leaves no room for its inner length", length), FPos);
            const int32_t inner = LoadLE<int32_t>(p + 5);
            if (inner != length - 4)
                Raise(korvane::Format("BSON binary length %d disagrees with its inner length %d", length, inner), FPos);
            FBytes = std::span<const uint8_t>(p + 9, static_cast<size_t>(inner));
        } else {
            FBytes = std::span<const uint8_t>(p + 5, static_cast<size_t>(length));
        }
        FBinaryType = static_cast<TJsonBinaryType>(subtype);
        FPos += 5 + length;
        FTokenType = TJsonToken::Bytes;
        break;
    }
    case btUndefined: FTokenType = TJsonToken::Undefined; break;
    case btNull: FTokenType = TJsonToken::Null; break;
    case btMinKey: FTokenType = TJsonToken::MinKey; break;
    case btMaxKey: FTokenType = TJsonToken::MaxKey; break;
    case btObjectId:
        if (!have(12)) return DataEnded();
        std::memcpy(FOid.Bytes, p, 12);
        FPos += 12;
        FTokenType = TJsonToken::Oid;
        break;
    case btBoolean:
        if (!have(1)) return DataEnded();
        FBoolean = *p != 0;
        FPos += 1;
        FTokenType = TJsonToken::Boolean;
        break;
    case btDateTime: {
        if (!have(8)) return DataEnded();
        // Whole seconds: the milliseconds are dropped.
        const int64_t ms = LoadLE<int64_t>(p);
        int64_t seconds = ms / 1000;
        if (ms % 1000 < 0) --seconds;
        FInteger = seconds * 1000;
        FPos += 8;
        FTokenType = TJsonToken::Date;
        break;
    }
    case btRegEx:
        if (!ReadCStringAt(end, FText) || !ReadCStringAt(end, FText2)) return DataEnded();
        FTokenType = TJsonToken::RegEx;
        break;
    case btDBPointer:
        if (!ReadStringAt(end, FText) || !have(12)) return DataEnded();
        std::memcpy(FOid.Bytes, FData + FPos, 12);
        FPos += 12;
        FTokenType = TJsonToken::DBRef;
        break;
    case btCodeWScope:
        if (!ReadCodeWScope(end)) return DataEnded();
        break;
    case btInt32:
        if (!have(4)) return DataEnded();
        FInteger = LoadLE<int32_t>(p);
        FPos += 4;
        FTokenType = TJsonToken::Integer;
        break;
    case btTimestamp:
    case btInt64:
        if (!have(8)) return DataEnded();
        FInteger = LoadLE<int64_t>(p);
        FPos += 8;
        FTokenType = TJsonToken::Integer;
        break;
    default: Raise(korvane::Format("Unsupported BSON element type 0x%.2x", FCurrentElementType), FPos);
    }
    FState = TState::PostValue;
    return true;
}

bool TBsonReader::ReadCodeWScope(int64_t AEnd)
{
    if (AEnd - FPos < 4) RaisePastContainer(FPos);
    if (FPos + 4 > FLimit) return false;
    const int32_t total = LoadLE<int32_t>(FData + FPos);
    // The length, a string of at least 5 bytes and a document of at least 5.
    if (total < 14 || total > AEnd - FPos)
        Raise(korvane::Format("BSON code with scope length %d does not fit its container", total), FPos);
    if (FPos + total > FLimit) return false;
    const int64_t stop = FPos + total;
    FPos += 4;
    std::string_view code;
    ReadStringAt(stop - 5, code);
    const int64_t scope = FPos;
    const int32_t length = LoadLE<int32_t>(FData + scope);
    if (length != stop - scope)
        Raise(korvane::Format("BSON code with scope length %d disagrees with its scope length %d", total, length), scope);
    const int64_t scopeEnd = stop - 1;
    FPos = scope + 4;
    FCodeWScope.Code.assign(code);
    FCodeWScope.Scope.clear();
    while (FPos < scopeEnd) {
        const uint8_t type = FData[FPos];
        if (type != btString)
            Raise(korvane::Format("Fehler beim Lesen von Code mit Gültigkeitsbereich. Unerwartetes Token: %s",
                                  JsonTokenName(TokenOfType(type))),
                  FPos);
        ++FPos;
        std::string_view name, value;
        ReadCStringAt(scopeEnd, name);
        ReadStringAt(scopeEnd, value);
        FCodeWScope.Scope.emplace_back(std::string(name), std::string(value));
    }
    if (FData[scopeEnd] != 0) Raise("Unerwartetes Ende des Objekt-Byte-Wertes", scopeEnd);
    FPos = stop;
    FTokenType = TJsonToken::CodeWScope;
    return true;
}

void TBsonReader::Skip()
{
    if (FTokenType == TJsonToken::PropertyName) Read();
    if ((FTokenType == TJsonToken::StartObject || FTokenType == TJsonToken::StartArray) && !FStack.empty()) {
        // The body was checked to fit its container; the end is read as usual.
        FPos = FStack.back().End;
        Read();
    }
}

void TBsonReader::Close()
{
    TJsonReader::Close();
    FStack.clear();
    GiveBackStream();
}

void TBsonReader::Rewind()
{
    TJsonReader::Rewind();
    FStack.clear();
    FPos = 0;
    FIncomplete = false;
}

} // namespace korvane
