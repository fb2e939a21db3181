#include <gtest/gtest.h>

#include <cstring>

#include "Korvane.Context.Texturing.OpenGL.h"
#include "LogCapture.h"
#include "TextureTestSupport.h"

using namespace korvane;
using test::Owned;
using PF = TPixelFormatEx;
using DT = TKorvaneTextureDataType;
using Kind = TKorvaneTextureKind;

TEST(Texturing, TheOpenGLBackEndIsInstalledAtStartUp)
{
    EXPECT_EQ(PixelFormatExHelperClass, &TOpenGLPixelFormatExHelper::ClassInfo());
    EXPECT_EQ(TextureWrapHelperClass, &TOpenGLKorvaneTextureWrapHelper::ClassInfo());
    EXPECT_EQ(TextureDataTypeHelperClass, &TOpenGLKorvaneTextureDataTypeHelper::ClassInfo());
    EXPECT_EQ(KorvaneTextureClass, &TOpenGLKorvaneTexture::ClassInfo());
    EXPECT_EQ(KorvaneTextureBitmapClass, &TOpenGLKorvaneTextureBitmap::ClassInfo());
    Owned<TKorvaneTextureBitmap> bitmap(TKorvaneTextureBitmap::Create(2, 3));
    EXPECT_EQ(bitmap->ClassName(), "TOpenGLKorvaneTextureBitmap");
    EXPECT_EQ(bitmap->Width(), 2);
    EXPECT_EQ(bitmap->Height(), 3);
    Owned<TKorvaneTexture> texture(TKorvaneTexture::Create());
    EXPECT_EQ(texture->ClassName(), "TOpenGLKorvaneTexture");
    // The abstract classes do not answer.
    EXPECT_THROW(TPixelFormatExHelper::ClassInfo().PlatformToValue(PF::RGBA8), EAbstractError);
    TKorvaneTexture plain;
    EXPECT_THROW(plain.Clear(), EAbstractError);
}

// The pixel buffer is sized when the outermost setup bracket closes: the
// bitmap's own 32-bit image holds every layout of 4 bytes per pixel.
TEST(Texturing, SetupSizesThePixelBuffer)
{
    struct Case {
        const char* Name;
        int Width, Height;
        Kind TextureKind;
        PF Format;
        DT DataType;
        int64_t Expected;
    } cases[] = {
        {"defaults hold no buffer", 256, 256, Kind::Texture2D, PF::BGRA, DT::dtUnsignedByte, 0},
        {"R half floats", 64, 32, Kind::Texture2D, PF::R, DT::dtHalfFloat, 4096},
        {"RGBA floats", 4, 4, Kind::Texture2D, PF::RGBA, DT::dtFloat, 256},
        {"RG shorts fit the image", 8, 8, Kind::Texture2D, PF::RG, DT::dtShort, 0},
        {"L bytes", 3, 3, Kind::Texture2D, PF::L, DT::dtUnsignedByte, 9},
        {"3D never", 8, 8, Kind::Texture3D, PF::RGBA, DT::dtFloat, 0},
        {"2D arrays never", 8, 8, Kind::Array2D, PF::R, DT::dtUnsignedByte, 0},
        {"image 3D like 2D", 8, 8, Kind::ImageTexture3D, PF::RG, DT::dtFloat, 512},
        {"4-byte pixels of any kind fit the image", 8, 8, Kind::Texture2D, PF::R, DT::dtFloat, 0},
        {"doubles", 2, 2, Kind::Texture2D, PF::RGB, DT::dtDouble, 96},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Owned<TKorvaneTextureBitmap> bitmap(TKorvaneTextureBitmap::Create());
        bitmap->BeginSetup();
        EXPECT_TRUE(bitmap->States().Contains(TKorvaneTextureBitmapState::bsUpdating));
        bitmap->SetSize(c.Width, c.Height);
        bitmap->SetKind(c.TextureKind);
        bitmap->SetFormat(c.Format);
        bitmap->SetDataType(c.DataType);
        bitmap->EndSetup();
        EXPECT_FALSE(bitmap->States().Contains(TKorvaneTextureBitmapState::bsUpdating));
        EXPECT_EQ(bitmap->BufferSize(), c.Expected);
        EXPECT_EQ(bitmap->Buffer() != nullptr, c.Expected > 0);
    }
}

