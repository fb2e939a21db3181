#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "Korvane.DefTypes.Cache.h"
#include "TestHelpers.h"

using namespace korvane;

namespace {
using StreamPtr = test::Owned<TMemoryStream>;

std::vector<uint8_t> Bytes(const TMemoryStream& s)
{
    return std::vector<uint8_t>(s.Memory(), s.Memory() + s.Size());
}

// Half random, half repetitive: the deflate stream then spans several blocks.
std::vector<uint8_t> Sample(size_t size)
{
    std::vector<uint8_t> data(size);
    std::mt19937 rng(1234);
    for (size_t i = 0; i < size; ++i) data[i] = (i / 4096) % 2 ? uint8_t(rng()) : uint8_t(i % 7);
    return data;
}

void Fill(TVertexBuffer& b)
{
    auto* p = static_cast<uint8_t*>(b.Buffer());
    for (int64_t i = 0; i < b.Size(); ++i) p[i] = uint8_t(i * 31 + 7);
}
} // namespace

TEST(FrameCompression, RoundTripAroundTheBlockBoundary)
{
    const int64_t block = TAnimationFrameCompression::BlockSize;
    for (int64_t size : {int64_t(0), int64_t(1), block - 1, block, block + 1, 3 * block + 5}) {
        SCOPED_TRACE(size);
        const auto data = Sample(static_cast<size_t>(size));
        StreamPtr z(TAnimationFrameCompression::Compress(data.data(), size));
        ASSERT_GE(z->Size(), 2);
        EXPECT_EQ(z->Position(), z->Size());
        EXPECT_EQ(z->Memory()[0], 0x78); // deflate, 32 KiB window
        EXPECT_EQ(z->Memory()[1], 0xDA); // maximum level
        z->SetPosition(0);
        StreamPtr back(TAnimationFrameCompression::Decompress(z.get()));
        EXPECT_EQ(back->Position(), 0);
        ASSERT_EQ(back->Size(), size);
        EXPECT_TRUE(std::equal(data.begin(), data.end(), back->Memory()));
    }
}

TEST(FrameCompression, DecompressReadsFromTheStreamPosition)
{
    const auto data = Sample(5000);
    StreamPtr z(TAnimationFrameCompression::Compress(data.data(), int64_t(data.size())));
    TMemoryStream framed;
    framed.WriteBuffer("abc", 3);
    framed.WriteBuffer(z->Memory(), z->Size());
    framed.SetPosition(3);
    StreamPtr back(TAnimationFrameCompression::Decompress(&framed));
    EXPECT_EQ(Bytes(*back), data);
}

