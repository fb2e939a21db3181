#pragma once
// Streams: the abstract TStream with its checked helpers, memory streams
// (TMemoryStream, TBytesStream, TStringStream) and TFileStream.
//
// Sizes and positions are 64-bit. ReadBuffer/WriteBuffer move exactly the
// bytes asked for or raise EReadError "Stream read error" / EWriteError
// "Stream write error"; Read/Write move what they can and say how much.
// Positions may lie beyond the end (writing there fills the gap with zeros),
// never before the start.

#include <cstdint>
#include <string>
#include <vector>

#include "Platform.Classes.h"
#include "Platform.SysUtils.h"

namespace korvane {

class EFileStreamError : public EStreamError { using EStreamError::EStreamError; };
class EFCreateError : public EFileStreamError { using EFileStreamError::EFileStreamError; };
class EFOpenError : public EFileStreamError { using EFileStreamError::EFileStreamError; };

enum TSeekOrigin : uint8_t { soBeginning, soCurrent, soEnd };

// File modes: one access mode, or fmCreate; share flags are accepted and ignored.
constexpr uint16_t fmOpenRead = 0x0000;
constexpr uint16_t fmOpenWrite = 0x0001;
constexpr uint16_t fmOpenReadWrite = 0x0002;
constexpr uint16_t fmShareCompat = 0x0000;
constexpr uint16_t fmShareExclusive = 0x0010;
constexpr uint16_t fmShareDenyWrite = 0x0020;
constexpr uint16_t fmShareDenyRead = 0x0030;
constexpr uint16_t fmShareDenyNone = 0x0040;
// Creates the file, or empties an existing one, for reading and writing.
constexpr uint16_t fmCreate = 0xFF00;

class TStream : public TObject {
public:
    std::string ClassName() const override { return "TStream"; }

    // Up to Count bytes; the number moved (0 at the end, or for Count <= 0).
    virtual int64_t Read(void* Buffer, int64_t Count) = 0;
    virtual int64_t Write(const void* Buffer, int64_t Count) = 0;
    // The new position; raises EStreamError "Stream seek error" for a position before the start.
    virtual int64_t Seek(int64_t Offset, TSeekOrigin Origin) = 0;
    virtual int64_t Size() const = 0;
    virtual void SetSize(int64_t NewSize) = 0;
    virtual int64_t Position() const = 0;
    void SetPosition(int64_t Value) { Seek(Value, soBeginning); }
    // The bytes from the position to the end (0 when the position is beyond it).
    int64_t Remaining() const;

    void ReadBuffer(void* Buffer, int64_t Count);
    void WriteBuffer(const void* Buffer, int64_t Count);
    // Copies Count bytes from Source's position (Count 0: all of Source, from
    // its start); raises EReadError when Source holds fewer. Returns the count.
    int64_t CopyFrom(TStream* Source, int64_t Count);

protected:
    // The position Offset/Origin designates from Current and End, checked.
    static int64_t NewPosition(int64_t Offset, TSeekOrigin Origin, int64_t Current, int64_t End);
};

class TMemoryStream : public TStream {
public:
    // The largest size a memory stream accepts (1 TiB): larger requests come
    // from corrupt size fields, not from data.
    static constexpr int64_t MaxSize = int64_t(1) << 40;

    TMemoryStream() = default;
    std::string ClassName() const override { return "TMemoryStream"; }

    int64_t Read(void* Buffer, int64_t Count) override;
    int64_t Write(const void* Buffer, int64_t Count) override;
    int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;
    int64_t Size() const override { return int64_t(FData.size()); }
    // New bytes are zero; a position beyond the new end moves to it. Raises
    // EStreamError "Out of memory while expanding memory stream".
    void SetSize(int64_t NewSize) override;
    int64_t Position() const override { return FPosition; }

    uint8_t* Memory() { return FData.data(); }
    const uint8_t* Memory() const { return FData.data(); }
    void Clear();
    // Replaces the contents with all of Stream (from its start).
    void LoadFromStream(TStream* Stream);
    // Writes all of the contents at Stream's position.
    void SaveToStream(TStream* Stream) const;
    void LoadFromFile(const std::string& FileName);
    void SaveToFile(const std::string& FileName) const;

protected:
    std::vector<uint8_t> FData;
    int64_t FPosition = 0;
};

// A memory stream over a byte array; Bytes() holds exactly Size() bytes.
class TBytesStream : public TMemoryStream {
public:
    TBytesStream() = default;
    explicit TBytesStream(std::vector<uint8_t> Bytes);
    std::string ClassName() const override { return "TBytesStream"; }
    const std::vector<uint8_t>& Bytes() const { return FData; }
};

// A memory stream over text (UTF-8 bytes).
class TStringStream : public TBytesStream {
public:
    TStringStream() = default;
    explicit TStringStream(const std::string& Text);
    std::string ClassName() const override { return "TStringStream"; }
    std::string DataString() const { return std::string(FData.begin(), FData.end()); }
    void WriteString(const std::string& Text) { WriteBuffer(Text.data(), int64_t(Text.size())); }
    // Up to Count bytes from the position.
    std::string ReadString(int64_t Count);
};

class TFileStream : public TStream {
public:
    // Raises EFCreateError "Cannot create file "%s". %s" or EFOpenError
    // "Cannot open file "%s". %s" (the second %s is the system's reason).
    TFileStream(const std::string& FileName, uint16_t Mode);
    ~TFileStream() override;
    std::string ClassName() const override { return "TFileStream"; }

    const std::string& FileName() const { return FFileName; }
    int64_t Read(void* Buffer, int64_t Count) override;
    int64_t Write(const void* Buffer, int64_t Count) override;
    int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;
    int64_t Size() const override;
    void SetSize(int64_t NewSize) override;
    int64_t Position() const override;

private:
    std::string FFileName;
    int FHandle = -1;
};

} // namespace korvane
