#pragma once
// Streaming JSON tokens: a token writer base that keeps track of the open
// containers and refuses sequences no document can hold, a token reader base
// that delivers one token at a time with its value, and a writer that builds
// the JSON object model from tokens. Binary encodings plug in as subclasses,
// so any producer of tokens can write them and any consumer can read them.

#include <chrono>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "Platform.JSON.h"
#include "Platform.SysUtils.h"

namespace korvane {

enum class TJsonToken : uint8_t {
    None, StartObject, StartArray, StartConstructor, PropertyName, Comment, Raw, Integer, Float, String,
    Boolean, Null, Undefined, EndObject, EndArray, EndConstructor, Date, Bytes, Oid, RegEx, DBRef,
    CodeWScope, MinKey, MaxKey
};
// The token's name ("StartObject", "Float", ...).
const char* JsonTokenName(TJsonToken AToken);

class EJsonException : public Exception { using Exception::Exception; };
class EJsonWriterException : public EJsonException { using EJsonException::EJsonException; };

// A fault in the input; Offset is the byte position where it was found.
class EJsonReaderException : public EJsonException {
public:
    EJsonReaderException(std::string AMessage, int64_t AOffset) : EJsonException(std::move(AMessage)), FOffset(AOffset) {}
    int64_t Offset() const { return FOffset; }

private:
    int64_t FOffset;
};

// How a writer treats an empty string or an empty byte array: written as an
// empty value, or left out altogether (Null).
enum class TJsonEmptyValueHandling : uint8_t { Empty, Null };

// Points in time with millisecond resolution, UTC.
using TJsonDateTime = std::chrono::sys_time<std::chrono::milliseconds>;

enum class TJsonBinaryType : uint8_t {
    Generic = 0x00, Function = 0x01, BinaryOld = 0x02, UUIDOld = 0x03, UUID = 0x04, MD5 = 0x05, UserDefined = 0x80
};

struct TJsonOid {
    uint8_t Bytes[12] = {};
    friend bool operator==(const TJsonOid&, const TJsonOid&) = default;
};

struct TJsonRegEx {
    std::string Expression;
    std::string Options;
    friend bool operator==(const TJsonRegEx&, const TJsonRegEx&) = default;
};

struct TJsonDBRef {
    std::string Ref;
    TJsonOid Id;
    friend bool operator==(const TJsonDBRef&, const TJsonDBRef&) = default;
};

// JavaScript code with its scope: name and value pairs, in order.
struct TJsonCodeWScope {
    std::string Code;
    std::vector<std::pair<std::string, std::string>> Scope;
    friend bool operator==(const TJsonCodeWScope&, const TJsonCodeWScope&) = default;
};

class TJsonReader;

// The token writer base. Each Write* of a subclass first runs the base step of
// that token, which checks that the token may follow what was written and
// moves the state on; a token that would give an invalid document raises
// EJsonWriterException and leaves the writer unchanged.
class TJsonWriter {
public:
    enum class TState : uint8_t {
        Start, Property, ObjectStart, Object, ArrayStart, Array, ConstructorStart, Constructor, Closed, Error
    };

    TJsonWriter() = default;
    TJsonWriter(const TJsonWriter&) = delete;
    TJsonWriter& operator=(const TJsonWriter&) = delete;
    virtual ~TJsonWriter() = default;

    TState State() const { return FState; }
    // The number of open containers.
    int Top() const { return static_cast<int>(FStack.size()); }
    TJsonEmptyValueHandling EmptyValueHandling() const { return FEmptyValueHandling; }
    void SetEmptyValueHandling(TJsonEmptyValueHandling AValue) { FEmptyValueHandling = AValue; }

    // Ends every open container (a pending property name gets a null value)
    // and closes the writer.
    virtual void Close();
    virtual void Flush() {}
    // Forgets everything written: the writer starts a new document.
    virtual void Rewind();

