#include "Korvane.Context.Texturing.h"

#include <cctype>
#include <mutex>

#include "Platform.Log.h"
#include "Platform.Types3D.h"

namespace korvane {

const TPixelFormatExHelper* PixelFormatExHelperClass = nullptr;
const TKorvaneTextureWrapHelper* TextureWrapHelperClass = nullptr;
const TKorvaneTextureDataTypeHelper* TextureDataTypeHelperClass = nullptr;
const TKorvaneTextureClass* KorvaneTextureClass = nullptr;
const TKorvaneTextureBitmapClass* KorvaneTextureBitmapClass = nullptr;

namespace {

using PF = TPixelFormatEx;
using DT = TKorvaneTextureDataType;

struct TFormatInfo {
    const char* Name;
    int32_t Bytes;
    PF Corresponding;
    DT DataType;
    bool Integer;
};

// Name, bytes per pixel, basis format, component data type and integer flag of every format.
constexpr std::array<TFormatInfo, PixelFormatExCount> FormatInfo{{
    {"None", 0, PF::None, DT::dtUnsignedByte, false},
    {"RGB", 3, PF::RGB, DT::dtUnsignedByte, false},
    {"RGBA", 4, PF::RGBA, DT::dtUnsignedByte, false},
    {"BGR", 3, PF::BGR, DT::dtUnsignedByte, false},
    {"BGRA", 4, PF::BGRA, DT::dtUnsignedByte, false},
    {"RGBA16", 8, PF::RGBA, DT::dtUnsignedShort, false},
    {"BGR_565", 2, PF::BGR, DT::dtUnsignedByte, false},
    {"BGRA4", 2, PF::BGRA, DT::dtUnsignedByte, false},
    {"BGR4", 2, PF::BGR, DT::dtUnsignedByte, false},
    {"BGR5_A1", 2, PF::BGRA, DT::dtUnsignedByte, false},
    {"BGR5", 2, PF::BGR, DT::dtUnsignedByte, false},
    {"BGR10_A2", 4, PF::BGRA, DT::dtUnsignedInt, false},
    {"RGB10_A2", 4, PF::RGBA, DT::dtUnsignedInt, false},
    {"L", 1, PF::L, DT::dtUnsignedByte, false},
    {"LA", 2, PF::LA, DT::dtUnsignedByte, false},
    {"LA4", 1, PF::LA4, DT::dtUnsignedByte, false},
    {"L16", 2, PF::L16, DT::dtUnsignedShort, false},
    {"Alpha", 1, PF::Alpha, DT::dtUnsignedByte, false},
    {"R16F", 2, PF::R, DT::dtHalfFloat, false},
    {"RG16F", 4, PF::RG, DT::dtHalfFloat, false},
    {"RGBA16F", 8, PF::RGBA, DT::dtHalfFloat, false},
    {"R32F", 4, PF::R, DT::dtFloat, false},
    {"RG32F", 8, PF::RG, DT::dtFloat, false},
    {"RGBA32F", 16, PF::RGBA, DT::dtFloat, false},
    {"R", 1, PF::R, DT::dtUnsignedByte, false},
    {"R8", 1, PF::R, DT::dtUnsignedByte, false},
    {"R8_SNORM", 1, PF::R, DT::dtByte, false},
    {"RedInteger", 1, PF::RedInteger, DT::dtInt, true},
    {"R8UI", 1, PF::RedInteger, DT::dtUnsignedByte, true},
    {"R8I", 1, PF::RedInteger, DT::dtByte, true},
    {"R16UI", 2, PF::RedInteger, DT::dtUnsignedShort, true},
    {"R16I", 2, PF::RedInteger, DT::dtShort, true},
    {"R32UI", 4, PF::RedInteger, DT::dtUnsignedInt, true},
    {"R32I", 4, PF::RedInteger, DT::dtInt, true},
    {"RG", 2, PF::RG, DT::dtUnsignedByte, false},
    {"RG8", 2, PF::RG, DT::dtUnsignedByte, false},
    {"RG8_SNORM", 2, PF::RG, DT::dtByte, false},
    {"RGInteger", 2, PF::RGInteger, DT::dtInt, true},
    {"RG8UI", 2, PF::RGInteger, DT::dtUnsignedByte, true},
    {"RG8I", 2, PF::RGInteger, DT::dtByte, true},
    {"RG16UI", 4, PF::RGInteger, DT::dtUnsignedShort, true},
    {"RG16I", 4, PF::RGInteger, DT::dtShort, true},
    {"RG32UI", 8, PF::RGInteger, DT::dtUnsignedInt, true},
    {"RG32I", 8, PF::RGInteger, DT::dtInt, true},
    {"RGB8", 3, PF::BGR, DT::dtUnsignedByte, false},
    {"SRGB8", 3, PF::RGB, DT::dtUnsignedByte, false},
    {"RGB565", 2, PF::RGB, DT::dtUnsignedByte, false},
    {"RGB8_SNORM", 3, PF::RGB, DT::dtByte, false},
    {"R11F_G11F_B10F", 4, PF::RGB, DT::dtHalfFloat, false},
    {"RGB9_E5", 4, PF::RGB, DT::dtFloat, false},
    {"RGB16F", 6, PF::RGB, DT::dtHalfFloat, false},
    {"RGB32F", 12, PF::RGB, DT::dtFloat, false},
    {"RGBInteger", 3, PF::RGBInteger, DT::dtInt, true},
    {"RGB8UI", 3, PF::RGBInteger, DT::dtUnsignedByte, true},
    {"RGB8I", 3, PF::RGBInteger, DT::dtByte, true},
    {"RGB16UI", 6, PF::RGBInteger, DT::dtUnsignedShort, true},
    {"RGB16I", 6, PF::RGBInteger, DT::dtShort, true},
    {"RGB32UI", 12, PF::RGBInteger, DT::dtUnsignedInt, true},
    {"RGB32I", 12, PF::RGBInteger, DT::dtInt, true},
    {"RGBA8", 4, PF::BGRA, DT::dtUnsignedByte, false},
    {"SRGB8_ALPHA8", 4, PF::RGBA, DT::dtUnsignedByte, false},
    {"RGBA8_SNORM", 4, PF::RGBA, DT::dtByte, false},
    {"RGB5_A1", 2, PF::RGBA, DT::dtUnsignedByte, false},
    {"RGBA4", 2, PF::RGBA, DT::dtUnsignedByte, false},
    {"RGBAInteger", 4, PF::RGBAInteger, DT::dtInt, true},
    {"RGBA8UI", 4, PF::RGBAInteger, DT::dtUnsignedByte, true},
    {"RGBA8I", 4, PF::RGBAInteger, DT::dtByte, true},
    {"RGB10_A2UI", 4, PF::RGBAInteger, DT::dtUnsignedInt, true},
    {"RGBA16UI", 8, PF::RGBAInteger, DT::dtUnsignedShort, true},
    {"RGBA16I", 8, PF::RGBAInteger, DT::dtShort, true},
    {"RGBA32I", 16, PF::RGBAInteger, DT::dtInt, true},
    {"RGBA32UI", 16, PF::RGBAInteger, DT::dtUnsignedInt, true},
    {"StencilIndex", 4, PF::StencilIndex, DT::dtUnsignedByte, false},
    {"Depth", 1, PF::Depth, DT::dtUnsignedByte, false},
    {"Depth16", 2, PF::Depth, DT::dtUnsignedShort, false},
    {"Depth24", 3, PF::Depth, DT::dtUnsignedInt, false},
    {"Depth32", 4, PF::Depth, DT::dtFloat, false},
    {"Depth24Stencil8", 4, PF::DepthStencil, DT::dtUnsignedInt, false},
    {"Depth32Stencil8", 5, PF::DepthStencil, DT::dtFloat, false},
    {"DepthStencil", 1, PF::DepthStencil, DT::dtUnsignedInt, false},
}};

constexpr std::array<int32_t, PixelFormatExCount> MakeBytes()
{
    std::array<int32_t, PixelFormatExCount> bytes{};
    for (int i = 0; i < PixelFormatExCount; ++i) bytes[i] = FormatInfo[i].Bytes;
    return bytes;
}

bool InRange(PF AFormat) { return static_cast<int>(AFormat) < PixelFormatExCount; }

const TFormatInfo& Info(PF AFormat)
{
    if (!InRange(AFormat))
        throw Exception(Format("invalid texture pixel format %d", static_cast<int>(AFormat)));
    return FormatInfo[static_cast<int>(AFormat)];
}

template <typename T>
const T& Installed(const T* AClass, const char* AName)
{
    if (!AClass) throw EContext3DException(Format("no %s is installed", AName));
    return *AClass;
}

} // namespace

const std::array<int32_t, PixelFormatExCount> PixelFormatExBytes = MakeBytes();

int TextureDataTypeSize(TKorvaneTextureDataType AType)
{
    switch (AType) {
    case DT::dtByte:
    case DT::dtUnsignedByte: return 1;
    case DT::dtShort:
    case DT::dtUnsignedShort: return 2;
    case DT::dtInt:
    case DT::dtUnsignedInt:
    case DT::dtFloat: return 4;
    case DT::dtHalfFloat:
    case DT::dt2Bytes: return 2;
    case DT::dt3Bytes: return 3;
    case DT::dt4Bytes: return 4;
    case DT::dtDouble: return 8;
    }
    throw Exception("failed to retrieve datatype size - unknown datatype");
}

TKorvaneTextureWrap StrToTextureWrap(const std::string& AText)
{
    size_t first = 0, last = AText.size();
    while (first < last && static_cast<unsigned char>(AText[first]) <= ' ') ++first;
    while (last > first && static_cast<unsigned char>(AText[last - 1]) <= ' ') --last;
    const std::string text = LowerCase(std::string_view(AText).substr(first, last - first));
    if (text == "clamp") return TKorvaneTextureWrap::Clamp;
    if (text == "clamp_to_edge") return TKorvaneTextureWrap::ClampToEdge;
    if (text == "clamp_to_border") return TKorvaneTextureWrap::ClampToBorder;
    if (text == "repeat") return TKorvaneTextureWrap::Repeated;
    if (text == "mirrored_repeat") return TKorvaneTextureWrap::MirroredRepeat;
    return TKorvaneTextureWrap::ClampToEdge;
}

// ---------------------------------------------------------------------------
// TPixelFormatExHelper

const TPixelFormatExHelper& TPixelFormatExHelper::ClassInfo()
{
    static const TPixelFormatExHelper info;
    return info;
}

intptr_t TPixelFormatExHelper::PlatformToValue(TPixelFormatEx) const
{
    throw EAbstractError("Abstract Error: " + ClassName() + ".PlatformToValue");
}

bool TPixelFormatExHelper::PlatformIsIntegerTexture(intptr_t) const
{
    throw EAbstractError("Abstract Error: " + ClassName() + ".PlatformIsIntegerTexture");
}

intptr_t TPixelFormatExHelper::ToValue(TPixelFormatEx AFormat)
{
    return Installed(PixelFormatExHelperClass, "pixel format helper class").PlatformToValue(AFormat);
}

intptr_t TPixelFormatExHelper::ToValue(TPixelFormat AFormat)
{
    return ToValue(static_cast<TPixelFormatEx>(static_cast<uint8_t>(AFormat)));
}

TPixelFormat TPixelFormatExHelper::ToPixelFormat(TPixelFormatEx AFormat)
{
    if (static_cast<int>(AFormat) >= 24)
        throw Exception(Format("failed to convert to TPixelFormat: %s is only valid in TPixelFormatEx",
                               ToString(AFormat)));
    return static_cast<TPixelFormat>(static_cast<uint8_t>(AFormat));
}

TPixelFormatEx TPixelFormatExHelper::GetCorrespondingFormat(TPixelFormatEx AComp) { return Info(AComp).Corresponding; }

TKorvaneTextureDataType TPixelFormatExHelper::GetCorrespondingDataType(TPixelFormatEx AComp)
{
    return Info(AComp).DataType;
}

TPixelFormatEx TPixelFormatExHelper::CompatibleFormat(TPixelFormatEx AComp, TPixelFormatEx AFormat)
{
    if (AFormat != PF::BGR && AFormat != PF::BGRA) return AFormat;
    const int comp = static_cast<int>(AComp);
    const bool rgbFamily = AComp == PF::RGB || AComp == PF::RGBA || AComp == PF::RGBA16 || AComp == PF::RGB10_A2 ||
                           AComp == PF::RGBA16F || AComp == PF::RGBA32F ||
                           (comp >= static_cast<int>(PF::RGB8) && comp <= static_cast<int>(PF::RGBA32UI));
    if (rgbFamily) return GetCorrespondingFormat(AComp);
    const PF expected = GetCorrespondingFormat(AComp);
    if (expected != AFormat)
        Log::d("TPixelFormatExHelper.CompatibleFormat failed, but ignored:\r\n%s (given) <> %s (expected) (expected "
               "basis formats is different)",
               ToString(AFormat), ToString(expected));
    return AFormat;
}

std::string TPixelFormatExHelper::ToString(TPixelFormatEx AFormat)
{
    return InRange(AFormat) ? FormatInfo[static_cast<int>(AFormat)].Name : "?";
}

bool TPixelFormatExHelper::IsIntegerTexture(TPixelFormatEx AFormat) { return InRange(AFormat) && Info(AFormat).Integer; }

bool TPixelFormatExHelper::IsIntegerTexture(intptr_t AValue)
{
    return Installed(PixelFormatExHelperClass, "pixel format helper class").PlatformIsIntegerTexture(AValue);
}

// ---------------------------------------------------------------------------
// Wrap and data-type helpers

const TKorvaneTextureWrapHelper& TKorvaneTextureWrapHelper::ClassInfo()
{
    static const TKorvaneTextureWrapHelper info;
    return info;
}

intptr_t TKorvaneTextureWrapHelper::PlatformToValue(TKorvaneTextureWrap) const
{
    throw EAbstractError("Abstract Error: " + ClassName() + ".PlatformToValue");
}

intptr_t TKorvaneTextureWrapHelper::ToValue(TKorvaneTextureWrap AType)
{
    return Installed(TextureWrapHelperClass, "texture wrap helper class").PlatformToValue(AType);
}

const TKorvaneTextureDataTypeHelper& TKorvaneTextureDataTypeHelper::ClassInfo()
{
    static const TKorvaneTextureDataTypeHelper info;
    return info;
}

intptr_t TKorvaneTextureDataTypeHelper::PlatformToValue(TKorvaneTextureDataType) const
{
    throw EAbstractError("Abstract Error: " + ClassName() + ".PlatformToValue");
}

intptr_t TKorvaneTextureDataTypeHelper::ToValue(TKorvaneTextureDataType AType)
{
    return Installed(TextureDataTypeHelperClass, "texture data type helper class").PlatformToValue(AType);
}

std::string TKorvaneTextureDataTypeHelper::ToString(TKorvaneTextureDataType AType)
{
    static const char* const names[] = {"Byte",     "UnsignedByte", "Short",     "UnsignedShort",
                                        "Int",      "UnsignedInt",  "Float",     "HalfFloat",
                                        "2Bytes",   "3Bytes",       "4Bytes",    "Double"};
    const auto i = static_cast<size_t>(AType);
    return i < std::size(names) ? names[i] : "?";
}

// ---------------------------------------------------------------------------
// TKorvaneTexture

TKorvaneTexture* TKorvaneTextureClass::CreateInstance() const { return new TKorvaneTexture(); }

TClass TKorvaneTexture::StaticClass()
{
    // Class references live for the whole run: unit shut-downs still use them.
    static const auto& info = *new TClassInfo<TKorvaneTexture, TKorvaneTextureClass>("Korvane.Context.Texturing");
    return &info;
}

TKorvaneTexture* TKorvaneTexture::Create()
{
    return Installed(KorvaneTextureClass, "texture class").CreateInstance();
}

void TKorvaneTexture::AbstractCall(const char* AName) const
{
    throw EAbstractError(korvane::Format("Abstract Error: %s.%s", ClassName(), AName));
}

void TKorvaneTexture::GetBindingAndKind(uint32_t&, uint32_t&) const { AbstractCall("GetBindingAndKind"); }
void TKorvaneTexture::Clear() { AbstractCall("Clear"); }
void TKorvaneTexture::GenerateMipMap() { AbstractCall("GenerateMipMap"); }
bool TKorvaneTexture::RequestTextureData(std::vector<uint8_t>&, int64_t&, int32_t) { AbstractCall("RequestTextureData"); }

uint8_t* TKorvaneTexture::Buffer() const
{
    const auto buffer = FBuffer.lock();
    return buffer ? buffer->Data.get() : nullptr;
}

int64_t TKorvaneTexture::BufferSize() const
{
    const auto buffer = FBuffer.lock();
    return buffer ? buffer->Size : 0;
}

void TKorvaneTexture::GetFormatAndType(uint32_t& AComps, uint32_t& AFormat, uint32_t& ADataType) const
{
    AComps = static_cast<uint32_t>(TPixelFormatExHelper::ToValue(Components));
    AFormat = static_cast<uint32_t>(
        TPixelFormatExHelper::ToValue(TPixelFormatExHelper::CompatibleFormat(Components, FFormat)));
    ADataType = static_cast<uint32_t>(TKorvaneTextureDataTypeHelper::ToValue(DataType));
}

void TKorvaneTexture::Assign(const TPersistent* Source)
{
    if (Source == this) return;
    if (const auto* t = dynamic_cast<const TKorvaneTexture*>(Source)) {
        Kind = t->Kind;
        TextureUnit = t->TextureUnit;
        Components = t->Components;
        FFormat = t->FFormat;
        WrapS = t->WrapS;
        WrapT = t->WrapT;
        WrapR = t->WrapR;
        DataType = t->DataType;
        BorderColor = t->BorderColor;
        Depth = t->Depth;
        AttachedCubeMapFace = t->AttachedCubeMapFace;
        MipMapLevels = t->MipMapLevels;
        StyleEx = t->Style();
        SetStyle(t->Style());
        SetMinFilter(t->MinFilter());
        SetMagFilter(t->MagFilter());
        FBuffer = t->FBuffer;
    } else if (const auto* b = dynamic_cast<const TKorvaneTextureBitmap*>(Source)) {
        Kind = b->Kind();
        Components = b->Components();
        FFormat = b->Format();
        WrapS = b->WrapS;
        WrapT = b->WrapT;
        WrapR = b->WrapR;
        DataType = b->DataType();
        BorderColor = b->BorderColor;
        Depth = b->Depth;
        AttachedCubeMapFace = b->AttachedCubeMapFace();
        MipMapLevels = b->MipMapLevels;
        StyleEx = b->Style;
        SetStyle(b->Style);
        SetMinFilter(b->MinFilter);
        SetMagFilter(b->MagFilter);
        FBuffer = b->BufferRef();
    }
    TTexture::Assign(Source);
}

// ---------------------------------------------------------------------------
// TKorvaneTextureBitmap

TKorvaneTextureBitmap* TKorvaneTextureBitmapClass::CreateInstance() const { return new TKorvaneTextureBitmap(); }

TClass TKorvaneTextureBitmap::StaticClass()
{
    // Class references live for the whole run: unit shut-downs still use them.
    static const auto& info =
        *new TClassInfo<TKorvaneTextureBitmap, TKorvaneTextureBitmapClass>("Korvane.Context.Texturing");
    return &info;
}

TKorvaneTextureBitmap* TKorvaneTextureBitmap::Create()
{
    return Installed(KorvaneTextureBitmapClass, "texture bitmap class").CreateInstance();
}

TKorvaneTextureBitmap* TKorvaneTextureBitmap::Create(int AWidth, int AHeight)
{
    TKorvaneTextureBitmap* bitmap = Create();
    try {
        bitmap->SetSize(AWidth, AHeight);
    } catch (...) {
        bitmap->Free();
        throw;
    }
    return bitmap;
}

// The defaults are the member initialisers; no state is set once construction is over.
TKorvaneTextureBitmap::TKorvaneTextureBitmap() = default;

TKorvaneTextureBitmap::~TKorvaneTextureBitmap() = default;

void TKorvaneTextureBitmap::BeforeDestruction()
{
    FStates.Include(TKorvaneTextureBitmapState::bsDestroying);
    FCompressedData.reset();
    FreeBuffer();
    TTextureBitmap::BeforeDestruction();
}

void TKorvaneTextureBitmap::AbstractCall(const char* AName) const
{
    throw EAbstractError(korvane::Format("Abstract Error: %s.%s", ClassName(), AName));
}

void TKorvaneTextureBitmap::UpdateCubeMapFace(TKorvaneCubeMapFace, TTexture*, const void*, int)
{
    AbstractCall("UpdateCubeMapFace");
}
void TKorvaneTextureBitmap::UpdateBuffer(const void*, int64_t) { AbstractCall("UpdateBuffer"); }
void TKorvaneTextureBitmap::Update3DSlice(int, const void*, int64_t) { AbstractCall("Update3DSlice"); }

void TKorvaneTextureBitmap::BeginSetup()
{
    ++FSetupCount;
    FStates.Include(TKorvaneTextureBitmapState::bsUpdating);
}

void TKorvaneTextureBitmap::EndSetup()
{
    if (FSetupCount > 0) {
        --FSetupCount;
        if (FSetupCount == 0) {
            try {
                AllocateBuffer();
                if (FTextureUpdatePending) {
                    FTextureUpdatePending = false;
                    UpdateTextureFromBitmap();
                }
            } catch (...) {
                FStates.Exclude(TKorvaneTextureBitmapState::bsUpdating);
                throw;
            }
        }
    }
    FStates.Exclude(TKorvaneTextureBitmapState::bsUpdating);
}

void TKorvaneTextureBitmap::BitmapChanged()
{
    if (FSetupCount > 0 && FTexture) {
        // The buffer is sized when the bracket closes; the texture is filled then.
        FTextureUpdatePending = true;
        TBitmap::BitmapChanged();
        return;
    }
    TTextureBitmap::BitmapChanged();
}

void TKorvaneTextureBitmap::AllocateBuffer()
{
    const int64_t componentSize = TextureDataTypeSize(FDataType);
    if (FKind == TKorvaneTextureKind::Texture3D || FKind == TKorvaneTextureKind::Array2D) {
        FreeBuffer();
        return;
    }
    const int64_t size = componentSize * Width() * Height() * PixelFormatExBytes[static_cast<int>(FFormat)];
    if (size == int64_t(4) * Width() * Height()) {
        // The bitmap's own 32-bit image holds the pixels.
        FreeBuffer();
        return;
    }
    if (FBuffer && FBuffer->Size == size) return;
    FreeBuffer();
    auto buffer = std::make_shared<TKorvanePixelBuffer>();
    buffer->Data = std::make_unique<uint8_t[]>(static_cast<size_t>(size));
    buffer->Size = size;
    FBuffer = std::move(buffer);
    ShareBufferWithTexture();
}

void TKorvaneTextureBitmap::FreeBuffer()
{
    // Textures that shared the block see no buffer from now on.
    FBuffer.reset();
    ShareBufferWithTexture();
}

void TKorvaneTextureBitmap::ShareBufferWithTexture()
{
    if (auto* texture = dynamic_cast<TKorvaneTexture*>(FTexture.get())) texture->SetBufferRef(FBuffer);
}

void TKorvaneTextureBitmap::SetKind(TKorvaneTextureKind AValue) { FKind = AValue; }

void TKorvaneTextureBitmap::SetFormat(TPixelFormatEx AValue)
{
    switch (AValue) {
    case PF::RGB:
    case PF::RGBA:
    case PF::BGR:
    case PF::BGRA:
    case PF::L:
    case PF::LA:
    case PF::Alpha:
    case PF::R:
    case PF::RedInteger:
    case PF::RG:
    case PF::RGInteger:
    case PF::RGBInteger:
    case PF::RGBAInteger:
    case PF::StencilIndex:
    case PF::Depth:
    case PF::DepthStencil: break;
    default: throw Exception("invalid texture format");
    }
    FFormat = AValue;
    SetPixelFormat(static_cast<TPixelFormat>(static_cast<uint8_t>(AValue)));
}

void TKorvaneTextureBitmap::SetComponents(TPixelFormatEx AValue)
{
    std::lock_guard<TMonitor> lock(Monitor());
    FComponents = AValue;
}

void TKorvaneTextureBitmap::SetDataType(TKorvaneTextureDataType AValue)
{
    std::lock_guard<TMonitor> lock(Monitor());
    FDataType = AValue;
}

void TKorvaneTextureBitmap::SetAttachedCubeMapFace(TKorvaneCubeMapFace AValue)
{
    std::lock_guard<TMonitor> lock(Monitor());
    FAttachedCubeMapFace = AValue;
    KorvaneTexture()->AttachedCubeMapFace = AValue;
}

TKorvaneTexture* TKorvaneTextureBitmap::GetKorvaneTexture()
{
    auto* texture = dynamic_cast<TKorvaneTexture*>(Texture());
    if (!texture) throw EInvalidCast();
    return texture;
}

void TKorvaneTextureBitmap::SetPixelFormat(TPixelFormat AValue)
{
    ReleaseImage();
    RecreateImage(AValue);
}

void TKorvaneTextureBitmap::RecreateImage(TPixelFormat APixelFormat)
{
    SetImagePixelFormat(APixelFormat);
    CreateImageHandle(APixelFormat);
    SetImagePixelFormat(APixelFormat);
}

void TKorvaneTextureBitmap::ReleaseImage() { ReleaseImageHandle(); }

void TKorvaneTextureBitmap::Set3DSize(int AWidth, int AHeight, int ADepth)
{
    {
        std::lock_guard<TMonitor> lock(Monitor());
        Depth = ADepth;
    }
    SetSize(AWidth, AHeight);
}

void TKorvaneTextureBitmap::GetFormatAndType(const TTexture* ATexture, uint32_t& AComps, uint32_t& AFormat,
                                             uint32_t& ADataType)
{
    if (const auto* texture = dynamic_cast<const TKorvaneTexture*>(ATexture)) {
        texture->GetFormatAndType(AComps, AFormat, ADataType);
        return;
    }
    AComps = static_cast<uint32_t>(TPixelFormatExHelper::ToValue(PF::RGBA8));
    AFormat = static_cast<uint32_t>(TPixelFormatExHelper::ToValue(PF::BGRA));
    ADataType = static_cast<uint32_t>(TKorvaneTextureDataTypeHelper::ToValue(DT::dtUnsignedByte));
}

TTexture* TKorvaneTextureBitmap::TextureReference() const
{
    if (!FTexture || FTexture->Handle() != 0) return FTexture.get();
    return nullptr;
}

void TKorvaneTextureBitmap::SetTextureReference(TTexture* AValue)
{
    std::lock_guard<TMonitor> lock(Monitor());
    DestroyResources();
    // While the canvas is in a scene DestroyResources keeps the texture, which
    // may still be drawn: it is let go, not freed.
    static_cast<void>(FTexture.release());
    FTexture.reset(AValue);
    ShareBufferWithTexture();
}

void TKorvaneTextureBitmap::UnsetTextureReference()
{
    std::lock_guard<TMonitor> lock(Monitor());
    DestroyResources();
    static_cast<void>(FTexture.release());
}

void TKorvaneTextureBitmap::UpdateCubeMapFace(TKorvaneCubeMapFace ASide, TBitmap* ATexture)
{
    if (FKind != TKorvaneTextureKind::CubeMap || !ATexture) return;
    auto* face = dynamic_cast<TTextureBitmap*>(ATexture);
    if (!face) return;
    if (auto* korvane = dynamic_cast<TKorvaneTextureBitmap*>(face); korvane && korvane->Buffer()) {
        UpdateCubeMapFace(ASide, korvane->KorvaneTexture(), nullptr, 0);
        return;
    }
    TBitmapData data;
    if (!face->Map(TMapAccess::Read, data)) return;
    try {
        UpdateCubeMapFace(ASide, face->Texture(), data.Data, data.Pitch);
    } catch (...) {
        face->Unmap(data);
        throw;
    }
    face->Unmap(data);
}

void TKorvaneTextureBitmap::Recompress() { std::lock_guard<TMonitor> lock(Monitor()); }
void TKorvaneTextureBitmap::Decompress() { std::lock_guard<TMonitor> lock(Monitor()); }

void TKorvaneTextureBitmap::Assign(const TPersistent* Source)
{
    if (Source == this) return;
    FStates.Include(TKorvaneTextureBitmapState::bsUpdating);
    try {
        if (const auto* b = dynamic_cast<const TKorvaneTextureBitmap*>(Source)) {
            FKind = b->FKind;
            if (!ProtectFormatSettings) {
                FComponents = b->FComponents;
                FFormat = b->FFormat;
                FDataType = b->FDataType;
            }
            MinFilter = b->MinFilter;
            MagFilter = b->MagFilter;
            WrapS = b->WrapS;
            WrapT = b->WrapT;
            WrapR = b->WrapR;
            BorderColor = b->BorderColor;
            Depth = b->Depth;
            FAttachedCubeMapFace = b->FAttachedCubeMapFace;
            Style = b->Style;
            MipMapLevels = b->MipMapLevels;
        } else if (dynamic_cast<const TTextureBitmap*>(Source)) {
            // a platform texture bitmap carries no extended settings
        } else if (const auto* t = dynamic_cast<const TKorvaneTexture*>(Source)) {
            FKind = t->Kind;
            if (!ProtectFormatSettings) {
                FComponents = t->Components;
                FFormat = t->Format();
                FDataType = t->DataType;
            }
            MinFilter = t->MinFilter();
            MagFilter = t->MagFilter();
            WrapS = t->WrapS;
            WrapT = t->WrapT;
            WrapR = t->WrapR;
            BorderColor = t->BorderColor;
            Depth = t->Depth;
            FAttachedCubeMapFace = t->AttachedCubeMapFace;
            Style = t->Style();
            MipMapLevels = t->MipMapLevels;
        } else if (const auto* t2 = dynamic_cast<const TTexture*>(Source)) {
            Style = t2->Style();
        }
        TTextureBitmap::Assign(Source);
    } catch (...) {
        FStates.Exclude(TKorvaneTextureBitmapState::bsUpdating);
        throw;
    }
    FStates.Exclude(TKorvaneTextureBitmapState::bsUpdating);
}

void TKorvaneTextureBitmap::DestroyResources()
{
    const TCanvas* canvas = CanvasIfAllocated();
    if (FStates.Contains(TKorvaneTextureBitmapState::bsDestroying) || !canvas || canvas->BeginSceneCount() == 0)
        TTextureBitmap::DestroyResources();
}

} // namespace korvane