TEST(Texturing, NestedSetupsSizeTheBufferOnce)
{
    Owned<TKorvaneTextureBitmap> bitmap(TKorvaneTextureBitmap::Create());
    bitmap->BeginSetup();
    bitmap->BeginSetup();
    bitmap->SetSize(64, 32);
    bitmap->SetFormat(PF::R);
    bitmap->SetDataType(DT::dtHalfFloat);
    bitmap->EndSetup();
    EXPECT_EQ(bitmap->SetupCount(), 1);
    EXPECT_EQ(bitmap->Buffer(), nullptr);
    bitmap->EndSetup();
    EXPECT_EQ(bitmap->BufferSize(), 4096);
    uint8_t* buffer = bitmap->Buffer();
    ASSERT_NE(buffer, nullptr);

    // The same layout keeps its block.
    bitmap->BeginSetup();
    bitmap->EndSetup();
    EXPECT_EQ(bitmap->Buffer(), buffer);
    // An end without a beginning only ends the updating state.
    bitmap->EndSetup();
    EXPECT_EQ(bitmap->SetupCount(), 0);
    EXPECT_EQ(bitmap->Buffer(), buffer);
}

TEST(Texturing, OnlyBasisFormatsAreAccepted)
{
    Owned<TKorvaneTextureBitmap> bitmap(TKorvaneTextureBitmap::Create(4, 4));
    for (PF refused : {PF::LA4, PF::L16, PF::RGBA8, PF::R16F, PF::Depth24}) {
        try {
            bitmap->SetFormat(refused);
            ADD_FAILURE() << TPixelFormatExHelper::ToString(refused) << " was accepted";
        } catch (const Exception& e) {
            EXPECT_EQ(e.Message(), "invalid texture format");
        }
        EXPECT_EQ(bitmap->Format(), PF::BGRA);
    }
    bitmap->SetFormat(PF::DepthStencil);
    EXPECT_EQ(bitmap->Format(), PF::DepthStencil);
    // The image is labelled with the format's ordinal and keeps the bitmap's size.
    EXPECT_EQ(static_cast<int>(bitmap->PixelFormat()), static_cast<int>(PF::DepthStencil));
    EXPECT_EQ(bitmap->Width(), 4);
    EXPECT_EQ(bitmap->Height(), 4);
}

TEST(Texturing, CompatibleFormatPicksTheTransferFormat)
{
    struct Case {
        PF Comp, Format, Expected;
        const char* Logged; // nullptr: nothing logged
    } cases[] = {
        {PF::RGBA8, PF::BGRA, PF::BGRA, nullptr},
        {PF::RGBA32F, PF::BGRA, PF::RGBA, nullptr},
        {PF::RGB8, PF::BGRA, PF::BGR, nullptr},
        {PF::RGBA16F, PF::BGR, PF::RGBA, nullptr},
        {PF::RGB32UI, PF::BGRA, PF::RGBInteger, nullptr},
        {PF::R16F, PF::R, PF::R, nullptr},
        {PF::BGRA, PF::BGRA, PF::BGRA, nullptr},
        {PF::R16F, PF::BGRA, PF::BGRA,
         "TPixelFormatExHelper.CompatibleFormat failed, but ignored:\r\nBGRA (given) <> R (expected) (expected basis "
         "formats is different)"},
        {PF::Depth32, PF::BGR, PF::BGR,
         "TPixelFormatExHelper.CompatibleFormat failed, but ignored:\r\nBGR (given) <> Depth (expected) (expected "
         "basis formats is different)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(TPixelFormatExHelper::ToString(c.Comp) + " with " + TPixelFormatExHelper::ToString(c.Format));
        test::LogCapture log;
        EXPECT_EQ(TPixelFormatExHelper::CompatibleFormat(c.Comp, c.Format), c.Expected);
        if (c.Logged) EXPECT_EQ(log.Lines(), std::vector<std::string>{c.Logged});
        else EXPECT_TRUE(log.Lines().empty());
    }
}

TEST(Texturing, FormatNamesAndConversions)
{
    EXPECT_EQ(TPixelFormatExHelper::ToPixelFormat(PF::RGBA32F), TPixelFormat::RGBA32F);
    EXPECT_EQ(TPixelFormatExHelper::ToPixelFormat(PF::Alpha), TPixelFormat::A);
    try {
        TPixelFormatExHelper::ToPixelFormat(PF::R);
        ADD_FAILURE() << "R converted";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "failed to convert to TPixelFormat: R is only valid in TPixelFormatEx");
    }
    EXPECT_EQ(TPixelFormatExHelper::ToString(PF::R11F_G11F_B10F), "R11F_G11F_B10F");
    EXPECT_EQ(TPixelFormatExHelper::ToString(PF::DepthStencil), "DepthStencil");
    EXPECT_EQ(TPixelFormatExHelper::ToString(static_cast<PF>(80)), "?");
    EXPECT_EQ(TKorvaneTextureDataTypeHelper::ToString(DT::dtHalfFloat), "HalfFloat");
    EXPECT_EQ(TKorvaneTextureDataTypeHelper::ToString(DT::dt3Bytes), "3Bytes");
    EXPECT_EQ(TKorvaneTextureDataTypeHelper::ToString(static_cast<DT>(12)), "?");
    EXPECT_EQ(TPixelFormatExHelper::GetCorrespondingFormat(PF::RGB8), PF::BGR);
    EXPECT_EQ(TPixelFormatExHelper::GetCorrespondingDataType(PF::Depth32Stencil8), DT::dtFloat);
    EXPECT_EQ(PixelFormatExBytes[static_cast<int>(PF::StencilIndex)], 4);
    EXPECT_EQ(PixelFormatExBytes[static_cast<int>(PF::Depth32Stencil8)], 5);

    // The integer formats are exactly the four runs of the table.
    for (int i = 0; i < PixelFormatExCount; ++i) {
        const bool expected = (i >= 27 && i <= 33) || (i >= 37 && i <= 43) || (i >= 52 && i <= 58) ||
                              (i >= 64 && i <= 71);
        EXPECT_EQ(TPixelFormatExHelper::IsIntegerTexture(static_cast<PF>(i)), expected) << i;
    }
    EXPECT_FALSE(TPixelFormatExHelper::IsIntegerTexture(static_cast<PF>(200)));
    EXPECT_THROW(TextureDataTypeSize(static_cast<DT>(12)), Exception);
}