    virtual void WriteStartObject();
    virtual void WriteEndObject();
    virtual void WriteStartArray();
    virtual void WriteEndArray();
    virtual void WriteStartConstructor(const std::string& AName);
    virtual void WriteEndConstructor();
    virtual void WritePropertyName(const std::string& AName);
    virtual void WriteComment(const std::string& AComment);
    virtual void WriteRaw(const std::string& AJson);
    virtual void WriteRawValue(const std::string& AJson);

    virtual void WriteNull();
    virtual void WriteUndefined();
    virtual void WriteMinKey();
    virtual void WriteMaxKey();
    virtual void WriteCode(const std::string& ACode);
    virtual void WriteValue(std::string_view AValue);
    void WriteValue(const std::string& AValue) { WriteValue(std::string_view(AValue)); }
    void WriteValue(const char* AValue) { WriteValue(std::string_view(AValue)); }
    // A single character is a one-character string.
    void WriteValue(char AValue) { WriteValue(std::string_view(&AValue, 1)); }
    virtual void WriteValue(bool AValue);
    virtual void WriteValue(int32_t AValue);
    virtual void WriteValue(uint32_t AValue);
    void WriteValue(uint8_t AValue) { WriteValue(static_cast<int32_t>(AValue)); }
    virtual void WriteValue(int64_t AValue);
    virtual void WriteValue(uint64_t AValue);
    void WriteValue(float AValue) { WriteValue(static_cast<double>(AValue)); }
    virtual void WriteValue(double AValue);
    virtual void WriteValue(TJsonDateTime AValue);
    // A GUID is a UUID byte value: D1, D2 and D3 little-endian, then D4.
    void WriteValue(const TGUID& AValue);
    virtual void WriteValue(std::span<const uint8_t> AValue, TJsonBinaryType ABinaryType = TJsonBinaryType::Generic);
    virtual void WriteValue(const TJsonOid& AValue);
    virtual void WriteValue(const TJsonRegEx& AValue);
    virtual void WriteValue(const TJsonDBRef& AValue);
    virtual void WriteValue(const TJsonCodeWScope& AValue);

    // Writes the reader's current token with its value.
    void WriteToken(const TJsonReader& AReader);

protected:
    enum class TContainer : uint8_t { Object, Array, Constructor };

    // The base steps; subclasses call them before writing their own bytes.
    void InternalWriteStart(TContainer AContainer);
    void InternalWriteEnd(TContainer AContainer);
    void InternalWritePropertyName();
    void InternalWriteValue(TJsonToken AToken);
    // Each open container, outermost first.
    const std::vector<TContainer>& Containers() const { return FStack; }
    [[noreturn]] void RaiseInvalid(TJsonToken AToken) const;

private:
    void AfterValue();

    TState FState = TState::Start;
    std::vector<TContainer> FStack;
    TJsonEmptyValueHandling FEmptyValueHandling = TJsonEmptyValueHandling::Empty;
};

// The token reader base: Read moves to the next token, whose kind and value
// the accessors give. Text and byte values stay valid until the next Read.
class TJsonReader {
public:
    enum class TState : uint8_t {
        Start, Complete, Property, ObjectStart, Object, ArrayStart, Array, Closed, PostValue, ConstructorStart,
        Constructor, Error, Finished
    };

    TJsonReader() = default;
    TJsonReader(const TJsonReader&) = delete;
    TJsonReader& operator=(const TJsonReader&) = delete;
    virtual ~TJsonReader() = default;

    // Moves to the next token; false (token None) at the end of the data.
    virtual bool Read() = 0;
    // Moves past the current token; for a container start, past the whole container.
    virtual void Skip();
    virtual void Close();
    virtual void Rewind();

    TState State() const { return FState; }
    TJsonToken TokenType() const { return FTokenType; }
    // The number of open containers.
    virtual int Depth() const = 0;

