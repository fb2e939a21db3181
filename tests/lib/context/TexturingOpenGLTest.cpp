#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "GLTestHarness.h"
#include "Korvane.Context.Texturing.OpenGL.h"
#include "LogCapture.h"
#include "TextureTestSupport.h"

using namespace korvane;
using test::Owned;
using PF = TPixelFormatEx;
using DT = TKorvaneTextureDataType;
using Kind = TKorvaneTextureKind;

namespace {
class TexturingOpenGL : public ::testing::Test {
protected:
    void SetUp() override
    {
        test::EnsureProgramContext();
        ClearGLErrors();
    }
    void TearDown() override { EXPECT_EQ(ClearGLErrors(), 0u) << "an operation left an OpenGL error behind"; }
};

// A texture of the given settings with its GPU storage.
Owned<TKorvaneTexture> MakeTexture(int AWidth, int AHeight, PF AComponents, PF AFormat, DT AType,
                                   Kind AKind = Kind::Texture2D, int ADepth = 0)
{
    Owned<TKorvaneTexture> t(TKorvaneTexture::Create());
    t->SetSize(AWidth, AHeight);
    t->Components = AComponents;
    t->SetFormat(AFormat);
    t->DataType = AType;
    t->Kind = AKind;
    t->Depth = ADepth;
    t->Initialize();
    return t;
}

GLint InternalFormatOf(const TKorvaneTexture& ATexture, GLenum AImageTarget)
{
    uint32_t binding = 0, target = 0;
    ATexture.GetBindingAndKind(binding, target);
    GLint previous = 0, format = 0;
    glGetIntegerv(binding, &previous);
    glBindTexture(target, static_cast<GLuint>(ATexture.Handle()));
    glGetTexLevelParameteriv(AImageTarget, 0, GL_TEXTURE_INTERNAL_FORMAT, &format);
    glBindTexture(target, static_cast<GLuint>(previous));
    return format;
}

std::vector<uint8_t> ReadBack(TKorvaneTexture& ATexture, int ALevel = 0)
{
    std::vector<uint8_t> bytes;
    int64_t size = -1;
    EXPECT_TRUE(ATexture.RequestTextureData(bytes, size, ALevel));
    EXPECT_EQ(size, static_cast<int64_t>(bytes.size()));
    return bytes;
}
} // namespace

