#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "Korvane.Material.Types.h"
#include "TestHelpers.h"

using namespace korvane;
using namespace korvane::test;

namespace {

using PF = TPixelFormatEx;
using Kind = TKorvaneTextureKind;
using Wrap = TKorvaneTextureWrap;

// A bitmap pool that records every OnUpdate: the sender and its name at that moment.
class BitmapPool : public ::testing::Test {
protected:
    void SetUp() override
    {
        FPool.reset(new TKorvaneBitmapPool(nullptr, TKorvaneBitmapPoolEntry::StaticClass()));
        FPool->OnUpdate = [this](TObject* ASender) {
            auto* entry = dynamic_cast<TKorvaneBitmapPoolEntry*>(ASender);
            Updates.push_back({ASender, entry ? entry->Name() : std::string("(not an entry)")});
        };
    }

    TKorvaneBitmapPoolEntry* AddEntry(const std::string& AName = "Texture0")
    {
        TKorvaneBitmapPoolEntry* entry = FPool->Add();
        if (!AName.empty()) entry->SetName(AName);
        Updates.clear();
        return entry;
    }

    struct TUpdate {
        TObject* Sender;
        std::string Name;
    };
    std::vector<TUpdate> Updates;
    Owned<TKorvaneBitmapPool> FPool;
};

} // namespace

TEST_F(BitmapPool, ANewEntryHasItsDefaultsAndAnnouncesItselfOnceWithoutAName)
{
    TKorvaneBitmapPoolEntry* entry = FPool->Add();
    ASSERT_EQ(Updates.size(), 1u);
    EXPECT_EQ(Updates[0].Sender, entry);
    EXPECT_EQ(Updates[0].Name, "");

    TKorvaneTextureBitmap* bitmap = entry->Bitmap();
    ASSERT_NE(bitmap, nullptr);
    EXPECT_TRUE(bitmap->IsEmpty());
    EXPECT_EQ(bitmap->Kind(), Kind::Texture2D);
    EXPECT_EQ(bitmap->Components(), PF::RGBA8);
    EXPECT_EQ(bitmap->Format(), PF::BGRA);
    EXPECT_EQ(bitmap->DataType(), TKorvaneTextureDataType::dtUnsignedByte);
    EXPECT_EQ(entry->InternalFormat(), PF::RGBA8);
    EXPECT_EQ(entry->Format(), PF::BGRA);
    EXPECT_EQ(entry->Tiling().X, 1.0f);
    EXPECT_EQ(entry->Tiling().Y, 1.0f);
    EXPECT_EQ(entry->ShaderKind(), TContextShaderKind::PixelShader);
    // The entry's wraps read Clamp while its bitmap keeps its own ClampToEdge,
    // until a setter writes one (as a streamed form does).
    EXPECT_EQ(entry->WrapS(), Wrap::Clamp);
    EXPECT_EQ(bitmap->WrapS, Wrap::ClampToEdge);
    entry->SetWrapS(Wrap::Clamp);
    EXPECT_EQ(bitmap->WrapS, Wrap::Clamp);
    EXPECT_EQ(bitmap->WrapT, Wrap::ClampToEdge);
}

TEST_F(BitmapPool, FormatSettersKeepTheTransferFormatCompatibleWithTheInternalFormat)
{
    struct TCase {
        const char* Name;
        PF Internal, Format;                        // before
        std::function<void(TKorvaneBitmapPoolEntry&)> Set;
        PF ExpectedInternal, ExpectedFormat;
    };
    const TCase cases[] = {
        {"BGRA over RGBA16F stores RGBA", PF::RGBA16F, PF::RGBA,
         [](TKorvaneBitmapPoolEntry& e) { e.SetFormat(PF::BGRA); }, PF::RGBA16F, PF::RGBA},
        {"RGB8 under BGRA stores BGR", PF::RGBA8, PF::BGRA,
         [](TKorvaneBitmapPoolEntry& e) { e.SetInternalFormat(PF::RGB8); }, PF::RGB8, PF::BGR},
        {"RGBA over RGBA8 stays RGBA", PF::RGBA8, PF::BGRA,
         [](TKorvaneBitmapPoolEntry& e) { e.SetFormat(PF::RGBA); }, PF::RGBA8, PF::RGBA},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TKorvaneBitmapPoolEntry* entry = AddEntry();
        entry->SetPixelFormatNoUpdate(Kind::Texture2D, c.Internal, c.Format, TKorvaneTextureDataType::dtUnsignedByte,
                                      false);
        c.Set(*entry);
        EXPECT_EQ(entry->InternalFormat(), c.ExpectedInternal);
        EXPECT_EQ(entry->Format(), c.ExpectedFormat);
        EXPECT_EQ(entry->Bitmap()->Components(), c.ExpectedInternal);
        EXPECT_EQ(entry->Bitmap()->Format(), c.ExpectedFormat);
        EXPECT_EQ(Updates.size(), 1u);
    }
}