TEST(FrameCompression, BadStreamsRaiseInsteadOfGivingPartialData)
{
    const auto data = Sample(300000);
    StreamPtr z(TAnimationFrameCompression::Compress(data.data(), int64_t(data.size())));
    const auto good = Bytes(*z);

    struct Case {
        const char* Name;
        std::vector<uint8_t> Stream;
        const char* Message;
    };
    auto corrupt = good;
    corrupt[corrupt.size() / 2] ^= 0x5A;
    auto badChecksum = good;
    badChecksum.back() ^= 0x01;
    const std::vector<Case> cases = {
        {"empty", {}, "failed to decompress frame - truncated data"},
        {"truncated", std::vector<uint8_t>(good.begin(), good.end() - 10), "failed to decompress frame - truncated data"},
        {"header only", std::vector<uint8_t>(good.begin(), good.begin() + 2), "failed to decompress frame - truncated data"},
        {"corrupt", corrupt, "failed to decompress frame - corrupt data"},
        {"checksum", badChecksum, "failed to decompress frame - corrupt data"},
        {"not zlib", {'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd'}, "failed to decompress frame - corrupt data"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TBytesStream s(c.Stream);
        try {
            StreamPtr out(TAnimationFrameCompression::Decompress(&s));
            FAIL() << "no exception; " << out->Size() << " bytes";
        } catch (const EZDecompressionError& e) {
            EXPECT_EQ(e.Message().rfind(c.Message, 0), 0u) << e.Message();
        }
    }
}

TEST(FrameCompression, OutputBeyondTheBoundIsRefused)
{
    const std::vector<uint8_t> zeros(4 * 1048576, 0);
    StreamPtr z(TAnimationFrameCompression::Compress(zeros.data(), int64_t(zeros.size())));
    EXPECT_LT(z->Size(), 10000); // a small stream that claims much more
    z->SetPosition(0);
    try {
        StreamPtr out(TAnimationFrameCompression::Decompress(z.get(), 1048576));
        FAIL() << "no exception";
    } catch (const EZDecompressionError& e) {
        EXPECT_EQ(e.Message(), "failed to decompress frame - output exceeds 1048576 bytes");
    }
    z->SetPosition(0);
    StreamPtr exact(TAnimationFrameCompression::Decompress(z.get(), int64_t(zeros.size())));
    EXPECT_EQ(exact->Size(), int64_t(zeros.size()));
}

TEST(FrameCompression, SourceStreamPacksOneAttribute)
{
    const TVertexFormats format{TVertexFormat::Vertex, TVertexFormat::Normal, TVertexFormat::Color0,
                                TVertexFormat::TexCoord0, TVertexFormat::TexCoord1};
    TVertexBuffer b(format, 100);
    Fill(b);
    struct Case {
        TVertexFormat Format;
        int Width;
    } cases[] = {{TVertexFormat::Vertex, 12}, {TVertexFormat::Normal, 12}, {TVertexFormat::TexCoord0, 8},
                 {TVertexFormat::TexCoord1, 8}, {TVertexFormat::Color0, 4}, {TVertexFormat::ColorF0, 4}};
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.Format));
        StreamPtr s(TAnimationFrameCompression::GetSourceStream(c.Format, &b));
        ASSERT_EQ(s->Size(), 100 * c.Width);
        EXPECT_EQ(s->Position(), 0);
        // The float colour is written as the byte colour of the same set.
        const TVertexFormat source = c.Format == TVertexFormat::ColorF0 ? TVertexFormat::Color0 : c.Format;
        for (int i = 0; i < 100; ++i)
            ASSERT_EQ(std::memcmp(s->Memory() + i * c.Width, b.Attribute(source, i), size_t(c.Width)), 0) << i;
    }

    // A buffer holding one attribute alone is written in one piece.
    TVertexBuffer uv({TVertexFormat::TexCoord1}, 100);
    Fill(uv);
    StreamPtr whole(TAnimationFrameCompression::GetSourceStream(TVertexFormat::TexCoord1, &uv));
    ASSERT_EQ(whole->Size(), 800);
    EXPECT_EQ(std::memcmp(whole->Memory(), uv.Buffer(), 800), 0);

    // Float colours without byte colours are packed to ARGB.
    TVertexBuffer fc({TVertexFormat::Vertex, TVertexFormat::ColorF1}, 2);
    const TAlphaColorF red(1, 0, 0, 1);
    std::memcpy(fc.Attribute(TVertexFormat::ColorF1, 1), &red, sizeof(red));
    StreamPtr packed(TAnimationFrameCompression::GetSourceStream(TVertexFormat::ColorF1, &fc));
    ASSERT_EQ(packed->Size(), 8);
    uint32_t argb = 0;
    std::memcpy(&argb, packed->Memory() + 4, 4);
    EXPECT_EQ(argb, 0xFFFF0000u);

    // A value outside the attributes, or no buffer, only rewinds; writing starts at the position.
    TMemoryStream s;
    s.WriteBuffer("xyz", 3);
    TAnimationFrameCompression::SetSourceStream(static_cast<TVertexFormat>(16), &b, &s);
    EXPECT_EQ(s.Size(), 3);
    EXPECT_EQ(s.Position(), 0);
    s.SetPosition(3);
    TAnimationFrameCompression::SetSourceStream(TVertexFormat::TexCoord1, &uv, &s);
    EXPECT_EQ(s.Size(), 803);
    EXPECT_EQ(s.Position(), 0);
    TAnimationFrameCompression::SetSourceStream(TVertexFormat::Vertex, nullptr, &s);
    EXPECT_EQ(s.Size(), 803);
}

TEST(FrameCompression, CompressedAttributeInflatesToThePackedBytes)
{
    TVertexBuffer b({TVertexFormat::Vertex, TVertexFormat::Normal, TVertexFormat::TexCoord0}, 100);
    Fill(b);
    StreamPtr z(TAnimationFrameCompression::Compress(TVertexFormat::Vertex, &b));
    z->SetPosition(0);
    StreamPtr back(TAnimationFrameCompression::Decompress(z.get()));
    StreamPtr plain(TAnimationFrameCompression::GetSourceStream(TVertexFormat::Vertex, &b));
    EXPECT_EQ(back->Size(), 1200);
    EXPECT_EQ(Bytes(*back), Bytes(*plain));
}