TEST_F(TexturingOpenGL, ConversionsToOpenGLValues)
{
    struct FormatCase {
        PF Format;
        intptr_t Value;
    } formats[] = {
        {PF::None, 0},
        {PF::RGBA8, GL_RGBA8},
        {PF::R11F_G11F_B10F, GL_R11F_G11F_B10F},
        {PF::RGB, GL_RGB},
        {PF::BGRA, GL_BGRA},
        {PF::Alpha, GL_ALPHA},
        {PF::RGBA16, GL_RGBA16F},
        {PF::BGR_565, GL_BGR},
        {PF::BGR10_A2, GL_BGRA},
        {PF::RGB10_A2, GL_RGBA},
        {PF::L16, GL_LUMINANCE},
        {PF::LA4, GL_LUMINANCE_ALPHA},
        {PF::R, GL_RED},
        {PF::RGInteger, GL_RG_INTEGER},
        {PF::StencilIndex, GL_STENCIL_INDEX},
        {PF::Depth, GL_DEPTH_COMPONENT},
        {PF::Depth24, GL_DEPTH_COMPONENT24},
        {PF::Depth32Stencil8, GL_DEPTH32F_STENCIL8},
        {PF::DepthStencil, GL_DEPTH_STENCIL},
        {static_cast<PF>(90), GL_BGRA},
    };
    for (const auto& c : formats)
        EXPECT_EQ(TPixelFormatExHelper::ToValue(c.Format), c.Value) << TPixelFormatExHelper::ToString(c.Format);
    EXPECT_EQ(TPixelFormatExHelper::ToValue(TPixelFormat::RGBA16F), GL_RGBA16F);

    EXPECT_TRUE(TPixelFormatExHelper::IsIntegerTexture(intptr_t(GL_RGB10_A2UI)));
    EXPECT_TRUE(TPixelFormatExHelper::IsIntegerTexture(intptr_t(GL_RED_INTEGER)));
    EXPECT_FALSE(TPixelFormatExHelper::IsIntegerTexture(intptr_t(GL_RGBA8)));
    EXPECT_FALSE(TPixelFormatExHelper::IsIntegerTexture(intptr_t(GL_R32F)));

    EXPECT_EQ(TKorvaneTextureWrapHelper::ToValue(TKorvaneTextureWrap::ClampToBorder), GL_CLAMP_TO_BORDER);
    EXPECT_EQ(TKorvaneTextureWrapHelper::ToValue(TKorvaneTextureWrap::Clamp), GL_CLAMP);
    EXPECT_EQ(TKorvaneTextureWrapHelper::ToValue(static_cast<TKorvaneTextureWrap>(9)), GL_REPEAT);
    EXPECT_EQ(TKorvaneTextureDataTypeHelper::ToValue(DT::dtHalfFloat), GL_HALF_FLOAT);
    EXPECT_EQ(TKorvaneTextureDataTypeHelper::ToValue(DT::dt3Bytes), GL_3_BYTES);
    EXPECT_EQ(TKorvaneTextureDataTypeHelper::ToValue(static_cast<DT>(20)), GL_UNSIGNED_BYTE);
    EXPECT_EQ(CubeMapFaceToGL(TKorvaneCubeMapFace::NegativeY), static_cast<uint32_t>(GL_TEXTURE_CUBE_MAP_NEGATIVE_Y));
    EXPECT_EQ(CubeMapFaceToGL(static_cast<TKorvaneCubeMapFace>(6)), static_cast<uint32_t>(GL_TEXTURE_CUBE_MAP_POSITIVE_X));

    struct KindCase {
        Kind TextureKind;
        uint32_t Binding, Target;
    } kinds[] = {
        {Kind::Texture2D, GL_TEXTURE_BINDING_2D, GL_TEXTURE_2D},
        {Kind::Texture3D, GL_TEXTURE_BINDING_3D, GL_TEXTURE_3D},
        {Kind::ImageTexture3D, GL_TEXTURE_BINDING_3D, GL_TEXTURE_3D},
        {Kind::CubeMap, GL_TEXTURE_BINDING_CUBE_MAP, GL_TEXTURE_CUBE_MAP},
        {Kind::Array2D, GL_TEXTURE_BINDING_2D_ARRAY, GL_TEXTURE_2D_ARRAY},
    };
    for (const auto& c : kinds) {
        Owned<TKorvaneTexture> t(TKorvaneTexture::Create());
        t->Kind = c.TextureKind;
        uint32_t binding = 0, target = 0;
        t->GetBindingAndKind(binding, target);
        EXPECT_EQ(binding, c.Binding);
        EXPECT_EQ(target, c.Target);
    }
}

// The internal format OpenGL reports for a texture made with each internal format.
TEST_F(TexturingOpenGL, CreatedTexturesHaveTheMappedInternalFormat)
{
    struct Case {
        PF Components, Format;
        DT DataType;
        GLint Reported;
    } cases[] = {
        {PF::RGBA16, PF::RGBA, DT::dtHalfFloat, GL_RGBA16F},
        {PF::Depth32Stencil8, PF::DepthStencil, DT::dtFloat, GL_DEPTH32F_STENCIL8},
        {PF::Depth32Stencil8, PF::Depth, DT::dtFloat, GL_DEPTH32F_STENCIL8},
        {PF::Depth24Stencil8, PF::DepthStencil, DT::dtUnsignedInt, GL_DEPTH24_STENCIL8},
        {PF::Depth16, PF::Depth, DT::dtUnsignedShort, GL_DEPTH_COMPONENT16},
        {PF::RGBA8, PF::BGRA, DT::dtUnsignedByte, GL_RGBA8},
        {PF::SRGB8_ALPHA8, PF::RGBA, DT::dtUnsignedByte, GL_SRGB8_ALPHA8},
        {PF::R11F_G11F_B10F, PF::RGB, DT::dtHalfFloat, GL_R11F_G11F_B10F},
        {PF::RG32F, PF::RG, DT::dtFloat, GL_RG32F},
        {PF::R16UI, PF::RedInteger, DT::dtUnsignedShort, GL_R16UI},
        {PF::RGB10_A2UI, PF::RGBAInteger, DT::dtUnsignedInt, GL_RGB10_A2UI},
        {PF::R8_SNORM, PF::R, DT::dtByte, GL_R8_SNORM},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(TPixelFormatExHelper::ToString(c.Components));
        auto t = MakeTexture(4, 4, c.Components, c.Format, c.DataType);
        ASSERT_NE(t->Handle(), 0u);
        EXPECT_EQ(InternalFormatOf(*t, GL_TEXTURE_2D), c.Reported);
    }
}

