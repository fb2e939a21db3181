#include <gtest/gtest.h>

#include "TestHelpers.h"

#include <clocale>
#include <locale>

#include "Korvane.DefTypes.Utils.h"
#include "Platform.Classes.h"

using namespace korvane;
using namespace korvane::test;

namespace {

const char* const IdentityText = "1.0000000 0.0000000 0.0000000 0.0000000 0.0000000 1.0000000 0.0000000 0.0000000 "
                                 "0.0000000 0.0000000 1.0000000 0.0000000 0.0000000 0.0000000 0.0000000 1.0000000";

} // namespace

TEST(ValueTextReaders, FixedSizeValuesTokeniseAtCommasOrBlanks)
{
    struct Case {
        const char* text;
        TPoint3D expected;
    };
    const Case cases[] = {
        {"1 2 3", {1, 2, 3}},
        {"1,2,3", {1, 2, 3}},
        {"1, 2, 3", {1, 2, 3}},          // blanks around a comma-separated number are allowed
        {"1;2;3", {0, 0, 0}},            // one token that is not a number
        {"1,,3", {1, 3, 0}},             // empty tokens take no place
        {"", {0, 0, 0}},
        {"1 2 3 4", {1, 2, 3}},          // extra numbers are ignored
        {"  1   2 ", {1, 2, 0}},
        {"1 x 3", {1, 0, 3}},            // an unreadable number is 0 and keeps its place
        {"1e2 -2.5E-1 +3", {100, -0.25f, 3}},
        {".5 5. 1e-50", {0.5f, 5, 0}},
        {"1,5 2", {1, 0, 0}},            // split at the comma: "5 2" is not a number
        {"1.5.2 0x10 1,000", {0, 0, 0}}, // no thousands groups and no hexadecimal
        {"nan inf 1e39", {0, 0, 0}},     // no NaN, infinities or values beyond Single
        {"1\t2 3", {0, 3, 0}},           // only the blank separates
    };
    for (const auto& c : cases) EXPECT_EQ(StringToPoint3D(c.text), c.expected) << "'" << c.text << "'";

    EXPECT_EQ(StringToAlphaColorF("1 0 0"), TAlphaColorF(1, 0, 0, 0)) << "a missing alpha stays 0";
    EXPECT_EQ(StringToAlphaColorF("0.1,0.2,0.3,0.4"), TAlphaColorF(0.1f, 0.2f, 0.3f, 0.4f));
    EXPECT_EQ(StringToPointF("7 8 9"), TPointF(7, 8));
    EXPECT_EQ(StringToVector3D("1 2 3"), TVector3D(1, 2, 3, 0)) << "a missing W stays 0";
    EXPECT_EQ(StringToQuaternion3D("0.1 0.2 0.3 0.9"), TQuaternion3D(TPoint3D(0.1f, 0.2f, 0.3f), 0.9f));
}

TEST(ValueTextWriters, FixedDecimalsWhateverTheLocale)
{
    CommaDecimalLocale locale;
    ASSERT_TRUE(locale.Active()) << "the de_DE.UTF-8 locale is not installed";
    EXPECT_EQ(Point3DToString(TPoint3D(1, -2.5f, 0)), "1.0000000 -2.5000000 0.0000000");
    EXPECT_EQ(Point3DToString(TPoint3D(1, 2, 3), ','), "1.0000000,2.0000000,3.0000000");
    EXPECT_EQ(AlphaColorFToString(TAlphaColorF(1, 0.5f, 0, 1)), "1.0000 0.5000 0.0000 1.0000");
    EXPECT_EQ(AlphaColorFToString(TAlphaColorF(1, 0.5f, 0, 1), false), "1.0000 0.5000 0.0000");
    EXPECT_EQ(PointFToString(TPointF(1.5f, 0.1f)), "1.5000000 0.1000000");
    EXPECT_EQ(Vector3DToString(TVector3D(1, 2, 3, 4)), "1.0000000 2.0000000 3.0000000 4.0000000");
    EXPECT_EQ(Quaternion3DToString(TQuaternion3D(TPoint3D(0.25f, 0.5f, 0.75f), -1)),
              "0.2500000 0.5000000 0.7500000 -1.0000000");
    EXPECT_EQ(Matrix3DToString(TMatrix3D::Identity()), IdentityText);
    EXPECT_EQ(SingleArrayToString({}), "");
    EXPECT_EQ(SingleArrayToString({1.5f, -2}), "1.5000000 -2.0000000");
    EXPECT_EQ(IntegerArrayToString({1, -2, 3}, ','), "1,-2,3");
    EXPECT_EQ(Point3DArrayToString({TPoint3D(1, 2, 3), TPoint3D(4, 5, 6)}, ','),
              "1.0000000 2.0000000 3.0000000,4.0000000 5.0000000 6.0000000");
    // Every written value reads back (within the seven decimals).
    const TPoint3D p(0.1234567f, -98765.4375f, 3e-8f);
    const TPoint3D back = StringToPoint3D(Point3DToString(p));
    EXPECT_NEAR(back.X, p.X, 1e-7);
    EXPECT_EQ(back.Y, p.Y);
    EXPECT_EQ(back.Z, 0.0f);
}

