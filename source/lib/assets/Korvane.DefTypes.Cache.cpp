#include "Korvane.DefTypes.Cache.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

namespace korvane {

namespace {
using StreamPtr = TOwned<TMemoryStream>;

bool IsAttribute(TVertexFormat AFormat) { return static_cast<uint8_t>(AFormat) <= static_cast<uint8_t>(TVertexFormat::Tangent); }

// The packed colour of colour set k of one vertex: the byte colour when the
// buffer has it, else the float colour converted, else zero.
uint32_t PackedColor(const TVertexBuffer& ABuffer, int k, int AIndex)
{
    const auto byteFormat = static_cast<TVertexFormat>(static_cast<int>(TVertexFormat::Color0) + k);
    const auto floatFormat = static_cast<TVertexFormat>(static_cast<int>(TVertexFormat::ColorF0) + k);
    uint32_t color = 0;
    if (const void* p = ABuffer.Attribute(byteFormat, AIndex)) {
        std::memcpy(&color, p, 4);
    } else if (const void* q = ABuffer.Attribute(floatFormat, AIndex)) {
        TAlphaColorF c;
        std::memcpy(static_cast<void*>(&c), q, sizeof(c));
        color = c.ToAlphaColor();
    }
    return color;
}
} // namespace

int TAnimationFrameCompression::AttributeWidth(TVertexFormat AFormat)
{
    if (!IsAttribute(AFormat)) return 0;
    switch (AFormat) {
    case TVertexFormat::ColorF0:
    case TVertexFormat::ColorF1:
    case TVertexFormat::ColorF2:
    case TVertexFormat::ColorF3: return 4;
    default: return VertexFormatSize(AFormat);
    }
}

void TAnimationFrameCompression::SetSourceStream(TVertexFormat AFormat, const TVertexBuffer* ABuffer,
                                                 TMemoryStream* AStream)
{
    const int width = AttributeWidth(AFormat);
    if (ABuffer && width > 0 && ABuffer->Length() > 0) {
        const int n = ABuffer->Length();
        const int f = static_cast<int>(AFormat);
        const bool isColor = f >= static_cast<int>(TVertexFormat::Color0) && f <= static_cast<int>(TVertexFormat::ColorF3);
        // The colour set, byte or float; -1 for the other attributes.
        const int colorSet = isColor ? (f - static_cast<int>(TVertexFormat::Color0)) % 4 : -1;
        // The attribute that holds the values (a float colour is read from its byte colour when there is one).
        const TVertexFormat source =
            isColor ? static_cast<TVertexFormat>(static_cast<int>(TVertexFormat::Color0) + colorSet) : AFormat;
        if (ABuffer->VertexSize() == width && ABuffer->Format().Contains(source)) {
            // The buffer holds that attribute alone: one block.
            AStream->WriteBuffer(ABuffer->Buffer(), ABuffer->Size());
        } else {
            std::vector<uint8_t> packed(static_cast<size_t>(n) * static_cast<size_t>(width), 0);
            for (int i = 0; i < n; ++i) {
                uint8_t* out = packed.data() + static_cast<size_t>(i) * static_cast<size_t>(width);
                if (isColor) {
                    const uint32_t c = PackedColor(*ABuffer, colorSet, i);
                    std::memcpy(out, &c, 4);
                } else if (const void* p = ABuffer->Attribute(AFormat, i)) {
                    std::memcpy(out, p, static_cast<size_t>(width));
                }
            }
            AStream->WriteBuffer(packed.data(), int64_t(packed.size()));
        }
    }
    AStream->SetPosition(0);
}

void TAnimationFrameCompression::SetSourceStream(const void* AData, int64_t ASize, TMemoryStream* AStream)
{
    if (AData && ASize > 0) AStream->WriteBuffer(AData, ASize);
    AStream->SetPosition(0);
}

TMemoryStream* TAnimationFrameCompression::GetSourceStream(TVertexFormat AFormat, const TVertexBuffer* ABuffer)
{
    StreamPtr s(new TMemoryStream());
    SetSourceStream(AFormat, ABuffer, s.get());
    return s.release();
}

TMemoryStream* TAnimationFrameCompression::GetSourceStream(const void* AData, int64_t ASize)
{
    StreamPtr s(new TMemoryStream());
    SetSourceStream(AData, ASize, s.get());
    return s.release();
}

TMemoryStream* TAnimationFrameCompression::Compress(TVertexFormat AFormat, const TVertexBuffer* ABuffer)
{
    StreamPtr source(GetSourceStream(AFormat, ABuffer));
    return Compress(source->Memory(), source->Size());
}

TMemoryStream* TAnimationFrameCompression::Compress(const void* AData, int64_t ASize)
{
    if (ASize < 0 || (ASize > 0 && !AData)) throw EZCompressionError("failed to compress frame - invalid data");
    StreamPtr result(new TMemoryStream());
    z_stream z{};
    if (deflateInit(&z, Z_BEST_COMPRESSION) != Z_OK) throw EZCompressionError("failed to compress frame - zlib");
    // Left uninitialised: zlib writes before anything reads, and a small frame
    // then touches only the pages it uses.
    const auto out = std::make_unique_for_overwrite<uint8_t[]>(static_cast<size_t>(BlockSize));
    const auto* in = static_cast<const uint8_t*>(AData);
    int64_t remaining = ASize;
    try {
        int flush = Z_NO_FLUSH;
        do {
            const int64_t chunk = std::min(remaining, BlockSize);
            z.next_in = const_cast<Bytef*>(in);
            z.avail_in = static_cast<uInt>(chunk);
            in += chunk;
            remaining -= chunk;
            flush = remaining == 0 ? Z_FINISH : Z_NO_FLUSH;
            do {
                z.next_out = out.get();
                z.avail_out = static_cast<uInt>(BlockSize);
                if (deflate(&z, flush) == Z_STREAM_ERROR) throw EZCompressionError("failed to compress frame - zlib");
                result->WriteBuffer(out.get(), BlockSize - int64_t(z.avail_out));
            } while (z.avail_out == 0);
        } while (flush != Z_FINISH);
    } catch (...) {
        deflateEnd(&z);
        throw;
    }
    deflateEnd(&z);
    return result.release();
}

TMemoryStream* TAnimationFrameCompression::Decompress(TStream* AStream, int64_t AMaxSize)
{
    if (!AStream) throw EZDecompressionError("failed to decompress frame - no stream");
    StreamPtr result(new TMemoryStream());
    z_stream z{};
    if (inflateInit(&z) != Z_OK) throw EZDecompressionError("failed to decompress frame - zlib");
    // Uninitialised blocks: only the bytes read and inflated are touched. The
    // input block is no larger than what the stream holds.
    const int64_t inSize = std::clamp<int64_t>(AStream->Remaining(), 1, BlockSize);
    const auto in = std::make_unique_for_overwrite<uint8_t[]>(static_cast<size_t>(inSize));
    const auto out = std::make_unique_for_overwrite<uint8_t[]>(static_cast<size_t>(BlockSize));
    int status = Z_OK;
    try {
        while (status != Z_STREAM_END) {
            const int64_t got = AStream->Read(in.get(), inSize);
            if (got <= 0) throw EZDecompressionError("failed to decompress frame - truncated data");
            z.next_in = in.get();
            z.avail_in = static_cast<uInt>(got);
            // Inflate while input is left or the output block came back full
            // (more output may be pending for the input already taken).
            do {
                z.next_out = out.get();
                z.avail_out = static_cast<uInt>(BlockSize);
                status = inflate(&z, Z_NO_FLUSH);
                if (status == Z_NEED_DICT || status == Z_DATA_ERROR || status == Z_MEM_ERROR || status == Z_STREAM_ERROR)
                    throw EZDecompressionError(Format("failed to decompress frame - corrupt data (%s)",
                                                      z.msg ? z.msg : "zlib error"));
                const int64_t produced = BlockSize - int64_t(z.avail_out);
                if (result->Size() + produced > AMaxSize)
                    throw EZDecompressionError(
                        Format("failed to decompress frame - output exceeds %d bytes", AMaxSize));
                result->WriteBuffer(out.get(), produced);
                if (status == Z_BUF_ERROR) break; // no progress: needs more input
            } while (status != Z_STREAM_END && (z.avail_in > 0 || z.avail_out == 0));
        }
    } catch (...) {
        inflateEnd(&z);
        throw;
    }
    inflateEnd(&z);
    result->SetPosition(0);
    return result.release();
}

} // namespace korvane