TEST(Texturing, WrapTexts)
{
    EXPECT_EQ(StrToTextureWrap(" \tMIRRORED_REPEAT \r\n"), TKorvaneTextureWrap::MirroredRepeat);
    EXPECT_EQ(StrToTextureWrap("clamp"), TKorvaneTextureWrap::Clamp);
    EXPECT_EQ(StrToTextureWrap("Clamp_To_Border"), TKorvaneTextureWrap::ClampToBorder);
    EXPECT_EQ(StrToTextureWrap("repeat"), TKorvaneTextureWrap::Repeated);
    EXPECT_EQ(StrToTextureWrap("clamp_to_edge"), TKorvaneTextureWrap::ClampToEdge);
    EXPECT_EQ(StrToTextureWrap("mirror"), TKorvaneTextureWrap::ClampToEdge);
    EXPECT_EQ(StrToTextureWrap(""), TKorvaneTextureWrap::ClampToEdge);
}

TEST(Texturing, ProtectedFormatSettingsSurviveAssign)
{
    Owned<TKorvaneTextureBitmap> source(TKorvaneTextureBitmap::Create(2, 2));
    source->SetFormat(PF::R);
    source->SetComponents(PF::R32F);
    source->SetDataType(DT::dtFloat);
    source->SetKind(Kind::ImageTexture3D);
    source->MinFilter = TTextureFilter::Nearest;
    source->WrapS = TKorvaneTextureWrap::MirroredRepeat;
    source->BorderColor = TAlphaColorF(0.25f, 0.5f, 0.75f, 1.0f);
    source->Style = {TTextureStyle::MipMaps};

    Owned<TKorvaneTextureBitmap> target(TKorvaneTextureBitmap::Create());
    target->ProtectFormatSettings = true;
    target->Assign(source.get());
    EXPECT_EQ(target->Format(), PF::BGRA);
    EXPECT_EQ(target->Components(), PF::RGBA8);
    EXPECT_EQ(target->DataType(), DT::dtUnsignedByte);
    EXPECT_EQ(target->Kind(), Kind::ImageTexture3D);
    EXPECT_EQ(target->MinFilter, TTextureFilter::Nearest);
    EXPECT_EQ(target->WrapS, TKorvaneTextureWrap::MirroredRepeat);
    EXPECT_EQ(target->BorderColor, TAlphaColorF(0.25f, 0.5f, 0.75f, 1.0f));
    EXPECT_EQ(target->Style, TTextureStyles{TTextureStyle::MipMaps});
    EXPECT_EQ(target->Width(), 2);
    EXPECT_FALSE(target->States().Contains(TKorvaneTextureBitmapState::bsUpdating));

    Owned<TKorvaneTextureBitmap> open(TKorvaneTextureBitmap::Create());
    open->Assign(source.get());
    EXPECT_EQ(open->Format(), PF::R);
    EXPECT_EQ(open->Components(), PF::R32F);
    EXPECT_EQ(open->DataType(), DT::dtFloat);
}