// An RGBA32F texture filled from a bitmap's buffer reads back bit for bit, and
// no operation changes which textures are bound.
TEST_F(TexturingOpenGL, FloatTexturesRoundTripBitExactAndBindingsStay)
{
    test::DistinctBindings distinct;
    const auto before = test::TextureBindings::Read();

    Owned<TKorvaneTextureBitmap> bitmap(TKorvaneTextureBitmap::Create());
    bitmap->BeginSetup();
    bitmap->SetSize(2, 2);
    bitmap->SetFormat(PF::RGBA);
    bitmap->SetComponents(PF::RGBA32F);
    bitmap->SetDataType(DT::dtFloat);
    bitmap->EndSetup();
    ASSERT_EQ(bitmap->BufferSize(), 64);
    const float values[16] = {1.5f,  -2.25f,   3.14159274f, 1e30f,    -0.0f,   65504.0f, 1.0f / 3.0f, 7e-39f,
                              -1e-7f, 123456.789f, 0.5f,      -1024.0f, 2e-38f, 9.75f,    -3.0f,       1.0f};
    std::memcpy(bitmap->Buffer(), values, sizeof(values));

    TKorvaneTexture* texture = bitmap->KorvaneTexture(); // made and filled from the buffer
    ASSERT_NE(texture->Handle(), 0u);
    EXPECT_EQ(test::TextureBindings::Read(), before);
    EXPECT_EQ(InternalFormatOf(*texture, GL_TEXTURE_2D), GL_RGBA32F);
    auto bytes = ReadBack(*texture);
    EXPECT_EQ(test::TextureBindings::Read(), before);
    ASSERT_EQ(bytes.size(), sizeof(values));
    EXPECT_EQ(std::memcmp(bytes.data(), values, sizeof(values)), 0);

    // Filled again through UpdateBuffer, on another texture unit.
    float changed[16];
    for (int i = 0; i < 16; ++i) changed[i] = values[15 - i];
    texture->TextureUnit = 3;
    bitmap->UpdateBuffer(changed, sizeof(changed));
    EXPECT_EQ(test::TextureBindings::Read(), before);
    bytes = ReadBack(*texture);
    ASSERT_EQ(bytes.size(), sizeof(changed));
    EXPECT_EQ(std::memcmp(bytes.data(), changed, sizeof(changed)), 0);

    // A block smaller than the texture is refused before anything is read.
    EXPECT_THROW(bitmap->UpdateBuffer(changed, 32), Exception);
    EXPECT_EQ(test::TextureBindings::Read(), before);

    texture->GenerateMipMap();
    EXPECT_EQ(test::TextureBindings::Read(), before);
    texture->MipMapLevels = 2;
    texture->Clear();
    EXPECT_EQ(test::TextureBindings::Read(), before);
    for (uint8_t b : ReadBack(*texture)) ASSERT_EQ(b, 0);
    for (uint8_t b : ReadBack(*texture, 1)) ASSERT_EQ(b, 0);
}

TEST_F(TexturingOpenGL, ReadingBackNeverWritesPastTheBlock)
{
    // Stored as 4 bytes a pixel, read as 16: the block grows to what OpenGL writes.
    auto t = MakeTexture(3, 1, PF::RGBA8, PF::RGBA, DT::dtFloat);
    const float pixels[12] = {0, 0, 0, 0, 1, 1, 1, 1, 0, 1, 0, 1};
    t->UpdateTexture(pixels, 0);
    std::vector<uint8_t> bytes;
    int64_t size = 0;
    ASSERT_TRUE(t->RequestTextureData(bytes, size, 0));
    ASSERT_EQ(size, 48);
    ASSERT_EQ(bytes.size(), 48u);
    float read[12];
    std::memcpy(read, bytes.data(), sizeof(read));
    for (int i = 0; i < 12; ++i) EXPECT_FLOAT_EQ(read[i], pixels[i]) << i;

    // Odd rows of 3-byte pixels come back without padding.
    auto rgb = MakeTexture(3, 3, PF::RGB8, PF::RGB, DT::dtUnsignedByte);
    ASSERT_TRUE(rgb->RequestTextureData(bytes, size, 0));
    EXPECT_EQ(size, 27);

    // Without a GPU texture there is nothing to read.
    Owned<TKorvaneTexture> none(TKorvaneTexture::Create());
    bytes.assign(5, 1);
    size = 5;
    EXPECT_FALSE(none->RequestTextureData(bytes, size, 0));
    EXPECT_TRUE(bytes.empty());
    EXPECT_EQ(size, 0);
    none->Clear(); // nothing to clear
    none->GenerateMipMap();
}

