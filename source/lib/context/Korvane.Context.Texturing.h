#pragma once
// Extended textures: the 80 texture pixel formats the renderer needs beyond the
// platform's 24, texture kinds, wrap modes, component data types and cube-map
// faces; a texture bitmap that carries these settings and, for formats that do
// not fit a 32-bit image, a pixel buffer of its own; and a GPU texture that takes
// the settings over from such a bitmap.
//
// The unit is abstract: the GPU work and the conversions to back-end values live
// in the OpenGL back end (Korvane.Context.Texturing.OpenGL), reached through the
// five class references below, which that unit fills at start-up.
//
// A texture's settings are always a pair of formats: Components (the internal
// format the GPU stores) and Format (the layout of the pixels handed over), plus
// DataType (the type of one component of the handed-over pixels).

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Platform.ClassRegistry.h"
#include "Platform.Streams.h"
#include "Platform.Textures.h"

namespace korvane {

enum class TKorvaneTextureKind : uint8_t { Texture2D, Texture3D, CubeMap, ImageTexture3D, Array2D };
enum class TKorvaneTextureWrap : uint8_t { Clamp, ClampToEdge, ClampToBorder, Repeated, MirroredRepeat };
enum class TKorvaneTextureDataType : uint8_t {
    dtByte, dtUnsignedByte, dtShort, dtUnsignedShort, dtInt, dtUnsignedInt, dtFloat, dtHalfFloat,
    dt2Bytes, dt3Bytes, dt4Bytes, dtDouble
};
enum class TKorvaneCubeMapFace : uint8_t { PositiveX, NegativeX, PositiveY, NegativeY, PositiveZ, NegativeZ };
enum class TKorvaneTextureBitmapState : uint8_t { bsCreating, bsDestroying, bsUpdating };
using TKorvaneTextureBitmapStates = TSet<TKorvaneTextureBitmapState>;

// Ordinals 0 to 23 are the platform's TPixelFormat values in the same order
// (its A is Alpha here), so a TPixelFormat converts by ordinal.
enum class TPixelFormatEx : uint8_t {
    None, RGB, RGBA, BGR, BGRA, RGBA16, BGR_565, BGRA4, BGR4, BGR5_A1, BGR5, BGR10_A2, RGB10_A2,
    L, LA, LA4, L16, Alpha, R16F, RG16F, RGBA16F, R32F, RG32F, RGBA32F,
    R, R8, R8_SNORM, RedInteger, R8UI, R8I, R16UI, R16I, R32UI, R32I,
    RG, RG8, RG8_SNORM, RGInteger, RG8UI, RG8I, RG16UI, RG16I, RG32UI, RG32I,
    RGB8, SRGB8, RGB565, RGB8_SNORM, R11F_G11F_B10F, RGB9_E5, RGB16F, RGB32F,
    RGBInteger, RGB8UI, RGB8I, RGB16UI, RGB16I, RGB32UI, RGB32I,
    RGBA8, SRGB8_ALPHA8, RGBA8_SNORM, RGB5_A1, RGBA4, RGBAInteger, RGBA8UI, RGBA8I, RGB10_A2UI,
    RGBA16UI, RGBA16I, RGBA32I, RGBA32UI,
    StencilIndex, Depth, Depth16, Depth24, Depth32, Depth24Stencil8, Depth32Stencil8, DepthStencil
};
inline constexpr int PixelFormatExCount = 80;

// The byte size of one pixel of an internal format; for the basis formats (RGB,
// RGBA, BGR, BGRA, L, LA, Alpha, R, RG, the four ...Integer formats, Depth,
// DepthStencil) it serves as their component count.
extern const std::array<int32_t, PixelFormatExCount> PixelFormatExBytes;

// Bytes per component of a texture bitmap's buffer; raises "failed to retrieve
// datatype size - unknown datatype" for a value outside the enumeration.
int TextureDataTypeSize(TKorvaneTextureDataType AType);

// Text of a wrap mode as texture definitions write it: "clamp", "clamp_to_edge",
// "clamp_to_border", "repeat", "mirrored_repeat" (blanks and control characters
// around it and letter case do not matter); any other text gives ClampToEdge.
TKorvaneTextureWrap StrToTextureWrap(const std::string& AText);

// ---------------------------------------------------------------------------
// Conversions to back-end values. Each helper is one object per class whose
// virtual members are the class operations; the class-reference variables
// point at the back end's helper objects.

class TPixelFormatExHelper {
public:
    TPixelFormatExHelper() = default;
    TPixelFormatExHelper(const TPixelFormatExHelper&) = delete;
    TPixelFormatExHelper& operator=(const TPixelFormatExHelper&) = delete;
    virtual ~TPixelFormatExHelper() = default;
    virtual std::string ClassName() const { return "TPixelFormatExHelper"; }
    // The base class's object.
    static const TPixelFormatExHelper& ClassInfo();

