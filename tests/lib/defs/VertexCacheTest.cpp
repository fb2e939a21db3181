#include <gtest/gtest.h>

#include "Korvane.DefTypes.VertexCache.h"
#include "TestHelpers.h"

using namespace korvane;
using korvane::test::MessageOf;

namespace {

TVertexID Corner(int32_t APosition, int32_t ANormal = -1, int32_t ATexture = -1)
{
    TVertexID v;
    v.Position = APosition;
    v.Normal = ANormal;
    if (ATexture >= 0) {
        v.Textures.Count = 1;
        v.Textures.Indices[0] = ATexture;
    }
    return v;
}

// A cache with four positions on a unit square and one normal.
class VertexCache : public ::testing::Test {
protected:
    void SetUp() override
    {
        Cache.SetPositionSource({0, 0, 0, 1, 0, 0, 1, 1, 0, 0, 1, 0});
        Cache.SetNormalSource({0, 0, 1});
    }
    TVertexCache Cache{16};
    std::vector<TVertexData> Vertices;
    std::vector<TTriangleIndex> Indices;
};

TEST_F(VertexCache, EqualCornersBecomeOneVertex)
{
    // Position 4 repeats position 0 under another index; position 5 lies 5E-5
    // beside it: within Equals' tolerance, but its hash (over the exact bits)
    // puts it in another bucket, so it stays a vertex of its own.
    Cache.AddPositionSource(TPoint3D(0, 0, 0));
    Cache.AddPositionSource(TPoint3D(0.00005f, 0, 0));
    const int first = Cache.AddTriangle(0, {Corner(0, 0), Corner(1, 0), Corner(2, 0)}, Vertices, Indices,
                                        TVertexOrder::CCW);
    EXPECT_EQ(first, 3);
    EXPECT_EQ(Cache.AddTriangle(first, {Corner(4, 0), Corner(2, 0), Corner(3, 0)}, Vertices, Indices,
                                TVertexOrder::CCW),
              6);
    ASSERT_EQ(Vertices.size(), 4u);
    EXPECT_EQ(Indices[1][0], Indices[0][0]) << "corner 0 of the second face reuses the first vertex";
    EXPECT_EQ(Indices[1][2], Indices[0][1]) << "so does the shared position 2";
    EXPECT_EQ(Cache.IndexMap.Items(4), (std::vector<uint32_t>{Indices[0][0]}));

    Cache.AddTriangle(6, {Corner(5, 0), Corner(2, 0), Corner(3, 0)}, Vertices, Indices, TVertexOrder::CCW);
    ASSERT_EQ(Vertices.size(), 5u);
    EXPECT_TRUE(Vertices[4].Equals(Vertices[Indices[0][0]]));
}

TEST_F(VertexCache, TriangleAndQuadIndexTriples)
{
    // Distinct positions make vertex index = first-met order; map back to corners.
    struct Case {
        TVertexOrder Order;
        int Corners;
        std::vector<std::array<int, 3>> CornerTriples;
    };
    const Case cases[] = {
        {TVertexOrder::CW, 3, {{1, 2, 0}}},
        {TVertexOrder::CCW, 3, {{0, 2, 1}}},
        {TVertexOrder::CW, 4, {{1, 2, 0}, {2, 3, 0}}},
        {TVertexOrder::CCW, 4, {{0, 2, 1}, {0, 3, 2}}},
    };
    for (const Case& c : cases) {
        Vertices.clear();
        Indices.clear();
        Cache.ClearMaps();
        TPolygonID polygon;
        for (int i = 0; i < c.Corners; ++i) polygon.push_back(Corner(i, 0));
        const int result = Cache.AddPolygon(10, polygon, Vertices, Indices, c.Order);
        EXPECT_EQ(result, 10 + 3 * int(c.CornerTriples.size()));
        ASSERT_EQ(Indices.size(), c.CornerTriples.size());
        for (size_t t = 0; t < Indices.size(); ++t)
            for (int k = 0; k < 3; ++k) {
                const TPoint3D p = Vertices[Indices[t][size_t(k)]].Position;
                EXPECT_EQ(p, Cache.PositionSource[size_t(c.CornerTriples[t][size_t(k)])])
                    << "order " << int(c.Order) << " corners " << c.Corners << " triangle " << t << " corner " << k;
            }
        // Every corner position is recorded in the index map.
        EXPECT_EQ(Cache.IndexMap.Count(), c.Corners);
    }
}

TEST_F(VertexCache, PolygonOfTwoCornersAddsNothing)
{
    EXPECT_EQ(Cache.AddPolygon(7, {Corner(0), Corner(1)}, Vertices, Indices, TVertexOrder::CW), 7);
    EXPECT_TRUE(Vertices.empty());
    EXPECT_TRUE(Indices.empty());
    EXPECT_EQ(Cache.IndexMap.Count(), 0);
}

TEST_F(VertexCache, ResolvingChannelsAndFlags)
{
    Cache.SetTextureSource(0, {0.25f, 0.5f}, false);
    Cache.SetColorSource(0, {1, 0, 0, 1});
    Cache.SetBiNormalSource({0, 1, 0});
    Cache.SetTangentSource({1, 0, 0});

    TVertexID beyond = Corner(1, 0);
    beyond.Textures.Count = 2; // channel 1 has no list at all
    beyond.Textures.Indices[0] = 5;
    beyond.Textures.Indices[1] = 0;
    beyond.Colors.Count = 1;
    beyond.Colors.Indices[0] = 3;
    beyond.Tangent = 0;
    beyond.Binormal = 0;
    const TVertexData v = Cache.GetVertex(beyond);
    ASSERT_EQ(v.TexCoords.size(), 2u);
    EXPECT_EQ(v.TexCoords[0], TPointF(0, 0));
    EXPECT_EQ(v.TexCoords[1], TPointF(0, 0));
    ASSERT_EQ(v.Colors.size(), 1u);
    EXPECT_EQ(v.Colors[0], TAlphaColorF(0, 0, 0, 1));
    EXPECT_EQ(v.Binormal, TPoint3D(0, 1, 0));
    EXPECT_EQ(v.Tangent, TPoint3D(1, 0, 0));
    EXPECT_TRUE(v.Flags.IsEmpty());

    struct Case {
        const char* Name;
        TVertexID Id;
        TVertexDataFlags Flags;
    };
    TVertexID noNormal = Corner(0, -1, 0);
    noNormal.Tangent = 0;
    TVertexID noTangent = Corner(0, 0, 0);
    noTangent.Tangent = -1;
    TVertexID noTextures = Corner(0, 0);
    noTextures.Tangent = 0;
    TVertexID noBinormal = Corner(0, 0, 0);
    noBinormal.Tangent = 0;
    noBinormal.Binormal = -1;
    const Case cases[] = {
        {"normal -1", noNormal, {TVertexDataFlag::CalcNormals}},
        {"tangent -1", noTangent, {TVertexDataFlag::CalcTangents}},
        {"no texture channel", noTextures, {TVertexDataFlag::CalcTexCoords}},
        {"binormal -1", noBinormal, {}},
    };
    for (const Case& c : cases) {
        const TVertexData r = Cache.GetVertex(c.Id);
        EXPECT_EQ(r.Flags, c.Flags) << c.Name;
        if (c.Flags.Contains(TVertexDataFlag::CalcNormals)) {
            EXPECT_EQ(r.Normal, TPoint3D()) << c.Name;
        }
        if (c.Flags.Contains(TVertexDataFlag::CalcTexCoords)) {
            EXPECT_TRUE(r.TexCoords.empty()) << c.Name;
        }
        if (std::string(c.Name) == "binormal -1") {
            EXPECT_EQ(r.Binormal, TPoint3D()) << c.Name;
        }
    }
}

TEST_F(VertexCache, BadIndicesRaise)
{
    EXPECT_EQ(MessageOf([&] { Cache.GetVertex(Corner(4)); }), "invalid index for vertex position coordinate: 4 < 4");
    EXPECT_EQ(MessageOf([&] { Cache.GetVertex(Corner(-1)); }), "invalid index for vertex position coordinate: -1 < 4");

    // The failing corner comes third (CCW resolves corner 0, corner 2, corner 1):
    // the two vertices before it stay, the face adds no triple and no map entry.
    EXPECT_NE(MessageOf([&] {
                  Cache.AddTriangle(0, {Corner(0), Corner(9), Corner(1)}, Vertices, Indices, TVertexOrder::CCW);
              }),
              "(no exception)");
    EXPECT_EQ(Vertices.size(), 2u);
    EXPECT_TRUE(Indices.empty());
    EXPECT_EQ(Cache.IndexMap.Count(), 0);

    Cache.SetTangentSource({1, 0, 0});
    TVertexID tangentBeyond = Corner(0);
    tangentBeyond.Tangent = 1;
    EXPECT_THROW(Cache.GetVertex(tangentBeyond), EListError);
}

TEST_F(VertexCache, AddPointsAppendsOneVertexPerPosition)
{
    TVertexCache cache;
    cache.SetPositionSource({0, 0, 0, 1, 0, 0, 2, 0, 0});
    cache.SetNormalSource({0, 0, 1, 0, 1, 0, 1, 0, 0});
    cache.SetTextureSource(0, {0, 0, 0.5f, 0.5f, 1, 1}, false);
    cache.SetColorSource(0, {1, 0, 0, 1, 0, 1, 0, 1, 0, 0, 1, 1});
    std::vector<uint32_t> points;
    EXPECT_EQ(cache.AddPoints(0, Vertices, points), 2);
    EXPECT_EQ(points, (std::vector<uint32_t>{0, 1, 2}));
    ASSERT_EQ(Vertices.size(), 3u);
    EXPECT_EQ(Vertices[1].Normal, TPoint3D(0, 1, 0));
    EXPECT_EQ(Vertices[2].TexCoords, (std::vector<TPointF>{TPointF(1, 1)}));
    EXPECT_EQ(Vertices[2].Colors, (std::vector<TAlphaColorF>{TAlphaColorF(0, 0, 1, 1)}));
    EXPECT_EQ(cache.IndexMap.Count(), 0);
    // Equal points are not merged.
    EXPECT_EQ(cache.AddPoints(2, Vertices, points), 3);

    // A normal source shorter than the positions is an error, not a read past it.
    cache.SetNormalSource({0, 0, 1});
    EXPECT_THROW(cache.AddPoints(0, Vertices, points), EListError);
}

TEST_F(VertexCache, SourceOperations)
{
    Cache.SetTextureSource(1, {1, 2, 99, 3, 4, 99, 5, 6, 99}, false, 3);
    EXPECT_EQ(*Cache.GetTextureSourceArray(1), (std::vector<TPointF>{{1, 2}, {3, 4}, {5, 6}}));
    Cache.SetTextureSource(1, {0.25f, 0.25f}, true);
    EXPECT_EQ(*Cache.GetTextureSourceArray(1), (std::vector<TPointF>{{0.25f, 0.75f}}));
    EXPECT_EQ(Cache.AddTextureSource(1, TPointF(0, 0.25f), true), 1);
    EXPECT_EQ(Cache.GetTextureSourceArray(1)->back(), TPointF(0, 0.75f));
    EXPECT_EQ(Cache.AddTangentSource(std::vector<TVector3D>{}), -1);
    EXPECT_EQ(Cache.AddTangentSource(std::vector<TVector3D>{{1, 2, 3, 4}, {5, 6, 7, 8}}), 1);
    EXPECT_EQ(Cache.TangentSource.back(), TPoint3D(5, 6, 7));
    EXPECT_EQ(Cache.AddColorSource(3, std::vector<float>{0.5f, 0.5f, 0.5f, 1}), 0);

    // Normals go through the matrix as directions (no translation) and come out unit length.
    TMatrix3D m = TMatrix3D::CreateScaling(TPoint3D(2, 2, 2)) * TMatrix3D::CreateTranslation(TPoint3D(5, 5, 5));
    Cache.SetNormalSource({0, 0, 3}, m);
    EXPECT_EQ(Cache.NormalSource[0], TPoint3D(0, 0, 1));

    EXPECT_EQ(Cache.GetTextureSourceArray(32), nullptr);
    EXPECT_EQ(Cache.GetColorSourceArray(-1), nullptr);
    EXPECT_EQ(Cache.GetColorSourceArray(4), nullptr);
    // Channels beyond their lists and short value arrays raise instead of writing past them.
    EXPECT_THROW(Cache.AddColorSource(4, TAlphaColorF()), EArgumentException);
    EXPECT_THROW(Cache.SetTextureSource(32, {0, 0}, false), EArgumentException);
    EXPECT_THROW(Cache.AddPositionSource(std::vector<float>{1, 2}), EArgumentException);
    EXPECT_THROW(Cache.SetTextureSource(0, {0, 0}, false, 1), EArgumentException);
}

TEST_F(VertexCache, ClearOperations)
{
    Cache.NormalsAvailable = true;
    Cache.AddTriangle(0, {Corner(0, 0), Corner(1, 0), Corner(2, 0)}, Cache.Vertices, Cache.Indices, TVertexOrder::CW);
    Cache.PointIndices.push_back(1);
    Cache.ClearVirtualData();
    EXPECT_FALSE(Cache.NormalsAvailable);
    EXPECT_TRUE(Cache.Vertices.empty() && Cache.Indices.empty());
    EXPECT_EQ(Cache.IndexMap.Count(), 0);
    EXPECT_EQ(Cache.PositionSource.size(), 4u) << "the sources stay";
    // After ClearMaps the same vertex is added again instead of found.
    Cache.AddTriangle(0, {Corner(0, 0), Corner(1, 0), Corner(2, 0)}, Cache.Vertices, Cache.Indices, TVertexOrder::CW);
    EXPECT_EQ(Cache.Vertices.size(), 3u);
    Cache.ClearAll();
    EXPECT_TRUE(Cache.PositionSource.empty() && Cache.NormalSource.empty());
    EXPECT_TRUE(Cache.Vertices.empty());
    EXPECT_EQ(Cache.PointIndices.size(), 1u) << "no clear empties the point indices";
}

TEST(VertexIndexMap, AddIndexAndAssign)
{
    TVertexIndexMap map;
    map.AddIndex(5, 7);
    map.AddIndex(5, 7);
    EXPECT_EQ(map.Items(5), (std::vector<uint32_t>{7}));
    map.AddIndex(5, 9);
    EXPECT_EQ(map.Items(5), (std::vector<uint32_t>{7, 9}));
    EXPECT_THROW(map.Add(5, {1}), EListError);

    TVertexIndexMap copy;
    copy.AddIndex(1, 1);
    copy.Assign(&map);
    EXPECT_EQ(copy, map);
    copy.Assign(nullptr);
    EXPECT_EQ(copy.Count(), 0);
}

TEST(VertexHashes, KnownValuesAndCollisions)
{
    const TVertexID zeros{0, 0, {}, 0, 0, {}, 0};
    EXPECT_EQ(zeros.GetHash(), 56103493317908468ull);

    // Only the first two texture channels and colours enter the hash.
    TVertexData a;
    a.TexCoords = {{0.1f, 0.2f}, {0.3f, 0.4f}, {0.5f, 0.6f}};
    a.Colors = {{1, 0, 0, 1}, {0, 1, 0, 1}, {0, 0, 1, 1}};
    TVertexData b = a;
    b.TexCoords[2] = {0.9f, 0.9f};
    TVertexData c = a;
    c.Colors[2] = {1, 1, 1, 1};
    EXPECT_EQ(a.GetHash(), b.GetHash());
    EXPECT_EQ(a.GetHash(), c.GetHash());
    EXPECT_FALSE(a.Equals(b));
    EXPECT_FALSE(a.Equals(c));
    EXPECT_TRUE(a.Equals(a));

    struct Case {
        const char* Name;
        TVertexData V;
        bool Equal;
    };
    TVertexData base;
    base.TexCoords = {{1000, 0}};
    base.Colors = {{0.5f, 0.5f, 0.5f, 1}};
    auto with = [&](auto change) {
        TVertexData v = base;
        change(v);
        return v;
    };
    const Case cases[] = {
        {"position within 1E-4", with([](TVertexData& v) { v.Position.X = 0.00009f; }), true},
        {"position beyond 1E-4", with([](TVertexData& v) { v.Position.X = 0.0002f; }), false},
        {"texture relative 1.25E-6 of 1000", with([](TVertexData& v) { v.TexCoords[0].X = 1000.001f; }), true},
        {"texture beyond", with([](TVertexData& v) { v.TexCoords[0].X = 1000.002f; }), false},
        {"texture zero against tiny", with([](TVertexData& v) { v.TexCoords[0].Y = 1e-30f; }), false},
        {"colour within 1.5E-5", with([](TVertexData& v) { v.Colors[0].R = 0.50001f; }), true},
        {"colour beyond", with([](TVertexData& v) { v.Colors[0].R = 0.5001f; }), false},
        {"smoothing group", with([](TVertexData& v) { v.SmoothGroup = 1; }), false},
        {"flags", with([](TVertexData& v) { v.Flags.Include(TVertexDataFlag::CalcNormals); }), false},
        {"channel count", with([](TVertexData& v) { v.Colors.push_back({}); }), false},
    };
    for (const Case& k : cases) EXPECT_EQ(base.Equals(k.V), k.Equal) << k.Name;
}

TEST(VertexDataJSON, RoundTripAndFailures)
{
    TVertexData v;
    v.Position = {1, -2.5f, 3};
    v.Normal = {0, 0, 1};
    v.TexCoords = {{0.25f, 0.75f}};
    v.Colors = {{1, 0.5f, 0, 1}};
    v.SmoothGroup = 4;
    auto json = v.ToJSON();
    EXPECT_EQ(json->ToJSON(),
              "{\"Position\":\"1.0000000 -2.5000000 3.0000000\",\"Normal\":\"0.0000000 0.0000000 1.0000000\","
              "\"Binormal\":\"0.0000000 0.0000000 0.0000000\",\"Tangent\":\"0.0000000 0.0000000 0.0000000\","
              "\"TexCoords\":[\"0.2500000 0.7500000\"],\"Colors\":[\"1.0000 0.5000 0.0000 1.0000\"],"
              "\"SmoothGroup\":4}");
    TVertexData back;
    back.FromJSON(*json);
    EXPECT_TRUE(back.Equals(v));

    struct Case {
        const char* Text;
        const char* Message;
    };
    const Case cases[] = {
        {R"({})", "failed to load vertexdata from json - position not found"},
        {R"({"Position":"0 0 0"})", "failed to load vertexdata from json - normal not found"},
        {R"({"Position":"0 0 0","Normal":"0 0 0"})", "failed to load vertexdata from json - binormal not found"},
        {R"({"Position":"0 0 0","Normal":"0 0 0","Binormal":"0 0 0"})",
         "failed to load vertexdata from json - tangent not found"},
        {R"({"Position":"0 0 0","Normal":"0 0 0","Binormal":"0 0 0","Tangent":"0 0 0"})",
         "failed to load vertexdata from json - smoothgroup not found"},
        {R"({"Position":"0 0 0","Normal":"0 0 0","Binormal":"0 0 0","Tangent":"0 0 0","SmoothGroup":"1"})",
         "failed to load vertexdata from json - smoothgroup contains invalid value"},
    };
    for (const Case& c : cases) {
        TVertexData r;
        EXPECT_EQ(MessageOf([&] { r.FromJSON(*TJSONObject::ParseJSONObject(c.Text)); }), c.Message) << c.Text;
    }
    TVertexData r;
    r.FromJSON(*TJSONObject::ParseJSONObject(
        R"({"Position":"1 2 3","Normal":"0 0 0","Binormal":"0 0 0","Tangent":"0 0 0","SmoothGroup":2.5,"TexCoords":5})"));
    EXPECT_EQ(r.SmoothGroup, 2) << "halves go to the even neighbour";
    EXPECT_TRUE(r.TexCoords.empty());
}

} // namespace
