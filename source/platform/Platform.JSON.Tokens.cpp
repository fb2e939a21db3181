#include "Platform.JSON.Tokens.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

namespace korvane {

namespace {

const char* const TokenNames[] = {
    "None", "StartObject", "StartArray", "StartConstructor", "PropertyName", "Comment", "Raw", "Integer",
    "Float", "String", "Boolean", "Null", "Undefined", "EndObject", "EndArray", "EndConstructor", "Date",
    "Bytes", "Oid", "RegEx", "DBRef", "CodeWScope", "MinKey", "MaxKey"};

const char* StateName(TJsonWriter::TState AState)
{
    static const char* const names[] = {"Start", "Property", "ObjectStart", "Object", "ArrayStart",
                                        "Array", "ConstructorStart", "Constructor", "Closed", "Error"};
    return names[static_cast<int>(AState)];
}

} // namespace

const char* JsonTokenName(TJsonToken AToken)
{
    const auto i = static_cast<size_t>(AToken);
    return i < std::size(TokenNames) ? TokenNames[i] : "Unknown";
}

// ---- TJsonWriter ----

void TJsonWriter::RaiseInvalid(TJsonToken AToken) const
{
    throw EJsonWriterException(korvane::Format("Token %s in state %s would result in an invalid JSON object",
                                               JsonTokenName(AToken), StateName(FState)));
}

void TJsonWriter::AfterValue()
{
    if (FStack.empty()) {
        FState = TState::Start;
        return;
    }
    switch (FStack.back()) {
    case TContainer::Object: FState = TState::Object; break;
    case TContainer::Array: FState = TState::Array; break;
    case TContainer::Constructor: FState = TState::Constructor; break;
    }
}

void TJsonWriter::InternalWriteStart(TContainer AContainer)
{
    switch (FState) {
    case TState::Start:
    case TState::Property:
    case TState::ArrayStart:
    case TState::Array:
    case TState::ConstructorStart:
    case TState::Constructor: break;
    default:
        RaiseInvalid(AContainer == TContainer::Object  ? TJsonToken::StartObject
                     : AContainer == TContainer::Array ? TJsonToken::StartArray
                                                       : TJsonToken::StartConstructor);
    }
    FStack.push_back(AContainer);
    FState = AContainer == TContainer::Object  ? TState::ObjectStart
             : AContainer == TContainer::Array ? TState::ArrayStart
                                               : TState::ConstructorStart;
}

void TJsonWriter::InternalWriteEnd(TContainer AContainer)
{
    const TJsonToken token = AContainer == TContainer::Object  ? TJsonToken::EndObject
                             : AContainer == TContainer::Array ? TJsonToken::EndArray
                                                               : TJsonToken::EndConstructor;
    if (FStack.empty() || FStack.back() != AContainer) RaiseInvalid(token);
    // A name without a value gets a null, as a document needs one there.
    if (FState == TState::Property) WriteNull();
    FStack.pop_back();
    AfterValue();
}

void TJsonWriter::InternalWritePropertyName()
{
    if (FState != TState::ObjectStart && FState != TState::Object) RaiseInvalid(TJsonToken::PropertyName);
    FState = TState::Property;
}

void TJsonWriter::InternalWriteValue(TJsonToken AToken)
{
    switch (FState) {
    case TState::Start:
    case TState::Property:
    case TState::ArrayStart:
    case TState::Array:
    case TState::ConstructorStart:
    case TState::Constructor: AfterValue(); break;
    default: RaiseInvalid(AToken);
    }
}

void TJsonWriter::Close()
{
    while (!FStack.empty()) {
        switch (FStack.back()) {
        case TContainer::Object: WriteEndObject(); break;
        case TContainer::Array: WriteEndArray(); break;
        case TContainer::Constructor: WriteEndConstructor(); break;
        }
    }
    FState = TState::Closed;
}

void TJsonWriter::Rewind()
{
    FStack.clear();
    FState = TState::Start;
}

void TJsonWriter::WriteStartObject() { InternalWriteStart(TContainer::Object); }
void TJsonWriter::WriteEndObject() { InternalWriteEnd(TContainer::Object); }
void TJsonWriter::WriteStartArray() { InternalWriteStart(TContainer::Array); }
void TJsonWriter::WriteEndArray() { InternalWriteEnd(TContainer::Array); }
void TJsonWriter::WriteStartConstructor(const std::string&) { InternalWriteStart(TContainer::Constructor); }
void TJsonWriter::WriteEndConstructor() { InternalWriteEnd(TContainer::Constructor); }
void TJsonWriter::WritePropertyName(const std::string&) { InternalWritePropertyName(); }
void TJsonWriter::WriteComment(const std::string&) {}
void TJsonWriter::WriteRaw(const std::string&) {}
void TJsonWriter::WriteRawValue(const std::string&) { InternalWriteValue(TJsonToken::Raw); }
void TJsonWriter::WriteNull() { InternalWriteValue(TJsonToken::Null); }
void TJsonWriter::WriteUndefined() { InternalWriteValue(TJsonToken::Undefined); }
void TJsonWriter::WriteMinKey() { InternalWriteValue(TJsonToken::MinKey); }
void TJsonWriter::WriteMaxKey() { InternalWriteValue(TJsonToken::MaxKey); }
void TJsonWriter::WriteCode(const std::string&) { InternalWriteValue(TJsonToken::String); }
void TJsonWriter::WriteValue(std::string_view) { InternalWriteValue(TJsonToken::String); }
void TJsonWriter::WriteValue(bool) { InternalWriteValue(TJsonToken::Boolean); }
void TJsonWriter::WriteValue(int32_t) { InternalWriteValue(TJsonToken::Integer); }
void TJsonWriter::WriteValue(uint32_t) { InternalWriteValue(TJsonToken::Integer); }
void TJsonWriter::WriteValue(int64_t) { InternalWriteValue(TJsonToken::Integer); }
void TJsonWriter::WriteValue(uint64_t) { InternalWriteValue(TJsonToken::Integer); }
void TJsonWriter::WriteValue(double) { InternalWriteValue(TJsonToken::Float); }
void TJsonWriter::WriteValue(TJsonDateTime) { InternalWriteValue(TJsonToken::Date); }
void TJsonWriter::WriteValue(std::span<const uint8_t>, TJsonBinaryType) { InternalWriteValue(TJsonToken::Bytes); }
void TJsonWriter::WriteValue(const TJsonOid&) { InternalWriteValue(TJsonToken::Oid); }
void TJsonWriter::WriteValue(const TJsonRegEx&) { InternalWriteValue(TJsonToken::RegEx); }
void TJsonWriter::WriteValue(const TJsonDBRef&) { InternalWriteValue(TJsonToken::DBRef); }
void TJsonWriter::WriteValue(const TJsonCodeWScope&) { InternalWriteValue(TJsonToken::CodeWScope); }

void TJsonWriter::WriteValue(const TGUID& AValue)
{
    uint8_t bytes[16];
    for (int i = 0; i < 4; ++i) bytes[i] = static_cast<uint8_t>(AValue.D1 >> (8 * i));
    for (int i = 0; i < 2; ++i) bytes[4 + i] = static_cast<uint8_t>(AValue.D2 >> (8 * i));
    for (int i = 0; i < 2; ++i) bytes[6 + i] = static_cast<uint8_t>(AValue.D3 >> (8 * i));
    std::memcpy(bytes + 8, AValue.D4, 8);
    WriteValue(std::span<const uint8_t>(bytes), TJsonBinaryType::UUID);
}

void TJsonWriter::WriteToken(const TJsonReader& AReader)
{
    switch (AReader.TokenType()) {
    case TJsonToken::None: break;
    case TJsonToken::StartObject: WriteStartObject(); break;
    case TJsonToken::StartArray: WriteStartArray(); break;
    case TJsonToken::StartConstructor: WriteStartConstructor(std::string(AReader.AsString())); break;
    case TJsonToken::PropertyName: WritePropertyName(std::string(AReader.AsString())); break;
    case TJsonToken::Comment: WriteComment(std::string(AReader.AsString())); break;
    case TJsonToken::Raw: WriteRawValue(std::string(AReader.AsString())); break;
    case TJsonToken::Integer: {
        const int64_t v = AReader.AsInteger();
        if (v >= std::numeric_limits<int32_t>::min() && v <= std::numeric_limits<int32_t>::max())
            WriteValue(static_cast<int32_t>(v));
        else
            WriteValue(v);
        break;
    }
    case TJsonToken::Float: WriteValue(AReader.AsFloat()); break;
    case TJsonToken::String: WriteValue(AReader.AsString()); break;
    case TJsonToken::Boolean: WriteValue(AReader.AsBoolean()); break;
    case TJsonToken::Null: WriteNull(); break;
    case TJsonToken::Undefined: WriteUndefined(); break;
    case TJsonToken::EndObject: WriteEndObject(); break;
    case TJsonToken::EndArray: WriteEndArray(); break;
    case TJsonToken::EndConstructor: WriteEndConstructor(); break;
    case TJsonToken::Date: WriteValue(AReader.AsDateTime()); break;
    case TJsonToken::Bytes: WriteValue(AReader.AsBytes(), AReader.BinaryType()); break;
    case TJsonToken::Oid: WriteValue(AReader.AsOid()); break;
    case TJsonToken::RegEx: WriteValue(AReader.AsRegEx()); break;
    case TJsonToken::DBRef: WriteValue(AReader.AsDBRef()); break;
    case TJsonToken::CodeWScope: WriteValue(AReader.AsCodeWScope()); break;
    case TJsonToken::MinKey: WriteMinKey(); break;
    case TJsonToken::MaxKey: WriteMaxKey(); break;
    }
}

// ---- TJsonReader ----

void TJsonReader::Check(TJsonToken AToken) const
{
    if (FTokenType != AToken)
        throw EJsonReaderException(korvane::Format("The token %s holds no %s value", JsonTokenName(FTokenType),
                                                   JsonTokenName(AToken)),
                                   ErrorOffset());
}

std::string_view TJsonReader::AsString() const
{
    if (FTokenType != TJsonToken::PropertyName) Check(TJsonToken::String);
    return FText;
}

int64_t TJsonReader::AsInteger() const
{
    Check(TJsonToken::Integer);
    return FInteger;
}

double TJsonReader::AsFloat() const
{
    Check(TJsonToken::Float);
    return FFloat;
}

bool TJsonReader::AsBoolean() const
{
    Check(TJsonToken::Boolean);
    return FBoolean;
}

TJsonDateTime TJsonReader::AsDateTime() const
{
    Check(TJsonToken::Date);
    return TJsonDateTime(std::chrono::milliseconds(FInteger));
}

std::span<const uint8_t> TJsonReader::AsBytes() const
{
    Check(TJsonToken::Bytes);
    return FBytes;
}

TJsonBinaryType TJsonReader::BinaryType() const
{
    Check(TJsonToken::Bytes);
    return FBinaryType;
}

const TJsonOid& TJsonReader::AsOid() const
{
    if (FTokenType != TJsonToken::DBRef) Check(TJsonToken::Oid);
    return FOid;
}

TJsonRegEx TJsonReader::AsRegEx() const
{
    Check(TJsonToken::RegEx);
    return TJsonRegEx{std::string(FText), std::string(FText2)};
}

TJsonDBRef TJsonReader::AsDBRef() const
{
    Check(TJsonToken::DBRef);
    return TJsonDBRef{std::string(FText), FOid};
}

const TJsonCodeWScope& TJsonReader::AsCodeWScope() const
{
    Check(TJsonToken::CodeWScope);
    return FCodeWScope;
}

void TJsonReader::Skip()
{
    if (FTokenType == TJsonToken::PropertyName) Read();
    if (FTokenType == TJsonToken::StartObject || FTokenType == TJsonToken::StartArray ||
        FTokenType == TJsonToken::StartConstructor) {
        const int depth = Depth();
        while (Read() && Depth() >= depth) {
        }
    }
}

void TJsonReader::Close()
{
    FState = TState::Closed;
    FTokenType = TJsonToken::None;
}

void TJsonReader::Rewind()
{
    FState = TState::Start;
    FTokenType = TJsonToken::None;
}

// ---- TJsonObjectWriter ----

void TJsonObjectWriter::NoValue(TJsonToken AToken) const
{
    throw EJsonWriterException(
        korvane::Format("The JSON object model has no value for a token %s", JsonTokenName(AToken)));
}

void TJsonObjectWriter::Rewind()
{
    TJsonWriter::Rewind();
    FRoot.reset();
    FOpen.clear();
    FName.clear();
    FDone = false;
}

void TJsonObjectWriter::Add(std::unique_ptr<TJSONValue> AValue)
{
    if (FOpen.empty()) {
        if (FRoot) throw EJsonWriterException("The JSON object model holds one root value");
        FRoot = std::move(AValue);
        FDone = FRoot->Kind() != TJSONValue::TKind::Object && FRoot->Kind() != TJSONValue::TKind::Array;
    } else if (FOpen.back()->Kind() == TJSONValue::TKind::Array) {
        static_cast<TJSONArray*>(FOpen.back())->AddElement(std::move(AValue));
    } else {
        static_cast<TJSONObject*>(FOpen.back())->AddPair(std::move(FName), std::move(AValue));
        FName.clear();
    }
}

void TJsonObjectWriter::Open(std::unique_ptr<TJSONValue> AContainer)
{
    TJSONValue* raw = AContainer.get();
    Add(std::move(AContainer));
    FOpen.push_back(raw);
}

void TJsonObjectWriter::CheckOpen() const
{
    if (FOpen.size() >= static_cast<size_t>(JSONMaxDepth))
        throw EJsonWriterException(korvane::Format("JSON nesting deeper than %d levels", JSONMaxDepth));
    if (FOpen.empty() && FRoot) throw EJsonWriterException("The JSON object model holds one root value");
}

void TJsonObjectWriter::CloseContainer()
{
    FOpen.pop_back();
    if (FOpen.empty()) FDone = true;
}

void TJsonObjectWriter::WriteStartObject()
{
    CheckOpen();
    TJsonWriter::WriteStartObject();
    Open(std::make_unique<TJSONObject>());
}

void TJsonObjectWriter::WriteStartArray()
{
    CheckOpen();
    TJsonWriter::WriteStartArray();
    Open(std::make_unique<TJSONArray>());
}

void TJsonObjectWriter::WriteEndObject()
{
    TJsonWriter::WriteEndObject();
    CloseContainer();
}

void TJsonObjectWriter::WriteEndArray()
{
    TJsonWriter::WriteEndArray();
    CloseContainer();
}

void TJsonObjectWriter::WritePropertyName(const std::string& AName)
{
    TJsonWriter::WritePropertyName(AName);
    FName = AName;
}

void TJsonObjectWriter::WriteNull()
{
    auto value = std::make_unique<TJSONNull>();
    TJsonWriter::WriteNull();
    Add(std::move(value));
}

void TJsonObjectWriter::WriteValue(std::string_view AValue)
{
    auto value = std::make_unique<TJSONString>(std::string(AValue));
    TJsonWriter::WriteValue(AValue);
    Add(std::move(value));
}

void TJsonObjectWriter::WriteValue(bool AValue)
{
    auto value = TJSONBool::Create(AValue);
    TJsonWriter::WriteValue(AValue);
    Add(std::move(value));
}

void TJsonObjectWriter::WriteValue(int32_t AValue) { WriteValue(static_cast<int64_t>(AValue)); }
void TJsonObjectWriter::WriteValue(uint32_t AValue) { WriteValue(static_cast<int64_t>(AValue)); }

void TJsonObjectWriter::WriteValue(int64_t AValue)
{
    auto value = std::make_unique<TJSONNumber>(AValue);
    TJsonWriter::WriteValue(AValue);
    Add(std::move(value));
}

void TJsonObjectWriter::WriteValue(uint64_t AValue)
{
    auto value = std::make_unique<TJSONNumber>(AValue);
    TJsonWriter::WriteValue(AValue);
    Add(std::move(value));
}

void TJsonObjectWriter::WriteValue(double AValue)
{
    if (!std::isfinite(AValue)) throw EJsonWriterException("NaN and infinite values have no JSON number form");
    // The shortest text that reads back as the same double.
    char text[32];
    const auto result = std::to_chars(text, text + sizeof(text), AValue);
    auto value = TJSONNumber::FromText(std::string_view(text, static_cast<size_t>(result.ptr - text)));
    TJsonWriter::WriteValue(AValue);
    Add(std::move(value));
}

} // namespace korvane