    // Abstract class operations.
    virtual intptr_t PlatformToValue(TPixelFormatEx AFormat) const;
    virtual bool PlatformIsIntegerTexture(intptr_t AValue) const;

    // Class functions.
    static intptr_t ToValue(TPixelFormatEx AFormat);
    static intptr_t ToValue(TPixelFormat AFormat);
    // The platform format of the same ordinal; raises "failed to convert to
    // TPixelFormat: %s is only valid in TPixelFormatEx" from ordinal 24 on.
    static TPixelFormat ToPixelFormat(TPixelFormatEx AFormat);
    static TPixelFormatEx GetCorrespondingFormat(TPixelFormatEx AComp);
    static TKorvaneTextureDataType GetCorrespondingDataType(TPixelFormatEx AComp);
    // The transfer format actually used with an internal format.
    static TPixelFormatEx CompatibleFormat(TPixelFormatEx AComp, TPixelFormatEx AFormat);
    // The value's name; "?" outside the enumeration.
    static std::string ToString(TPixelFormatEx AFormat);
    static bool IsIntegerTexture(TPixelFormatEx AFormat);
    // Whether a back-end format value is an integer format.
    static bool IsIntegerTexture(intptr_t AValue);
};

class TKorvaneTextureWrapHelper {
public:
    TKorvaneTextureWrapHelper() = default;
    TKorvaneTextureWrapHelper(const TKorvaneTextureWrapHelper&) = delete;
    TKorvaneTextureWrapHelper& operator=(const TKorvaneTextureWrapHelper&) = delete;
    virtual ~TKorvaneTextureWrapHelper() = default;
    virtual std::string ClassName() const { return "TKorvaneTextureWrapHelper"; }
    static const TKorvaneTextureWrapHelper& ClassInfo();

    virtual intptr_t PlatformToValue(TKorvaneTextureWrap AType) const;
    static intptr_t ToValue(TKorvaneTextureWrap AType);
};

class TKorvaneTextureDataTypeHelper {
public:
    TKorvaneTextureDataTypeHelper() = default;
    TKorvaneTextureDataTypeHelper(const TKorvaneTextureDataTypeHelper&) = delete;
    TKorvaneTextureDataTypeHelper& operator=(const TKorvaneTextureDataTypeHelper&) = delete;
    virtual ~TKorvaneTextureDataTypeHelper() = default;
    virtual std::string ClassName() const { return "TKorvaneTextureDataTypeHelper"; }
    static const TKorvaneTextureDataTypeHelper& ClassInfo();

    virtual intptr_t PlatformToValue(TKorvaneTextureDataType AType) const;
    static intptr_t ToValue(TKorvaneTextureDataType AType);
    // "Byte", "UnsignedByte", ..., "Double"; "?" outside the enumeration.
    static std::string ToString(TKorvaneTextureDataType AType);
};

// ---------------------------------------------------------------------------
// Pixel buffers

// The pixel buffer of a texture bitmap. The bitmap owns it; a texture that
// uploads from it holds only a weak reference, which reads as no buffer once the
// bitmap has freed or replaced it, so a texture never reads a freed block.
struct TKorvanePixelBuffer {
    std::unique_ptr<uint8_t[]> Data;
    int64_t Size = 0;
};
using TKorvanePixelBufferRef = std::weak_ptr<TKorvanePixelBuffer>;

// ---------------------------------------------------------------------------
// TKorvaneTexture

class TKorvaneTextureClass;

class TKorvaneTexture : public TTexture {
    KORVANE_CLASS(TKorvaneTexture, TTexture)

    static const TKorvaneTextureClass& ClassInfo();
    // A new texture of the class in KorvaneTextureClass.
    static TKorvaneTexture* Create();

    TKorvaneTextureKind Kind = TKorvaneTextureKind::Texture2D;
    // A negative unit means unit 0 when binding.
    int32_t TextureUnit = -1;
    TPixelFormatEx Components = TPixelFormatEx::RGBA8;
    TKorvaneTextureDataType DataType = TKorvaneTextureDataType::dtUnsignedByte;
    TKorvaneTextureWrap WrapS = TKorvaneTextureWrap::Repeated;
    TKorvaneTextureWrap WrapT = TKorvaneTextureWrap::Repeated;
    TKorvaneTextureWrap WrapR = TKorvaneTextureWrap::Repeated;
    TAlphaColorF BorderColor{0, 0, 0, 0};
    int32_t Depth = 0;
    // The styles the source bitmap asked for: Assign from a bitmap resets Style
    // to Dynamic, so uploads use Style and StyleEx together.
    TTextureStyles StyleEx;
    TKorvaneCubeMapFace AttachedCubeMapFace = TKorvaneCubeMapFace::PositiveX;
    int32_t MipMapLevels = 0;
    int32_t CurrentMipMapLevel = 0;
    bool IsCompressed = false;
    bool ImageAccessable = false;

