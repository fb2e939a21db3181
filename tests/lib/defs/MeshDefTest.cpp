#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "Korvane.DefTypes.Mesh.h"
#include "Korvane.DefTypes.Utils.h"
#include "TestHelpers.h"

using namespace korvane;
using korvane::test::MessageOf;
using korvane::test::Owned;

namespace {

const TVertexFormats AllChannels = [] {
    TVertexFormats f;
    for (unsigned i = 0; i < VertexFormatCount; ++i) f.Include(TVertexFormat(i));
    return f;
}();

const char* const IdentityText = "1.0000000 0.0000000 0.0000000 0.0000000 0.0000000 1.0000000 0.0000000 0.0000000 "
                                 "0.0000000 0.0000000 1.0000000 0.0000000 0.0000000 0.0000000 0.0000000 1.0000000";

Owned<TMeshDef> ReadMesh(const std::string& AText)
{
    Owned<TMeshDef> mesh(new TMeshDef(nullptr));
    mesh->FromJSON(nullptr, *TJSONObject::ParseJSONObject(AText));
    return mesh;
}

// A triangle mesh: three vertices in the default format and three indices.
Owned<TMeshDef> Triangle(const TPoint3D& A, const TPoint3D& B, const TPoint3D& C)
{
    Owned<TMeshDef> mesh(new TMeshDef(nullptr));
    TVertexBuffer vb(TCustomMeshDef::DefaultVertexFormat, 3);
    vb.SetVertices(0, A);
    vb.SetVertices(1, B);
    vb.SetVertices(2, C);
    TIndexBuffer ib(3, TIndexFormat::UInt32);
    for (int i = 0; i < 3; ++i) ib.SetIndices(i, uint32_t(i));
    mesh->SetVertices(&vb);
    mesh->SetIndices(&ib);
    return mesh;
}

std::string MeshJSON(const std::string& APairs) { return "{\"Type\":\"Korvane.DefTypes.TMeshDef\"," + APairs + "}"; }

TEST(MeshDef, NewMeshDefaultsAndExactJSON)
{
    Owned<TMeshDef> mesh(new TMeshDef(nullptr));
    EXPECT_EQ(mesh->VertexFormat(), (TVertexFormats{TVertexFormat::Vertex, TVertexFormat::Normal, TVertexFormat::ColorF0,
                                                    TVertexFormat::TexCoord0, TVertexFormat::BiNormal,
                                                    TVertexFormat::Tangent}));
    EXPECT_EQ(mesh->IndexFormat(), TIndexFormat::UInt32);
    EXPECT_EQ(mesh->GetBoundingBox(), TBoundingBox()) << "stale at first, computed empty";
    EXPECT_EQ(mesh->ToJSON()->ToJSON(),
              std::string("{\"Type\":\"Korvane.DefTypes.TMeshDef\",\"Id\":\"\",\"Owner\":null,\"Properties\":[],"
                          "\"Transform\":\"") +
                  IdentityText +
                  "\",\"IsStatic\":false,\"VertexFormat\":\"Vertex,Normal,ColorF0,TexCoord0,BiNormal,Tangent\","
                  "\"VertexCount\":0,\"VerticesDataType\":\"Values\",\"Vertices\":{},\"IndexFormat\":1,"
                  "\"IndexCount\":0,\"IndicesDataType\":\"Values\",\"Indices\":[],\"VertexIndexMap\":{},"
                  "\"FaceOrientation\":0,\"Material\":null,\"Instances\":[]}");
}

// A mesh holding every channel with values of its own, indices, a map,
// instances, a material reference and an orientation.
Owned<TMeshDef> FullMesh()
{
    Owned<TMeshDef> mesh(new TMeshDef(nullptr));
    mesh->SetId("Full");
    TVertexBuffer vb(AllChannels, 3);
    for (int32_t i = 0; i < 3; ++i) {
        const float f = float(i) + 0.125f;
        vb.SetVertices(i, {f, -f, 2 * f});
        vb.SetNormals(i, {0, f, 0});
        vb.SetBiNormals(i, {f, 0, 0.3f});
        vb.SetTangents(i, {0, 0, f});
        for (int c = 0; c < 4; ++c) {
            vb.SetTexCoord(c, i, {f * float(c), 0.35f});
            vb.SetColorF(c, i, {0.1f * float(c), 0.2f, f, 1});
        }
    }
    // The packed channels hold values of their own (SetColor would also set the float ones).
    for (int32_t i = 0; i < 3; ++i)
        for (int c = 0; c < 4; ++c) {
            const uint32_t packed = 0xFF102030u + uint32_t(i * 4 + c);
            std::memcpy(vb.Attribute(TVertexFormat(unsigned(TVertexFormat::Color0) + unsigned(c)), i), &packed, 4);
        }
    TIndexBuffer ib(6, TIndexFormat::UInt32);
    const uint32_t idx[6] = {0, 1, 2, 2, 1, 0};
    for (int i = 0; i < 6; ++i) ib.SetIndices(i, idx[i]);
    mesh->SetVertices(&vb);
    mesh->SetIndices(&ib);
    TVertexIndexMap map;
    map.AddIndex(7, 0);
    map.AddIndex(7, 2);
    map.AddIndex(3, 1);
    mesh->AddVertexIndexMap(map, 0);
    for (int k = 0; k < 2; ++k) {
        auto instance = MakeOwned<TMeshInstanceDef>(mesh.get());
        instance->SetId("Inst" + std::to_string(k));
        instance->Position = {1, 2, float(k)};
        instance->Scale = {1, 1, 1};
        instance->RotationAngle = {0, 90, 0};
        mesh->AddInstance(std::move(instance));
    }
    auto material = MakeOwned<TMaterialRefDef>();
    material->SetId("Mat1");
    mesh->SetMaterial(std::move(material));
    mesh->SetFaceOrientation(TFaceOrientation::TwoFace);
    return mesh;
}

TEST(MeshDef, EveryChannelRoundTrips)
{
    Owned<TMeshDef> mesh = FullMesh();
    const std::string text = mesh->ToJSON()->ToJSON();
    Owned<TMeshDef> back = ReadMesh(text);
    ASSERT_NE(back->VertexSource(), nullptr);
    ASSERT_NE(back->IndexSource(), nullptr);
    EXPECT_EQ(back->VertexSource()->Format(), AllChannels);
    ASSERT_EQ(back->VertexSource()->Size(), mesh->VertexSource()->Size());
    EXPECT_EQ(std::memcmp(back->VertexSource()->Buffer(), mesh->VertexSource()->Buffer(),
                          size_t(mesh->VertexSource()->Size())),
              0)
        << "every byte of every channel, float colours included";
    EXPECT_EQ(back->IndexSource()->IndexFormat(), TIndexFormat::UInt32);
    ASSERT_EQ(back->IndexSource()->Size(), mesh->IndexSource()->Size());
    EXPECT_EQ(std::memcmp(back->IndexSource()->Buffer(), mesh->IndexSource()->Buffer(), mesh->IndexSource()->Size()), 0);
    EXPECT_EQ(*back->VertexIndexMap(), *mesh->VertexIndexMap());
    EXPECT_EQ(back->FaceOrientation(), TFaceOrientation::TwoFace);
    ASSERT_NE(back->Material(), nullptr);
    EXPECT_EQ(back->Material()->Id(), "Mat1");
    ASSERT_EQ(back->Instances().size(), 2u);
    EXPECT_EQ(back->Instances()[1]->Position, TPoint3D(1, 2, 1));
    EXPECT_EQ(back->Instances()[1]->MeshRef(), back.get());
    EXPECT_EQ(back->ToJSON()->ToJSON(), text);
}

TEST(MeshDef, PackedColourAndIndexFormatRules)
{
    Owned<TMeshDef> mesh(new TMeshDef(nullptr));
    TVertexBuffer vb(TVertexFormats{TVertexFormat::Vertex, TVertexFormat::Color0}, 1);
    vb.SetColor(0, 0, TAlphaColors::White);
    mesh->SetVertices(&vb);
    auto json = mesh->ToJSON();
    const auto& colors = json->GetValue("Vertices")->As<TJSONObject>().GetValue("Color0")->As<TJSONArray>();
    ASSERT_EQ(colors.Count(), 1);
    EXPECT_EQ(colors.Items(0)->Value(), "4294967295");
    Owned<TMeshDef> back = ReadMesh(json->ToJSON());
    EXPECT_EQ(uint32_t(back->VertexSource()->Color(0, 0)), 0xFFFFFFFFu);

    // No "IndexFormat": the indices are 16-bit.
    Owned<TMeshDef> noFormat = ReadMesh(MeshJSON(
        R"("VertexFormat":"Vertex","VertexCount":3,"VerticesDataType":"Values","Vertices":{"Positions":[0,0,0,1,0,0,0,1,0]},)"
        R"("IndexCount":3,"IndicesDataType":"Values","Indices":[0,1,2])"));
    ASSERT_NE(noFormat->IndexSource(), nullptr);
    EXPECT_EQ(noFormat->IndexSource()->IndexFormat(), TIndexFormat::UInt16);
    EXPECT_EQ(noFormat->IndexSource()->Indices(2), 2u);

    // "VertexCount" 0 skips indices and map.
    Owned<TMeshDef> empty = ReadMesh(MeshJSON(
        R"("VertexCount":0,"IndexCount":3,"IndicesDataType":"Values","Indices":[0,1,2],"VertexIndexMap":{"1":[0]})"));
    EXPECT_EQ(empty->IndexSource(), nullptr);
    EXPECT_EQ(empty->VertexIndexMap()->Count(), 0);
    EXPECT_EQ(empty->VertexFormat(), TVertexFormats()) << "absent \"VertexFormat\" reads as the empty set";
}

TEST(MeshDef, ByteFormReadsTheInterleavedLayout)
{
    // Two vertices of position and Color0: 16 bytes each.
    TVertexBuffer vb(TVertexFormats{TVertexFormat::Vertex, TVertexFormat::Color0}, 2);
    vb.SetVertices(0, {1, 2, 3});
    vb.SetVertices(1, {-1, 0.5f, 8});
    vb.SetColor(0, 1, 0x80FF0000u);
    TIndexBuffer ib(3, TIndexFormat::UInt32);
    ib.SetIndices(1, 1);
    const std::string text = MeshJSON(
        R"("VertexFormat":"Vertex,Color0","VertexCount":2,"VerticesDataType":"Binary","Vertices":")" +
        BytesToString(vb.Buffer(), vb.Size()) + R"(","IndexFormat":1,"IndexCount":3,"Indices":")" +
        BytesToString(ib.Buffer(), int64_t(ib.Size())) + "\"");
    Owned<TMeshDef> mesh = ReadMesh(text);
    ASSERT_NE(mesh->VertexSource(), nullptr);
    EXPECT_EQ(mesh->VertexSource()->Vertices(1), TPoint3D(-1, 0.5f, 8));
    EXPECT_EQ(uint32_t(mesh->VertexSource()->Color(0, 1)), 0x80FF0000u);
    EXPECT_EQ(mesh->IndexSource()->Indices(1), 1u);
}

