#include "Korvane.Imaging.Formats.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>
#include <unordered_map>
#include <utility>

#include "Korvane.Imaging.h"
#include "Korvane.Imaging.Utility.h"

namespace korvane {

namespace {

// ---- Memory access ---------------------------------------------------------

template <typename T>
inline T Load(const uint8_t* APtr)
{
    T value;
    std::memcpy(&value, APtr, sizeof(T));
    return value;
}

template <typename T>
inline void Store(uint8_t* APtr, T AValue)
{
    std::memcpy(APtr, &AValue, sizeof(T));
}

// The luminance weights and scale factors of the pixel formulas, in single precision.
constexpr float LumaR = 0.299f;
constexpr float LumaG = 0.587f;
constexpr float LumaB = 0.114f;
constexpr float Inv255 = 1.0f / 255.0f;
constexpr float Inv65535 = 1.0f / 65535.0f;

inline float Luma(float AR, float AG, float AB) { return LumaR * AR + LumaG * AG + LumaB * AB; }

inline uint32_t MakeColor32(uint32_t AA, uint32_t AR, uint32_t AG, uint32_t AB)
{
    return (AA << 24) | (AR << 16) | (AG << 8) | AB;
}

inline uint16_t Widen8(uint32_t AByte) { return uint16_t(AByte * 65535 / 255); }
inline uint8_t Narrow16(uint32_t AWord) { return uint8_t(AWord * 255 / 65535); }

// ---- The table -----------------------------------------------------------------

TBitFieldLayout GBitFields[7];
TImageFormatDescriptor GDescriptors[33];
const TImageFormatDescriptor* GFormatTable[MaxImageFormatId + 1];

TBitFieldLayout MakeBitFields(int AA, int AR, int AG, int AB)
{
    TBitFieldLayout l;
    l.ABits = uint8_t(AA);
    l.RBits = uint8_t(AR);
    l.GBits = uint8_t(AG);
    l.BBits = uint8_t(AB);
    l.AMask = ((1u << AA) - 1) << (AR + AG + AB);
    l.RMask = ((1u << AR) - 1) << (AG + AB);
    l.GMask = ((1u << AG) - 1) << AB;
    l.BMask = (1u << AB) - 1;
    l.AShift = uint8_t(AR + AG + AB);
    l.RShift = uint8_t(AG + AB);
    l.GShift = uint8_t(AB);
    l.BShift = 0;
    auto max = [](int bits) { return uint8_t(bits == 0 ? 1 : (1 << bits) - 1); };
    l.AMax = max(AA);
    l.RMax = max(AR);
    l.GMax = max(AG);
    l.BMax = max(AB);
    return l;
}

int64_t PlainDataSize(TImageFormat AFormat, int32_t AWidth, int32_t AHeight)
{
    const TImageFormatDescriptor* info = FindPixelFormatInfo(AFormat);
    if (!info || AWidth < 0 || AHeight < 0) return -1;
    // At most 2^62 pixels of at most 16 bytes: checked, not assumed.
    int64_t size;
    if (__builtin_mul_overflow(int64_t(AWidth) * AHeight, int64_t(info->BytesPerPixel), &size)) return -1;
    return size;
}

void PlainAdjustSize(TImageFormat, int32_t&, int32_t&) {}

int64_t RoundUp4(int32_t AValue) { return (int64_t(AValue) + 3) / 4 * 4; }

int64_t BlockDataSize(TImageFormat AFormat, int32_t AWidth, int32_t AHeight)
{
    if (AWidth < 0 || AHeight < 0) return -1;
    const int64_t blocks = RoundUp4(AWidth) / 4 * (RoundUp4(AHeight) / 4);
    switch (AFormat) {
    case ifDXT1:
    case ifATI1N: return blocks * 8;
    case ifDXT3:
    case ifDXT5:
    case ifATI2N: return blocks * 16;
    case ifBTC: return blocks * 4;
    default: return -1;
    }
}

void BlockAdjustSize(TImageFormat, int32_t& AWidth, int32_t& AHeight)
{
    // Rounded up in 64 bits and kept at the largest multiple of 4 that fits.
    AWidth = int32_t(std::min<int64_t>(RoundUp4(AWidth), INT32_MAX - 3));
    AHeight = int32_t(std::min<int64_t>(RoundUp4(AHeight), INT32_MAX - 3));
}

// ---- Index pixels ------------------------------------------------------------------

inline uint32_t IndexGetSrcPixel(const uint8_t* APixel, int32_t ABytes)
{
    switch (ABytes) {
    case 1: return APixel[0];
    case 2: return Load<uint16_t>(APixel);
    default: return Load<uint32_t>(APixel);
    }
}

inline void IndexSetDstPixel(uint8_t* APixel, int32_t ABytes, uint32_t AIndex)
{
    switch (ABytes) {
    case 1: APixel[0] = uint8_t(AIndex); break;
    case 2: Store<uint16_t>(APixel, uint16_t(AIndex)); break;
    default: Store<uint32_t>(APixel, AIndex); break;
    }
}

// The palette entry of an index; an index beyond the palette reads as transparent black.
inline TColor32Rec PaletteEntry(const TColor32Rec* APalette, const TImageFormatDescriptor& AInfo, uint32_t AIndex)
{
    if (!APalette || AIndex >= uint32_t(AInfo.PaletteSize)) return TColor32Rec{.Color = 0};
    return APalette[AIndex];
}

inline uint32_t NearestPaletteIndex(const TColor32Rec* APalette, const TImageFormatDescriptor& AInfo, uint32_t AColor)
{
    if (!APalette) return 0;
    return uint32_t(std::max(0, FindPaletteColor(APalette, AInfo.PaletteSize, AColor)));
}

// ---- Pixel routines: the general family ----------------------------------------

uint32_t GeneralRead32(const uint8_t* APixel, const TImageFormatDescriptor* AInfo, const TColor32Rec* APalette)
{
    const TImageFormatDescriptor& info = *AInfo;
    if (info.FormatId == ifA8R8G8B8) return Load<uint32_t>(APixel);
    if (info.FormatId == ifR8G8B8) return MakeColor32(255, APixel[2], APixel[1], APixel[0]);
    if (info.IsIndexed) return PaletteEntry(APalette, info, IndexGetSrcPixel(APixel, info.BytesPerPixel)).Color;
    if (info.IsGray) {
        uint64_t gray;
        uint16_t alpha;
        GrayGetSrcPixel(APixel, info, gray, alpha);
        const uint32_t g = Narrow16(uint32_t(gray >> 48));
        return MakeColor32(Narrow16(alpha), g, g, g);
    }
    if (info.IsFloat) {
        const TColorFPRec c = FloatGetSrcPixel(APixel, info);
        return MakeColor32(ClampToByte(c.A * 255), ClampToByte(c.R * 255), ClampToByte(c.G * 255),
                           ClampToByte(c.B * 255));
    }
    const TColor64Rec c = ChannelGetSrcPixel(APixel, info);
    return MakeColor32(Narrow16(c.A), Narrow16(c.R), Narrow16(c.G), Narrow16(c.B));
}

TColorFPRec GeneralReadFP(const uint8_t* APixel, const TImageFormatDescriptor* AInfo, const TColor32Rec* APalette)
{
    const TImageFormatDescriptor& info = *AInfo;
    if (info.IsFloat) return FloatGetSrcPixel(APixel, info);
    if (info.IsGray) {
        uint64_t gray;
        uint16_t alpha;
        GrayGetSrcPixel(APixel, info, gray, alpha);
        const float g = float(gray >> 48) * Inv65535;
        return {g, g, g, float(alpha) * Inv65535};
    }
    if (info.IsIndexed) {
        const TColor32Rec e = PaletteEntry(APalette, info, IndexGetSrcPixel(APixel, info.BytesPerPixel));
        return {e.B * Inv255, e.G * Inv255, e.R * Inv255, e.A * Inv255};
    }
    const TColor64Rec c = ChannelGetSrcPixel(APixel, info);
    return {c.B * Inv65535, c.G * Inv65535, c.R * Inv65535, c.A * Inv65535};
}

void GeneralWrite32(uint8_t* APixel, const TImageFormatDescriptor* AInfo, const TColor32Rec* APalette,
                    uint32_t AColor)
{
    const TImageFormatDescriptor& info = *AInfo;
    const TColor32Rec c{.Color = AColor};
    if (info.FormatId == ifA8R8G8B8) {
        Store<uint32_t>(APixel, AColor);
    } else if (info.FormatId == ifR8G8B8) {
        std::memcpy(APixel, &c, 3);
    } else if (info.IsFloat) {
        FloatSetDstPixel(APixel, info, {c.B * Inv255, c.G * Inv255, c.R * Inv255, c.A * Inv255});
    } else if (info.IsGray) {
        const uint32_t gray8 = uint32_t(ClampInt(RoundInt(Luma(c.R, c.G, c.B)), 0, 255));
        GraySetDstPixel(APixel, info, uint64_t(gray8 * 65535 / 255) << 48, uint16_t(c.A * 65535 / 255));
    } else if (info.IsIndexed) {
        IndexSetDstPixel(APixel, info.BytesPerPixel, NearestPaletteIndex(APalette, info, AColor));
    } else {
        ChannelSetDstPixel(APixel, info, {Widen8(c.B), Widen8(c.G), Widen8(c.R), Widen8(c.A)});
    }
}

void GeneralWriteFP(uint8_t* APixel, const TImageFormatDescriptor* AInfo, const TColor32Rec* APalette,
                    const TColorFPRec& AColor)
{
    const TImageFormatDescriptor& info = *AInfo;
    if (info.IsFloat) {
        FloatSetDstPixel(APixel, info, AColor);
    } else if (info.IsGray) {
        GraySetDstPixel(APixel, info, uint64_t(ClampToWord(Luma(AColor.R, AColor.G, AColor.B) * 65535)) << 48,
                        ClampToWord(AColor.A * 65535));
    } else if (info.IsIndexed) {
        const uint32_t color = MakeColor32(ClampToByte(AColor.A * 255), ClampToByte(AColor.R * 255),
                                           ClampToByte(AColor.G * 255), ClampToByte(AColor.B * 255));
        IndexSetDstPixel(APixel, info.BytesPerPixel, NearestPaletteIndex(APalette, info, color));
    } else {
        ChannelSetDstPixel(APixel, info,
                           {ClampToWord(AColor.B * 65535), ClampToWord(AColor.G * 65535), ClampToWord(AColor.R * 65535),
                            ClampToWord(AColor.A * 65535)});
    }
}

// ---- Pixel routines: A8R8G8B8 ------------------------------------------------------

uint32_t ARGB8Read32(const uint8_t* APixel, const TImageFormatDescriptor*, const TColor32Rec*)
{
    return Load<uint32_t>(APixel);
}

TColorFPRec ARGB8ReadFP(const uint8_t* APixel, const TImageFormatDescriptor*, const TColor32Rec*)
{
    return {APixel[0] * Inv255, APixel[1] * Inv255, APixel[2] * Inv255, APixel[3] * Inv255};
}

void ARGB8Write32(uint8_t* APixel, const TImageFormatDescriptor*, const TColor32Rec*, uint32_t AColor)
{
    Store<uint32_t>(APixel, AColor);
}

void ARGB8WriteFP(uint8_t* APixel, const TImageFormatDescriptor*, const TColor32Rec*, const TColorFPRec& AColor)
{
    APixel[0] = ClampToByte(AColor.B * 255);
    APixel[1] = ClampToByte(AColor.G * 255);
    APixel[2] = ClampToByte(AColor.R * 255);
    APixel[3] = ClampToByte(AColor.A * 255);
}

// ---- Pixel routines: 8-bit channels (Gray8, A8Gray8, R8G8B8, X8R8G8B8) --------------

uint32_t Channel8Read32(const uint8_t* APixel, const TImageFormatDescriptor* AInfo, const TColor32Rec*)
{
    if (AInfo->IsGray) return ((AInfo->HasAlpha ? uint32_t(APixel[1]) : 255u) << 24) + APixel[0] * 0x010101u;
    return 0xFF000000u | MakeColor32(0, APixel[2], APixel[1], APixel[0]);
}

TColorFPRec Channel8ReadFP(const uint8_t* APixel, const TImageFormatDescriptor* AInfo, const TColor32Rec*)
{
    if (AInfo->IsGray) {
        const float g = APixel[0] * Inv255;
        return {g, g, g, AInfo->HasAlpha ? APixel[1] * Inv255 : 1.0f};
    }
    return {APixel[0] * Inv255, APixel[1] * Inv255, APixel[2] * Inv255, 1.0f};
}

void Channel8Write32(uint8_t* APixel, const TImageFormatDescriptor* AInfo, const TColor32Rec*, uint32_t AColor)
{
    const TColor32Rec c{.Color = AColor};
    if (AInfo->IsGray) {
        if (AInfo->HasAlpha) APixel[1] = c.A;
        APixel[0] = uint8_t(ClampInt(RoundInt(Luma(c.R, c.G, c.B)), 0, 255));
    } else {
        std::memcpy(APixel, &c, 3);
    }
}

void Channel8WriteFP(uint8_t* APixel, const TImageFormatDescriptor* AInfo, const TColor32Rec*,
                     const TColorFPRec& AColor)
{
    if (AInfo->IsGray) {
        if (AInfo->HasAlpha) APixel[1] = ClampToByte(AColor.A * 255);
        APixel[0] = ClampToByte(Luma(AColor.R, AColor.G, AColor.B) * 255);
    } else {
        APixel[0] = ClampToByte(AColor.B * 255);
        APixel[1] = ClampToByte(AColor.G * 255);
        APixel[2] = ClampToByte(AColor.R * 255);
    }
}

// ---- Pixel routines: 32-bit floats -------------------------------------------------

TColorFPRec Float32ReadFP(const uint8_t* APixel, const TImageFormatDescriptor* AInfo, const TColor32Rec*)
{
    return FloatGetSrcPixel(APixel, *AInfo);
}

void Float32WriteFP(uint8_t* APixel, const TImageFormatDescriptor* AInfo, const TColor32Rec*,
                    const TColorFPRec& AColor)
{
    FloatSetDstPixel(APixel, *AInfo, AColor);
}

enum class TAccess { General, Channel8, ARGB8, Float32, None };

// Flags of the format table.
enum : uint32_t { fG = 1, fA = 2, fF = 4, fB = 8, fS = 16, fI = 32, fC = 64 };

struct TFormatRow {
    TImageFormat Id;
    const char* Name;
    int32_t Bpp;
    int32_t Channels;
    int32_t Palette;
    uint32_t Flags;
    TImageFormat Partner;
    TImageFormat Decoded;
    TAccess Access;
    int BitFields; // index into GBitFields or -1
};

// Bit-field layouts in their order of construction.
enum { bfR3G3B2, bfX5R1G1B1, bfR5G6B5, bfA1R5G5B5, bfA4R4G4B4, bfX1R5G5B5, bfX4R4G4B4 };

constexpr TFormatRow FormatRows[33] = {
    {ifIndex8, "Index8", 1, 1, 256, fA | fI, 0, 0, TAccess::General, -1},
    {ifGray8, "Gray8", 1, 1, 0, fG, 0, 0, TAccess::Channel8, -1},
    {ifA8Gray8, "A8Gray8", 2, 2, 0, fG | fA, 0, 0, TAccess::Channel8, -1},
    {ifGray16, "Gray16", 2, 1, 0, fG, 0, 0, TAccess::General, -1},
    {ifGray32, "Gray32", 4, 1, 0, fG, 0, 0, TAccess::General, -1},
    {ifGray64, "Gray64", 8, 1, 0, fG, 0, 0, TAccess::General, -1},
    {ifA16Gray16, "A16Gray16", 4, 2, 0, fG | fA, 0, 0, TAccess::General, -1},
    {ifX5R1G1B1, "X5R1G1B1", 1, 3, 0, fB, 0, 0, TAccess::General, bfX5R1G1B1},
    {ifR3G3B2, "R3G3B2", 1, 3, 0, fB, 0, 0, TAccess::General, bfR3G3B2},
    {ifR5G6B5, "R5G6B5", 2, 3, 0, fB, 0, 0, TAccess::General, bfR5G6B5},
    {ifA1R5G5B5, "A1R5G5B5", 2, 4, 0, fA | fB, 0, 0, TAccess::General, bfA1R5G5B5},
    {ifA4R4G4B4, "A4R4G4B4", 2, 4, 0, fA | fB, 0, 0, TAccess::General, bfA4R4G4B4},
    {ifX1R5G5B5, "X1R5G5B5", 2, 3, 0, fB, 0, 0, TAccess::General, bfX1R5G5B5},
    {ifX4R4G4B4, "X4R4G4B4", 2, 3, 0, fB, 0, 0, TAccess::General, bfX4R4G4B4},
    {ifR8G8B8, "R8G8B8", 3, 3, 0, 0, 0, 0, TAccess::Channel8, -1},
    {ifA8R8G8B8, "A8R8G8B8", 4, 4, 0, fA, 0, 0, TAccess::ARGB8, -1},
    {ifX8R8G8B8, "X8R8G8B8", 4, 3, 0, 0, 0, 0, TAccess::Channel8, -1},
    {ifR16G16B16, "R16G16B16", 6, 3, 0, 0, ifB16G16R16, 0, TAccess::General, -1},
    {ifA16R16G16B16, "A16R16G16B16", 8, 4, 0, fA, ifA16B16G16R16, 0, TAccess::General, -1},
    {ifB16G16R16, "B16G16R16", 6, 3, 0, fS, ifR16G16B16, 0, TAccess::General, -1},
    {ifA16B16G16R16, "A16B16G16R16", 8, 4, 0, fA | fS, ifA16R16G16B16, 0, TAccess::General, -1},
    {ifR32F, "R32F", 4, 1, 0, fF, 0, 0, TAccess::Float32, -1},
    {ifA32R32G32B32F, "A32R32G32B32F", 16, 4, 0, fA | fF, ifA32B32G32R32F, 0, TAccess::Float32, -1},
    {ifA32B32G32R32F, "A32B32G32R32F", 16, 4, 0, fA | fF | fS, ifA32R32G32B32F, 0, TAccess::Float32, -1},
    {ifR16F, "R16F", 2, 1, 0, fF, 0, 0, TAccess::General, -1},
    {ifA16R16G16B16F, "A16R16G16B16F", 8, 4, 0, fA | fF, ifA16B16G16R16F, 0, TAccess::General, -1},
    {ifA16B16G16R16F, "A16B16G16R16F", 8, 4, 0, fA | fF | fS, ifA16R16G16B16F, 0, TAccess::General, -1},
    {ifDXT1, "DXT1", 0, 4, 0, fA | fC, 0, ifA8R8G8B8, TAccess::None, -1},
    {ifDXT3, "DXT3", 0, 4, 0, fA | fC, 0, ifA8R8G8B8, TAccess::None, -1},
    {ifDXT5, "DXT5", 0, 4, 0, fA | fC, 0, ifA8R8G8B8, TAccess::None, -1},
    {ifBTC, "BTC", 0, 1, 0, fC, 0, ifGray8, TAccess::None, -1},
    {ifATI1N, "ATI1N", 0, 1, 0, fC, 0, ifGray8, TAccess::None, -1},
    {ifATI2N, "ATI2N", 0, 2, 0, fC, 0, ifA8R8G8B8, TAccess::None, -1},
};

} // namespace

void InitPixelFormatTable()
{
    GBitFields[bfR3G3B2] = MakeBitFields(0, 3, 3, 2);
    GBitFields[bfX5R1G1B1] = MakeBitFields(0, 1, 1, 1);
    GBitFields[bfR5G6B5] = MakeBitFields(0, 5, 6, 5);
    GBitFields[bfA1R5G5B5] = MakeBitFields(1, 5, 5, 5);
    GBitFields[bfA4R4G4B4] = MakeBitFields(4, 4, 4, 4);
    GBitFields[bfX1R5G5B5] = MakeBitFields(0, 5, 5, 5);
    GBitFields[bfX4R4G4B4] = MakeBitFields(0, 4, 4, 4);

    std::fill(std::begin(GFormatTable), std::end(GFormatTable), nullptr);
    for (int i = 0; i < 33; ++i) {
        const TFormatRow& row = FormatRows[i];
        TImageFormatDescriptor& d = GDescriptors[i];
        d = TImageFormatDescriptor{};
        d.FormatId = row.Id;
        d.Name = row.Name;
        d.BytesPerPixel = row.Bpp;
        d.ChannelCount = row.Channels;
        d.PaletteSize = row.Palette;
        d.IsGray = row.Flags & fG;
        d.HasAlpha = row.Flags & fA;
        d.IsFloat = row.Flags & fF;
        d.HasBitFields = row.Flags & fB;
        d.IsSwappedRB = row.Flags & fS;
        d.SwapPartner = row.Partner;
        d.IsIndexed = row.Flags & fI;
        d.IsBlockCompressed = row.Flags & fC;
        d.BitFields = row.BitFields >= 0 ? &GBitFields[row.BitFields] : nullptr;
        d.DecodedFormat = row.Decoded;
        if (d.IsBlockCompressed) {
            d.DataSizeFunc = BlockDataSize;
            d.AdjustSizeFunc = BlockAdjustSize;
        } else {
            d.DataSizeFunc = PlainDataSize;
            d.AdjustSizeFunc = PlainAdjustSize;
        }
        switch (row.Access) {
        case TAccess::General:
            d.ReadPixel32Func = GeneralRead32;
            d.ReadPixelFPFunc = GeneralReadFP;
            d.WritePixel32Func = GeneralWrite32;
            d.WritePixelFPFunc = GeneralWriteFP;
            break;
        case TAccess::Channel8:
            d.ReadPixel32Func = Channel8Read32;
            d.ReadPixelFPFunc = Channel8ReadFP;
            d.WritePixel32Func = Channel8Write32;
            d.WritePixelFPFunc = Channel8WriteFP;
            break;
        case TAccess::ARGB8:
            d.ReadPixel32Func = ARGB8Read32;
            d.ReadPixelFPFunc = ARGB8ReadFP;
            d.WritePixel32Func = ARGB8Write32;
            d.WritePixelFPFunc = ARGB8WriteFP;
            break;
        case TAccess::Float32:
            d.ReadPixel32Func = GeneralRead32;
            d.ReadPixelFPFunc = Float32ReadFP;
            d.WritePixel32Func = GeneralWrite32;
            d.WritePixelFPFunc = Float32WriteFP;
            break;
        case TAccess::None: break;
        }
        GFormatTable[row.Id] = &d;
    }
    GFormatTable[ifDefault] = GFormatTable[ifA8R8G8B8];
}

const TImageFormatDescriptor* FindPixelFormatInfo(TImageFormat AFormat)
{
    if (AFormat < 0 || AFormat > MaxImageFormatId) return nullptr;
    return GFormatTable[AFormat];
}

bool GetPixelFormatInfo(TImageFormat AFormat, TImageFormatDescriptor& AInfo)
{
    const TImageFormatDescriptor* info = FindPixelFormatInfo(AFormat);
    AInfo = info ? *info : TImageFormatDescriptor{.Name = nullptr};
    return info != nullptr;
}

std::string GetPixelFormatName(TImageFormat AFormat)
{
    const TImageFormatDescriptor* info = FindPixelFormatInfo(AFormat);
    return info ? std::string(info->Name) : std::string("Unknown and unsupported format");
}

bool IsImageFormatValid(TImageFormat AFormat) { return FindPixelFormatInfo(AFormat) != nullptr; }

bool IsImageDataValid(const TImageData& AImage)
{
    const TImageFormatDescriptor* info = FindPixelFormatInfo(AImage.Format);
    if (!info || AImage.Width < 0 || AImage.Height < 0 || AImage.Size < 0) return false;
    const int64_t size = info->DataSizeFunc(AImage.Format, AImage.Width, AImage.Height);
    if (size < 0 || size != AImage.Size) return false;
    // The size alone does not make the memory: without it every operation would
    // read through a null pointer.
    if (AImage.Size > 0 && !AImage.Bits) return false;
    if (info->PaletteSize > 0 && !AImage.Palette) return false;
    return true;
}

// ---- Class readers and writers ---------------------------------------------------

TColor64Rec ChannelGetSrcPixel(const uint8_t* APixel, const TImageFormatDescriptor& AInfo)
{
    TColor64Rec c;
    if (AInfo.HasBitFields) {
        const uint32_t px = AInfo.BytesPerPixel == 1 ? APixel[0] : Load<uint16_t>(APixel);
        const TBitFieldLayout& l = *AInfo.BitFields;
        c.A = uint16_t((((px & l.AMask) >> l.AShift) * 255 / l.AMax) << 8);
        c.R = uint16_t((((px & l.RMask) >> l.RShift) * 255 / l.RMax) << 8);
        c.G = uint16_t((((px & l.GMask) >> l.GShift) * 255 / l.GMax) << 8);
        c.B = uint16_t((((px & l.BMask) >> l.BShift) * 255 / l.BMax) << 8);
    } else {
        switch (AInfo.BytesPerPixel) {
        case 3:
        case 4:
            c.B = Widen8(APixel[0]);
            c.G = Widen8(APixel[1]);
            c.R = Widen8(APixel[2]);
            if (AInfo.BytesPerPixel == 4) c.A = Widen8(APixel[3]);
            break;
        case 6:
        case 8: std::memcpy(&c, APixel, size_t(AInfo.BytesPerPixel)); break;
        default: break;
        }
    }
    if (!AInfo.HasAlpha) c.A = 65535;
    if (AInfo.IsSwappedRB) std::swap(c.R, c.B);
    return c;
}

void ChannelSetDstPixel(uint8_t* APixel, const TImageFormatDescriptor& AInfo, TColor64Rec AColor)
{
    if (AInfo.IsSwappedRB) std::swap(AColor.R, AColor.B);
    if (AInfo.HasBitFields) {
        const TBitFieldLayout& l = *AInfo.BitFields;
        auto field = [](uint16_t c16, uint8_t bits, uint8_t shift) {
            return (((uint32_t(c16 >> 8)) << bits) >> 8) << shift;
        };
        const uint32_t px = field(AColor.A, l.ABits, l.AShift) | field(AColor.R, l.RBits, l.RShift) |
                            field(AColor.G, l.GBits, l.GShift) | field(AColor.B, l.BBits, l.BShift);
        if (AInfo.BytesPerPixel == 1) APixel[0] = uint8_t(px);
        else Store<uint16_t>(APixel, uint16_t(px));
        return;
    }
    switch (AInfo.BytesPerPixel) {
    case 3:
    case 4:
        APixel[0] = Narrow16(AColor.B);
        APixel[1] = Narrow16(AColor.G);
        APixel[2] = Narrow16(AColor.R);
        if (AInfo.BytesPerPixel == 4) APixel[3] = Narrow16(AColor.A);
        break;
    case 6:
    case 8: std::memcpy(APixel, &AColor, size_t(AInfo.BytesPerPixel)); break;
    default: break;
    }
}

void GrayGetSrcPixel(const uint8_t* APixel, const TImageFormatDescriptor& AInfo, uint64_t& AGray, uint16_t& AAlpha)
{
    AAlpha = 65535;
    switch (AInfo.BytesPerPixel) {
    case 1: AGray = uint64_t(Widen8(APixel[0])) << 48; break;
    case 2:
        if (AInfo.HasAlpha) {
            AGray = uint64_t(Widen8(APixel[0])) << 48;
            AAlpha = Widen8(APixel[1]);
        } else {
            AGray = uint64_t(Load<uint16_t>(APixel)) << 48;
        }
        break;
    case 4:
        if (AInfo.HasAlpha) {
            AGray = uint64_t(Load<uint16_t>(APixel)) << 48;
            AAlpha = Load<uint16_t>(APixel + 2);
        } else {
            AGray = uint64_t(Load<uint32_t>(APixel)) << 32;
        }
        break;
    case 8: AGray = Load<uint64_t>(APixel); break;
    default: AGray = 0; break;
    }
    if (!AInfo.HasAlpha) AAlpha = 65535;
}

void GraySetDstPixel(uint8_t* APixel, const TImageFormatDescriptor& AInfo, uint64_t AGray, uint16_t AAlpha)
{
    const uint16_t gray16 = uint16_t(AGray >> 48);
    switch (AInfo.BytesPerPixel) {
    case 1: APixel[0] = Narrow16(gray16); break;
    case 2:
        if (AInfo.HasAlpha) {
            APixel[0] = Narrow16(gray16);
            APixel[1] = Narrow16(AAlpha);
        } else {
            Store<uint16_t>(APixel, gray16);
        }
        break;
    case 4:
        if (AInfo.HasAlpha) {
            Store<uint16_t>(APixel, gray16);
            Store<uint16_t>(APixel + 2, AAlpha);
        } else {
            Store<uint32_t>(APixel, uint32_t(AGray >> 32));
        }
        break;
    case 8: Store<uint64_t>(APixel, AGray); break;
    default: break;
    }
}

TColorFPRec FloatGetSrcPixel(const uint8_t* APixel, const TImageFormatDescriptor& AInfo)
{
    TColorFPRec c;
    switch (AInfo.BytesPerPixel) {
    case 4: c.R = Load<float>(APixel); break;
    case 16: std::memcpy(&c, APixel, 16); break;
    case 2: c.R = HalfToFloat(Load<uint16_t>(APixel)); break;
    case 8:
        c.B = HalfToFloat(Load<uint16_t>(APixel));
        c.G = HalfToFloat(Load<uint16_t>(APixel + 2));
        c.R = HalfToFloat(Load<uint16_t>(APixel + 4));
        c.A = HalfToFloat(Load<uint16_t>(APixel + 6));
        break;
    default: break;
    }
    if (!AInfo.HasAlpha) c.A = 1.0f;
    if (AInfo.IsSwappedRB) std::swap(c.R, c.B);
    return c;
}

void FloatSetDstPixel(uint8_t* APixel, const TImageFormatDescriptor& AInfo, TColorFPRec AColor)
{
    if (AInfo.IsSwappedRB) std::swap(AColor.R, AColor.B);
    switch (AInfo.BytesPerPixel) {
    case 4: Store<float>(APixel, AColor.R); break;
    case 16: std::memcpy(APixel, &AColor, 16); break;
    case 2: Store<uint16_t>(APixel, FloatToHalf(AColor.R)); break;
    case 8:
        Store<uint16_t>(APixel, FloatToHalf(AColor.B));
        Store<uint16_t>(APixel + 2, FloatToHalf(AColor.G));
        Store<uint16_t>(APixel + 4, FloatToHalf(AColor.R));
        Store<uint16_t>(APixel + 6, FloatToHalf(AColor.A));
        break;
    default: break;
    }
}

// ---- Conversion ------------------------------------------------------------------

namespace {

enum class TFormatClass { Indexed, Gray, Float, Channel };

TFormatClass ClassOf(const TImageFormatDescriptor& AInfo)
{
    if (AInfo.IsIndexed) return TFormatClass::Indexed;
    if (AInfo.IsGray) return TFormatClass::Gray;
    if (AInfo.IsFloat) return TFormatClass::Float;
    return TFormatClass::Channel;
}

// 3- and 4-byte channel formats: R8G8B8, A8R8G8B8, X8R8G8B8.
bool IsByteChannelFormat(const TImageFormatDescriptor& AInfo)
{
    return !AInfo.HasBitFields && (AInfo.BytesPerPixel == 3 || AInfo.BytesPerPixel == 4);
}

int32_t Log2Int(int32_t AValue)
{
    int32_t result = 0;
    while (AValue > 1) {
        AValue >>= 1;
        ++result;
    }
    return result;
}

// Calls AFunc(src, dst) for each of ACount pixel pairs.
template <typename F>
void ForEachPixel(int64_t ACount, const void* ASrc, void* ADst, int32_t ASrcBpp, int32_t ADstBpp, F&& AFunc)
{
    const uint8_t* src = static_cast<const uint8_t*>(ASrc);
    uint8_t* dst = static_cast<uint8_t*>(ADst);
    for (int64_t i = 0; i < ACount; ++i, src += ASrcBpp, dst += ADstBpp) AFunc(src, dst);
}

void IndexToOther(int64_t ACount, const uint8_t* ASrc, uint8_t* ADst, const TImageFormatDescriptor& ASrcInfo,
                  const TImageFormatDescriptor& ADstInfo, const TColor32Rec* ASrcPalette, TColor32Rec* ADstPalette)
{
    const int32_t sb = ASrcInfo.BytesPerPixel, db = ADstInfo.BytesPerPixel;
    auto entry = [&](const uint8_t* s) { return PaletteEntry(ASrcPalette, ASrcInfo, IndexGetSrcPixel(s, sb)); };
    switch (ClassOf(ADstInfo)) {
    case TFormatClass::Indexed: {
        ForEachPixel(ACount, ASrc, ADst, sb, db, [&](const uint8_t* s, uint8_t* d) {
            IndexSetDstPixel(d, db, IndexGetSrcPixel(s, sb));
        });
        const int32_t entries = std::min(ASrcInfo.PaletteSize, ADstInfo.PaletteSize);
        if (ASrcPalette && ADstPalette && entries > 0)
            std::memcpy(ADstPalette, ASrcPalette, size_t(entries) * sizeof(TColor32Rec));
        break;
    }
    case TFormatClass::Gray:
        if (ASrcInfo.FormatId == ifIndex8 && ADstInfo.FormatId == ifGray8) {
            ForEachPixel(ACount, ASrc, ADst, sb, db, [&](const uint8_t* s, uint8_t* d) {
                const TColor32Rec e = entry(s);
                d[0] = uint8_t(ClampInt(RoundInt(Luma(e.R, e.G, e.B)), 0, 255));
            });
        } else {
            ForEachPixel(ACount, ASrc, ADst, sb, db, [&](const uint8_t* s, uint8_t* d) {
                const TColor32Rec e = entry(s);
                const uint32_t gray16 = uint32_t(ClampInt(RoundInt(Luma(e.R, e.G, e.B)), 0, 255)) * 65535 / 255;
                GraySetDstPixel(d, ADstInfo, uint64_t(gray16) << 48, uint16_t(e.A << 8));
            });
        }
        break;
    case TFormatClass::Float:
        ForEachPixel(ACount, ASrc, ADst, sb, db, [&](const uint8_t* s, uint8_t* d) {
            const TColor32Rec e = entry(s);
            FloatSetDstPixel(d, ADstInfo, {e.B * Inv255, e.G * Inv255, e.R * Inv255, e.A * Inv255});
        });
        break;
    case TFormatClass::Channel:
        if (ASrcInfo.FormatId == ifIndex8 &&
            (ADstInfo.FormatId == ifR8G8B8 || ADstInfo.FormatId == ifA8R8G8B8)) {
            const size_t bytes = size_t(db);
            ForEachPixel(ACount, ASrc, ADst, sb, db, [&](const uint8_t* s, uint8_t* d) {
                const TColor32Rec e = entry(s);
                std::memcpy(d, &e, bytes);
            });
        } else {
            ForEachPixel(ACount, ASrc, ADst, sb, db, [&](const uint8_t* s, uint8_t* d) {
                const TColor32Rec e = entry(s);
                ChannelSetDstPixel(d, ADstInfo,
                                   {uint16_t(e.B << 8), uint16_t(e.G << 8), uint16_t(e.R << 8), uint16_t(e.A << 8)});
            });
        }
        break;
    }
}

void GrayToOther(int64_t ACount, const uint8_t* ASrc, uint8_t* ADst, const TImageFormatDescriptor& ASrcInfo,
                 const TImageFormatDescriptor& ADstInfo, TColor32Rec* ADstPalette)
{
    const int32_t sb = ASrcInfo.BytesPerPixel, db = ADstInfo.BytesPerPixel;
    auto read = [&](const uint8_t* s, uint16_t& alpha) {
        uint64_t gray;
        GrayGetSrcPixel(s, ASrcInfo, gray, alpha);
        return gray;
    };
    switch (ClassOf(ADstInfo)) {
    case TFormatClass::Indexed: {
        if (ADstPalette) FillGrayscalePalette(ADstPalette, ADstInfo.PaletteSize);
        if (ASrcInfo.FormatId == ifGray8 && ADstInfo.FormatId == ifIndex8) {
            std::memcpy(ADst, ASrc, size_t(ACount));
            break;
        }
        const int32_t shift = 16 - Log2Int(ADstInfo.PaletteSize);
        ForEachPixel(ACount, ASrc, ADst, sb, db, [&](const uint8_t* s, uint8_t* d) {
            uint16_t alpha;
            IndexSetDstPixel(d, db, uint32_t(read(s, alpha) >> 48) >> shift);
        });
        break;
    }
    case TFormatClass::Gray:
        if (ASrcInfo.FormatId == ifGray8 && ADstInfo.FormatId == ifGray16) {
            ForEachPixel(ACount, ASrc, ADst, sb, db,
                         [](const uint8_t* s, uint8_t* d) { Store<uint16_t>(d, uint16_t(s[0] << 8)); });
        } else if (ASrcInfo.FormatId == ifGray16 && ADstInfo.FormatId == ifGray8) {
            ForEachPixel(ACount, ASrc, ADst, sb, db,
                         [](const uint8_t* s, uint8_t* d) { d[0] = uint8_t(Load<uint16_t>(s) >> 8); });
        } else {
            ForEachPixel(ACount, ASrc, ADst, sb, db, [&](const uint8_t* s, uint8_t* d) {
                uint16_t alpha;
                const uint64_t gray = read(s, alpha);
                GraySetDstPixel(d, ADstInfo, gray, alpha);
            });
        }
        break;
    case TFormatClass::Float:
        ForEachPixel(ACount, ASrc, ADst, sb, db, [&](const uint8_t* s, uint8_t* d) {
            uint16_t alpha;
            const float g = float(read(s, alpha) >> 48) * Inv65535;
            FloatSetDstPixel(d, ADstInfo, {g, g, g, float(alpha) * Inv65535});
        });
        break;
    case TFormatClass::Channel:
        if (ASrcInfo.FormatId == ifGray8 && IsByteChannelFormat(ADstInfo)) {
            const bool alpha = ADstInfo.HasAlpha;
            ForEachPixel(ACount, ASrc, ADst, sb, db, [&](const uint8_t* s, uint8_t* d) {
                d[0] = d[1] = d[2] = s[0];
                if (alpha) d[3] = 255;
            });
        } else {
            ForEachPixel(ACount, ASrc, ADst, sb, db, [&](const uint8_t* s, uint8_t* d) {
                uint16_t alpha;
                const uint16_t g = uint16_t(read(s, alpha) >> 48);
                ChannelSetDstPixel(d, ADstInfo, {g, g, g, alpha});
            });
        }
        break;
    }
}

void FloatToOther(int64_t ACount, const uint8_t* ASrc, uint8_t* ADst, const TImageFormatDescriptor& ASrcInfo,
                  const TImageFormatDescriptor& ADstInfo, TColor32Rec* ADstPalette)
{
    const int32_t sb = ASrcInfo.BytesPerPixel, db = ADstInfo.BytesPerPixel;
    auto clamp01 = [](float v) { return v > 0.0f ? (v < 1.0f ? v : 1.0f) : 0.0f; };
    switch (ClassOf(ADstInfo)) {
    case TFormatClass::Indexed:
        ReduceColors(ACount, ASrc, ADst, ASrcInfo, ADstInfo, ADstInfo.PaletteSize, uint8_t(GColorReductionMask),
                     ADstPalette, raAllActions);
        break;
    case TFormatClass::Gray:
        ForEachPixel(ACount, ASrc, ADst, sb, db, [&](const uint8_t* s, uint8_t* d) {
            const TColorFPRec c = FloatGetSrcPixel(s, ASrcInfo);
            const uint16_t gray16 = ClampToWord(Luma(clamp01(c.R), clamp01(c.G), clamp01(c.B)) * 65535);
            GraySetDstPixel(d, ADstInfo, uint64_t(gray16) << 48, ClampToWord(clamp01(c.A) * 65535));
        });
        break;
    case TFormatClass::Float:
        ForEachPixel(ACount, ASrc, ADst, sb, db, [&](const uint8_t* s, uint8_t* d) {
            FloatSetDstPixel(d, ADstInfo, FloatGetSrcPixel(s, ASrcInfo));
        });
        break;
    case TFormatClass::Channel:
        ForEachPixel(ACount, ASrc, ADst, sb, db, [&](const uint8_t* s, uint8_t* d) {
            const TColorFPRec c = FloatGetSrcPixel(s, ASrcInfo);
            ChannelSetDstPixel(d, ADstInfo,
                               {ClampToWord(clamp01(c.B) * 65535), ClampToWord(clamp01(c.G) * 65535),
                                ClampToWord(clamp01(c.R) * 65535), ClampToWord(clamp01(c.A) * 65535)});
        });
        break;
    }
}

void ChannelToOther(int64_t ACount, const uint8_t* ASrc, uint8_t* ADst, const TImageFormatDescriptor& ASrcInfo,
                    const TImageFormatDescriptor& ADstInfo, TColor32Rec* ADstPalette)
{
    const int32_t sb = ASrcInfo.BytesPerPixel, db = ADstInfo.BytesPerPixel;
    switch (ClassOf(ADstInfo)) {
    case TFormatClass::Indexed:
        ReduceColors(ACount, ASrc, ADst, ASrcInfo, ADstInfo, ADstInfo.PaletteSize, uint8_t(GColorReductionMask),
                     ADstPalette, raAllActions);
        break;
    case TFormatClass::Gray:
        if (IsByteChannelFormat(ASrcInfo) && ADstInfo.FormatId == ifGray8) {
            ForEachPixel(ACount, ASrc, ADst, sb, db, [&](const uint8_t* s, uint8_t* d) {
                d[0] = uint8_t(ClampInt(RoundInt(Luma(s[2], s[1], s[0])), 0, 255));
            });
        } else {
            ForEachPixel(ACount, ASrc, ADst, sb, db, [&](const uint8_t* s, uint8_t* d) {
                const TColor64Rec c = ChannelGetSrcPixel(s, ASrcInfo);
                const uint16_t gray16 = uint16_t(ClampInt(RoundInt(Luma(c.R, c.G, c.B)), 0, 65535));
                GraySetDstPixel(d, ADstInfo, uint64_t(gray16) << 48, c.A);
            });
        }
        break;
    case TFormatClass::Float:
        ForEachPixel(ACount, ASrc, ADst, sb, db, [&](const uint8_t* s, uint8_t* d) {
            const TColor64Rec c = ChannelGetSrcPixel(s, ASrcInfo);
            FloatSetDstPixel(d, ADstInfo, {c.B * Inv65535, c.G * Inv65535, c.R * Inv65535, c.A * Inv65535});
        });
        break;
    case TFormatClass::Channel:
        if (ASrcInfo.FormatId == ifR8G8B8 && IsByteChannelFormat(ADstInfo) && db == 4) {
            const bool alpha = ADstInfo.HasAlpha;
            ForEachPixel(ACount, ASrc, ADst, sb, db, [&](const uint8_t* s, uint8_t* d) {
                std::memcpy(d, s, 3);
                if (alpha) d[3] = 255;
            });
        } else if (IsByteChannelFormat(ASrcInfo) && sb == 4 && ADstInfo.FormatId == ifR8G8B8) {
            ForEachPixel(ACount, ASrc, ADst, sb, db, [](const uint8_t* s, uint8_t* d) { std::memcpy(d, s, 3); });
        } else {
            ForEachPixel(ACount, ASrc, ADst, sb, db, [&](const uint8_t* s, uint8_t* d) {
                ChannelSetDstPixel(d, ADstInfo, ChannelGetSrcPixel(s, ASrcInfo));
            });
        }
        break;
    }
}

} // namespace

void ConvertPixels(int64_t ACount, const void* ASrc, void* ADst, const TImageFormatDescriptor& ASrcInfo,
                   const TImageFormatDescriptor& ADstInfo, const TColor32Rec* ASrcPalette, TColor32Rec* ADstPalette)
{
    if (ACount <= 0 || ASrcInfo.IsBlockCompressed || ADstInfo.IsBlockCompressed) return;
    const uint8_t* src = static_cast<const uint8_t*>(ASrc);
    uint8_t* dst = static_cast<uint8_t*>(ADst);
    switch (ClassOf(ASrcInfo)) {
    case TFormatClass::Indexed: IndexToOther(ACount, src, dst, ASrcInfo, ADstInfo, ASrcPalette, ADstPalette); break;
    case TFormatClass::Gray: GrayToOther(ACount, src, dst, ASrcInfo, ADstInfo, ADstPalette); break;
    case TFormatClass::Float: FloatToOther(ACount, src, dst, ASrcInfo, ADstInfo, ADstPalette); break;
    case TFormatClass::Channel: ChannelToOther(ACount, src, dst, ASrcInfo, ADstInfo, ADstPalette); break;
    }
}

// ---- Colour reduction --------------------------------------------------------------

namespace {

struct TColorNode {
    uint32_t Color; // masked ARGB
    uint32_t Count;
};

struct TColorBox {
    int32_t Min[4]; // per channel in the order A, R, G, B
    int32_t Max[4];
    int64_t Count = 0;
    std::vector<TColorNode> Nodes;
    uint32_t Color = 0;
};

// The counted colours and the boxes between the steps of one reduction; one
// state per thread, so reductions on different threads do not meet.
struct TReductionState {
    std::unordered_map<uint32_t, uint32_t> Counts;
    std::vector<TColorBox> Boxes;
};

thread_local TReductionState GReduction;

inline int32_t ChannelOf(uint32_t AColor, int AChannel) // 0 A, 1 R, 2 G, 3 B
{
    return int32_t((AColor >> (24 - 8 * AChannel)) & 0xFF);
}

void RecomputeBox(TColorBox& ABox)
{
    for (int c = 0; c < 4; ++c) {
        ABox.Min[c] = 256;
        ABox.Max[c] = -1;
    }
    ABox.Count = 0;
    for (const TColorNode& n : ABox.Nodes) {
        for (int c = 0; c < 4; ++c) {
            const int32_t v = ChannelOf(n.Color, c);
            ABox.Min[c] = std::min(ABox.Min[c], v);
            ABox.Max[c] = std::max(ABox.Max[c], v);
        }
        ABox.Count += n.Count;
    }
}

constexpr int32_t ChannelWeights[4] = {1024, 612, 1202, 234};

// The largest weighted channel range of the box and the channel giving it.
int64_t BoxSpread(const TColorBox& ABox, int& AChannel)
{
    int64_t best = 0;
    AChannel = 0;
    for (int c = 0; c < 4; ++c) {
        const int64_t v = int64_t(ABox.Max[c] - ABox.Min[c]) * ChannelWeights[c];
        if (c == 0 || v > best) {
            best = v;
            AChannel = c;
        }
    }
    return best;
}

void BuildBoxes(int32_t AMaxColors, uint8_t AMask, TColor32Rec* APalette)
{
    std::vector<TColorBox>& boxes = GReduction.Boxes;
    boxes.clear();
    boxes.emplace_back();
    boxes[0].Nodes.reserve(GReduction.Counts.size());
    for (const auto& [color, count] : GReduction.Counts) boxes[0].Nodes.push_back({color, count});
    RecomputeBox(boxes[0]);

    while (int32_t(boxes.size()) < AMaxColors) {
        size_t chosen = 0;
        int channel = 0;
        int64_t spread = -1;
        for (size_t i = 0; i < boxes.size(); ++i) {
            int c;
            const int64_t s = BoxSpread(boxes[i], c);
            if (s > spread) {
                spread = s;
                chosen = i;
                channel = c;
            }
        }
        // An empty box has a negative range: nothing left to split either way.
        if (spread <= 0) break;
        TColorBox& box = boxes[chosen];
        const int32_t split = (box.Min[channel] + box.Max[channel]) >> 1;
        TColorBox upper;
        auto stays = std::partition(box.Nodes.begin(), box.Nodes.end(),
                                    [&](const TColorNode& n) { return ChannelOf(n.Color, channel) <= split; });
        upper.Nodes.assign(stays, box.Nodes.end());
        box.Nodes.erase(stays, box.Nodes.end());
        RecomputeBox(box);
        RecomputeBox(upper);
        boxes.push_back(std::move(upper));
    }

    for (TColorBox& box : boxes) {
        int64_t sums[4] = {};
        for (const TColorNode& n : box.Nodes)
            for (int c = 0; c < 4; ++c) sums[c] += int64_t(n.Count) * ChannelOf(n.Color, c);
        if (box.Count > 0)
            box.Color = MakeColor32(uint32_t(sums[0] / box.Count), uint32_t(sums[1] / box.Count),
                                    uint32_t(sums[2] / box.Count), uint32_t(sums[3] / box.Count));
        box.Nodes.clear();
        box.Nodes.shrink_to_fit();
        for (int c = 0; c < 4; ++c) {
            box.Min[c] &= AMask;
            box.Max[c] = (box.Max[c] & AMask) + (AMask ^ 0xFF);
        }
    }
    // Largest pixel count first; the first of equal counts wins each place.
    for (size_t j = 0; j < boxes.size(); ++j) {
        size_t best = j;
        for (size_t k = j + 1; k < boxes.size(); ++k)
            if (boxes[k].Count > boxes[best].Count) best = k;
        if (best != j) std::swap(boxes[j], boxes[best]);
    }
    if (APalette)
        for (int32_t i = 0; i < AMaxColors; ++i)
            APalette[i].Color = i < int32_t(boxes.size()) ? boxes[i].Color : 0xFF000000u;
}

} // namespace

void ReduceColors(int64_t ACount, const void* ASrc, void* ADst, const TImageFormatDescriptor& ASrcInfo,
                  const TImageFormatDescriptor& ADstInfo, int32_t AMaxColors, uint8_t AChannelMask,
                  TColor32Rec* ADstPalette, uint32_t AActions)
{
    AMaxColors = ClampInt(AMaxColors, 2, 4096);
    const bool plainSource = !ASrcInfo.IsIndexed && !ASrcInfo.IsBlockCompressed && ASrcInfo.ReadPixel32Func;
    const uint8_t* src = static_cast<const uint8_t*>(ASrc);
    const int32_t sb = ASrcInfo.BytesPerPixel;
    if (AActions & raClearHash) {
        GReduction.Counts.clear();
        GReduction.Boxes.clear();
    }
    if ((AActions & raCountColors) && plainSource) {
        const uint32_t mask = AChannelMask * 0x01010101u;
        for (int64_t i = 0; i < ACount; ++i)
            ++GReduction.Counts[ASrcInfo.ReadPixel32Func(src + i * sb, &ASrcInfo, nullptr) & mask];
    }
    if (AActions & raBuildPalette) BuildBoxes(AMaxColors, AChannelMask, ADstPalette);
    if ((AActions & raMapPixels) && plainSource && !ADstInfo.IsBlockCompressed) {
        const std::vector<TColorBox>& boxes = GReduction.Boxes;
        uint8_t* dst = static_cast<uint8_t*>(ADst);
        const int32_t db = ADstInfo.BytesPerPixel;
        for (int64_t i = 0; i < ACount; ++i) {
            const uint32_t color = ASrcInfo.ReadPixel32Func(src + i * sb, &ASrcInfo, nullptr);
            int32_t a = ChannelOf(color, 0), r = ChannelOf(color, 1), g = ChannelOf(color, 2), b = ChannelOf(color, 3);
            uint32_t index = 0;
            for (size_t k = 0; k < boxes.size(); ++k) {
                const TColorBox& x = boxes[k];
                if (a >= x.Min[0] && a <= x.Max[0] && r >= x.Min[1] && r <= x.Max[1] && g >= x.Min[2] &&
                    g <= x.Max[2] && b >= x.Min[3] && b <= x.Max[3]) {
                    index = uint32_t(k);
                    break;
                }
            }
            IndexSetDstPixel(dst + i * db, db, index);
        }
    }
}

// ---- Resampling --------------------------------------------------------------------

namespace {

double Sinc(double AValue)
{
    if (AValue == 0) return 1;
    const double x = std::numbers::pi * AValue;
    return std::sin(x) / x;
}

float FilterBox(float AValue)
{
    const double x = AValue;
    return (x > -0.5 && x <= 0.5) ? 1.0f : 0.0f;
}

float FilterTriangle(float AValue)
{
    const double x = std::fabs(double(AValue));
    return x < 1 ? float(1 - x) : 0.0f;
}

float FilterCosine(float AValue)
{
    const double x = AValue;
    return std::fabs(x) < 1 ? float((std::cos(std::numbers::pi * x) + 1) / 2) : 0.0f;
}

float FilterHermite(float AValue)
{
    const double x = std::fabs(double(AValue));
    return x < 1 ? float((2 * x - 3) * x * x + 1) : 0.0f;
}

float FilterQuadratic(float AValue)
{
    const double x = std::fabs(double(AValue));
    if (x < 0.5) return float(0.75 - x * x);
    if (x < 1.5) return float(0.5 * (x - 1.5) * (x - 1.5));
    return 0.0f;
}

float FilterGaussian(float AValue)
{
    const double x = AValue;
    return float(std::exp(-2 * x * x) * std::sqrt(2 / std::numbers::pi));
}

float FilterBSpline(float AValue)
{
    const double x = std::fabs(double(AValue));
    if (x < 1) return float(0.5 * x * x * x - x * x + 2.0 / 3.0);
    if (x < 2) return float((2 - x) * (2 - x) * (2 - x) / 6);
    return 0.0f;
}

float FilterLanczos(float AValue)
{
    const double x = AValue;
    return std::fabs(x) < 3 ? float(Sinc(x) * Sinc(x / 3)) : 0.0f;
}

float FilterMitchell(float AValue)
{
    const double x = std::fabs(double(AValue));
    if (x < 1) return float((7 * x * x * x - 12 * x * x + 16.0 / 3.0) / 6);
    if (x < 2) return float((-7.0 / 3.0 * x * x * x + 12 * x * x - 20 * x + 32.0 / 3.0) / 6);
    return 0.0f;
}

float FilterCatmullRom(float AValue)
{
    const double x = std::fabs(double(AValue));
    if (x < 1) return float(0.5 * (x * x * (3 * x - 5) + 2));
    if (x < 2) return float(0.5 * (x * (x * (5 - x) - 8) + 4));
    return 0.0f;
}

TFilterFunction GFilterFunctions[FilterKernelCount];
float GFilterRadii[FilterKernelCount];

} // namespace

TFilterFunction FilterKernelFunction(int32_t AKernel)
{
    return AKernel >= 0 && AKernel < FilterKernelCount ? GFilterFunctions[AKernel] : nullptr;
}

float FilterKernelRadius(int32_t AKernel)
{
    return AKernel >= 0 && AKernel < FilterKernelCount ? GFilterRadii[AKernel] : 0.0f;
}

TMappingTable BuildMappingTable(int32_t ADstStart, int32_t ADstEnd, int32_t ASrcStart, int32_t ASrcEnd,
                                TFilterFunction AKernel, float ARadius)
{
    const int32_t dstCount = ADstEnd - ADstStart;
    const int32_t srcCount = ASrcEnd - ASrcStart;
    TMappingTable table;
    if (dstCount <= 0 || srcCount <= 0) return table;
    table.resize(size_t(dstCount));
    if (srcCount == 1) {
        for (TCluster& cluster : table) cluster.push_back({ASrcStart, 1.0f});
        return table;
    }
    const float scale = float(dstCount) / float(srcCount);
    const bool down = scale < 1.0f;
    const double halfWidth = down ? double(ARadius) / scale : double(ARadius);
    for (int32_t i = 0; i < dstCount; ++i) {
        TCluster& cluster = table[size_t(i)];
        const double centre = double(ASrcStart) - 0.5 + (double(i) + 0.5) / scale;
        const int64_t left = int64_t(std::floor(centre - halfWidth));
        const int64_t right = int64_t(std::ceil(centre + halfWidth));
        for (int64_t p = left; p <= right; ++p) {
            const float weight = down ? AKernel(float((centre - double(p)) * scale)) * scale
                                      : AKernel(float(centre - double(p)));
            if (weight == 0.0f) continue;
            cluster.push_back({int32_t(std::clamp<int64_t>(p, ASrcStart, ASrcEnd - 1)), weight});
        }
        if (!cluster.empty()) {
            float sum = 0;
            for (const TPointRec& e : cluster) sum += e.Weight;
            if (sum != 1.0f) cluster[(cluster.size() - 1) / 2].Weight -= sum - 1.0f;
        } else if (down) {
            cluster.push_back(
                {int32_t(std::clamp<int64_t>(int64_t(std::floor(centre)), ASrcStart, ASrcEnd - 1)), 1.0f});
        }
    }
    return table;
}

namespace {

template <size_t N>
void CopyPixels(uint8_t* ADst, const uint8_t* ASrc)
{
    std::memcpy(ADst, ASrc, N);
}

using TPixelCopy = void (*)(uint8_t*, const uint8_t*);

TPixelCopy PixelCopyFor(int32_t ABytes)
{
    switch (ABytes) {
    case 1: return CopyPixels<1>;
    case 2: return CopyPixels<2>;
    case 3: return CopyPixels<3>;
    case 4: return CopyPixels<4>;
    case 6: return CopyPixels<6>;
    case 8: return CopyPixels<8>;
    case 16: return CopyPixels<16>;
    default: return nullptr;
    }
}

inline uint8_t* PixelAt(const TImageData& AImage, int32_t AX, int32_t AY, int32_t ABytes)
{
    return static_cast<uint8_t*>(AImage.Bits) + (int64_t(AY) * AImage.Width + AX) * ABytes;
}

} // namespace

void StretchNearest(const TImageData& ASrc, int32_t ASrcX, int32_t ASrcY, int32_t ASrcWidth, int32_t ASrcHeight,
                    TImageData& ADst, int32_t ADstX, int32_t ADstY, int32_t ADstWidth, int32_t ADstHeight)
{
    const TImageFormatDescriptor* info = FindPixelFormatInfo(ASrc.Format);
    if (!info || ADstWidth <= 0 || ADstHeight <= 0 || ASrcWidth <= 0 || ASrcHeight <= 0) return;
    const TPixelCopy copy = PixelCopyFor(info->BytesPerPixel);
    if (!copy) return;
    const int32_t bpp = info->BytesPerPixel;
    // Steps in 16.16 fixed point, computed in 64 bits so that wide images do not wrap.
    const int64_t xStep = (int64_t(ASrcWidth) << 16) / ADstWidth;
    const int64_t yStep = (int64_t(ASrcHeight) << 16) / ADstHeight;
    int64_t y = 0;
    for (int32_t j = 0; j < ADstHeight; ++j, y += yStep) {
        const uint8_t* srcRow = PixelAt(ASrc, ASrcX, ASrcY + int32_t(y >> 16), bpp);
        uint8_t* dst = PixelAt(ADst, ADstX, ADstY + j, bpp);
        int64_t x = 0;
        for (int32_t i = 0; i < ADstWidth; ++i, x += xStep, dst += bpp) copy(dst, srcRow + (x >> 16) * bpp);
    }
}

void StretchResample(const TImageData& ASrc, int32_t ASrcX, int32_t ASrcY, int32_t ASrcWidth, int32_t ASrcHeight,
                     TImageData& ADst, int32_t ADstX, int32_t ADstY, int32_t ADstWidth, int32_t ADstHeight,
                     int32_t AKernel)
{
    const TImageFormatDescriptor* info = FindPixelFormatInfo(ASrc.Format);
    const TFilterFunction kernel = FilterKernelFunction(AKernel);
    if (!info || !kernel || info->IsIndexed || info->IsBlockCompressed) return;
    const float radius = FilterKernelRadius(AKernel);
    const TMappingTable columns = BuildMappingTable(ADstX, ADstX + ADstWidth, ASrcX, ASrcX + ASrcWidth, kernel, radius);
    const TMappingTable rows = BuildMappingTable(ADstY, ADstY + ADstHeight, ASrcY, ASrcY + ASrcHeight, kernel, radius);
    if (columns.empty() || rows.empty()) return;
    int32_t first = INT32_MAX, last = INT32_MIN;
    for (const TCluster& c : columns)
        for (const TPointRec& e : c) {
            first = std::min(first, e.Pos);
            last = std::max(last, e.Pos);
        }
    if (first > last) return;
    const int32_t bpp = info->BytesPerPixel;
    const size_t span = size_t(last - first + 1);

    if (bpp / info->ChannelCount == 1 && !info->HasBitFields) {
        // Integer path: weights in 1/256 steps, channel sums in 16.16 fixed point.
        auto w256 = [](float w) { return int64_t(RoundInt(w * 256)); };
        std::vector<int64_t> rowSums(span * 4);
        for (int32_t j = 0; j < ADstHeight; ++j) {
            std::fill(rowSums.begin(), rowSums.end(), 0);
            for (const TPointRec& r : rows[size_t(j)]) {
                const int64_t w = w256(r.Weight);
                const uint8_t* src = PixelAt(ASrc, first, r.Pos, bpp);
                for (size_t x = 0; x < span; ++x, src += bpp)
                    for (int32_t k = 0; k < bpp; ++k) rowSums[x * 4 + size_t(k)] += src[k] * w;
            }
            uint8_t* dst = PixelAt(ADst, ADstX, ADstY + j, bpp);
            for (int32_t i = 0; i < ADstWidth; ++i, dst += bpp) {
                int64_t sums[4] = {};
                for (const TPointRec& c : columns[size_t(i)]) {
                    const int64_t w = w256(c.Weight);
                    const int64_t* s = &rowSums[size_t(c.Pos - first) * 4];
                    for (int32_t k = 0; k < bpp; ++k) sums[k] += s[k] * w;
                }
                for (int32_t k = 0; k < bpp; ++k) dst[k] = uint8_t(std::clamp<int64_t>(sums[k], 0, 0xFF0000) >> 16);
            }
        }
        return;
    }

    // Float path through the format's own routines.
    std::vector<TColorFPRec> rowSums(span);
    const TColor32Rec* palette = ASrc.Palette;
    for (int32_t j = 0; j < ADstHeight; ++j) {
        std::fill(rowSums.begin(), rowSums.end(), TColorFPRec{});
        for (const TPointRec& r : rows[size_t(j)]) {
            const uint8_t* src = PixelAt(ASrc, first, r.Pos, bpp);
            for (size_t x = 0; x < span; ++x, src += bpp) {
                const TColorFPRec c = info->ReadPixelFPFunc(src, info, palette);
                TColorFPRec& s = rowSums[x];
                s.B += c.B * r.Weight;
                s.G += c.G * r.Weight;
                s.R += c.R * r.Weight;
                s.A += c.A * r.Weight;
            }
        }
        uint8_t* dst = PixelAt(ADst, ADstX, ADstY + j, bpp);
        for (int32_t i = 0; i < ADstWidth; ++i, dst += bpp) {
            TColorFPRec sum;
            for (const TPointRec& c : columns[size_t(i)]) {
                const TColorFPRec& s = rowSums[size_t(c.Pos - first)];
                sum.B += s.B * c.Weight;
                sum.G += s.G * c.Weight;
                sum.R += s.R * c.Weight;
                sum.A += s.A * c.Weight;
            }
            info->WritePixelFPFunc(dst, info, ADst.Palette, sum);
        }
    }
}

// ---- Block-compressed formats --------------------------------------------------------

namespace {

// 5- and 6-bit endpoint channels widened as v x 255 div 31 and v x 255 div 63.
struct TExpandTables {
    uint8_t Five[32];
    uint8_t Six[64];
    constexpr TExpandTables() : Five(), Six()
    {
        for (int v = 0; v < 32; ++v) Five[v] = uint8_t(v * 255 / 31);
        for (int v = 0; v < 64; ++v) Six[v] = uint8_t(v * 255 / 63);
    }
};
constexpr TExpandTables Expand;

struct TRGB {
    int32_t R, G, B;
};

inline TRGB Expand565(uint32_t AColor)
{
    return {Expand.Five[(AColor >> 11) & 31], Expand.Six[(AColor >> 5) & 63], Expand.Five[AColor & 31]};
}

// The four ARGB palette entries of a colour block.
inline void ColorPalette(uint32_t AC0, uint32_t AC1, bool AThreeColorMode, uint32_t AEntries[4])
{
    const TRGB a = Expand565(AC0), b = Expand565(AC1);
    AEntries[0] = MakeColor32(255, a.R, a.G, a.B);
    AEntries[1] = MakeColor32(255, b.R, b.G, b.B);
    if (AThreeColorMode) {
        AEntries[2] = MakeColor32(255, (a.R + b.R) >> 1, (a.G + b.G) >> 1, (a.B + b.B) >> 1);
        AEntries[3] = MakeColor32(0, (a.R + 2 * b.R + 1) / 3, (a.G + 2 * b.G + 1) / 3, (a.B + 2 * b.B + 1) / 3);
    } else {
        AEntries[2] = MakeColor32(255, (2 * a.R + b.R + 1) / 3, (2 * a.G + b.G + 1) / 3, (2 * a.B + b.B + 1) / 3);
        AEntries[3] = MakeColor32(255, (a.R + 2 * b.R + 1) / 3, (a.G + 2 * b.G + 1) / 3, (a.B + 2 * b.B + 1) / 3);
    }
}

// The eight-entry ramp of an interpolated alpha (or single channel) block.
inline void AlphaRamp(uint32_t AA0, uint32_t AA1, uint8_t ARamp[8])
{
    ARamp[0] = uint8_t(AA0);
    ARamp[1] = uint8_t(AA1);
    if (AA0 > AA1) {
        for (uint32_t i = 1; i < 7; ++i) ARamp[i + 1] = uint8_t(((7 - i) * AA0 + i * AA1 + 3) / 7);
    } else {
        for (uint32_t i = 1; i < 5; ++i) ARamp[i + 1] = uint8_t(((5 - i) * AA0 + i * AA1 + 2) / 5);
        ARamp[6] = 0;
        ARamp[7] = 255;
    }
}

// The 16 values of an interpolated block (2 bytes of ramp ends, 6 bytes of 3-bit indices).
inline void DecodeAlphaBlock(const uint8_t* ABlock, uint8_t AValues[16])
{
    uint8_t ramp[8];
    AlphaRamp(ABlock[0], ABlock[1], ramp);
    uint64_t bits = 0;
    std::memcpy(&bits, ABlock + 2, 6);
    for (int j = 0; j < 16; ++j, bits >>= 3) AValues[j] = ramp[bits & 7];
}

// The four palette entries of a colour block.
inline void ColorEntries(const uint8_t* ABlock, bool ADXT1, uint32_t AEntries[4])
{
    const uint32_t c0 = Load<uint16_t>(ABlock), c1 = Load<uint16_t>(ABlock + 2);
    ColorPalette(c0, c1, ADXT1 && c0 <= c1, AEntries);
}

struct TBlockFormat {
    int32_t BlockBytes;
    int32_t PixelBytes; // of the decoded format
};

constexpr TBlockFormat BlockFormatOf(TImageFormat AFormat)
{
    switch (AFormat) {
    case ifDXT1: return {8, 4};
    case ifDXT3: return {16, 4};
    case ifDXT5: return {16, 4};
    case ifBTC: return {4, 1};
    case ifATI1N: return {8, 1};
    case ifATI2N: return {16, 4};
    default: return {0, 0};
    }
}

// Decodes one block of format F into 16 pixels of the decoded format: 32-bit
// ARGB words, or for the gray formats the first 16 bytes.
template <TImageFormat F>
inline void DecodeBlock(const uint8_t* ABlock, uint32_t* APixels)
{
    if constexpr (F == ifDXT1) {
        uint32_t entries[4];
        ColorEntries(ABlock, true, entries);
        uint32_t indices = Load<uint32_t>(ABlock + 4);
        for (int j = 0; j < 16; ++j, indices >>= 2) APixels[j] = entries[indices & 3];
    } else if constexpr (F == ifDXT3) {
        uint32_t entries[4];
        ColorEntries(ABlock + 8, false, entries);
        uint32_t indices = Load<uint32_t>(ABlock + 12);
        uint64_t alphas = Load<uint64_t>(ABlock);
        for (int j = 0; j < 16; ++j, indices >>= 2, alphas >>= 4)
            APixels[j] = (entries[indices & 3] & 0x00FFFFFFu) | ((uint32_t(alphas & 0xF) * 17) << 24);
    } else if constexpr (F == ifDXT5) {
        uint8_t ramp[8];
        AlphaRamp(ABlock[0], ABlock[1], ramp);
        uint32_t alpha[8];
        for (int k = 0; k < 8; ++k) alpha[k] = uint32_t(ramp[k]) << 24;
        uint32_t entries[4];
        ColorEntries(ABlock + 8, false, entries);
        for (uint32_t& e : entries) e &= 0x00FFFFFFu;
        uint64_t alphaBits = 0;
        std::memcpy(&alphaBits, ABlock + 2, 6);
        uint32_t indices = Load<uint32_t>(ABlock + 12);
        for (int j = 0; j < 16; ++j, indices >>= 2, alphaBits >>= 3)
            APixels[j] = entries[indices & 3] | alpha[alphaBits & 7];
    } else if constexpr (F == ifBTC) {
        uint8_t* bytes = reinterpret_cast<uint8_t*>(APixels);
        const uint32_t mask = Load<uint16_t>(ABlock + 2);
        for (int j = 0; j < 16; ++j) bytes[j] = (mask >> j) & 1 ? ABlock[1] : ABlock[0];
    } else if constexpr (F == ifATI1N) {
        DecodeAlphaBlock(ABlock, reinterpret_cast<uint8_t*>(APixels));
    } else if constexpr (F == ifATI2N) {
        uint8_t red[16], green[16];
        DecodeAlphaBlock(ABlock, red);
        DecodeAlphaBlock(ABlock + 8, green);
        for (int j = 0; j < 16; ++j) APixels[j] = MakeColor32(255, red[j], green[j], 0);
    }
}

// Decodes every block of AImage into ATarget (same dimensions, checked by the caller).
template <TImageFormat F>
void DecodeBlocks(const TImageData& AImage, TImageData& ATarget)
{
    constexpr TBlockFormat block = BlockFormatOf(F);
    constexpr size_t bpp = size_t(block.PixelBytes);
    const int32_t width = ATarget.Width, height = ATarget.Height;
    const int32_t blocksX = int32_t((int64_t(width) + 3) / 4), blocksY = int32_t((int64_t(height) + 3) / 4);
    const size_t rowBytes = size_t(width) * bpp;
    const uint8_t* src = static_cast<const uint8_t*>(AImage.Bits);
    uint32_t pixels[16];
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(pixels);
    for (int32_t by = 0; by < blocksY; ++by) {
        const int32_t rows = std::min(4, height - by * 4);
        uint8_t* dstRow = static_cast<uint8_t*>(ATarget.Bits) + size_t(by) * 4 * rowBytes;
        for (int32_t bx = 0; bx < blocksX; ++bx, src += block.BlockBytes) {
            DecodeBlock<F>(src, pixels);
            const int32_t cols = std::min(4, width - bx * 4);
            uint8_t* dst = dstRow + size_t(bx) * 4 * bpp;
            if (cols == 4 && rows == 4) {
                for (size_t y = 0; y < 4; ++y, dst += rowBytes) std::memcpy(dst, bytes + y * 4 * bpp, 4 * bpp);
            } else {
                // A block on the right or bottom edge: only the pixels inside the image.
                for (int32_t y = 0; y < rows; ++y, dst += rowBytes)
                    std::memcpy(dst, bytes + size_t(y) * 4 * bpp, size_t(cols) * bpp);
            }
        }
    }
}

// ---- Encoders ----

inline uint32_t To565(uint32_t AColor)
{
    const TColor32Rec c{.Color = AColor};
    return (uint32_t(c.R / 8) << 11) | (uint32_t(c.G / 4) << 5) | (uint32_t(c.B) >> 3);
}

inline int32_t ColorDistance(uint32_t AA, uint32_t AB)
{
    const TColor32Rec a{.Color = AA}, b{.Color = AB};
    const int32_t dr = a.R - b.R, dg = a.G - b.G, db = a.B - b.B;
    return dr * dr + dg * dg + db * db;
}

// A colour block of 16 ARGB pixels. AAllowTransparent: a block with a pixel of
// alpha below 128 goes to the 3-colour mode (DXT1 only).
void EncodeColorBlock(const uint32_t APixels[16], bool AAllowTransparent, uint8_t* ABlock)
{
    bool transparent = false;
    if (AAllowTransparent)
        for (int j = 0; j < 16; ++j) transparent |= (APixels[j] >> 24) < 128;
    int32_t best = -1, bi = 0, bj = 1;
    for (int i = 0; i < 16; ++i)
        for (int j = i + 1; j < 16; ++j) {
            const int32_t d = ColorDistance(APixels[i], APixels[j]);
            if (d > best) {
                best = d;
                bi = i;
                bj = j;
            }
        }
    uint32_t c0 = To565(APixels[bi]), c1 = To565(APixels[bj]);
    if (transparent ? c0 > c1 : c0 < c1) std::swap(c0, c1);
    uint32_t entries[4];
    ColorPalette(c0, c1, transparent, entries);
    uint32_t indices = 0;
    for (int j = 0; j < 16; ++j) {
        uint32_t index = 3;
        if (!transparent || (APixels[j] >> 24) >= 128) {
            // An opaque pixel never takes the transparent entry of the 3-colour mode.
            const int candidates = transparent ? 3 : 4;
            int32_t nearest = INT32_MAX;
            for (int k = 0; k < candidates; ++k) {
                const int32_t d = ColorDistance(APixels[j], entries[k]);
                if (d < nearest) {
                    nearest = d;
                    index = uint32_t(k);
                }
            }
        }
        indices |= index << (2 * j);
    }
    Store<uint16_t>(ABlock, uint16_t(c0));
    Store<uint16_t>(ABlock + 2, uint16_t(c1));
    Store<uint32_t>(ABlock + 4, indices);
}

// An interpolated block of 16 values: the largest and smallest value as the
// ends of the eight-entry ramp, each value the index of its nearest entry.
void EncodeAlphaBlock(const uint8_t AValues[16], uint8_t* ABlock)
{
    uint32_t a0 = 0, a1 = 255;
    for (int j = 0; j < 16; ++j) {
        a0 = std::max<uint32_t>(a0, AValues[j]);
        a1 = std::min<uint32_t>(a1, AValues[j]);
    }
    uint8_t ramp[8] = {uint8_t(a0), uint8_t(a1)};
    for (uint32_t i = 1; i < 7; ++i) ramp[i + 1] = uint8_t(((7 - i) * a0 + i * a1 + 3) / 7);
    uint64_t bits = 0;
    for (int j = 0; j < 16; ++j) {
        uint64_t index = 0;
        int32_t nearest = INT32_MAX;
        for (int k = 0; k < 8; ++k) {
            const int32_t d = std::abs(int32_t(AValues[j]) - ramp[k]);
            if (d < nearest) {
                nearest = d;
                index = uint64_t(k);
            }
        }
        bits |= index << (3 * j);
    }
    ABlock[0] = uint8_t(a0);
    ABlock[1] = uint8_t(a1);
    std::memcpy(ABlock + 2, &bits, 6);
}

// Encodes 16 pixels laid out as DecodeBlock leaves them.
void EncodeBlock(TImageFormat AFormat, const uint32_t* APixels, uint8_t* ABlock)
{
    const uint32_t* px = APixels;
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(APixels);
    switch (AFormat) {
    case ifDXT1: EncodeColorBlock(px, true, ABlock); break;
    case ifDXT3:
        for (int k = 0; k < 8; ++k)
            ABlock[k] = uint8_t((px[2 * k] >> 28) | ((px[2 * k + 1] >> 28) << 4));
        EncodeColorBlock(px, false, ABlock + 8);
        break;
    case ifDXT5: {
        uint8_t alpha[16];
        for (int j = 0; j < 16; ++j) alpha[j] = uint8_t(px[j] >> 24);
        EncodeAlphaBlock(alpha, ABlock);
        EncodeColorBlock(px, false, ABlock + 8);
        break;
    }
    case ifBTC: {
        uint32_t sum = 0;
        for (int j = 0; j < 16; ++j) sum += bytes[j];
        const uint32_t mean = sum / 16;
        uint32_t mask = 0, highSum = 0, highCount = 0, lowSum = 0;
        for (int j = 0; j < 16; ++j) {
            if (bytes[j] > mean) {
                mask |= 1u << j;
                highSum += bytes[j];
                ++highCount;
            } else {
                lowSum += bytes[j];
            }
        }
        ABlock[0] = uint8_t(std::min<uint32_t>(lowSum / (16 - highCount), 255));
        ABlock[1] = uint8_t(highCount ? std::min<uint32_t>(highSum / highCount, 255) : 0);
        Store<uint16_t>(ABlock + 2, uint16_t(mask));
        break;
    }
    case ifATI1N: EncodeAlphaBlock(bytes, ABlock); break;
    case ifATI2N: {
        uint8_t red[16], green[16];
        for (int j = 0; j < 16; ++j) {
            red[j] = uint8_t(px[j] >> 16);
            green[j] = uint8_t(px[j] >> 8);
        }
        EncodeAlphaBlock(red, ABlock);
        EncodeAlphaBlock(green, ABlock + 8);
        break;
    }
    default: break;
    }
}

// The descriptors of a compressed image and its decoded partner, checked.
void CheckBlockPair(const TImageData& ACompressed, const TImageData& APlain, const char* AOperation)
{
    const TImageFormatDescriptor* info = FindPixelFormatInfo(ACompressed.Format);
    if (!IsImageDataValid(ACompressed) || !info->IsBlockCompressed)
        RaiseImagingError(Format("%s: the compressed image is invalid or not block-compressed.", AOperation));
    if (!IsImageDataValid(APlain) || APlain.Format != info->DecodedFormat || APlain.Width != ACompressed.Width ||
        APlain.Height != ACompressed.Height)
        RaiseImagingError(Format("%s: the decoded image must be a valid %s image of %dx%d pixels.", AOperation,
                                 GetPixelFormatName(info->DecodedFormat), ACompressed.Width, ACompressed.Height));
}

} // namespace

void DecompressImage(const TImageData& AImage, TImageData& ATarget)
{
    CheckBlockPair(AImage, ATarget, "DecompressImage");
    switch (AImage.Format) {
    case ifDXT1: DecodeBlocks<ifDXT1>(AImage, ATarget); break;
    case ifDXT3: DecodeBlocks<ifDXT3>(AImage, ATarget); break;
    case ifDXT5: DecodeBlocks<ifDXT5>(AImage, ATarget); break;
    case ifBTC: DecodeBlocks<ifBTC>(AImage, ATarget); break;
    case ifATI1N: DecodeBlocks<ifATI1N>(AImage, ATarget); break;
    case ifATI2N: DecodeBlocks<ifATI2N>(AImage, ATarget); break;
    default: break;
    }
}

void CompressImage(const TImageData& ASource, TImageData& AImage)
{
    CheckBlockPair(AImage, ASource, "CompressImage");
    const TBlockFormat block = BlockFormatOf(AImage.Format);
    const int32_t width = ASource.Width, height = ASource.Height, bpp = block.PixelBytes;
    const int32_t blocksX = int32_t((int64_t(width) + 3) / 4), blocksY = int32_t((int64_t(height) + 3) / 4);
    uint8_t* dst = static_cast<uint8_t*>(AImage.Bits);
    uint32_t block16[16];
    uint8_t* pixels = reinterpret_cast<uint8_t*>(block16);
    for (int32_t by = 0; by < blocksY; ++by)
        for (int32_t bx = 0; bx < blocksX; ++bx, dst += block.BlockBytes) {
            // Pixels beyond the image edge repeat the edge.
            for (int32_t j = 0; j < 16; ++j) {
                const int32_t x = std::min(bx * 4 + (j & 3), width - 1);
                const int32_t y = std::min(by * 4 + (j >> 2), height - 1);
                std::memcpy(pixels + j * bpp, PixelAt(ASource, x, y, bpp), size_t(bpp));
            }
            EncodeBlock(AImage.Format, block16, dst);
        }
}

void ConvertSpecialImage(TImageData& AImage, const TImageFormatDescriptor& ASrcInfo,
                         const TImageFormatDescriptor& ADstInfo)
{
    TImageData temp;
    try {
        if (ASrcInfo.IsBlockCompressed) {
            CreateImageData(AImage.Width, AImage.Height, ASrcInfo.DecodedFormat, temp);
            DecompressImage(AImage, temp);
            FreeImageData(AImage);
            if (!ADstInfo.IsBlockCompressed) {
                ConvertImageData(temp, ADstInfo.FormatId);
                AImage = temp;
                return;
            }
        } else {
            // The temporary takes over the image's pixels.
            temp = AImage;
            InitImageData(AImage);
        }
        if (temp.Format != ADstInfo.DecodedFormat) ConvertImageData(temp, ADstInfo.DecodedFormat);
        int32_t width = temp.Width, height = temp.Height;
        ADstInfo.AdjustSizeFunc(ADstInfo.FormatId, width, height);
        ResizeImageData(temp, width, height, rmNearest);
        CreateImageData(width, height, ADstInfo.FormatId, AImage);
        CompressImage(temp, AImage);
        FreeImageData(temp);
    } catch (...) {
        FreeImageData(temp);
        throw;
    }
}

namespace units {

void ImagingFormatsInitialize()
{
    const TFilterFunction functions[FilterKernelCount] = {
        FilterBox,     FilterTriangle, FilterCosine,  FilterHermite,  FilterQuadratic,
        FilterGaussian, FilterBSpline, FilterLanczos, FilterMitchell, FilterCatmullRom};
    const float radii[FilterKernelCount] = {1.0f, 1.0f, 1.0f, 1.0f, 1.5f, 1.25f, 2.0f, 3.0f, 2.0f, 2.0f};
    for (int32_t i = 0; i < FilterKernelCount; ++i) {
        GFilterFunctions[i] = functions[i];
        GFilterRadii[i] = radii[i];
    }
}

void ImagingFormatsFinalize()
{
    std::fill(std::begin(GFilterFunctions), std::end(GFilterFunctions), nullptr);
    std::fill(std::begin(GFilterRadii), std::end(GFilterRadii), 0.0f);
}

} // namespace units

} // namespace korvane