TEST_F(BitmapPool, ARefusedFormatRaisesNoEventAndLeavesTheBitmapAsItWas)
{
    TKorvaneBitmapPoolEntry* entry = AddEntry();
    EXPECT_NE(MessageOf([&] { entry->SetFormat(PF::R16F); }), "(no exception)");
    EXPECT_EQ(entry->Bitmap()->Format(), PF::BGRA);
    EXPECT_EQ(entry->Bitmap()->SetupCount(), 0) << "the setup bracket is closed";
    EXPECT_TRUE(Updates.empty());
}

TEST_F(BitmapPool, OnlyTheSettingsThatMatterForTheGPURaiseAnUpdate)
{
    struct TCase {
        const char* Name;
        std::function<void(TKorvaneBitmapPoolEntry&)> Set;
        size_t Updates;
    };
    const TCase cases[] = {
        {"IsDynamic", [](auto& e) { e.SetIsDynamic(true); }, 0},
        {"IgnoreInArray", [](auto& e) { e.SetIgnoreInArray(true); }, 0},
        {"ShaderKind", [](auto& e) { e.SetShaderKind(TContextShaderKind::VertexShader); }, 0},
        {"ProtectFormatSettings", [](auto& e) { e.SetProtectFormatSettings(true); }, 0},
        {"SetTextureWrapping", [](auto& e) { e.SetTextureWrapping(Wrap::Repeated); }, 0},
        {"SetTextureMinMagFilter",
         [](auto& e) { e.SetTextureMinMagFilter(TTextureFilter::Nearest, TTextureFilter::Nearest); }, 0},
        {"Name", [](auto& e) { e.SetName("Other"); }, 1},
        {"Tiling", [](auto& e) { e.SetTiling(TPointF(2, 3)); }, 1},
        {"TilingY", [](auto& e) { e.SetTilingY(4); }, 1},
        {"TextureKind", [](auto& e) { e.SetTextureKind(Kind::CubeMap); }, 1},
        {"DataType", [](auto& e) { e.SetDataType(TKorvaneTextureDataType::dtFloat); }, 1},
        {"WrapT", [](auto& e) { e.SetWrapT(Wrap::Repeated); }, 1},
        {"MagFilter", [](auto& e) { e.SetMagFilter(TTextureFilter::Nearest); }, 1},
        {"BorderColor", [](auto& e) { e.SetBorderColor(0xFF00FF00); }, 1},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TKorvaneBitmapPoolEntry* entry = AddEntry();
        c.Set(*entry);
        ASSERT_EQ(Updates.size(), c.Updates);
        if (c.Updates) {
            EXPECT_EQ(Updates[0].Sender, entry);
        }
    }
    TKorvaneBitmapPoolEntry* entry = AddEntry();
    entry->SetTilingY(4);
    EXPECT_EQ(entry->TilingX(), 1.0f);
    EXPECT_EQ(entry->TilingY(), 4.0f);
    entry->SetBorderColor(0xFF00FF00);
    EXPECT_EQ(entry->BorderColor(), 0xFF00FF00u);
    EXPECT_EQ(entry->Bitmap()->BorderColor.G, 1.0f);

    // Removing an entry raises nothing.
    Updates.clear();
    FPool->Delete(0);
    EXPECT_TRUE(Updates.empty());
}

TEST_F(BitmapPool, SetPixelFormatReturnsEarlyOnlyForAnImageInTheStoredFormats)
{
    using DT = TKorvaneTextureDataType;
    for (bool withImage : {true, false}) {
        SCOPED_TRACE(withImage ? "bitmap with an image" : "empty bitmap");
        TKorvaneBitmapPoolEntry* entry = AddEntry();
        if (withImage) entry->Bitmap()->SetSize(2, 2);
        Updates.clear();
        // Same formats, another kind: the kind takes no part in the test.
        entry->SetPixelFormat(Kind::CubeMap, PF::RGBA8, PF::BGRA, DT::dtUnsignedByte, true);
        EXPECT_EQ(entry->TextureKind(), withImage ? Kind::Texture2D : Kind::CubeMap);
        EXPECT_EQ(entry->ProtectFormatSettings(), !withImage);
        EXPECT_EQ(entry->Bitmap()->ProtectFormatSettings, !withImage);
        EXPECT_EQ(Updates.size(), withImage ? 0u : 1u);
    }
    // Another format always applies, unchanged by the compatibility rule.
    TKorvaneBitmapPoolEntry* entry = AddEntry();
    entry->Bitmap()->SetSize(2, 2);
    Updates.clear();
    entry->SetPixelFormat(Kind::Texture2D, PF::RGBA16F, PF::BGRA, DT::dtHalfFloat, false);
    EXPECT_EQ(entry->Format(), PF::BGRA);
    EXPECT_EQ(entry->InternalFormat(), PF::RGBA16F);
    EXPECT_EQ(entry->Bitmap()->DataType(), DT::dtHalfFloat);
    EXPECT_EQ(Updates.size(), 1u);
    // The variant without update stores and touches neither the bitmap nor the pool.
    Updates.clear();
    entry->SetPixelFormatNoUpdate(Kind::Texture2D, PF::RGBA8, PF::RGBA, DT::dtUnsignedByte, false);
    EXPECT_EQ(entry->Format(), PF::RGBA);
    EXPECT_EQ(entry->Bitmap()->Components(), PF::RGBA16F);
    EXPECT_TRUE(Updates.empty());
}

