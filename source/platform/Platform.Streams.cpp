#include "Platform.Streams.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <limits>
#include <new>
#include <stdexcept>

namespace korvane {

namespace {

[[noreturn]] void ReadError() { throw EReadError("Stream read error"); }
[[noreturn]] void WriteError() { throw EWriteError("Stream write error"); }
[[noreturn]] void SeekError() { throw EStreamError("Stream seek error"); }

constexpr int64_t CopyChunk = 64 * 1024;

} // namespace

// ---------------------------------------------------------------- TStream

int64_t TStream::NewPosition(int64_t Offset, TSeekOrigin Origin, int64_t Current, int64_t End)
{
    int64_t base = 0;
    switch (Origin) {
    case soBeginning: base = 0; break;
    case soCurrent: base = Current; break;
    case soEnd: base = End; break;
    default: SeekError();
    }
    int64_t result = 0;
    if (__builtin_add_overflow(base, Offset, &result) || result < 0) SeekError();
    return result;
}

int64_t TStream::Remaining() const
{
    return std::max<int64_t>(0, Size() - Position());
}

void TStream::ReadBuffer(void* Buffer, int64_t Count)
{
    if (Count < 0) ReadError();
    auto* p = static_cast<uint8_t*>(Buffer);
    int64_t done = 0;
    while (done < Count) {
        const int64_t n = Read(p + done, Count - done);
        if (n <= 0) ReadError();
        done += n;
    }
}

void TStream::WriteBuffer(const void* Buffer, int64_t Count)
{
    if (Count < 0) WriteError();
    const auto* p = static_cast<const uint8_t*>(Buffer);
    int64_t done = 0;
    while (done < Count) {
        const int64_t n = Write(p + done, Count - done);
        if (n <= 0) WriteError();
        done += n;
    }
}

int64_t TStream::CopyFrom(TStream* Source, int64_t Count)
{
    if (!Source) throw EArgumentException("CopyFrom: no source stream");
    if (Count < 0) throw EArgumentException(Format("CopyFrom: invalid count %d", Count));
    if (Count == 0) {
        Source->SetPosition(0);
        Count = Source->Size();
    }
    std::vector<uint8_t> buffer(size_t(std::min(Count, CopyChunk)));
    for (int64_t left = Count; left > 0;) {
        const int64_t n = std::min(left, CopyChunk);
        Source->ReadBuffer(buffer.data(), n);
        WriteBuffer(buffer.data(), n);
        left -= n;
    }
    return Count;
}

// ---------------------------------------------------------------- TMemoryStream

int64_t TMemoryStream::Read(void* Buffer, int64_t Count)
{
    const int64_t size = Size();
    if (Count <= 0 || FPosition >= size) return 0;
    const int64_t n = std::min(Count, size - FPosition);
    std::memcpy(Buffer, FData.data() + FPosition, size_t(n));
    FPosition += n;
    return n;
}

int64_t TMemoryStream::Write(const void* Buffer, int64_t Count)
{
    if (Count <= 0) return 0;
    int64_t end = 0;
    if (__builtin_add_overflow(FPosition, Count, &end) || end > MaxSize) WriteError();
    if (end > Size()) {
        const int64_t position = FPosition;
        SetSize(end);
        FPosition = position;
    }
    std::memcpy(FData.data() + FPosition, Buffer, size_t(Count));
    FPosition = end;
    return Count;
}

int64_t TMemoryStream::Seek(int64_t Offset, TSeekOrigin Origin)
{
    FPosition = NewPosition(Offset, Origin, FPosition, Size());
    return FPosition;
}

void TMemoryStream::SetSize(int64_t NewSize)
{
    if (NewSize < 0) throw EStreamError(Format("Invalid stream size %d", NewSize));
    if (NewSize > MaxSize) throw EStreamError("Out of memory while expanding memory stream");
    try {
        FData.resize(size_t(NewSize));
    } catch (const std::bad_alloc&) {
        throw EStreamError("Out of memory while expanding memory stream");
    } catch (const std::length_error&) {
        throw EStreamError("Out of memory while expanding memory stream");
    }
    if (FPosition > NewSize) FPosition = NewSize;
}

void TMemoryStream::Clear()
{
    FData.clear();
    FData.shrink_to_fit();
    FPosition = 0;
}

void TMemoryStream::LoadFromStream(TStream* Stream)
{
    if (!Stream) throw EArgumentException("LoadFromStream: no stream");
    Stream->SetPosition(0);
    const int64_t size = Stream->Size();
    SetSize(size);
    FPosition = 0;
    if (size > 0) Stream->ReadBuffer(FData.data(), size);
}

void TMemoryStream::SaveToStream(TStream* Stream) const
{
    if (!Stream) throw EArgumentException("SaveToStream: no stream");
    if (!FData.empty()) Stream->WriteBuffer(FData.data(), Size());
}

void TMemoryStream::LoadFromFile(const std::string& FileName)
{
    TFileStream file(FileName, fmOpenRead | fmShareDenyWrite);
    LoadFromStream(&file);
}

void TMemoryStream::SaveToFile(const std::string& FileName) const
{
    TFileStream file(FileName, fmCreate);
    SaveToStream(&file);
}

// ---------------------------------------------------------------- TBytesStream, TStringStream

TBytesStream::TBytesStream(std::vector<uint8_t> Bytes)
{
    if (int64_t(Bytes.size()) > MaxSize) throw EStreamError("Out of memory while expanding memory stream");
    FData = std::move(Bytes);
}

TStringStream::TStringStream(const std::string& Text) : TBytesStream(std::vector<uint8_t>(Text.begin(), Text.end())) {}

std::string TStringStream::ReadString(int64_t Count)
{
    const int64_t n = std::clamp<int64_t>(Count, 0, Remaining());
    std::string s(size_t(n), '\0');
    if (n > 0) ReadBuffer(s.data(), n);
    return s;
}

// ---------------------------------------------------------------- TFileStream

TFileStream::TFileStream(const std::string& FileName, uint16_t Mode) : FFileName(FileName)
{
    const bool create = (Mode & fmCreate) == fmCreate;
    int flags = O_CLOEXEC;
    if (create) flags |= O_RDWR | O_CREAT | O_TRUNC;
    else {
        switch (Mode & 3) {
        case fmOpenRead: flags |= O_RDONLY; break;
        case fmOpenWrite: flags |= O_WRONLY; break;
        case fmOpenReadWrite: flags |= O_RDWR; break;
        default: throw EFOpenError(Format("Cannot open file \"%s\". %s", FileName, "Invalid file mode"));
        }
    }
    auto fail = [&](int error) {
        const std::string reason = std::strerror(error);
        if (create) throw EFCreateError(Format("Cannot create file \"%s\". %s", FileName, reason));
        throw EFOpenError(Format("Cannot open file \"%s\". %s", FileName, reason));
    };
    do {
        FHandle = ::open(FileName.c_str(), flags, 0666);
    } while (FHandle < 0 && errno == EINTR);
    if (FHandle < 0) fail(errno);
    struct stat st {};
    if (::fstat(FHandle, &st) != 0 || S_ISDIR(st.st_mode)) {
        const int error = S_ISDIR(st.st_mode) ? EISDIR : errno;
        ::close(FHandle);
        FHandle = -1;
        fail(error);
    }
}

TFileStream::~TFileStream()
{
    if (FHandle >= 0) ::close(FHandle);
}

int64_t TFileStream::Read(void* Buffer, int64_t Count)
{
    auto* p = static_cast<uint8_t*>(Buffer);
    int64_t done = 0;
    while (done < Count) {
        const size_t chunk = size_t(std::min<int64_t>(Count - done, INT_MAX));
        const ssize_t n = ::read(FHandle, p + done, chunk);
        if (n < 0) {
            if (errno == EINTR) continue;
            ReadError();
        }
        if (n == 0) break;
        done += n;
    }
    return done;
}

int64_t TFileStream::Write(const void* Buffer, int64_t Count)
{
    const auto* p = static_cast<const uint8_t*>(Buffer);
    int64_t done = 0;
    while (done < Count) {
        const size_t chunk = size_t(std::min<int64_t>(Count - done, INT_MAX));
        const ssize_t n = ::write(FHandle, p + done, chunk);
        if (n < 0) {
            if (errno == EINTR) continue;
            WriteError();
        }
        if (n == 0) break;
        done += n;
    }
    return done;
}

int64_t TFileStream::Seek(int64_t Offset, TSeekOrigin Origin)
{
    const int64_t target = NewPosition(Offset, Origin, Position(), Size());
    const off_t r = ::lseek(FHandle, off_t(target), SEEK_SET);
    if (r < 0) SeekError();
    return int64_t(r);
}

int64_t TFileStream::Size() const
{
    struct stat st {};
    if (::fstat(FHandle, &st) != 0) throw EStreamError(Format("Cannot get the size of \"%s\"", FFileName));
    return int64_t(st.st_size);
}

void TFileStream::SetSize(int64_t NewSize)
{
    if (NewSize < 0) throw EStreamError(Format("Invalid stream size %d", NewSize));
    const int64_t position = Position();
    if (::ftruncate(FHandle, off_t(NewSize)) != 0)
        throw EStreamError(Format("Cannot set the size of \"%s\". %s", FFileName, std::strerror(errno)));
    if (position > NewSize) Seek(NewSize, soBeginning);
}

int64_t TFileStream::Position() const
{
    const off_t r = ::lseek(FHandle, 0, SEEK_CUR);
    if (r < 0) SeekError();
    return int64_t(r);
}

} // namespace korvane
