// The platform's CPU mesh buffers: interleaved layout, accessors, range checks.

#include <gtest/gtest.h>

#include <cstring>

#include "Platform.MeshBuffers.h"
#include "Platform.SysUtils.h"

using namespace korvane;

TEST(MeshBuffers, InterleavedLayoutFollowsTheFormat)
{
    const TVertexFormats fmt{TVertexFormat::Vertex, TVertexFormat::Normal, TVertexFormat::ColorF0,
                             TVertexFormat::TexCoord0, TVertexFormat::Tangent};
    TVertexBuffer vb(fmt, 3);
    EXPECT_EQ(vb.VertexSize(), 12u + 12 + 16 + 8 + 12);
    EXPECT_EQ(vb.Size(), 3u * vb.VertexSize());
    EXPECT_EQ(vb.ComponentOffset(TVertexFormat::Vertex), 0u);
    EXPECT_EQ(vb.ComponentOffset(TVertexFormat::TexCoord0), 40u);
    EXPECT_EQ(vb.ComponentOffset(TVertexFormat::Tangent), 48u);
    vb.SetVertices(1, {1, 2, 3});
    vb.SetNormals(1, {0, 0, 1});
    vb.SetTexCoord0(2, {0.5f, 0.25f});
    vb.SetTangents(2, {4, 5, 6});
    EXPECT_EQ(vb.Vertices(1), TPoint3D(1, 2, 3));
    EXPECT_EQ(vb.Normals(1), TPoint3D(0, 0, 1));
    EXPECT_EQ(vb.Vertices(0), TPoint3D());
    EXPECT_EQ(vb.TexCoord0(2), TPointF(0.5f, 0.25f));
    EXPECT_EQ(vb.Tangents(2), TPoint3D(4, 5, 6));
    float raw[3];
    std::memcpy(raw, vb.Buffer() + vb.VertexSize() * 2 + 48, sizeof(raw));
    EXPECT_EQ(raw[2], 6);
    vb.SetLength(5);
    EXPECT_EQ(vb.Vertices(1), TPoint3D(1, 2, 3));
    EXPECT_EQ(vb.Vertices(4), TPoint3D());
}

TEST(MeshBuffers, OutOfRangeAndMissingComponentsRaise)
{
    TVertexBuffer vb(TVertexFormats{TVertexFormat::Vertex}, 2);
    EXPECT_THROW(vb.Vertices(2), EArgumentException);
    EXPECT_THROW(vb.Vertices(-1), EArgumentException);
    EXPECT_THROW(vb.Normals(0), EArgumentException);
    EXPECT_THROW(TVertexBuffer(TVertexFormats{TVertexFormat::Vertex}, -1), EArgumentException);

    TIndexBuffer ib(4, TIndexFormat::UInt16);
    EXPECT_EQ(ib.IndexSize(), 2u);
    ib.SetIndices(3, 65535);
    EXPECT_EQ(ib.Indices(3), 65535u);
    EXPECT_THROW(ib.SetIndices(0, 65536), EArgumentException);
    EXPECT_THROW(ib.Indices(4), EArgumentException);
    EXPECT_THROW(TIndexBuffer(-3), EArgumentException);
    TIndexBuffer wide(1, TIndexFormat::UInt32);
    wide.SetIndices(0, 0xFFFFFFFFu);
    EXPECT_EQ(wide.Indices(0), 0xFFFFFFFFu);

    TMeshData md(TVertexFormats{TVertexFormat::Vertex}, 3, 6);
    EXPECT_EQ(md.VertexBuffer().Length(), 3);
    EXPECT_EQ(md.IndexBuffer().Length(), 6);
    EXPECT_EQ(md.IndexBuffer().IndexFormat(), TIndexFormat::UInt32);
}