    TPixelFormatEx Format() const { return FFormat; }
    void SetFormat(TPixelFormatEx AValue) { FFormat = AValue; }

    // The source bitmap's pixel buffer (not owned); nullptr when there is none
    // or the bitmap has freed or replaced it.
    uint8_t* Buffer() const;
    int64_t BufferSize() const;
    const TKorvanePixelBufferRef& BufferRef() const { return FBuffer; }
    void SetBufferRef(TKorvanePixelBufferRef ABuffer) { FBuffer = std::move(ABuffer); }

    // Back-end values of Components, CompatibleFormat(Components, Format) and DataType.
    virtual void GetFormatAndType(uint32_t& AComps, uint32_t& AFormat, uint32_t& ADataType) const;

    void Assign(const TPersistent* Source) override;

    // Abstract; the back end implements them.
    virtual void GetBindingAndKind(uint32_t& ABinding, uint32_t& AKind) const;
    virtual void Clear();
    virtual void GenerateMipMap();
    virtual bool RequestTextureData(std::vector<uint8_t>& ABytes, int64_t& ASize, int32_t ALevel);

protected:
    [[noreturn]] void AbstractCall(const char* AName) const;

private:
    TPixelFormatEx FFormat = TPixelFormatEx::BGRA;
    TKorvanePixelBufferRef FBuffer;
};

class TKorvaneTextureClass : public TMetaClass {
public:
    using TMetaClass::TMetaClass;
    // The virtual constructor.
    TKorvaneTexture* CreateInstance() const override;
};

inline const TKorvaneTextureClass& TKorvaneTexture::ClassInfo()
{
    return static_cast<const TKorvaneTextureClass&>(*StaticClass());
}

// ---------------------------------------------------------------------------
// TKorvaneTextureBitmap

class TKorvaneTextureBitmapClass;

// Settings are changed between BeginSetup and EndSetup (nesting allowed); the
// pixel buffer is sized when the outermost bracket closes. While a bracket is
// open, changes of the bitmap do not reach its texture: it is filled again when
// the bracket closes, from the buffer as sized then.
class TKorvaneTextureBitmap : public TTextureBitmap {
    KORVANE_CLASS(TKorvaneTextureBitmap, TTextureBitmap)

    static const TKorvaneTextureBitmapClass& ClassInfo();
    // A new bitmap of the class in KorvaneTextureBitmapClass (and of that size).
    static TKorvaneTextureBitmap* Create();
    static TKorvaneTextureBitmap* Create(int AWidth, int AHeight);

    TKorvaneTextureBitmap();
    ~TKorvaneTextureBitmap() override;

    TTextureFilter MinFilter = TTextureFilter::Linear;
    TTextureFilter MagFilter = TTextureFilter::Linear;
    TKorvaneTextureWrap WrapS = TKorvaneTextureWrap::ClampToEdge;
    TKorvaneTextureWrap WrapT = TKorvaneTextureWrap::ClampToEdge;
    TKorvaneTextureWrap WrapR = TKorvaneTextureWrap::ClampToEdge;
    TAlphaColorF BorderColor{0, 0, 0, 0};
    int32_t Depth = 0;
    TTextureStyles Style;
    // Assign leaves Components, Format and DataType alone.
    bool ProtectFormatSettings = false;
    int32_t MipMapLevels = 0;

    TKorvaneTextureKind Kind() const { return FKind; }
    TPixelFormatEx Format() const { return FFormat; }
    TPixelFormatEx Components() const { return FComponents; }
    TKorvaneTextureDataType DataType() const { return FDataType; }
    TKorvaneCubeMapFace AttachedCubeMapFace() const { return FAttachedCubeMapFace; }
    // Texture compression is not implemented.
    bool IsCompressed() const { return false; }
    void SetIsCompressed(bool) {}
    TMemoryStream* CompressedData() const { return FCompressedData.get(); }
    // The bitmap's own pixel buffer, or nullptr while its 32-bit image is the store.
    uint8_t* Buffer() const { return FBuffer ? FBuffer->Data.get() : nullptr; }
    int64_t BufferSize() const { return FBuffer ? FBuffer->Size : 0; }
    TKorvanePixelBufferRef BufferRef() const { return FBuffer; }
    TKorvaneTextureBitmapStates States() const { return FStates; }
    int SetupCount() const { return FSetupCount; }

