#pragma once
// BSON through the JSON token interfaces: TBsonWriter encodes tokens as a BSON
// document, TBsonReader decodes a BSON document into tokens.
//
// A document is a 32-bit little-endian total length, its elements and a 0
// byte; an element is a type byte, a zero-terminated UTF-8 name and the value.
// Arrays are documents whose names are "0", "1", ...

#include <bit>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "Platform.JSON.Tokens.h"
#include "Platform.Streams.h"

namespace korvane {

namespace bson {

// BSON numbers are little-endian.
template <typename T>
T LoadLE(const uint8_t* p)
{
    T v;
    std::memcpy(&v, p, sizeof(T));
    if constexpr (std::endian::native == std::endian::big) {
        auto* b = reinterpret_cast<uint8_t*>(&v);
        for (size_t i = 0; i < sizeof(T) / 2; ++i) std::swap(b[i], b[sizeof(T) - 1 - i]);
    }
    return v;
}

template <typename T>
void StoreLE(uint8_t* p, T v)
{
    std::memcpy(p, &v, sizeof(T));
    if constexpr (std::endian::native == std::endian::big)
        for (size_t i = 0; i < sizeof(T) / 2; ++i) std::swap(p[i], p[sizeof(T) - 1 - i]);
}

} // namespace bson

// The deepest nesting of documents and arrays the writer writes and the reader reads.
inline constexpr int BsonMaxDepth = 1000;

// Writes tokens as BSON. The document is built in memory; each size field is
// filled in when its container ends, and the whole document reaches the
// stream when the outermost container ends (or at Flush, see there). The
// root must be an object or an array. The writer does not own the stream.
class TBsonWriter : public TJsonWriter {
public:
    explicit TBsonWriter(TStream* AStream);
    ~TBsonWriter() override;

    TStream* Stream() const { return FStream; }

    void Rewind() override;
    void Close() override;
    // Puts what was written so far into the stream as a complete document:
    // a pending property name gets a null element and every open container
    // its terminator and size. The stream is left before those provisional
    // bytes, so that further writing replaces them.
    void Flush() override;

    void WriteStartObject() override;
    void WriteEndObject() override;
    void WriteStartArray() override;
    void WriteEndArray() override;
    void WritePropertyName(const std::string& AName) override;
    void WriteStartConstructor(const std::string& AName) override;
    void WriteComment(const std::string& AComment) override;
    void WriteRaw(const std::string& AJson) override;
    void WriteRawValue(const std::string& AJson) override;

    void WriteNull() override;
    void WriteUndefined() override;
    void WriteMinKey() override;
    void WriteMaxKey() override;
    void WriteCode(const std::string& ACode) override;
    void WriteValue(std::string_view AValue) override;
    void WriteValue(bool AValue) override;
    void WriteValue(int32_t AValue) override;
    // Stored in the 32 bits as is.
    void WriteValue(uint32_t AValue) override;
    void WriteValue(int64_t AValue) override;
    // Stored in the 64 bits as is.
    void WriteValue(uint64_t AValue) override;
    void WriteValue(double AValue) override;
    // Whole seconds since 1970-01-01 UTC (rounded down), stored as milliseconds.
    void WriteValue(TJsonDateTime AValue) override;
    void WriteValue(std::span<const uint8_t> AValue, TJsonBinaryType ABinaryType) override;
    void WriteValue(const TJsonOid& AValue) override;
    void WriteValue(const TJsonRegEx& AValue) override;
    void WriteValue(const TJsonDBRef& AValue) override;
    void WriteValue(const TJsonCodeWScope& AValue) override;
    using TJsonWriter::WriteValue;

protected:
    // Appends bytes to the document as they are, without element header.
    void WriteBytes(const void* AData, size_t ACount);
    // Appends a BSON string (length, bytes, 0) without element header.
    void WriteStringBytes(std::string_view AValue);

private:
    struct TOpenContainer {
        size_t Start;   // offset of its length field in the document
        uint32_t Index; // next array element name
        bool IsArray;
    };