    // The value of the current token; each raises EJsonReaderException when the
    // current token holds no value of that kind.
    std::string_view AsString() const;     // PropertyName, String
    int64_t AsInteger() const;             // Integer
    double AsFloat() const;                // Float
    bool AsBoolean() const;                // Boolean
    TJsonDateTime AsDateTime() const;      // Date
    std::span<const uint8_t> AsBytes() const; // Bytes
    TJsonBinaryType BinaryType() const;    // Bytes
    const TJsonOid& AsOid() const;         // Oid, DBRef
    TJsonRegEx AsRegEx() const;            // RegEx
    TJsonDBRef AsDBRef() const;            // DBRef
    const TJsonCodeWScope& AsCodeWScope() const; // CodeWScope

protected:
    // Where a fault is reported, for the messages of the accessors.
    virtual int64_t ErrorOffset() const { return 0; }
    void SetToken(TJsonToken AToken) { FTokenType = AToken; }
    void Check(TJsonToken AToken) const;

    TState FState = TState::Start;
    TJsonToken FTokenType = TJsonToken::None;
    // The current token's value, by kind: text (names, strings, the code of a
    // code-with-scope, a regular expression's pattern, a DB pointer's name),
    // a second text (a regular expression's options), numbers, bytes.
    std::string_view FText;
    std::string_view FText2;
    int64_t FInteger = 0;
    double FFloat = 0;
    bool FBoolean = false;
    std::span<const uint8_t> FBytes;
    TJsonBinaryType FBinaryType = TJsonBinaryType::Generic;
    TJsonOid FOid;
    TJsonCodeWScope FCodeWScope;
};

// Builds the JSON object model from tokens. Integers become numbers in
// decimal, floats numbers in their shortest exact text; tokens that the object
// model has no value for (dates, bytes, object ids, ...) raise EJsonWriterException.
class TJsonObjectWriter : public TJsonWriter {
public:
    // Whether the root has been ended: only then does Root hold a whole value.
    bool Complete() const { return FRoot && Top() == 0 && FDone; }
    // The built value (nullptr before anything was written); stays owned by the writer.
    TJSONValue* Root() const { return FRoot.get(); }
    // Hands the built value over to the caller.
    std::unique_ptr<TJSONValue> ExtractRoot() { return std::move(FRoot); }

    void Rewind() override;
    void WriteStartObject() override;
    void WriteEndObject() override;
    void WriteStartArray() override;
    void WriteEndArray() override;
    void WritePropertyName(const std::string& AName) override;
    void WriteNull() override;
    void WriteValue(std::string_view AValue) override;
    void WriteValue(bool AValue) override;
    void WriteValue(int32_t AValue) override;
    void WriteValue(uint32_t AValue) override;
    void WriteValue(int64_t AValue) override;
    void WriteValue(uint64_t AValue) override;
    void WriteValue(double AValue) override;
    using TJsonWriter::WriteValue;

    void WriteUndefined() override { NoValue(TJsonToken::Undefined); }
    void WriteMinKey() override { NoValue(TJsonToken::MinKey); }
    void WriteMaxKey() override { NoValue(TJsonToken::MaxKey); }
    void WriteCode(const std::string& ACode) override { WriteValue(std::string_view(ACode)); }
    void WriteValue(TJsonDateTime) override { NoValue(TJsonToken::Date); }
    void WriteValue(std::span<const uint8_t>, TJsonBinaryType) override { NoValue(TJsonToken::Bytes); }
    void WriteValue(const TJsonOid&) override { NoValue(TJsonToken::Oid); }
    void WriteValue(const TJsonRegEx&) override { NoValue(TJsonToken::RegEx); }
    void WriteValue(const TJsonDBRef&) override { NoValue(TJsonToken::DBRef); }
    void WriteValue(const TJsonCodeWScope&) override { NoValue(TJsonToken::CodeWScope); }

private:
    [[noreturn]] void NoValue(TJsonToken AToken) const;
    void Add(std::unique_ptr<TJSONValue> AValue);
    void Open(std::unique_ptr<TJSONValue> AContainer);
    // Raises when no container may open here (too deep, or a second root).
    void CheckOpen() const;
    void CloseContainer();

    std::unique_ptr<TJSONValue> FRoot;
    std::vector<TJSONValue*> FOpen;
    std::string FName;
    bool FDone = false;
};

} // namespace korvane
