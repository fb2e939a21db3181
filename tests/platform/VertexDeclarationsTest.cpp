// Vertex declarations: one layout per set of attributes, made once and shared.

#include <gtest/gtest.h>

#include <random>
#include <thread>
#include <vector>

#include "Platform.MeshBuffers.h"
#include "Platform.Types3D.h"

using namespace korvane;

namespace {
TVertexFormats FormatsOf(uint64_t ABits)
{
    TVertexFormats formats;
    for (unsigned i = 0; i < VertexFormatCount; ++i)
        if (ABits & (uint64_t(1) << i)) formats.Include(static_cast<TVertexFormat>(i));
    return formats;
}
} // namespace

TEST(VertexDeclarations, FollowTheVertexBufferLayout)
{
    const TVertexFormats formats[] = {
        {},
        {TVertexFormat::Vertex},
        {TVertexFormat::Vertex, TVertexFormat::Normal},
        {TVertexFormat::Normal, TVertexFormat::Color0, TVertexFormat::TexCoord3},
        {TVertexFormat::Vertex, TVertexFormat::Normal, TVertexFormat::ColorF0, TVertexFormat::TexCoord0,
         TVertexFormat::Tangent},
    };
    for (const TVertexFormats& f : formats) {
        const TVertexBuffer buffer(f, 1);
        const TVertexDeclaration& d = GetVertexDeclarations(f);
        size_t count = 0;
        for (unsigned i = 0; i < VertexFormatCount; ++i) {
            const auto format = static_cast<TVertexFormat>(i);
            if (!f.Contains(format)) continue;
            ASSERT_LT(count, d.size());
            EXPECT_EQ(d[count].Format, format);
            EXPECT_EQ(d[count].Offset, int(buffer.ComponentOffset(format)));
            ++count;
        }
        EXPECT_EQ(d.size(), count);
    }
}

// The same set answers the same object, also after many other sets came in
// between and on another thread; different sets never share one.
TEST(VertexDeclarations, OneSharedLayoutPerSet)
{
    std::mt19937 random(7);
    std::vector<uint64_t> sets(300);
    for (uint64_t& s : sets) s = random() & ((uint64_t(1) << VertexFormatCount) - 1);
    std::vector<const TVertexDeclaration*> first;
    for (uint64_t s : sets) first.push_back(&GetVertexDeclarations(FormatsOf(s)));
    for (size_t i = 0; i < sets.size(); ++i) {
        const TVertexDeclaration& again = GetVertexDeclarations(FormatsOf(sets[i]));
        EXPECT_EQ(&again, first[i]) << sets[i];
        ASSERT_EQ(again.size(), size_t(__builtin_popcountll(sets[i]))) << sets[i];
        for (const TVertexElement& e : again) EXPECT_TRUE(sets[i] & (uint64_t(1) << unsigned(e.Format))) << sets[i];
        for (size_t j = 0; j < i; ++j)
            if (sets[j] != sets[i]) {
                EXPECT_NE(first[j], first[i]);
            }
    }
    std::vector<const TVertexDeclaration*> fromThread;
    std::thread([&] {
        for (uint64_t s : sets) fromThread.push_back(&GetVertexDeclarations(FormatsOf(s)));
    }).join();
    EXPECT_EQ(fromThread, first);
}