TEST_F(BitmapPool, TheBitmapsRWrapFollowsOnlyKindsWithAThirdAxis)
{
    struct TCase {
        Kind TextureKind;
        bool OneWrapSetsR;   // SetTextureWrapping(AWrap)
        bool ThreeWrapsSetR; // SetTextureWrapping(S, T, R)
    };
    const TCase cases[] = {
        {Kind::Array2D, true, false},
        {Kind::CubeMap, false, false},
        {Kind::Texture2D, false, false},
        {Kind::Texture3D, true, true},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.TextureKind));
        for (bool three : {false, true}) {
            TKorvaneBitmapPoolEntry* entry = AddEntry();
            entry->SetTextureKind(c.TextureKind);
            if (three) entry->SetTextureWrapping(Wrap::Repeated, Wrap::Repeated, Wrap::Repeated);
            else entry->SetTextureWrapping(Wrap::Repeated);
            EXPECT_EQ(entry->WrapR(), Wrap::Repeated);
            EXPECT_EQ(entry->Bitmap()->WrapS, Wrap::Repeated);
            EXPECT_EQ(entry->Bitmap()->WrapT, Wrap::Repeated);
            const bool setsR = three ? c.ThreeWrapsSetR : c.OneWrapSetsR;
            EXPECT_EQ(entry->Bitmap()->WrapR, setsR ? Wrap::Repeated : Wrap::ClampToEdge) << "three wraps: " << three;
        }
    }
}

TEST_F(BitmapPool, AssigningToATextureEntryHandsOverTheBitmapsGPUTexture)
{
    TKorvaneBitmapPoolEntry* entry = AddEntry("Texture0");
    entry->Bitmap()->SetSize(4, 4);
    entry->Bitmap()->Clear(0xFFFF0000);
    entry->SetTiling(TPointF(2, 5));
    entry->SetIsDynamic(true);
    entry->SetBorderColor(0xFF0000FF);
    Updates.clear();

    Owned<TKorvaneTexturePool> textures(new TKorvaneTexturePool(nullptr, TKorvaneTexturePoolEntry::StaticClass()));
    textures->Add()->SetDisplayName("first");
    TKorvaneTexturePoolEntry* target = textures->Add();
    target->Assign(entry);

    ASSERT_NE(target->Texture(), nullptr);
    EXPECT_EQ(target->Texture(), entry->Bitmap()->Texture());
    EXPECT_EQ(target->DisplayName(), "Texture0");
    EXPECT_EQ(target->Tiling().Y, 5.0f);
    EXPECT_TRUE(target->IsDynamic());
    EXPECT_EQ(target->Settings().InternalFormat, PF::RGBA8);
    EXPECT_EQ(target->BorderColor(), 0xFF0000FFu);
    EXPECT_TRUE(Updates.empty());

    EXPECT_EQ(textures->IndexOfTexture(entry->Bitmap()->Texture()), 1);
    Owned<TKorvaneTextureBitmap> foreign(TKorvaneTextureBitmap::Create(2, 2));
    EXPECT_EQ(textures->IndexOfTexture(foreign->Texture()), -1);

    // A texture entry copies to another one sharing the texture; other classes refuse.
    TKorvaneTexturePoolEntry* copy = textures->Add();
    copy->Assign(target);
    EXPECT_EQ(copy->Texture(), target->Texture());
    EXPECT_NE(MessageOf<EConvertError>([&] { entry->Assign(target); }), "(no exception)");
    EXPECT_NE(MessageOf<EConvertError>([&] { target->Assign(foreign.get()); }), "(no exception)");
}

TEST_F(BitmapPool, AssigningToAnotherBitmapEntryCopiesTheImageAndSettings)
{
    TKorvaneBitmapPoolEntry* source = AddEntry("Source");
    source->Bitmap()->SetSize(3, 2);
    source->SetTextureMinMagFilter(TTextureFilter::Nearest, TTextureFilter::Linear);
    source->SetProtectFormatSettings(true);
    TKorvaneBitmapPoolEntry* dest = AddEntry("Dest");
    dest->Assign(source);
    EXPECT_EQ(dest->Name(), "Source");
    EXPECT_EQ(dest->Bitmap()->Width(), 3);
    EXPECT_NE(dest->Bitmap(), source->Bitmap());
    EXPECT_EQ(dest->MinFilter(), TTextureFilter::Nearest);
    EXPECT_TRUE(dest->ProtectFormatSettings());
}