TEST(MeshDef, HostileInputRaisesNamingTheKey)
{
    const std::string positions = R"("VertexFormat":"Vertex","VertexCount":3,"VerticesDataType":"Values",)"
                                  R"("Vertices":{"Positions":[0,0,0,1,0,0,0,1,0]},)";
    struct Case {
        const char* Name;
        std::string Pairs;
        std::string Message;
    };
    const Case cases[] = {
        {"vertices not an object", R"("VertexCount":1,"VerticesDataType":"Values","Vertices":[])",
         "invalid json data type for \"Vertices\""},
        {"indices not an array", positions + R"("IndexCount":1,"IndicesDataType":"Values","Indices":{})",
         "invalid json data type for \"Indices\""},
        {"map key not ordinal",
         positions + R"("IndexCount":3,"IndicesDataType":"Values","Indices":[0,1,2],"VertexIndexMap":{"x1":[0]})",
         "unexpected value in VertexIndexMap - ordinal values expected, but \"x1\" found"},
        {"map key repeated",
         positions +
             R"("IndexCount":3,"IndicesDataType":"Values","Indices":[0,1,2],"VertexIndexMap":{"1":[0],"1":[1]})",
         "Duplicates not allowed"},
        {"map index beyond the vertices",
         positions + R"("IndexCount":3,"IndicesDataType":"Values","Indices":[0,1,2],"VertexIndexMap":{"1":[3]})",
         "invalid index in \"VertexIndexMap\": 3 is outside the 3 vertices"},
        {"index beyond the vertices", positions + R"("IndexCount":3,"IndicesDataType":"Values","Indices":[0,1,3])",
         "invalid index in \"Indices\": 3 is outside the 3 vertices"},
        {"negative index", positions + R"("IndexCount":3,"IndicesDataType":"Values","Indices":[0,-1,2])",
         "invalid index in \"Indices\": -1 is outside the 3 vertices"},
        {"index count above the array", positions + R"("IndexCount":4,"IndicesDataType":"Values","Indices":[0,1,2])",
         "invalid json data for \"Indices\" - 3 values given for 4 indices"},
        {"index with an exponent", positions + R"("IndexCount":3,"IndicesDataType":"Values","Indices":[0,1e0,2])",
         "invalid value in \"Indices\": 1e0"},
        {"index beyond 32 bits", positions + R"("IndexCount":3,"IndicesDataType":"Values","Indices":[0,4294967296,2])",
         "invalid index in \"Indices\": 4294967296 is outside the 3 vertices"},
        {"index not a number", positions + R"("IndexCount":3,"IndicesDataType":"Values","Indices":[0,"1",2])",
         "invalid json data type in \"Indices\" - number expected"},
        {"positions longer than the count",
         R"("VertexFormat":"Vertex","VertexCount":2,"VerticesDataType":"Values","Vertices":{"Positions":[0,0,0,1,0,0,0,1,0]})",
         "invalid json data for \"Positions\" - 9 values given for 2 vertices"},
        {"positions not whole triples",
         R"("VertexFormat":"Vertex","VertexCount":3,"VerticesDataType":"Values","Vertices":{"Positions":[0,0,0,1,0,0,0,1]})",
         "invalid json data for \"Positions\" - 8 values given for 3 vertices"},
        {"count without data",
         R"("VertexFormat":"Vertex","VertexCount":100000000,"VerticesDataType":"Values","Vertices":{})",
         "invalid json data for \"Vertices\" - no values given for 100000000 vertices"},
        {"colour beyond 32 bits",
         R"("VertexFormat":"Color0","VertexCount":1,"VerticesDataType":"Values","Vertices":{"Color0":[4294967296]})",
         "invalid colour in \"Color0\" at vertex 0"},
        {"coordinate beyond float",
         R"("VertexFormat":"Vertex","VertexCount":1,"VerticesDataType":"Values","Vertices":{"Positions":[1e300,0,0]})",
         "invalid value in \"Positions\" at vertex 0 - beyond the range of a float"},
        {"byte text longer than the buffer",
         R"("VertexFormat":"Color0","VertexCount":1,"VerticesDataType":"Binary","Vertices":"1 2 3 4 5")",
         "invalid json data for \"Vertices\" - 5 bytes given for 1 vertices of 4 bytes"},
        {"byte text shorter than the buffer",
         R"("VertexFormat":"Vertex","VertexCount":1000000,"VerticesDataType":"Binary","Vertices":"1 2")",
         "invalid json data for \"Vertices\" - 2 bytes given for 1000000 vertices of 12 bytes"},
        {"byte-form index beyond the vertices",
         positions + R"("IndexFormat":0,"IndexCount":1,"IndicesDataType":"Binary","Indices":"9 0")",
         "invalid index in \"Indices\": 9 is outside the 3 vertices"},
        {"byte-form NaN coordinate",
         R"("VertexFormat":"Vertex","VertexCount":1,"Vertices":"0 0 192 127 0 0 0 0 0 0 0 0")",
         "invalid json data for \"Vertices\" - vertex 0 holds a value that is not a finite number"},
        {"index format out of range", positions + R"("IndexFormat":2)", "invalid value for \"IndexFormat\": 2"},
        {"face orientation out of range", R"("FaceOrientation":3)", "invalid value for \"FaceOrientation\": 3"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(MessageOf([&] { ReadMesh(MeshJSON(c.Pairs)); }), c.Message) << c.Name;
}

TEST(MeshDef, SubMeshesFromMeshesAndChildren)
{
    Owned<TMeshDef> mesh = ReadMesh(MeshJSON(
        R"("Id":"Root","Children":[{"Type":"Korvane.DefTypes.TMeshDef","Id":"A"},{"Type":"Unknown.TThing","Id":"C"}],)"
        R"("Meshes":[{"Type":"Korvane.DefTypes.TVertexGroupDef","Id":"B"}])"));
    ASSERT_NE(mesh->Meshes(), nullptr);
    ASSERT_EQ(mesh->Meshes()->Count(), 3);
    EXPECT_EQ(mesh->Meshes()->Items(0)->ClassName(), "TMeshDef");
    EXPECT_EQ(mesh->Meshes()->Items(1)->ClassName(), "TMeshDef") << "an unknown \"Type\" reads as a mesh";
    EXPECT_EQ(mesh->Meshes()->Items(2)->ClassName(), "TVertexGroupDef");
    EXPECT_EQ(mesh->Meshes()->Items(2)->Owner(), mesh.get());
    EXPECT_TRUE(mesh->RenderByVertexGroups());
    EXPECT_EQ(mesh->FindMeshById("#b", false), mesh->Meshes()->Items(2));

    mesh->RemoveMesh(static_cast<TMeshDef*>(mesh->Meshes()->Items(2)));
    EXPECT_FALSE(mesh->RenderByVertexGroups());
    auto* group = new TVertexGroupDef(mesh.get());
    mesh->AddMesh(group);
    EXPECT_TRUE(mesh->RenderByVertexGroups());

    // A tree node adds meshes as children.
    Owned<TTransformDef> node(new TTransformDef(nullptr));
    auto* child = new TMeshDef(node.get());
    child->SetId("M");
    node->AddMesh(child);
    ASSERT_NE(node->Children(), nullptr);
    EXPECT_EQ(node->Children()->Items(0), child);

    auto* plain = new TTransformDef(mesh.get());
    plain->SetId("Plain");
    mesh->AddChild(plain);
    EXPECT_EQ(MessageOf([&] { mesh->FindMeshById("Plain", true); }),
              "transform with id \"Plain\" found, but not a mesh node");
    EXPECT_EQ(mesh->FindMeshById("Plain", false), nullptr);
    EXPECT_EQ(MessageOf([&] { mesh->FindMeshById("none", true); }), "transform with id \"none\" not found");
}

TEST(MeshDef, VertexGroups)
{
    Owned<TMeshDef> owner = Triangle({0, 0, 0}, {1, 0, 0}, {0, 1, 0});
    TIndexBuffer small(0, TIndexFormat::UInt16);
    owner->SetIndices(&small);
    owner->CreateIndexSource(TIndexFormat::UInt16);
    auto* group = new TVertexGroupDef(owner.get());
    owner->AddMesh(group);
    ASSERT_NE(group->IndexSource(), nullptr);
    EXPECT_EQ(group->IndexSource()->IndexFormat(), TIndexFormat::UInt16);
    EXPECT_EQ(group->IndexSource()->Length(), 0);
    EXPECT_EQ(group->GetVertexSource(), owner->VertexSource());

    TIndexBuffer indices(3, TIndexFormat::UInt16);
    indices.SetIndices(0, 2);
    group->SetIndices(&indices);
    group->SetIsStatic(true);
    EXPECT_FALSE(group->IsStatic()) << "its own vertex source is empty";
    EXPECT_EQ(group->GetBoundingBox(), TBoundingBox());
    auto json = group->ToJSON();
    EXPECT_EQ(json->GetValue("VertexCount")->Value(), "0");
    EXPECT_EQ(json->GetValue("IndexCount")->Value(), "3");

    TMeshData data;
    group->ApplyToMeshData(&data);
    EXPECT_EQ(data.IndexBuffer().Length(), 3);
    EXPECT_EQ(data.IndexBuffer().Indices(0), 2u);

    // Read back below a mesh: the group's indices are checked against the owner's vertices.
    const std::string good = MeshJSON(
        R"("VertexFormat":"Vertex","VertexCount":3,"VerticesDataType":"Values","Vertices":{"Positions":[0,0,0,1,0,0,0,1,0]},)"
        R"("Meshes":[{"Type":"Korvane.DefTypes.TVertexGroupDef","Id":"G","IndexCount":3,"IndicesDataType":"Values","Indices":[2,1,0]}])");
    Owned<TMeshDef> read = ReadMesh(good);
    auto* readGroup = static_cast<TMeshDef*>(read->Meshes()->Items(0));
    EXPECT_EQ(readGroup->IndexSource()->IndexFormat(), TIndexFormat::UInt16);
    EXPECT_EQ(readGroup->IndexSource()->Indices(0), 2u);
    std::string bad = good;
    bad.replace(bad.find("[2,1,0]"), 7, "[2,1,5]");
    EXPECT_EQ(MessageOf([&] { ReadMesh(bad); }),
              "invalid index in \"Indices\" of vertex group \"G\": 5 is outside the 3 vertices of its owner");
}

TEST(MeshDef, VertexIndexMapOffsets)
{
    TVertexIndexMap incoming;
    incoming.AddIndex(1, 0);
    incoming.AddIndex(2, 1);
    Owned<TMeshDef> mesh(new TMeshDef(nullptr));
    TVertexIndexMap first;
    first.AddIndex(3, 4);
    mesh->AddVertexIndexMap(first, 0);
    mesh->AddVertexIndexMap(incoming, 0);
    EXPECT_EQ(*mesh->VertexIndexMap(), incoming) << "offset 0 replaces the map";

    mesh->AddVertexIndexMap(first, 0);
    mesh->AddVertexIndexMap(incoming, 10);
    EXPECT_EQ(mesh->VertexIndexMap()->Items(3), (std::vector<uint32_t>{4}));
    EXPECT_EQ(mesh->VertexIndexMap()->Items(1), (std::vector<uint32_t>{10}));
    EXPECT_EQ(mesh->VertexIndexMap()->Items(2), (std::vector<uint32_t>{11}));
    EXPECT_EQ(incoming.Items(1), (std::vector<uint32_t>{0})) << "the argument is not changed";
    EXPECT_THROW(mesh->AppendVertexIndexMap(incoming, 20), EListError);
}

TEST(MeshDef, BoundingBoxes)
{
    Owned<TMeshDef> mesh = Triangle({0, 0, 0}, {2, 1, 0}, {1, 3, 4});
    mesh->SetTransform(TMatrix3D::CreateTranslation({10, 0, 0}));
    mesh->BoundingBoxChanged();
    EXPECT_EQ(mesh->GetBoundingBox(), TBoundingBox(10, 0, 0, 12, 3, 4));

    Owned<TMeshDef> flat = Triangle({0, 0, 0}, {5, 0, 0}, {0, 0, 5});
    auto* child = new TMeshDef(flat.get());
    flat->AddMesh(child);
    auto* grandChild = new TMeshDef(child);
    child->AddMesh(grandChild);
    TVertexBuffer vb(TVertexFormats{TVertexFormat::Vertex}, 2);
    vb.SetVertices(0, {1, 1, 1});
    vb.SetVertices(1, {2, 3, 4});
    grandChild->SetVertices(&vb);
    EXPECT_EQ(flat->GetCombinedBoundingBox(), TBoundingBox(1, 1, 1, 2, 3, 4))
        << "a flat own box counts as empty and gives way to the child's";
}

TEST(MeshDef, SourcesFromVertexData)
{
    std::vector<TVertexData> data(4);
    for (size_t i = 0; i < data.size(); ++i) {
        data[i].Position = {float(i), 0, 0};
        data[i].TexCoords = {{0.5f, float(i)}, {1, 1}};
        data[i].Colors = {{1, 1, 1, 1}};
    }
    Owned<TMeshDef> mesh(new TMeshDef(nullptr));
    mesh->AddVertices(data, 1, 2);
    EXPECT_EQ(mesh->VertexFormat(), (TVertexFormats{TVertexFormat::Vertex, TVertexFormat::Normal, TVertexFormat::BiNormal,
                                                    TVertexFormat::Tangent, TVertexFormat::TexCoord0,
                                                    TVertexFormat::TexCoord1, TVertexFormat::ColorF0}));
    ASSERT_EQ(mesh->VertexSource()->Length(), 2);
    EXPECT_EQ(mesh->VertexSource()->Vertices(1), TPoint3D(2, 0, 0));
    EXPECT_EQ(mesh->VertexSource()->TexCoord(0, 0), TPointF(0.5f, 1));
    EXPECT_EQ(mesh->VertexSource()->ColorF(0, 0), TAlphaColorF(1, 1, 1, 1));
    mesh->AppendVertices(data, 3, 1);
    EXPECT_EQ(mesh->VertexSource()->Length(), 3);
    EXPECT_EQ(mesh->GetVertexPositions(), (std::vector<TPoint3D>{{1, 0, 0}, {2, 0, 0}, {3, 0, 0}}));
    EXPECT_THROW(mesh->AddVertices(data, 3, 2), EArgumentException);
    mesh->AddVertices({}, 0, 0);
    EXPECT_EQ(mesh->VertexSource(), nullptr);

    mesh->AddIndices(std::vector<uint32_t>{5, 6, 7, 8}, 1, 3, 5);
    EXPECT_EQ(mesh->IndexSource()->Length(), 3);
    EXPECT_EQ(mesh->IndexSource()->Indices(2), 3u);
    mesh->AppendIndices(std::vector<TTriangleIndex>{{1, 2, 3}}, 0, 1, 1);
    EXPECT_EQ(mesh->IndexSource()->Length(), 6);
    EXPECT_EQ(mesh->IndexSource()->Indices(5), 2u);
    EXPECT_THROW(mesh->AddIndices(std::vector<uint32_t>{1}, 0, 2, 0), EArgumentException);

    Owned<TMaterialDef> material(new TMaterialDef());
    material->SetId("Stone");
    mesh->SetMaterialReference(material.get());
    EXPECT_EQ(mesh->Material()->Reference(), material.get());
    EXPECT_EQ(mesh->Material()->ToJSON()->GetValue("Reference")->Value(), "Stone");
}

TEST(DirtyHackApplyMeshDataBuffers, CopiesLayoutAndData)
{
    TVertexBuffer vb(TVertexFormats{TVertexFormat::Vertex, TVertexFormat::TexCoord1}, 2);
    vb.SetTexCoord(1, 1, {0.5f, 0.25f});
    TIndexBuffer ib(3, TIndexFormat::UInt16);
    ib.SetIndices(2, 1);
    TMeshData data;
    DirtyHackApplyMeshDataBuffers(&data, &vb, &ib);
    EXPECT_EQ(data.VertexBuffer().Format(), vb.Format());
    EXPECT_EQ(data.VertexBuffer().TexCoord(1, 1), TPointF(0.5f, 0.25f));
    EXPECT_EQ(data.IndexBuffer().IndexFormat(), TIndexFormat::UInt16);
    EXPECT_EQ(data.IndexBuffer().Indices(2), 1u);
    vb.SetTexCoord(1, 1, {9, 9});
    EXPECT_EQ(data.VertexBuffer().TexCoord(1, 1), TPointF(0.5f, 0.25f)) << "an independent copy";
    DirtyHackApplyMeshDataBuffers(nullptr, &vb, &ib); // nothing to do
}

TEST(MeshDef, SizeEstimateCountsSourcesAndChildren)
{
    Owned<TMeshDef> mesh = Triangle({0, 0, 0}, {1, 0, 0}, {0, 1, 0});
    const int64_t alone = mesh->GetSize();
    const int64_t emptySize = Owned<TMeshDef>(new TMeshDef(nullptr))->GetSize();
    EXPECT_EQ(alone - emptySize, int64_t(sizeof(TVertexBuffer)) + mesh->VertexSource()->Size() +
                                     int64_t(sizeof(TIndexBuffer)) + int64_t(mesh->IndexSource()->Size()));
    auto* child = new TMeshDef(mesh.get());
    mesh->AddMesh(child);
    EXPECT_EQ(mesh->GetSize(), alone + int64_t(sizeof(TTransformDefList)) + child->GetSize());
}

} // namespace

// Vertex values convert as the correctly rounded double narrowed to float,
// whichever way the text is written: short decimals, long digit runs,
// exponents, signed zeros, denormals and values at the edge of the float range.
TEST(MeshDef, VertexValueTextsConvertExactly)
{
    std::vector<std::string> texts = {
        "0", "-0", "0.0", "-0.0", "0e300", "-0e-300", "1", "-1", "0.1", "0.349999994039536", "-0.349999994039536",
        "1.0000000", "3.14159265358979", "2.718281828459045", "9007199254740992", "9007199254740993",
        "9007199254740993.5", "123456789012345678", "1234567890123456789", "12345678901234567890",
        "0.1000000000000000055511151231257827", "1e22", "1e23", "1e-22", "1e-23", "4.5e15", "1.5E-7", "2e+3",
        "0.000000000000000000001", "1.401298464324817e-45", "7e-46", "1e-40", "1.1754943508222875e-38",
        "3.4028234663852886e38", "-3.4028234663852886e38", "3.402823e38",
        "16777217", "33554433", "0.30000000000000004", "5e-324",
        "340282346638528859811704183484516925440",
        // Texts around the eight-digit steps: shorter than eight bytes, whole
        // steps, steps with one to seven digits left, leading zeros that take
        // no room in the mantissa, and steps followed by an exponent.
        "0.5", "-0.25", "0.1234567", "0.12345678", "0.123456789", "-0.0500000007450581", "0.00125000008847564",
        "0.0000123456789012345", "0.9007199254740993", "0.9007199254740992", "123.45678901234567", "1.2345678e3",
        "0.12345678e-3", "0.123456789012e+2", "1.00000000000000000000001", "0.00000000000000000000000012345",
        "-0.000000000", "0.0000000000000000000001", "99999999.99999999", "1.0e-22", "0.1e-21"};
    // And many texts as writers make them: fixed and general forms of every
    // precision, of values over many scales.
    uint64_t seed = 0x9E3779B97F4A7C15;
    for (int k = 0; k < 3000; ++k) {
        seed = seed * 6364136223846793005 + 1442695040888963407;
        const double unit = double(seed >> 11) / double(uint64_t(1) << 53);
        const double value = (k % 2 ? -1 : 1) * unit * std::pow(10.0, double(k % 13) - 6);
        char text[64];
        std::snprintf(text, sizeof(text), k % 3 ? "%.*f" : "%.*g", 1 + k % 19, value);
        texts.push_back(text);
    }
    std::string values;
    for (size_t i = 0; i < texts.size(); ++i) values += (i ? "," : "") + texts[i];
    const size_t padded = (texts.size() + 2) / 3 * 3;
    for (size_t i = texts.size(); i < padded; ++i) values += ",0";
    Owned<TMeshDef> mesh = ReadMesh(MeshJSON(R"("VertexFormat":"Vertex","VertexCount":)" + std::to_string(padded / 3) +
                                             R"(,"VerticesDataType":"Values","Vertices":{"Positions":[)" + values +
                                             "]}"));
    ASSERT_NE(mesh->VertexSource(), nullptr);
    for (size_t i = 0; i < texts.size(); ++i) {
        const float expected = static_cast<float>(std::strtod(texts[i].c_str(), nullptr));
        const TPoint3D p = mesh->VertexSource()->Vertices(int32_t(i / 3));
        const float got = i % 3 == 0 ? p.X : i % 3 == 1 ? p.Y : p.Z;
        uint32_t gotBits, expectedBits;
        std::memcpy(&gotBits, &got, 4);
        std::memcpy(&expectedBits, &expected, 4);
        EXPECT_EQ(gotBits, expectedBits) << texts[i] << " read as " << got << ", expected " << expected;
    }
}