// Rows that lie further apart than a packed row are read at their pitch, not sheared.
TEST_F(TexturingOpenGL, PaddedRowsOfAnyPixelSizeUploadAtTheirPitch)
{
    struct Case {
        PF Components, Format;
        DT DataType;
        int BytesPerPixel, Pitch;
    } cases[] = {
        {PF::RGB8, PF::RGB, DT::dtUnsignedByte, 3, 12},
        {PF::RGB8, PF::RGB, DT::dtUnsignedByte, 3, 10},
        {PF::RG8, PF::RG, DT::dtUnsignedByte, 2, 8},
        {PF::RGBA8, PF::RGBA, DT::dtUnsignedByte, 4, 16},
        {PF::R32F, PF::R, DT::dtFloat, 4, 20},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << TPixelFormatExHelper::ToString(c.Components) << " pitch " << c.Pitch);
        const int width = 3, height = 3;
        std::vector<uint8_t> source(size_t(c.Pitch) * height, 0xEE);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width * c.BytesPerPixel; ++x) source[size_t(y) * c.Pitch + x] = uint8_t(y * 40 + x + 1);
        auto t = MakeTexture(width, height, c.Components, c.Format, c.DataType);
        t->UpdateTexture(source.data(), c.Pitch);
        const auto bytes = ReadBack(*t);
        ASSERT_EQ(bytes.size(), size_t(width * height * c.BytesPerPixel));
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width * c.BytesPerPixel; ++x)
                ASSERT_EQ(bytes[size_t(y) * width * c.BytesPerPixel + x], source[size_t(y) * c.Pitch + x])
                    << "row " << y << " byte " << x;
    }
    // Rows shorter than a packed row are refused.
    auto t = MakeTexture(3, 3, PF::RGB8, PF::RGB, DT::dtUnsignedByte);
    std::vector<uint8_t> small(24);
    EXPECT_THROW(t->UpdateTexture(small.data(), 8), Exception);
}

TEST_F(TexturingOpenGL, CubeMapFacesMustBeSquarePowersOfTwo)
{
    test::DistinctBindings distinct;
    const auto before = test::TextureBindings::Read();
    Owned<TKorvaneTextureBitmap> cube(TKorvaneTextureBitmap::Create());
    cube->SetKind(Kind::CubeMap);
    for (auto size : {std::pair{256, 128}, std::pair{96, 96}}) {
        TTextureBitmap face(size.first, size.second);
        try {
            cube->UpdateCubeMapFace(TKorvaneCubeMapFace::PositiveY, &face);
            ADD_FAILURE() << size.first << " x " << size.second << " was uploaded";
        } catch (const Exception& e) {
            EXPECT_EQ(e.Message(), "Invalid cube map face texture size! Cubemap texture needs to be even and "
                                   "dimension must be a power of 2 (2^x).");
        }
    }
    EXPECT_EQ(test::TextureBindings::Read(), before);

    TTextureBitmap face(16, 16);
    face.Clear(MakeAlphaColor(10, 20, 30, 40));
    cube->UpdateCubeMapFace(TKorvaneCubeMapFace::NegativeY, &face);
    EXPECT_EQ(test::TextureBindings::Read(), before);
    EXPECT_EQ(cube->Width(), 16);
    TKorvaneTexture* texture = cube->KorvaneTexture();
    EXPECT_EQ(texture->Kind, Kind::CubeMap);
    texture->AttachedCubeMapFace = TKorvaneCubeMapFace::NegativeY;
    const auto bytes = ReadBack(*texture);
    ASSERT_EQ(bytes.size(), 16u * 16u * 4u);
    // BGRA in, BGRA out.
    EXPECT_EQ(bytes[0], 30);
    EXPECT_EQ(bytes[1], 20);
    EXPECT_EQ(bytes[2], 10);
    EXPECT_EQ(bytes[3], 40);
    EXPECT_EQ(test::TextureBindings::Read(), before);

    // Other bitmaps, and a bitmap that is not a cube map, are left alone.
    TBitmap plain(16, 16);
    cube->UpdateCubeMapFace(TKorvaneCubeMapFace::PositiveX, &plain);
    Owned<TKorvaneTextureBitmap> flat(TKorvaneTextureBitmap::Create(16, 16));
    flat->UpdateCubeMapFace(TKorvaneCubeMapFace::PositiveX, &face);
    EXPECT_EQ(flat->TextureReference(), nullptr);
    // A cube map takes no whole buffer.
    cube->UpdateBuffer(bytes.data(), int64_t(bytes.size()));
}