    void BeginSetup();
    void EndSetup();
    // Releases and re-creates the image, labelled with AValue.
    void SetPixelFormat(TPixelFormat AValue);
    void Set3DSize(int AWidth, int AHeight, int ADepth);
    // The settings of ATexture when it is a TKorvaneTexture, otherwise those of RGBA8, BGRA, dtUnsignedByte.
    static void GetFormatAndType(const TTexture* ATexture, uint32_t& AComps, uint32_t& AFormat, uint32_t& ADataType);
    // The bitmap's texture, made on first request; raises EInvalidCast when it is not a TKorvaneTexture.
    TKorvaneTexture* KorvaneTexture() { return GetKorvaneTexture(); }
    // The texture, or nullptr when there is none or it has no GPU texture.
    TTexture* TextureReference() const;
    // Frees the bitmap's resources, then holds AValue (which the bitmap then owns).
    void SetTextureReference(TTexture* AValue);
    void UnsetTextureReference();
    // Uploads ATexture (a texture bitmap) as one face of this cube map; other bitmaps are ignored.
    void UpdateCubeMapFace(TKorvaneCubeMapFace ASide, TBitmap* ATexture);
    void ValidateBuffer() { AllocateBuffer(); }
    void ClearAfterCompression() {}
    void Recompress();
    void Decompress();

    void Assign(const TPersistent* Source) override;
    void DestroyResources() override;

    virtual void SetKind(TKorvaneTextureKind AValue);
    // Accepts only the basis formats; raises "invalid texture format" otherwise.
    virtual void SetFormat(TPixelFormatEx AValue);
    virtual void SetComponents(TPixelFormatEx AValue);
    virtual void SetDataType(TKorvaneTextureDataType AValue);
    virtual void SetAttachedCubeMapFace(TKorvaneCubeMapFace AValue);
    virtual TKorvaneTexture* GetKorvaneTexture();
    virtual void AllocateBuffer();
    virtual void FreeBuffer();
    virtual void RecreateImage(TPixelFormat APixelFormat);
    virtual void ReleaseImage();

    // Abstract uploads; the back end implements them. The sizes come from the
    // texture; ASize, when above 0, is what the caller's block holds.
    virtual void UpdateCubeMapFace(TKorvaneCubeMapFace ASide, TTexture* ATexture, const void* ABits, int APitch);
    virtual void UpdateBuffer(const void* ABuffer, int64_t ASize);
    virtual void Update3DSlice(int ASlice, const void* ABuffer, int64_t ASize);

protected:
    void BitmapChanged() override;
    void BeforeDestruction() override;
    [[noreturn]] void AbstractCall(const char* AName) const;

private:
    // Points the bitmap's texture at the current buffer.
    void ShareBufferWithTexture();

    TKorvaneTextureKind FKind = TKorvaneTextureKind::Texture2D;
    TPixelFormatEx FFormat = TPixelFormatEx::BGRA;
    TPixelFormatEx FComponents = TPixelFormatEx::RGBA8;
    TKorvaneTextureDataType FDataType = TKorvaneTextureDataType::dtUnsignedByte;
    TKorvaneCubeMapFace FAttachedCubeMapFace = TKorvaneCubeMapFace::PositiveX;
    TOwned<TMemoryStream> FCompressedData;
    std::shared_ptr<TKorvanePixelBuffer> FBuffer;
    TKorvaneTextureBitmapStates FStates;
    int32_t FSetupCount = 0;
    bool FTextureUpdatePending = false;
};

class TKorvaneTextureBitmapClass : public TMetaClass {
public:
    using TMetaClass::TMetaClass;
    // The virtual constructor.
    TKorvaneTextureBitmap* CreateInstance() const override;
};

inline const TKorvaneTextureBitmapClass& TKorvaneTextureBitmap::ClassInfo()
{
    return static_cast<const TKorvaneTextureBitmapClass&>(*StaticClass());
}

// ---------------------------------------------------------------------------
// Class references: empty until the OpenGL back end's start-up fills them; its
// shut-down puts the base classes back.

extern const TPixelFormatExHelper* PixelFormatExHelperClass;
extern const TKorvaneTextureWrapHelper* TextureWrapHelperClass;
extern const TKorvaneTextureDataTypeHelper* TextureDataTypeHelperClass;
extern const TKorvaneTextureClass* KorvaneTextureClass;
extern const TKorvaneTextureBitmapClass* KorvaneTextureBitmapClass;

} // namespace korvane