TEST(ValueTextReaders, MatrixText)
{
    EXPECT_EQ(StringToMatrix3D(""), TMatrix3D::Identity());
    EXPECT_EQ(StringToMatrix3D("   "), TMatrix3D::Identity());
    EXPECT_EQ(StringToMatrix3D(IdentityText), TMatrix3D::Identity());

    TMatrix3D m;
    for (int i = 0; i < 16; ++i) m.M[i / 4][i % 4] = static_cast<float>(i + 1) * 0.5f;
    EXPECT_EQ(StringToMatrix3D(Matrix3DToString(m)), m);
    EXPECT_EQ(StringToMatrix3D(Matrix3DToString(m) + " 99 98 97"), m) << "numbers beyond 16 are ignored";
    // Fewer numbers fill the first entries, row by row; the others keep the identity's values.
    TMatrix3D partial = TMatrix3D::Identity();
    partial.m11 = 5;
    partial.m12 = 6;
    partial.m13 = 7;
    EXPECT_EQ(StringToMatrix3D("5 6 7"), partial);
    // Commas do not separate matrix numbers: '1,2' is one unreadable number.
    TMatrix3D zero11 = TMatrix3D::Identity();
    zero11.m11 = 0;
    EXPECT_EQ(StringToMatrix3D("1,2"), zero11);

    std::string builder = "M=";
    EXPECT_EQ(Matrix3DToString(TMatrix3D::Identity(), &builder), std::string("M=") + IdentityText);
    EXPECT_EQ(builder, std::string("M=") + IdentityText);
}

TEST(ValueTextReaders, NumberLists)
{
    EXPECT_EQ(StringToSingleArray(" 1  -2.5 x 1e3 "), (std::vector<float>{1, -2.5f, 0, 1000}));
    EXPECT_TRUE(StringToSingleArray("").empty());
    EXPECT_EQ(StringToIntegerArray("1 -2 +3 x 1.5 2147483647 2147483648 -2147483648"),
              (std::vector<int32_t>{1, -2, 3, 0, 0, INT32_MAX, 0, INT32_MIN}));
    EXPECT_EQ(StringToByteArray("1 2 255 256 -1 x"), (std::vector<uint8_t>{1, 2, 255, 0, 255, 0}));
    EXPECT_TRUE(StringToByteArray("").empty());

    const auto points = StringToPoint3DArray("1 2 3 4 5");
    ASSERT_EQ(points.size(), 1u);
    EXPECT_EQ(points[0], TPoint3D(1, 2, 3));
    EXPECT_EQ(StringToPoint3DArray(Point3DArrayToString({TPoint3D(1, 2, 3), TPoint3D(-4, 5, 6)})),
              (std::vector<TPoint3D>{TPoint3D(1, 2, 3), TPoint3D(-4, 5, 6)}));

    // A long list: everything is read, nothing is cut at the growth steps.
    std::vector<float> many(1000);
    for (size_t i = 0; i < many.size(); ++i) many[i] = static_cast<float>(i);
    EXPECT_EQ(StringToSingleArray(SingleArrayToString(many)), many);

    const uint8_t bytes[] = {1, 2, 255};
    EXPECT_EQ(BytesToString(bytes, 3), "1 2 255 ");
    EXPECT_EQ(BytesToString(bytes, 0), "");
    EXPECT_EQ(BytesToString(bytes, -1), "");
    EXPECT_EQ(BytesToString(nullptr, 3), "");
}

TEST(ValueTextSets, TextureFlippings)
{
    const TTextureFlippings both{TTextureFlipping::Vertical, TTextureFlipping::Horizontal};
    EXPECT_EQ(TextureFlippingsToString(both), "Vertical,Horizontal");
    EXPECT_EQ(TextureFlippingsToString({TTextureFlipping::Horizontal}), "Horizontal");
    EXPECT_EQ(TextureFlippingsToString({}), "");

    struct Case {
        const char* text;
        TTextureFlippings expected;
    };
    const Case cases[] = {
        {"vertical,HORIZONTAL", both},
        {"Vertical, Horizontal", {TTextureFlipping::Vertical}}, // blanks are not removed
        {"Diagonal,Horizontal", {TTextureFlipping::Horizontal}},
        {",,Vertical,", {TTextureFlipping::Vertical}},
        {"", {}},
    };
    for (const auto& c : cases) EXPECT_EQ(StringToTextureFlippings(c.text), c.expected) << c.text;
}

