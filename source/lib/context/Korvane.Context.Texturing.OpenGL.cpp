#include "Korvane.Context.Texturing.OpenGL.h"

#include <epoxy/gl.h>

#include <algorithm>
#include <cmath>
#include <memory>

#include "Korvane.Context.GLES.h"
#include "Korvane.Context.Types.h"
#include "Korvane.GL.Internal.h"

namespace korvane {

namespace {

using PF = TPixelFormatEx;

constexpr GLenum FormatValues[PixelFormatExCount] = {
    0,                        // None
    GL_RGB,                   // RGB
    GL_RGBA,                  // RGBA
    GL_BGR,                   // BGR
    GL_BGRA,                  // BGRA
    GL_RGBA16F,               // RGBA16
    GL_BGR,                   // BGR_565
    GL_BGRA,                  // BGRA4
    GL_BGR,                   // BGR4
    GL_BGRA,                  // BGR5_A1
    GL_BGR,                   // BGR5
    GL_BGRA,                  // BGR10_A2
    GL_RGBA,                  // RGB10_A2
    GL_LUMINANCE,             // L
    GL_LUMINANCE_ALPHA,       // LA
    GL_LUMINANCE_ALPHA,       // LA4
    GL_LUMINANCE,             // L16
    GL_ALPHA,                 // Alpha
    GL_R16F,                  // R16F
    GL_RG16F,                 // RG16F
    GL_RGBA16F,               // RGBA16F
    GL_R32F,                  // R32F
    GL_RG32F,                 // RG32F
    GL_RGBA32F,               // RGBA32F
    GL_RED,                   // R
    GL_R8,                    // R8
    GL_R8_SNORM,              // R8_SNORM
    GL_RED_INTEGER,           // RedInteger
    GL_R8UI,                  // R8UI
    GL_R8I,                   // R8I
    GL_R16UI,                 // R16UI
    GL_R16I,                  // R16I
    GL_R32UI,                 // R32UI
    GL_R32I,                  // R32I
    GL_RG,                    // RG
    GL_RG8,                   // RG8
    GL_RG8_SNORM,             // RG8_SNORM
    GL_RG_INTEGER,            // RGInteger
    GL_RG8UI,                 // RG8UI
    GL_RG8I,                  // RG8I
    GL_RG16UI,                // RG16UI
    GL_RG16I,                 // RG16I
    GL_RG32UI,                // RG32UI
    GL_RG32I,                 // RG32I
    GL_RGB8,                  // RGB8
    GL_SRGB8,                 // SRGB8
    GL_RGB565,                // RGB565
    GL_RGB8_SNORM,            // RGB8_SNORM
    GL_R11F_G11F_B10F,        // R11F_G11F_B10F
    GL_RGB9_E5,               // RGB9_E5
    GL_RGB16F,                // RGB16F
    GL_RGB32F,                // RGB32F
    GL_RGB_INTEGER,           // RGBInteger
    GL_RGB8UI,                // RGB8UI
    GL_RGB8I,                 // RGB8I
    GL_RGB16UI,               // RGB16UI
    GL_RGB16I,                // RGB16I
    GL_RGB32UI,               // RGB32UI
    GL_RGB32I,                // RGB32I
    GL_RGBA8,                 // RGBA8
    GL_SRGB8_ALPHA8,          // SRGB8_ALPHA8
    GL_RGBA8_SNORM,           // RGBA8_SNORM
    GL_RGB5_A1,               // RGB5_A1
    GL_RGBA4,                 // RGBA4
    GL_RGBA_INTEGER,          // RGBAInteger
    GL_RGBA8UI,               // RGBA8UI
    GL_RGBA8I,                // RGBA8I
    GL_RGB10_A2UI,            // RGB10_A2UI
    GL_RGBA16UI,              // RGBA16UI
    GL_RGBA16I,               // RGBA16I
    GL_RGBA32I,               // RGBA32I
    GL_RGBA32UI,              // RGBA32UI
    GL_STENCIL_INDEX,         // StencilIndex
    GL_DEPTH_COMPONENT,       // Depth
    GL_DEPTH_COMPONENT16,     // Depth16
    GL_DEPTH_COMPONENT24,     // Depth24
    GL_DEPTH_COMPONENT32,     // Depth32
    GL_DEPTH24_STENCIL8,      // Depth24Stencil8
    GL_DEPTH32F_STENCIL8,     // Depth32Stencil8
    GL_DEPTH_STENCIL,         // DepthStencil
};

bool IsVolumeKind(TKorvaneTextureKind AKind)
{
    return AKind == TKorvaneTextureKind::Texture3D || AKind == TKorvaneTextureKind::ImageTexture3D ||
           AKind == TKorvaneTextureKind::Array2D;
}

bool ClearTexImageAvailable()
{
    return epoxy_gl_version() >= 44 || epoxy_has_gl_extension("GL_ARB_clear_texture");
}

// Bytes one pixel takes in a block handed to OpenGL: what the transfer format
// and type describe, or the internal format's size when they describe nothing known.
int64_t BlockBytesPerPixel(uint32_t AFormat, uint32_t AType, TPixelFormatEx AComponents)
{
    const int64_t transfer = GLTransferBytesPerPixel(AFormat, AType);
    const int64_t internal = static_cast<int>(AComponents) < PixelFormatExCount
                                 ? PixelFormatExBytes[static_cast<int>(AComponents)]
                                 : 0;
    return transfer > 0 ? transfer : internal;
}

// A caller's block must hold everything OpenGL will read from it.
void CheckBlock(const char* AOperation, const void* ABlock, int64_t AHave, int64_t ANeed)
{
    if (ABlock && AHave < ANeed)
        throw Exception(korvane::Format("%s: the pixel block holds %d bytes, the texture needs %d", AOperation, AHave, ANeed));
}

TKorvaneTexture* TextureOf(TKorvaneTextureBitmap* ABitmap)
{
    // KorvaneTexture raises EInvalidCast for a texture of another class.
    TKorvaneTexture* texture = ABitmap->KorvaneTexture();
    if (texture->Handle() == 0) texture->Initialize();
    return texture;
}


} // namespace

// ---------------------------------------------------------------------------
// Conversions

const TOpenGLPixelFormatExHelper& TOpenGLPixelFormatExHelper::ClassInfo()
{
    static const TOpenGLPixelFormatExHelper info;
    return info;
}

intptr_t TOpenGLPixelFormatExHelper::PlatformToValue(TPixelFormatEx AFormat) const
{
    const auto i = static_cast<int>(AFormat);
    return i < PixelFormatExCount ? FormatValues[i] : GL_BGRA;
}

bool TOpenGLPixelFormatExHelper::PlatformIsIntegerTexture(intptr_t AValue) const
{
    switch (AValue) {
    case GL_RED_INTEGER:
    case GL_RG_INTEGER:
    case GL_RGB_INTEGER:
    case GL_RGBA_INTEGER:
    case GL_R8I:
    case GL_R8UI:
    case GL_R16I:
    case GL_R16UI:
    case GL_R32I:
    case GL_R32UI:
    case GL_RG8I:
    case GL_RG8UI:
    case GL_RG16I:
    case GL_RG16UI:
    case GL_RG32I:
    case GL_RG32UI:
    case GL_RGB8I:
    case GL_RGB8UI:
    case GL_RGB16I:
    case GL_RGB16UI:
    case GL_RGB32I:
    case GL_RGB32UI:
    case GL_RGBA8I:
    case GL_RGBA8UI:
    case GL_RGBA16I:
    case GL_RGBA16UI:
    case GL_RGBA32I:
    case GL_RGBA32UI:
    case GL_RGB10_A2UI: return true;
    default: return false;
    }
}

const TOpenGLKorvaneTextureWrapHelper& TOpenGLKorvaneTextureWrapHelper::ClassInfo()
{
    static const TOpenGLKorvaneTextureWrapHelper info;
    return info;
}

intptr_t TOpenGLKorvaneTextureWrapHelper::PlatformToValue(TKorvaneTextureWrap AType) const
{
    switch (AType) {
    case TKorvaneTextureWrap::Clamp: return GL_CLAMP;
    case TKorvaneTextureWrap::ClampToEdge: return GL_CLAMP_TO_EDGE;
    case TKorvaneTextureWrap::ClampToBorder: return GL_CLAMP_TO_BORDER;
    case TKorvaneTextureWrap::Repeated: return GL_REPEAT;
    case TKorvaneTextureWrap::MirroredRepeat: return GL_MIRRORED_REPEAT;
    }
    return GL_REPEAT;
}

const TOpenGLKorvaneTextureDataTypeHelper& TOpenGLKorvaneTextureDataTypeHelper::ClassInfo()
{
    static const TOpenGLKorvaneTextureDataTypeHelper info;
    return info;
}

intptr_t TOpenGLKorvaneTextureDataTypeHelper::PlatformToValue(TKorvaneTextureDataType AType) const
{
    using DT = TKorvaneTextureDataType;
    switch (AType) {
    case DT::dtByte: return GL_BYTE;
    case DT::dtUnsignedByte: return GL_UNSIGNED_BYTE;
    case DT::dtShort: return GL_SHORT;
    case DT::dtUnsignedShort: return GL_UNSIGNED_SHORT;
    case DT::dtInt: return GL_INT;
    case DT::dtUnsignedInt: return GL_UNSIGNED_INT;
    case DT::dtFloat: return GL_FLOAT;
    case DT::dtHalfFloat: return GL_HALF_FLOAT;
    case DT::dt2Bytes: return GL_2_BYTES;
    case DT::dt3Bytes: return GL_3_BYTES;
    case DT::dt4Bytes: return GL_4_BYTES;
    case DT::dtDouble: return GL_DOUBLE;
    }
    return GL_UNSIGNED_BYTE;
}

uint32_t CubeMapFaceToGL(TKorvaneCubeMapFace AFace)
{
    const auto i = static_cast<uint32_t>(AFace);
    return i < 6 ? GL_TEXTURE_CUBE_MAP_POSITIVE_X + i : GL_TEXTURE_CUBE_MAP_POSITIVE_X;
}

int64_t GLTransferBytesPerPixel(uint32_t AFormat, uint32_t AType)
{
    // Packed types describe a whole pixel.
    switch (AType) {
    case GL_UNSIGNED_BYTE_3_3_2:
    case GL_UNSIGNED_BYTE_2_3_3_REV: return 1;
    case GL_UNSIGNED_SHORT_5_6_5:
    case GL_UNSIGNED_SHORT_5_6_5_REV:
    case GL_UNSIGNED_SHORT_4_4_4_4:
    case GL_UNSIGNED_SHORT_4_4_4_4_REV:
    case GL_UNSIGNED_SHORT_5_5_5_1:
    case GL_UNSIGNED_SHORT_1_5_5_5_REV: return 2;
    case GL_UNSIGNED_INT_8_8_8_8:
    case GL_UNSIGNED_INT_8_8_8_8_REV:
    case GL_UNSIGNED_INT_10_10_10_2:
    case GL_UNSIGNED_INT_2_10_10_10_REV:
    case GL_UNSIGNED_INT_24_8:
    case GL_UNSIGNED_INT_10F_11F_11F_REV:
    case GL_UNSIGNED_INT_5_9_9_9_REV: return 4;
    case GL_FLOAT_32_UNSIGNED_INT_24_8_REV: return 8;
    default: break;
    }
    int64_t components = 0;
    switch (AFormat) {
    case GL_RED:
    case GL_GREEN:
    case GL_BLUE:
    case GL_ALPHA:
    case GL_LUMINANCE:
    case GL_RED_INTEGER:
    case GL_GREEN_INTEGER:
    case GL_BLUE_INTEGER:
    case GL_ALPHA_INTEGER:
    case GL_DEPTH_COMPONENT:
    case GL_STENCIL_INDEX: components = 1; break;
    case GL_RG:
    case GL_RG_INTEGER:
    case GL_LUMINANCE_ALPHA:
    case GL_DEPTH_STENCIL: components = 2; break;
    case GL_RGB:
    case GL_BGR:
    case GL_RGB_INTEGER:
    case GL_BGR_INTEGER: components = 3; break;
    case GL_RGBA:
    case GL_BGRA:
    case GL_RGBA_INTEGER:
    case GL_BGRA_INTEGER: components = 4; break;
    default: return 0;
    }
    int64_t size = 0;
    switch (AType) {
    case GL_BYTE:
    case GL_UNSIGNED_BYTE: size = 1; break;
    case GL_SHORT:
    case GL_UNSIGNED_SHORT:
    case GL_HALF_FLOAT:
    case GL_2_BYTES: size = 2; break;
    case GL_3_BYTES: size = 3; break;
    case GL_INT:
    case GL_UNSIGNED_INT:
    case GL_FLOAT:
    case GL_4_BYTES: size = 4; break;
    case GL_DOUBLE: size = 8; break;
    default: return 0;
    }
    return components * size;
}

// ---------------------------------------------------------------------------
// TOpenGLKorvaneTexture

TOpenGLKorvaneTexture* TOpenGLKorvaneTextureClass::CreateInstance() const { return new TOpenGLKorvaneTexture(); }

TClass TOpenGLKorvaneTexture::StaticClass()
{
    // Class references live for the whole run: unit shut-downs still use them.
    static const auto& info =
        *new TClassInfo<TOpenGLKorvaneTexture, TOpenGLKorvaneTextureClass>("Korvane.Context.Texturing.OpenGL");
    return &info;
}

void TOpenGLKorvaneTexture::GetFormatAndType(uint32_t& AComps, uint32_t& AFormat, uint32_t& ADataType) const
{
    TKorvaneTexture::GetFormatAndType(AComps, AFormat, ADataType);
    if (AFormat != GL_DEPTH_STENCIL || ADataType == GL_UNSIGNED_INT_24_8 ||
        ADataType == GL_FLOAT_32_UNSIGNED_INT_24_8_REV)
        return;
    ADataType = (AComps == GL_DEPTH32F_STENCIL8 || ADataType == GL_FLOAT) ? GL_FLOAT_32_UNSIGNED_INT_24_8_REV
                                                                          : GL_UNSIGNED_INT_24_8;
}

void TOpenGLKorvaneTexture::GetBindingAndKind(uint32_t& ABinding, uint32_t& AKind) const
{
    switch (Kind) {
    case TKorvaneTextureKind::Texture3D:
    case TKorvaneTextureKind::ImageTexture3D:
        ABinding = GL_TEXTURE_BINDING_3D;
        AKind = GL_TEXTURE_3D;
        return;
    case TKorvaneTextureKind::CubeMap:
        ABinding = GL_TEXTURE_BINDING_CUBE_MAP;
        AKind = GL_TEXTURE_CUBE_MAP;
        return;
    case TKorvaneTextureKind::Array2D:
        ABinding = GL_TEXTURE_BINDING_2D_ARRAY;
        AKind = GL_TEXTURE_2D_ARRAY;
        return;
    case TKorvaneTextureKind::Texture2D: break;
    }
    ABinding = GL_TEXTURE_BINDING_2D;
    AKind = GL_TEXTURE_2D;
}

void TOpenGLKorvaneTexture::Clear()
{
    if (Handle() == 0) return;
    uint32_t comps = 0, format = 0, type = 0;
    GetFormatAndType(comps, format, type);
    const auto handle = static_cast<GLuint>(Handle());
    if (ClearTexImageAvailable()) {
        glClearTexImage(handle, 0, format, type, nullptr);
        for (int level = 1; level < MipMapLevels; ++level) glClearTexImage(handle, level, format, type, nullptr);
        return;
    }
    uint32_t binding = 0, target = 0;
    GetBindingAndKind(binding, target);
    TGLTextureBindingScope bindingScope(binding, target);
    TGLPackedPixelStoreScope storeScope;
    glBindTexture(target, handle);
    // The block holds what the transfer format describes, which may be more
    // than the internal format stores.
    const int64_t depth = IsVolumeKind(Kind) ? std::max(Depth, 1) : 1;
    const int64_t bytes = BlockBytesPerPixel(format, type, Components) * Width() * Height() * depth;
    const auto zeros = std::make_unique<uint8_t[]>(static_cast<size_t>(std::max<int64_t>(bytes, 1)));
    switch (Kind) {
    case TKorvaneTextureKind::Texture2D:
        glTexSubImage2D(target, CurrentMipMapLevel, 0, 0, Width(), Height(), format, type, zeros.get());
        break;
    case TKorvaneTextureKind::CubeMap:
        for (uint32_t face = 0; face < 6; ++face)
            glTexSubImage2D(GL_TEXTURE_CUBE_MAP_POSITIVE_X + face, 0, 0, 0, Width(), Height(), format, type,
                            zeros.get());
        break;
    case TKorvaneTextureKind::Texture3D:
    case TKorvaneTextureKind::ImageTexture3D:
    case TKorvaneTextureKind::Array2D:
        glTexSubImage3D(target, CurrentMipMapLevel, 0, 0, 0, Width(), Height(), Depth, format, type, zeros.get());
        break;
    }
}

void TOpenGLKorvaneTexture::GenerateMipMap()
{
    if (Handle() == 0) return;
    DrainStaleGLErrors("TOpenGLKorvaneTexture.GenerateMipMap");
    uint32_t binding = 0, target = 0;
    GetBindingAndKind(binding, target);
    {
        TGLTextureBindingScope bindingScope(binding, target);
        glBindTexture(target, static_cast<GLuint>(Handle()));
        glGenerateMipmap(target);
    }
    if (const uint32_t error = ClearGLErrors())
        throw Exception(korvane::Format("failed to request texture data [error = %d]", error));
}

bool TOpenGLKorvaneTexture::RequestTextureData(std::vector<uint8_t>& ABytes, int64_t& ASize, int32_t ALevel)
{
    ABytes.clear();
    ASize = 0;
    if (Handle() == 0) return false;
    if (static_cast<int>(Kind) > static_cast<int>(TKorvaneTextureKind::Array2D))
        throw Exception("failed to request texture data - unsupported texture kind");
    uint32_t binding = 0, target = 0;
    GetBindingAndKind(binding, target);
    // A cube map reads one face: the one the texture is attached with.
    const GLenum imageTarget = Kind == TKorvaneTextureKind::CubeMap ? CubeMapFaceToGL(AttachedCubeMapFace) : target;
    uint32_t comps = 0, format = 0, type = 0;
    GetFormatAndType(comps, format, type);
    DrainStaleGLErrors("TOpenGLKorvaneTexture.RequestTextureData");
    {
        TGLTextureBindingScope bindingScope(binding, target);
        TGLPackedPixelStoreScope storeScope;
        glBindTexture(target, static_cast<GLuint>(Handle()));
        // The level's own size: the array holds exactly what OpenGL writes.
        GLint width = 0, height = 0, depth = 1;
        glGetTexLevelParameteriv(imageTarget, ALevel, GL_TEXTURE_WIDTH, &width);
        glGetTexLevelParameteriv(imageTarget, ALevel, GL_TEXTURE_HEIGHT, &height);
        if (target == GL_TEXTURE_3D || target == GL_TEXTURE_2D_ARRAY)
            glGetTexLevelParameteriv(imageTarget, ALevel, GL_TEXTURE_DEPTH, &depth);
        const int64_t size = BlockBytesPerPixel(format, type, Components) * std::max(width, 0) *
                             std::max(height, 0) * std::max(depth, 0);
        if (!HasGLErrors() && size > 0) {
            ABytes.resize(static_cast<size_t>(size));
            glGetTexImage(imageTarget, ALevel, format, type, ABytes.data());
            ASize = size;
        }
    }
    if (const uint32_t error = ClearGLErrors()) {
        ABytes.clear();
        ASize = 0;
        throw Exception(korvane::Format("failed to request texture data [error = %d]", error));
    }
    return true;
}

// ---------------------------------------------------------------------------
// TOpenGLKorvaneTextureBitmap

TOpenGLKorvaneTextureBitmap* TOpenGLKorvaneTextureBitmapClass::CreateInstance() const
{
    return new TOpenGLKorvaneTextureBitmap();
}

TClass TOpenGLKorvaneTextureBitmap::StaticClass()
{
    // Class references live for the whole run: unit shut-downs still use them.
    static const auto& info = *new TClassInfo<TOpenGLKorvaneTextureBitmap, TOpenGLKorvaneTextureBitmapClass>(
        "Korvane.Context.Texturing.OpenGL");
    return &info;
}

void TOpenGLKorvaneTextureBitmap::UpdateCubeMapFace(TKorvaneCubeMapFace ASide, TTexture* ATexture, const void* ABits,
                                                     int APitch)
{
    if (Kind() != TKorvaneTextureKind::CubeMap || !ATexture) return;
    const int side = ATexture->Width();
    const bool powerOfTwo = side > 0 && (side & (side - 1)) == 0;
    if (side != ATexture->Height() || !powerOfTwo)
        throw Exception("Invalid cube map face texture size! Cubemap texture needs to be even and dimension must be "
                        "a power of 2 (2^x).");
    if (Width() != side || Height() != side) SetSize(side, side);
    TTexture* texture = Texture();
    if (texture->Handle() == 0) {
        texture->TextureAccess().SetTextureScale(ATexture->TextureScale());
        SetSize(side, side);
        if (texture->Handle() == 0) texture->Initialize();
    }
    if (texture->Handle() == 0) return; // no OpenGL context
    const GLenum face = CubeMapFaceToGL(ASide);
    uint32_t comps = 0, format = 0, type = 0;
    GetFormatAndType(ATexture, comps, format, type);
    const void* pixels = ABits;
    int pitch = APitch;
    const auto* source = dynamic_cast<const TKorvaneTexture*>(ATexture);
    const int64_t bytesPerPixel =
        BlockBytesPerPixel(format, type, source ? source->Components : TPixelFormatEx::RGBA8);
    if (source && source->Buffer()) {
        pixels = source->Buffer();
        pitch = 0;
        CheckBlock("UpdateCubeMapFace", pixels, source->BufferSize(), bytesPerPixel * side * side);
    } else if (pixels && pitch > 0 && pitch < bytesPerPixel * side) {
        throw Exception(korvane::Format("UpdateCubeMapFace: rows of %d bytes cannot hold %d pixels of %d bytes", pitch, side,
                               bytesPerPixel));
    }
    DrainStaleGLErrors("TOpenGLKorvaneTextureBitmap.UpdateCubeMapFace");
    {
        TGLTextureBindingScope bindingScope(GL_TEXTURE_BINDING_CUBE_MAP, GL_TEXTURE_CUBE_MAP);
        TPixelStateScope pixelState(side, side, 0, static_cast<int>(bytesPerPixel), pitch);
        glBindTexture(GL_TEXTURE_CUBE_MAP, static_cast<GLuint>(texture->Handle()));
        glTexSubImage2D(face, 0, 0, 0, side, side, format, type, pixels);
        if (HasGLErrors()) RaiseContextExceptionFmt(this, "Cannot upload texture for %s", ClassName());
    }
}

void TOpenGLKorvaneTextureBitmap::UpdateBuffer(const void* ABuffer, int64_t ASize)
{
    if (Kind() == TKorvaneTextureKind::CubeMap) return;
    TKorvaneTexture* texture = TextureOf(this);
    if (texture->Handle() == 0) return; // no OpenGL context
    uint32_t binding = 0, target = 0;
    texture->GetBindingAndKind(binding, target);
    uint32_t comps = 0, format = 0, type = 0;
    GetFormatAndType(texture, comps, format, type);
    const bool volume = IsVolumeKind(Kind());
    const int depth = volume ? texture->Depth : 0;
    const int64_t bytesPerPixel = BlockBytesPerPixel(format, type, texture->Components);
    CheckBlock("UpdateBuffer", ABuffer, ASize,
               bytesPerPixel * texture->Width() * texture->Height() * (volume ? std::max(depth, 0) : 1));
    DrainStaleGLErrors("TOpenGLKorvaneTextureBitmap.UpdateBuffer");
    TGLTextureBindingScope bindingScope(binding, target);
    glActiveTexture(TKorvaneContextOpenGLES::GetTextureByTextureIndex(std::max(texture->TextureUnit, 0)));
    // The binding to restore is the one of the unit the upload uses.
    TGLTextureBindingScope unitScope(binding, target);
    glBindTexture(target, static_cast<GLuint>(texture->Handle()));
    TPixelStateScope pixelState(texture->Width(), texture->Height(), depth, static_cast<int>(bytesPerPixel), 0);
    if (volume)
        glTexImage3D(target, 0, static_cast<GLint>(comps), texture->Width(), texture->Height(), depth, 0, format,
                     type, ABuffer);
    else
        glTexSubImage2D(target, 0, 0, 0, texture->Width(), texture->Height(), format, type, ABuffer);
    if (HasGLErrors()) RaiseContextExceptionFmt(this, "Cannot upload texture for %s", ClassName());
    const TTextureStyles styles = texture->Style() + texture->StyleEx;
    TKorvaneContext::DoSetTextureFiltering(texture, styles, target, comps);
    if (styles.Contains(TTextureStyle::MipMaps)) {
        glGenerateMipmap(target);
        if (const uint32_t error = ClearGLErrors())
            throw Exception(korvane::Format("failed to generate mipmaps by UpdateBuffer (Error = %d)", error));
    }
}

void TOpenGLKorvaneTextureBitmap::Update3DSlice(int ASlice, const void* ABuffer, int64_t ASize)
{
    if (!IsVolumeKind(Kind())) return;
    TKorvaneTexture* texture = TextureOf(this);
    if (texture->Handle() == 0) return; // no OpenGL context
    if (!IsVolumeKind(texture->Kind)) throw Exception("invalid texture type - 3D texture expected");
    uint32_t binding = 0, target = 0;
    texture->GetBindingAndKind(binding, target);
    uint32_t comps = 0, format = 0, type = 0;
    GetFormatAndType(texture, comps, format, type);
    CheckBlock("Update3DSlice", ABuffer, ASize,
               BlockBytesPerPixel(format, type, texture->Components) * texture->Width() * texture->Height());
    // A slice outside the volume is refused before OpenGL is asked.
    if (ASlice < 0 || ASlice >= std::max(texture->Depth, 1))
        RaiseContextExceptionFmt(this, "Cannot upload texture for %s", ClassName());
    DrainStaleGLErrors("TOpenGLKorvaneTextureBitmap.Update3DSlice");
    TGLTextureBindingScope bindingScope(binding, target);
    // The slice is read as tightly packed rows.
    TGLPackedPixelStoreScope storeScope;
    glBindTexture(target, static_cast<GLuint>(texture->Handle()));
    glTexSubImage3D(target, 0, 0, 0, ASlice, texture->Width(), texture->Height(), 1, format, type, ABuffer);
    if (HasGLErrors()) RaiseContextExceptionFmt(this, "Cannot upload texture for %s", ClassName());
    if ((texture->Style() + texture->StyleEx).Contains(TTextureStyle::MipMaps)) {
        glGenerateMipmap(target);
        if (const uint32_t error = ClearGLErrors())
            throw Exception(korvane::Format("failed to generate mipmaps by Update3DSlice (Error = %d)", error));
    }
}

namespace units {
void TexturingOpenGLInitialize()
{
    PixelFormatExHelperClass = &TOpenGLPixelFormatExHelper::ClassInfo();
    TextureWrapHelperClass = &TOpenGLKorvaneTextureWrapHelper::ClassInfo();
    TextureDataTypeHelperClass = &TOpenGLKorvaneTextureDataTypeHelper::ClassInfo();
    KorvaneTextureClass = &TOpenGLKorvaneTexture::ClassInfo();
    KorvaneTextureBitmapClass = &TOpenGLKorvaneTextureBitmap::ClassInfo();
}
void TexturingOpenGLFinalize()
{
    PixelFormatExHelperClass = &TPixelFormatExHelper::ClassInfo();
    TextureWrapHelperClass = &TKorvaneTextureWrapHelper::ClassInfo();
    TextureDataTypeHelperClass = &TKorvaneTextureDataTypeHelper::ClassInfo();
    KorvaneTextureClass = &TKorvaneTexture::ClassInfo();
    KorvaneTextureBitmapClass = &TKorvaneTextureBitmap::ClassInfo();
}
} // namespace units

} // namespace korvane