    uint8_t* Reserve(size_t ACount);
    // Writes the type byte and the name of an element and makes room for
    // AValueSize more bytes; returns where the value goes.
    uint8_t* Header(uint8_t AType, size_t AValueSize);
    void Advance(size_t ACount) { FSize += ACount; }
    // An element whose value is one little-endian number.
    template <typename T>
    void WriteFixed(uint8_t AType, T AValue)
    {
        bson::StoreLE<T>(Header(AType, sizeof(T)), AValue);
        Advance(sizeof(T));
    }
    void StartContainer(bool AIsArray);
    void EndContainer();
    void WriteString(uint8_t AType, std::string_view AValue);
    void Reset();

    TStream* FStream;
    int64_t FStreamStart = 0;
    uint8_t* FData = nullptr;
    size_t FSize = 0;
    size_t FCapacity = 0;
    // The first byte that changed since the stream last received the document.
    size_t FDirtyFrom = 0;
    std::vector<TOpenContainer> FOpen;
    std::string FPropertyName;
};

// Reads one BSON document from a stream as tokens. The input is treated as
// hostile: every length is checked against what its container has left, a
// fault raises EJsonReaderException naming its stream offset, and nothing is
// allocated beyond what the stream holds. When the data ends inside the
// document, Read returns false and Incomplete tells so.
//
// A memory stream is read in place (it must not change while the reader
// reads); other streams are read into a buffer up to the document's end.
// After the document, or at Close, the stream stands after the bytes consumed.
class TBsonReader : public TJsonReader {
public:
    TBsonReader(TStream* AStream, bool AReadRootValueAsArray = false);
    ~TBsonReader() override;

    bool Read() override;
    void Skip() override;
    void Close() override;
    // Starts again at the beginning of the document.
    void Rewind() override;
    int Depth() const override { return static_cast<int>(FStack.size()); }

    bool ReadRootValueAsArray() const { return FReadRootValueAsArray; }
    void SetReadRootValueAsArray(bool AValue) { FReadRootValueAsArray = AValue; }
    // Whether the data ended before the document did.
    bool Incomplete() const { return FIncomplete; }
    // The type byte of the element being read.
    uint8_t CurrentElementType() const { return FCurrentElementType; }
    TStream* Stream() const { return FStream; }

protected:
    int64_t ErrorOffset() const override { return FStreamStart + static_cast<int64_t>(FPos); }

private:
    struct TContainerContext {
        uint8_t Type;   // 3 document, 4 array
        int64_t Start;  // offset of its length field
        int64_t End;    // offset of its terminator
    };

    bool Load();
    bool ReadElement();
    bool ReadValue();
    bool DataEnded();
    bool PushContainer(uint8_t AType);
    void GiveBackStream();
    [[noreturn]] void Raise(const std::string& AMessage, int64_t AOffset);
    [[noreturn]] void RaisePastContainer(int64_t AOffset);
    // The string at FPos (length, bytes, 0), checked against AEnd; false when the data ends.
    bool ReadStringAt(int64_t AEnd, std::string_view& AValue);
    // The zero-terminated text at FPos, checked against AEnd.
    bool ReadCStringAt(int64_t AEnd, std::string_view& AValue);
    bool ReadCodeWScope(int64_t AEnd);

    TStream* FStream;
    int64_t FStreamStart;
    bool FReadRootValueAsArray;
    bool FIncomplete = false;
    bool FLoaded = false;
    uint8_t FCurrentElementType = 0;
    const uint8_t* FData = nullptr;
    int64_t FLimit = 0; // bytes of the document that are at hand
    int64_t FPos = 0;
    std::vector<uint8_t> FOwnedData;
    std::vector<TContainerContext> FStack;
};

} // namespace korvane