// A texture shares its bitmap's buffer without owning it. When the bitmap
// frees or replaces the buffer, the texture never keeps the old block: the
// bitmap's own texture follows the new one, any other sees no buffer.
TEST(Texturing, TexturesNeverKeepAFreedBuffer)
{
    test::EnsureProgramContext();
    Owned<TKorvaneTextureBitmap> bitmap(TKorvaneTextureBitmap::Create());
    bitmap->BeginSetup();
    bitmap->SetSize(4, 4);
    bitmap->SetFormat(PF::RG);
    bitmap->SetComponents(PF::RG32F);
    bitmap->SetDataType(DT::dtFloat);
    bitmap->EndSetup();
    ASSERT_EQ(bitmap->BufferSize(), 128);

    TKorvaneTexture* own = bitmap->KorvaneTexture();
    EXPECT_NE(own->Handle(), 0u);
    EXPECT_EQ(own->Buffer(), bitmap->Buffer());
    Owned<TKorvaneTexture> other(TKorvaneTexture::Create());
    other->Assign(bitmap.get());
    EXPECT_EQ(other->Buffer(), bitmap->Buffer());
    EXPECT_EQ(other->BufferSize(), 128);

    // A new size: a new block.
    bitmap->BeginSetup();
    bitmap->SetSize(8, 8);
    bitmap->EndSetup();
    ASSERT_EQ(bitmap->BufferSize(), 512);
    EXPECT_EQ(own->Buffer(), bitmap->Buffer());
    EXPECT_EQ(own->BufferSize(), 512);
    EXPECT_EQ(own->Width(), 8); // filled again once the bracket closed
    EXPECT_EQ(other->Buffer(), nullptr);
    EXPECT_EQ(other->BufferSize(), 0);

    // A layout that fits the 32-bit image frees the block.
    other->Assign(bitmap.get());
    bitmap->BeginSetup();
    bitmap->SetFormat(PF::BGRA);
    bitmap->SetComponents(PF::RGBA8);
    bitmap->SetDataType(DT::dtUnsignedByte);
    bitmap->EndSetup();
    EXPECT_EQ(bitmap->Buffer(), nullptr);
    EXPECT_EQ(own->Buffer(), nullptr);
    EXPECT_EQ(other->Buffer(), nullptr);

    // The bitmap goes: its block with it; the other texture stays sound.
    bitmap->BeginSetup();
    bitmap->SetFormat(PF::RGBA);
    bitmap->SetDataType(DT::dtFloat);
    bitmap->EndSetup();
    other->Assign(bitmap.get());
    ASSERT_NE(other->Buffer(), nullptr);
    bitmap.reset();
    EXPECT_EQ(other->Buffer(), nullptr);
    EXPECT_EQ(other->BufferSize(), 0);
}

TEST(Texturing, TextureReferences)
{
    test::EnsureProgramContext();
    Owned<TKorvaneTextureBitmap> bitmap(TKorvaneTextureBitmap::Create(2, 2));
    EXPECT_EQ(bitmap->TextureReference(), nullptr);
    TKorvaneTexture* texture = bitmap->KorvaneTexture();
    ASSERT_NE(texture->Handle(), 0u);
    EXPECT_EQ(bitmap->TextureReference(), texture);
    EXPECT_EQ(bitmap->KorvaneTexture(), texture);

    // A texture without a GPU object reads as none; the bitmap owns what it is given.
    bitmap->SetTextureReference(new TTexture());
    EXPECT_EQ(bitmap->TextureReference(), nullptr);
    EXPECT_THROW(bitmap->KorvaneTexture(), EInvalidCast);
    bitmap->UnsetTextureReference();
    EXPECT_EQ(bitmap->TextureReference(), nullptr);

    // The attached cube-map face goes to the texture as well (making it).
    bitmap->SetAttachedCubeMapFace(TKorvaneCubeMapFace::NegativeZ);
    EXPECT_EQ(bitmap->KorvaneTexture()->AttachedCubeMapFace, TKorvaneCubeMapFace::NegativeZ);

    // While the bitmap is drawn on, its resources stay.
    TKorvaneTexture* drawn = bitmap->KorvaneTexture();
    bitmap->Canvas()->BeginScene();
    bitmap->DestroyResources();
    EXPECT_EQ(bitmap->TextureReference(), drawn);
    bitmap->Canvas()->EndScene();
    bitmap->DestroyResources();
    EXPECT_EQ(bitmap->TextureReference(), nullptr);
}