TEST_F(TexturingOpenGL, SlicesGoIntoVolumeTexturesOnly)
{
    test::DistinctBindings distinct;
    const auto before = test::TextureBindings::Read();
    // A bitmap that became a volume after its texture was made as a 2D one.
    Owned<TKorvaneTextureBitmap> bitmap(TKorvaneTextureBitmap::Create(2, 2));
    ASSERT_NE(bitmap->KorvaneTexture()->Handle(), 0u);
    bitmap->SetKind(Kind::Texture3D);
    const uint8_t slice[16] = {};
    try {
        bitmap->Update3DSlice(0, slice, sizeof(slice));
        ADD_FAILURE() << "a slice went into a 2D texture";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "invalid texture type - 3D texture expected");
    }
    EXPECT_EQ(test::TextureBindings::Read(), before);
    // A 2D bitmap takes no slices at all.
    Owned<TKorvaneTextureBitmap> flat(TKorvaneTextureBitmap::Create(2, 2));
    flat->Update3DSlice(0, slice, sizeof(slice));
    EXPECT_EQ(flat->TextureReference(), nullptr);

    Owned<TKorvaneTextureBitmap> volume(TKorvaneTextureBitmap::Create());
    volume->BeginSetup();
    volume->SetKind(Kind::Texture3D);
    volume->Set3DSize(2, 2, 3);
    volume->SetFormat(PF::RGBA);
    volume->EndSetup();
    TKorvaneTexture* texture = volume->KorvaneTexture();
    ASSERT_EQ(texture->Kind, Kind::Texture3D);
    ASSERT_EQ(texture->Depth, 3);
    uint8_t second[16];
    for (int i = 0; i < 16; ++i) second[i] = uint8_t(100 + i);
    volume->Update3DSlice(1, second, sizeof(second));
    EXPECT_EQ(test::TextureBindings::Read(), before);
    const auto bytes = ReadBack(*texture);
    ASSERT_EQ(bytes.size(), 48u);
    EXPECT_EQ(std::memcmp(bytes.data() + 16, second, 16), 0);

    // A short block is refused; a slice outside the volume is refused without
    // an invalid OpenGL call and leaves the bindings alone.
    EXPECT_THROW(volume->Update3DSlice(0, second, 8), Exception);
    for (int slice : {5, 3, -1}) {
        test::LogCapture log;
        EXPECT_THROW(volume->Update3DSlice(slice, second, sizeof(second)), EContext3DException) << slice;
        EXPECT_TRUE(log.Contains("[Context Exception]: Cannot upload texture for TOpenGLKorvaneTextureBitmap"))
            << slice;
        EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR)) << slice;
    }
    EXPECT_EQ(test::TextureBindings::Read(), before);
}

// An error that an earlier call left pending does not stop a texture from being made.
TEST_F(TexturingOpenGL, APendingErrorDoesNotStopTextureCreation)
{
    test::LeaveGLErrorPending();
    test::LogCapture log;
    TTexture texture;
    texture.SetSize(4, 4);
    texture.Initialize();
    EXPECT_NE(texture.Handle(), 0u);
    EXPECT_TRUE(log.Contains("<WARNING> TKorvaneContextOpenGLES.DoInitializeTexture: OpenGL error 1280 was pending "
                             "before the operation and is ignored"));
    GLint format = 0;
    GLint previous = 0;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &previous);
    glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(texture.Handle()));
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_INTERNAL_FORMAT, &format);
    glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(previous));
    EXPECT_EQ(format, GL_RGBA8);
    texture.Finalize();
    EXPECT_EQ(texture.Handle(), 0u);
}
