#include "Korvane.Xml.Parser.h"

#include <algorithm>
#include <cstring>

#include "Platform.Streams.h"

namespace korvane {

namespace {

void AppendUtf8(std::string& out, uint32_t cp)
{
    if (cp < 0x80) {
        out.push_back(char(cp));
    } else if (cp < 0x800) {
        out.push_back(char(0xC0 | (cp >> 6)));
        out.push_back(char(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(char(0xE0 | (cp >> 12)));
        out.push_back(char(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(char(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(char(0xF0 | (cp >> 18)));
        out.push_back(char(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(char(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(char(0x80 | (cp & 0x3F)));
    }
}

constexpr uint32_t Replacement = 0xFFFD;

// The length of the well-formed UTF-8 sequence at s[i], or 0 when there is
// none; `valid` then holds how many bytes form the longest valid prefix.
size_t Utf8SequenceLength(const unsigned char* s, size_t i, size_t n, size_t& valid)
{
    const unsigned char c = s[i];
    size_t len;
    unsigned char lo = 0x80, hi = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) len = 2;
    else if (c >= 0xE0 && c <= 0xEF) {
        len = 3;
        if (c == 0xE0) lo = 0xA0;
        if (c == 0xED) hi = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        len = 4;
        if (c == 0xF0) lo = 0x90;
        if (c == 0xF4) hi = 0x8F;
    } else {
        valid = 1;
        return 0;
    }
    valid = 1;
    for (size_t k = 1; k < len; ++k) {
        if (i + k >= n) return 0;
        const unsigned char b = s[i + k];
        const unsigned char l = k == 1 ? lo : 0x80, h = k == 1 ? hi : 0xBF;
        if (b < l || b > h) return 0;
        ++valid;
    }
    return len;
}

// The offset of the first byte that is not plain ASCII or not part of valid UTF-8.
size_t FirstInvalidUtf8(std::string_view in)
{
    const auto* s = reinterpret_cast<const unsigned char*>(in.data());
    const size_t n = in.size();
    size_t i = 0;
    while (i < n) {
        // Plain ASCII goes 32 bytes at a time.
        if (i + 32 <= n) {
            uint64_t w[4];
            std::memcpy(w, s + i, 32);
            if (((w[0] | w[1] | w[2] | w[3]) & 0x8080808080808080ull) == 0) {
                i += 32;
                continue;
            }
        }
        if (i + 8 <= n) {
            uint64_t w;
            std::memcpy(&w, s + i, 8);
            if ((w & 0x8080808080808080ull) == 0) {
                i += 8;
                continue;
            }
        }
        if (s[i] < 0x80) {
            ++i;
            continue;
        }
        size_t valid;
        const size_t len = Utf8SequenceLength(s, i, n, valid);
        if (len == 0) return i;
        i += len;
    }
    return n;
}

// Copies the leading valid UTF-8 of `in` to `out`; answers its length (the
// whole size when all of it is valid).
size_t CopyValidUtf8(std::string_view in, char* out)
{
    const auto* s = reinterpret_cast<const unsigned char*>(in.data());
    const size_t n = in.size();
    size_t i = 0;
    while (i < n) {
        if (i + 32 <= n) {
            uint64_t w[4];
            std::memcpy(w, s + i, 32);
            std::memcpy(out + i, w, 32);
            if (((w[0] | w[1] | w[2] | w[3]) & 0x8080808080808080ull) == 0) {
                i += 32;
                continue;
            }
        }
        // Byte by byte up to the next 32-byte step.
        const size_t stop = std::min(n, i + 32);
        while (i < stop) {
            if (s[i] < 0x80) {
                out[i] = char(s[i]);
                ++i;
                continue;
            }
            size_t valid;
            const size_t len = Utf8SequenceLength(s, i, n, valid);
            if (len == 0) return i;
            std::memcpy(out + i, s + i, len);
            i += len;
        }
    }
    return n;
}

void RepairUtf8(std::string_view in, size_t from, std::string& out)
{
    const auto* s = reinterpret_cast<const unsigned char*>(in.data());
    const size_t n = in.size();
    out.reserve(n + 16);
    out.assign(in.data(), from);
    size_t i = from;
    while (i < n) {
        if (s[i] < 0x80) {
            out.push_back(char(s[i++]));
            continue;
        }
        size_t valid;
        const size_t len = Utf8SequenceLength(s, i, n, valid);
        if (len == 0) {
            AppendUtf8(out, Replacement);
            i += valid;
        } else {
            out.append(in.data() + i, len);
            i += len;
        }
    }
}

void Utf16ToUtf8(std::string_view in, bool bigEndian, std::string& out)
{
    const auto* s = reinterpret_cast<const unsigned char*>(in.data());
    const size_t units = in.size() / 2;
    out.reserve(units + units / 2 + 4);
    auto unit = [&](size_t k) -> uint32_t {
        return bigEndian ? (uint32_t(s[2 * k]) << 8) | s[2 * k + 1] : (uint32_t(s[2 * k + 1]) << 8) | s[2 * k];
    };
    for (size_t k = 0; k < units; ++k) {
        const uint32_t u = unit(k);
        if (u >= 0xD800 && u <= 0xDBFF && k + 1 < units) {
            const uint32_t v = unit(k + 1);
            if (v >= 0xDC00 && v <= 0xDFFF) {
                AppendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (v - 0xDC00));
                ++k;
                continue;
            }
        }
        AppendUtf8(out, (u >= 0xD800 && u <= 0xDFFF) ? Replacement : u);
    }
    // A byte left over from the last character.
    if (in.size() % 2) AppendUtf8(out, Replacement);
}

} // namespace

TMz_StreamReader::TMz_StreamReader(TStream* Stream, bool DetectBOM)
{
    Init(Stream, meUTF8, DetectBOM, DefaultBufferSize);
}

TMz_StreamReader::TMz_StreamReader(TStream* Stream, TMz_TextEncoding Encoding, bool DetectBOM, int BufferSize)
{
    Init(Stream, Encoding, DetectBOM, BufferSize);
}

TMz_StreamReader::TMz_StreamReader(const std::string& Filename, bool DetectBOM)
    : TMz_StreamReader(Filename, meUTF8, DetectBOM, DefaultBufferSize)
{
}

TMz_StreamReader::TMz_StreamReader(const std::string& Filename, TMz_TextEncoding Encoding, bool DetectBOM,
                                   int BufferSize)
{
    auto stream = std::make_unique<TFileStream>(Filename, uint16_t(fmOpenRead | fmShareDenyNone));
    Init(stream.release(), Encoding, DetectBOM, BufferSize);
    FOwnsStream = true;
}

TMz_StreamReader::TMz_StreamReader(std::string_view Bytes, TMz_TextEncoding Encoding, bool DetectBOM,
                                   bool SkipPreamble)
    : FInput(Bytes), FDetectBOM(DetectBOM), FSkipPreamble(!DetectBOM && SkipPreamble), FEncoding(Encoding)
{
}

void TMz_StreamReader::Init(TStream* Stream, TMz_TextEncoding Encoding, bool DetectBOM, int BufferSize)
{
    if (!Stream) throw EArgumentException("Stream");
    FStream = Stream;
    FEncoding = Encoding;
    FDetectBOM = DetectBOM;
    FSkipPreamble = !DetectBOM;
    FBufferSize = std::max(BufferSize, MinBufferSize);
}

TMz_StreamReader::~TMz_StreamReader() { Close(); }

void TMz_StreamReader::Close()
{
    if (FOwnsStream && FStream) delete FStream;
    FStream = nullptr;
    FOwnsStream = false;
    FBufferedData.clear();
    FRawInput.clear();
    FText = {};
    FInput = {};
    FDecoded = true;
}

TMz_TextEncoding TMz_StreamReader::CurrentEncoding()
{
    Decode();
    return FEncoding;
}

bool TMz_StreamReader::EndOfStream()
{
    Decode();
    return FText.empty();
}

std::string_view TMz_StreamReader::text()
{
    Decode();
    return FText;
}

std::shared_ptr<const void> TMz_StreamReader::TakeText()
{
    if (!FDecoded && !FStream) {
        // Bytes the caller holds are copied, since the caller may let them
        // go; valid UTF-8 is checked in the same pass.
        FDecoded = true;
        const std::string_view bytes = SkipMark(FInput);
        if (FEncoding == meUTF8 && !bytes.empty()) {
            std::shared_ptr<char[]> copy(new char[bytes.size()]);
            if (CopyValidUtf8(bytes, copy.get()) == bytes.size()) {
                FText = std::string_view(copy.get(), bytes.size());
                return copy;
            }
        }
        DecodeText(bytes);
    }
    Decode();
    if (FText.empty()) return nullptr;
    const char* data = FText.data();
    std::string* from = nullptr;
    if (data >= FBufferedData.data() && data < FBufferedData.data() + FBufferedData.size()) from = &FBufferedData;
    else if (data >= FRawInput.data() && data < FRawInput.data() + FRawInput.size()) from = &FRawInput;
    auto kept = std::make_shared<std::string>();
    if (from) {
        const size_t offset = size_t(data - from->data());
        *kept = std::move(*from);
        from->clear();
        FText = std::string_view(kept->data() + offset, FText.size());
    } else {
        kept->assign(FText);
        FText = *kept;
    }
    return kept;
}

void TMz_StreamReader::Decode()
{
    if (FDecoded) return;
    FDecoded = true;
    if (!FStream) {
        DecodeBytes(FInput);
        return;
    }
    // Read in fills until a fill comes back short; the size the stream claims
    // is only a hint for the first allocation.
    const int64_t hint = std::clamp<int64_t>(FStream->Remaining(), 0, MaxInputSize);
    FRawInput.reserve(size_t(hint));
    const size_t fill = std::max<size_t>(size_t(FBufferSize), 1 << 20);
    for (;;) {
        const size_t at = FRawInput.size();
        if (int64_t(at) >= MaxInputSize + 1) throw EReadError("XML input larger than 1 GiB");
        FRawInput.resize(at + fill);
        const int64_t got = FStream->Read(FRawInput.data() + at, int64_t(fill));
        FRawInput.resize(at + size_t(std::max<int64_t>(got, 0)));
        if (got < int64_t(fill)) break;
    }
    if (int64_t(FRawInput.size()) > MaxInputSize) throw EReadError("XML input larger than 1 GiB");
    DecodeBytes(FRawInput);
}

void TMz_StreamReader::DecodeBytes(std::string_view Bytes) { DecodeText(SkipMark(Bytes)); }

std::string_view TMz_StreamReader::SkipMark(std::string_view Bytes)
{
    auto startsWith = [&](std::string_view mark) { return Bytes.substr(0, mark.size()) == mark; };
    static constexpr std::string_view Utf8Mark("\xEF\xBB\xBF", 3), LeMark("\xFF\xFE", 2), BeMark("\xFE\xFF", 2);
    if (FDetectBOM) {
        if (startsWith(Utf8Mark)) FEncoding = meUTF8, Bytes.remove_prefix(3);
        else if (startsWith(LeMark)) FEncoding = meUTF16LE, Bytes.remove_prefix(2);
        else if (startsWith(BeMark)) FEncoding = meUTF16BE, Bytes.remove_prefix(2);
    } else if (FSkipPreamble) {
        const std::string_view own = FEncoding == meUTF8 ? Utf8Mark : FEncoding == meUTF16LE ? LeMark : BeMark;
        if (startsWith(own)) Bytes.remove_prefix(own.size());
    }
    return Bytes;
}

void TMz_StreamReader::DecodeText(std::string_view Bytes)
{
    if (FEncoding == meUTF8) {
        const size_t bad = FirstInvalidUtf8(Bytes);
        if (bad == Bytes.size()) {
            FText = Bytes;
        } else {
            RepairUtf8(Bytes, bad, FBufferedData);
            FText = FBufferedData;
        }
    } else {
        Utf16ToUtf8(Bytes, FEncoding == meUTF16BE, FBufferedData);
        FText = FBufferedData;
    }
}

int64_t TMz_StreamReader::Utf16Units(int64_t ABytes)
{
    Decode();
    const int64_t size = int64_t(FText.size());
    const int64_t past = ABytes > size ? ABytes - size : 0;
    ABytes = std::min(ABytes, size);
    if (ABytes < FCountedBytes) FCountedBytes = FCountedUnits = 0;
    const auto* s = reinterpret_cast<const unsigned char*>(FText.data());
    int64_t units = FCountedUnits;
    for (int64_t i = FCountedBytes; i < ABytes; ++i) {
        // Every lead byte starts one character; four-byte sequences take two UTF-16 units.
        units += (s[i] & 0xC0) != 0x80;
        units += s[i] >= 0xF0;
    }
    FCountedBytes = ABytes;
    FCountedUnits = units;
    return units + past;
}

int64_t TMz_StreamReader::position() { return Utf16Units(FInternalIndex); }

void TMz_StreamReader::setPosition(int64_t AValue)
{
    Decode();
    const auto* s = reinterpret_cast<const unsigned char*>(FText.data());
    const int64_t size = int64_t(FText.size());
    int64_t units = 0, i = 0;
    while (i < size && units < AValue) {
        const unsigned char c = s[i];
        const int len = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
        units += len == 4 ? 2 : 1;
        i += len;
    }
    FInternalIndex = i + std::max<int64_t>(AValue - units, 0);
}

bool TMz_StreamReader::eod()
{
    Decode();
    return FInternalIndex >= int64_t(FText.size());
}

int TMz_StreamReader::Read()
{
    Decode();
    if (FText.empty()) return EndOfData;
    const int64_t i = FInternalIndex++;
    return i < int64_t(FText.size()) ? static_cast<unsigned char>(FText[size_t(i)]) : EndOfData;
}

int TMz_StreamReader::Current()
{
    Decode();
    return FInternalIndex < int64_t(FText.size()) ? static_cast<unsigned char>(FText[size_t(FInternalIndex)])
                                                  : EndOfData;
}

int TMz_StreamReader::Peek()
{
    Decode();
    if (FText.empty()) return EndOfData;
    const int64_t i = FInternalIndex + 1;
    if (i >= int64_t(FText.size())) throw ERangeError("Range check error");
    return static_cast<unsigned char>(FText[size_t(i)]);
}

std::string TMz_StreamReader::ReadLine()
{
    Decode();
    const int64_t size = int64_t(FText.size());
    if (FInternalIndex >= size) return std::string();
    const size_t from = size_t(FInternalIndex);
    const size_t stop = FText.find_first_of("\r\n", from);
    if (stop == std::string_view::npos) {
        FInternalIndex = size;
        return std::string(FText.substr(from));
    }
    FInternalIndex = int64_t(stop) + 1;
    if (FText[stop] == '\r' && stop + 1 < FText.size() && FText[stop + 1] == '\n') ++FInternalIndex;
    return std::string(FText.substr(from, stop - from));
}

std::string TMz_StreamReader::ReadToEnd()
{
    Decode();
    const int64_t size = int64_t(FText.size());
    std::string rest = FInternalIndex < size ? std::string(FText.substr(size_t(FInternalIndex))) : std::string();
    FInternalIndex = std::max(FInternalIndex, size);
    return rest;
}

void TMz_StreamReader::revert(int64_t pCount)
{
    if (FInternalIndex - pCount < 0) throw Exception("invalid internal index revert");
    FInternalIndex -= pCount;
}

} // namespace korvane