TEST(Texturing, ATextureTakesTheBitmapsSettings)
{
    test::EnsureProgramContext();
    Owned<TKorvaneTextureBitmap> bitmap(TKorvaneTextureBitmap::Create());
    bitmap->BeginSetup();
    bitmap->SetSize(4, 2);
    bitmap->SetFormat(PF::RGBA);
    bitmap->SetComponents(PF::RGBA16F);
    bitmap->SetDataType(DT::dtHalfFloat);
    bitmap->WrapT = TKorvaneTextureWrap::Repeated;
    bitmap->MagFilter = TTextureFilter::Nearest;
    bitmap->Style = {TTextureStyle::RenderTarget};
    bitmap->MipMapLevels = 3;
    bitmap->EndSetup();

    Owned<TKorvaneTexture> texture(TKorvaneTexture::Create());
    texture->TextureUnit = 5;
    texture->Assign(bitmap.get());
    EXPECT_EQ(texture->Components, PF::RGBA16F);
    EXPECT_EQ(texture->Format(), PF::RGBA);
    EXPECT_EQ(texture->DataType, DT::dtHalfFloat);
    EXPECT_EQ(texture->WrapS, TKorvaneTextureWrap::ClampToEdge);
    EXPECT_EQ(texture->WrapT, TKorvaneTextureWrap::Repeated);
    EXPECT_EQ(texture->MagFilter(), TTextureFilter::Nearest);
    EXPECT_EQ(texture->MipMapLevels, 3);
    EXPECT_EQ(texture->TextureUnit, 5);
    // The platform's assignment makes the style Dynamic; the asked-for one is kept aside.
    EXPECT_EQ(texture->Style(), TTextureStyles{TTextureStyle::Dynamic});
    EXPECT_EQ(texture->StyleEx, TTextureStyles{TTextureStyle::RenderTarget});
    EXPECT_EQ(texture->Width(), 4);
    EXPECT_EQ(texture->Height(), 2);
    EXPECT_NE(texture->Handle(), 0u);

    uint32_t comps = 0, format = 0, type = 0;
    texture->GetFormatAndType(comps, format, type);
    EXPECT_EQ(comps, static_cast<uint32_t>(GL_RGBA16F));
    EXPECT_EQ(format, static_cast<uint32_t>(GL_RGBA));
    EXPECT_EQ(type, static_cast<uint32_t>(GL_HALF_FLOAT));

    // Texture to texture shares the buffer reference and takes the unit.
    Owned<TKorvaneTexture> copy(TKorvaneTexture::Create());
    copy->Assign(texture.get());
    EXPECT_EQ(copy->TextureUnit, 5);
    EXPECT_EQ(copy->Buffer(), texture->Buffer());
    EXPECT_EQ(copy->StyleEx, TTextureStyles{TTextureStyle::Dynamic});
}

// The demo's road: a painted bitmap assigned to a pool's texture bitmap reaches
// the GPU texture at once, and every later change does too.
TEST(Texturing, AssignedPixelsReachTheTexture)
{
    test::EnsureProgramContext();
    Owned<TKorvaneTextureBitmap> pool(TKorvaneTextureBitmap::Create(4, 4));
    TKorvaneTexture* texture = pool->KorvaneTexture();
    ASSERT_NE(texture->Handle(), 0u);
    int changes = 0;
    pool->OnChange = [&](TObject*) { ++changes; };

    auto firstPixel = [&] {
        std::vector<uint8_t> bytes;
        int64_t size = 0;
        EXPECT_TRUE(pool->KorvaneTexture()->RequestTextureData(bytes, size, 0));
        TAlphaColor c = 0;
        if (bytes.size() >= 4) std::memcpy(&c, bytes.data(), 4);
        return c;
    };
    TBitmap painted(8, 8);
    painted.Clear(TAlphaColors::Red);
    pool->Assign(&painted);
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(pool->KorvaneTexture()->Width(), 8);
    EXPECT_EQ(firstPixel(), TAlphaColors::Red);

    pool->Clear(TAlphaColors::Black);
    EXPECT_EQ(changes, 2);
    EXPECT_EQ(firstPixel(), TAlphaColors::Black);
    // The painted bitmap kept its own pixels.
    TBitmapData data;
    ASSERT_TRUE(painted.Map(TMapAccess::Read, data));
    EXPECT_EQ(data.GetPixel(0, 0), TAlphaColors::Red);
    painted.Unmap(data);
}