TEST(ValueTextSets, VertexFormats)
{
    using F = TVertexFormat;
    const TVertexFormats usual{F::Vertex, F::Normal, F::ColorF0, F::TexCoord0, F::BiNormal, F::Tangent};
    EXPECT_EQ(VertexFormatsToString(usual), "Vertex,Normal,ColorF0,TexCoord0,BiNormal,Tangent");
    EXPECT_EQ(StringToVertexFormats(VertexFormatsToString(usual)), usual);
    TVertexFormats all;
    for (int i = 0; i < 16; ++i) all.Include(static_cast<F>(i));
    EXPECT_EQ(VertexFormatsToString(all), "Vertex,Normal,Color0,Color1,Color2,Color3,ColorF0,ColorF1,ColorF2,ColorF3,"
                                          "TexCoord0,TexCoord1,TexCoord2,TexCoord3,BiNormal,Tangent");
    EXPECT_EQ(StringToVertexFormats(VertexFormatsToString(all)), all);
    EXPECT_EQ(StringToVertexFormats("tangent,VERTEX, Normal,Color4,"), (TVertexFormats{F::Tangent, F::Vertex}));
    EXPECT_EQ(VertexFormatsToString({}), "");
}

TEST(ValueNaming, IdentifiersAndByteSizes)
{
    struct Case {
        const char* name;
        const char* identifier;
    };
    const Case cases[] = {
        {"3D Box-1", "_3D_Box_1"}, {"", ""},          {"Box", "Box"},
        {"_x9", "_x9"},            {"a.b/c", "a_b_c"}, {"\xC3\xA9t\xC3\xA9", "_t_"}, // one "_" per character
        {"9", "_9"},
    };
    for (const auto& c : cases) EXPECT_EQ(MakeIdentifierName(c.name), c.identifier) << c.name;

    EXPECT_EQ(StringByteSize(""), 0);
    EXPECT_EQ(StringByteSize("abc"), 6);
    EXPECT_EQ(StringByteSize("\xC3\xA9"), 2);          // one UTF-16 unit
    EXPECT_EQ(StringByteSize("\xF0\x9F\x98\x80"), 4); // a surrogate pair
}

namespace {

TComponent* FindGlobalTaken(std::string_view Name)
{
    static TComponent* const taken = [] {
        auto* c = new TComponent(nullptr);
        c->SetName("Global1");
        return c;
    }();
    return Name == "Global1" ? taken : nullptr;
}

bool NothingIsUnique(std::string_view) { return false; }
bool EverythingIsUnique(std::string_view) { return true; }

class UniqueNames : public ::testing::Test {
protected:
    void SetUp() override { RegisterFindGlobalComponentProc(&FindGlobalTaken); }
    void TearDown() override
    {
        UnregisterFindGlobalComponentProc(&FindGlobalTaken);
        IsUniqueGlobalComponentNameProc = nullptr;
        if (FRoot) FRoot->Free();
    }
    // root owns "Box" and "Box_1"; middle (owned by root) owns "Lamp"; leaf is owned by middle.
    void BuildTree()
    {
        FRoot = new TComponent(nullptr);
        for (const char* name : {"Box", "Box_1"}) (new TComponent(FRoot))->SetName(name);
        FMiddle = new TComponent(FRoot);
        (new TComponent(FMiddle))->SetName("Lamp");
        FLeaf = new TComponent(FMiddle);
    }
    TComponent* FRoot = nullptr;
    TComponent* FMiddle = nullptr;
    TComponent* FLeaf = nullptr;
};

} // namespace

TEST_F(UniqueNames, OwnersAndGlobalComponentsAreSearched)
{
    BuildTree();
    EXPECT_EQ(MakeUniqueChildName(FRoot, "Box"), "Box_1_1");
    EXPECT_EQ(MakeUniqueChildName(FLeaf, "Box"), "Box_1_1") << "the owners above are asked too";
    EXPECT_EQ(MakeUniqueChildName(FLeaf, "lamp"), "lamp_1") << "component names compare without case";
    EXPECT_EQ(MakeUniqueChildName(FRoot, "Lamp"), "Lamp") << "the components below are not asked";
    EXPECT_EQ(MakeUniqueChildName(nullptr, "Box"), "Box");
    EXPECT_EQ(MakeUniqueChildName(nullptr, "Global1"), "Global1_1");
    EXPECT_EQ(MakeUniqueChildName(FRoot, "3D Box-1"), "_3D_Box_1");
    EXPECT_TRUE(IsUniqueComponentName(FLeaf, "Sphere"));
    EXPECT_FALSE(IsUniqueComponentName(FLeaf, "Global1"));

    // The installable check decides alone.
    IsUniqueGlobalComponentNameProc = &EverythingIsUnique;
    EXPECT_TRUE(IsUniqueComponentName(FRoot, "Box"));
    EXPECT_EQ(MakeUniqueChildName(FRoot, "Box"), "Box");
    IsUniqueGlobalComponentNameProc = &NothingIsUnique;
    EXPECT_FALSE(IsUniqueComponentName(nullptr, "Anything"));
}
