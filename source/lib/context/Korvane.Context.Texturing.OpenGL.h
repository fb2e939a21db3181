#pragma once
// The OpenGL classes behind the extended textures: the conversions of pixel
// formats, wrap modes and data types to OpenGL values, the texture kinds'
// targets, and the GPU operations of textures and texture bitmaps (clearing,
// mip-maps, reading texture data back, uploading cube-map faces, whole buffers
// and 3D slices). Loading this unit installs these classes in the five class
// references of Korvane.Context.Texturing.
//
// All operations run on the thread whose OpenGL context is current, and leave
// the texture bindings and the active texture unit as they found them, also
// when they fail.

#include <cstdint>

#include "Korvane.Context.Texturing.h"

namespace korvane {

class TOpenGLPixelFormatExHelper : public TPixelFormatExHelper {
public:
    std::string ClassName() const override { return "TOpenGLPixelFormatExHelper"; }
    static const TOpenGLPixelFormatExHelper& ClassInfo();
    // GL_ and the format's name in capitals, with the exceptions of the basis and
    // packed formats; GL_BGRA outside the enumeration.
    intptr_t PlatformToValue(TPixelFormatEx AFormat) const override;
    // True exactly for the OpenGL integer formats.
    bool PlatformIsIntegerTexture(intptr_t AValue) const override;
};

class TOpenGLKorvaneTextureWrapHelper : public TKorvaneTextureWrapHelper {
public:
    std::string ClassName() const override { return "TOpenGLKorvaneTextureWrapHelper"; }
    static const TOpenGLKorvaneTextureWrapHelper& ClassInfo();
    // GL_REPEAT outside the enumeration.
    intptr_t PlatformToValue(TKorvaneTextureWrap AType) const override;
};

class TOpenGLKorvaneTextureDataTypeHelper : public TKorvaneTextureDataTypeHelper {
public:
    std::string ClassName() const override { return "TOpenGLKorvaneTextureDataTypeHelper"; }
    static const TOpenGLKorvaneTextureDataTypeHelper& ClassInfo();
    // GL_UNSIGNED_BYTE outside the enumeration.
    intptr_t PlatformToValue(TKorvaneTextureDataType AType) const override;
};

// The cube-map face target of a face; the positive X face outside the enumeration.
uint32_t CubeMapFaceToGL(TKorvaneCubeMapFace AFace);
// Bytes of one pixel handed over with a transfer format and type (what OpenGL
// reads or writes per pixel); 0 for a combination it does not know.
int64_t GLTransferBytesPerPixel(uint32_t AFormat, uint32_t AType);

class TOpenGLKorvaneTextureClass;

class TOpenGLKorvaneTexture : public TKorvaneTexture {
    KORVANE_CLASS(TOpenGLKorvaneTexture, TKorvaneTexture)

    static const TOpenGLKorvaneTextureClass& ClassInfo();

    // As the base, except that depth and stencil handed over together always
    // travel as one packed value: 32-bit float depth with 8-bit stencil for
    // Depth32Stencil8 or a float data type, 24-bit depth with 8-bit stencil
    // otherwise (the data types have no packed value, and OpenGL takes no other).
    void GetFormatAndType(uint32_t& AComps, uint32_t& AFormat, uint32_t& ADataType) const override;
    // The binding query first, the target second.
    void GetBindingAndKind(uint32_t& ABinding, uint32_t& AKind) const override;
    // Sets every texel of every level to zero.
    void Clear() override;
    // Raises "failed to request texture data [error = %d]" when OpenGL reports an error.
    void GenerateMipMap() override;
    // Reads the image of mip level ALevel back: ASize is the number of bytes
    // OpenGL wrote, ABytes holds exactly them. A cube map reads its
    // AttachedCubeMapFace. False without a GPU texture.
    bool RequestTextureData(std::vector<uint8_t>& ABytes, int64_t& ASize, int32_t ALevel) override;
};

class TOpenGLKorvaneTextureClass : public TKorvaneTextureClass {
public:
    using TKorvaneTextureClass::TKorvaneTextureClass;
    TOpenGLKorvaneTexture* CreateInstance() const override;
};

inline const TOpenGLKorvaneTextureClass& TOpenGLKorvaneTexture::ClassInfo()
{
    return static_cast<const TOpenGLKorvaneTextureClass&>(*StaticClass());
}

class TOpenGLKorvaneTextureBitmapClass;

class TOpenGLKorvaneTextureBitmap : public TKorvaneTextureBitmap {
    KORVANE_CLASS(TOpenGLKorvaneTextureBitmap, TKorvaneTextureBitmap)

    static const TOpenGLKorvaneTextureBitmapClass& ClassInfo();

    using TKorvaneTextureBitmap::UpdateCubeMapFace;
    // Uploads one face of a cube-map bitmap. The face must be square with a side
    // that is a power of two.
    void UpdateCubeMapFace(TKorvaneCubeMapFace ASide, TTexture* ATexture, const void* ABits, int APitch) override;
    // Uploads a whole image (2D) or volume (3D kinds); nothing for a cube map.
    void UpdateBuffer(const void* ABuffer, int64_t ASize) override;
    // Uploads one depth slice of a 3D or array texture; nothing for other bitmap kinds.
    void Update3DSlice(int ASlice, const void* ABuffer, int64_t ASize) override;
};

class TOpenGLKorvaneTextureBitmapClass : public TKorvaneTextureBitmapClass {
public:
    using TKorvaneTextureBitmapClass::TKorvaneTextureBitmapClass;
    TOpenGLKorvaneTextureBitmap* CreateInstance() const override;
};

inline const TOpenGLKorvaneTextureBitmapClass& TOpenGLKorvaneTextureBitmap::ClassInfo()
{
    return static_cast<const TOpenGLKorvaneTextureBitmapClass&>(*StaticClass());
}

} // namespace korvane
