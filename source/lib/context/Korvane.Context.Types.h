#pragma once
// Small records and enumerations that cross the boundary of the render context
// (blending, smoothing, orthographic projection, memory barriers, context size),
// the neutral face of the OpenGL error drain, and the three routines through
// which the context layer reports a failure: format the message, write it to the
// debug log behind a prefix, hand it to the optional global error handler, raise.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "Platform.Classes.h"
#include "Platform.Math3D.h"
#include "Platform.SysUtils.h"
#include "Platform.Types3D.h"

namespace korvane {

// ---------------------------------------------------------------------------
// Lights and fog

// The light record that a context keeps per light and that materials copy into
// their uniform block, where the shaders read it as the std140 struct "Light":
// 144 bytes, all values 32-bit.
struct TKorvaneShaderLight {
    int32_t LightType;         // 0 directional, 1 point, 2 spot
    int32_t Reserved1[3];      // up to the next 16-byte boundary; zero
    TVector3D Position;        // W = 1
    TVector3D Direction;       // W = 1
    TAlphaColorF Ambient;
    TAlphaColorF Diffuse;
    TAlphaColorF Specular;
    TVector3D Scattering;
    float SpotCutoff;          // degrees
    float SpotCosCutoff;       // cosine of the cut-off
    float SpotExponent;
    float ConstantAttenuation;
    float LinearAttenuation;
    float QuadraticAttenuation;
    float Intensity;
    int32_t Enabled;           // on while above 0

    static TKorvaneShaderLight Create(const TLightDescription& ALight);
    bool IsEnabled() const { return Enabled > 0; }
    TLightDescription ToLightDescription() const;
};
static_assert(sizeof(TKorvaneShaderLight) == 144);
static_assert(offsetof(TKorvaneShaderLight, LightType) == 0);
static_assert(offsetof(TKorvaneShaderLight, Reserved1) == 4);
static_assert(offsetof(TKorvaneShaderLight, Position) == 16);
static_assert(offsetof(TKorvaneShaderLight, Direction) == 32);
static_assert(offsetof(TKorvaneShaderLight, Ambient) == 48);
static_assert(offsetof(TKorvaneShaderLight, Diffuse) == 64);
static_assert(offsetof(TKorvaneShaderLight, Specular) == 80);
static_assert(offsetof(TKorvaneShaderLight, Scattering) == 96);
static_assert(offsetof(TKorvaneShaderLight, SpotCutoff) == 112);
static_assert(offsetof(TKorvaneShaderLight, SpotCosCutoff) == 116);
static_assert(offsetof(TKorvaneShaderLight, SpotExponent) == 120);
static_assert(offsetof(TKorvaneShaderLight, ConstantAttenuation) == 124);
static_assert(offsetof(TKorvaneShaderLight, LinearAttenuation) == 128);
static_assert(offsetof(TKorvaneShaderLight, QuadraticAttenuation) == 132);
static_assert(offsetof(TKorvaneShaderLight, Intensity) == 136);
static_assert(offsetof(TKorvaneShaderLight, Enabled) == 140);

struct TKorvaneFogSettings {
    bool Enabled;
    uint8_t Mode; // 2 linear, 4 exponential, 8 squared exponential
    float Density;
    float FogStart;
    float FogEnd;
    TAlphaColorF Color;

    // The colour is opaque black.
    static TKorvaneFogSettings Create(bool AEnabled, uint8_t AMode, float ADensity, float AStart, float AEnd);
};

// ---------------------------------------------------------------------------
// The material block of the per-draw uniform block (std140 struct "Material",
// 656 bytes); the member names are the GLSL names.

struct TKorvaneShaderTexture {
    TVector3D _Feature;
    TPointF _Tiling;
    float _Pad[2];
};
static_assert(sizeof(TKorvaneShaderTexture) == 32);

struct TKorvaneShaderMaterialData {
    TAlphaColorF _Emissive;
    TAlphaColorF _Ambient;
    TAlphaColorF _Diffuse;
    TAlphaColorF _Specular;
    TAlphaColorF _Clipping;
    TPointF _AlphaCutoff;
    float _ToneMapExp;
    float _Pad0;
    TVector3D _Displacement;
    TVector3D _Features;
    float _Shininess;
    int32_t _Textures;
    int32_t _PoolTexturesOffset;
    int32_t _PoolTextures;
    TKorvaneShaderTexture _Texture[16];
};
static_assert(sizeof(TKorvaneShaderMaterialData) == 656);
static_assert(offsetof(TKorvaneShaderMaterialData, _Clipping) == 64);
static_assert(offsetof(TKorvaneShaderMaterialData, _AlphaCutoff) == 80);
static_assert(offsetof(TKorvaneShaderMaterialData, _ToneMapExp) == 88);
static_assert(offsetof(TKorvaneShaderMaterialData, _Displacement) == 96);
static_assert(offsetof(TKorvaneShaderMaterialData, _Features) == 112);
static_assert(offsetof(TKorvaneShaderMaterialData, _Shininess) == 128);
static_assert(offsetof(TKorvaneShaderMaterialData, _Textures) == 132);
static_assert(offsetof(TKorvaneShaderMaterialData, _PoolTexturesOffset) == 136);
static_assert(offsetof(TKorvaneShaderMaterialData, _PoolTextures) == 140);
static_assert(offsetof(TKorvaneShaderMaterialData, _Texture) == 144);

// Zeroes all 656 bytes, then writes the defaults of every member.
void InitShaderMaterialData(TKorvaneShaderMaterialData& AData);

// ---------------------------------------------------------------------------
// Blending

enum class TBlendFactor : uint8_t {
    bfZero, bfOne, bfSrcColor, bfOneMinusSrcColor, bfSrcAlpha, bfOneMinusSrcAlpha,
    bfDstAlpha, bfOneMinusDstAlpha, bfDstColor, bfOneMinusDstColor, bfSrcAlphaSaturate
};

enum class TBlendEquationFunc : uint8_t { befAdd, befSubtract, befReverseSubtract, befMin, befMax };

// One entry of a context's blend table (seven one-byte fields).
struct TBlendSetting {
    bool Enabled;
    TBlendEquationFunc Func;
    TBlendEquationFunc AlphaFunc;
    TBlendFactor ColorSource;
    TBlendFactor ColorDest;
    TBlendFactor AlphaSource;
    TBlendFactor AlphaDest;

    // Enabled, add, colour ONE / ONE_MINUS_SRC_COLOR, alpha ONE / ONE_MINUS_SRC_ALPHA.
    static TBlendSetting Create();
    static TBlendSetting Create(bool AEnabled);
    static TBlendSetting Create(bool AEnabled, TBlendEquationFunc AFunc, TBlendFactor AColorSource,
                                TBlendFactor AColorDest, TBlendFactor AAlphaSource, TBlendFactor AAlphaDest);
    // The alpha factors repeat the colour factors.
    static TBlendSetting Create(bool AEnabled, TBlendEquationFunc AFunc, TBlendFactor AColorSource,
                                TBlendFactor AColorDest);
    // Premultiplied "over": what 2D drawing expects.
    static TBlendSetting CreateForFMX();

    bool operator==(const TBlendSetting&) const = default;
};
static_assert(sizeof(TBlendSetting) == 7);

// One blend setting per colour draw buffer.
using TBlendSettings = std::array<TBlendSetting, 32>;

// ---------------------------------------------------------------------------
// Other context records and enumerations

enum class TSmoothTarget : uint8_t { stPoints, stLines, stPolygons };
using TSmoothTargets = TSet<TSmoothTarget>;

struct TSmoothSetting {
    TSmoothTargets Targets;
    // All three targets.
    static TSmoothSetting Create();
};

struct TOrthographicData {
    float Left, Top, Right, Bottom, _Near, _Far;
    static TOrthographicData Create(float ALeft, float ATop, float ARight, float ABottom, float ANear, float AFar);
};

// A plane (normal and distance), the form of clip planes and frustum planes.
struct TPlaneF {
    float NX, NY, NZ, D;

    static TPlaneF Create(const TPoint3D& ANormal, float ADistance);
    static TPlaneF Create(double ANX, double ANY, double ANZ, double ADistance);
    TPoint3D Normal() const { return {NX, NY, NZ}; }
    void SetNormal(const TPoint3D& N) { NX = N.X; NY = N.Y; NZ = N.Z; }
    float Distance() const { return D; }
    TVector3D AsVector3D() const { return {NX, NY, NZ, D}; }
    float Values(int AIndex) const { return AIndex == 0 ? NX : AIndex == 1 ? NY : AIndex == 2 ? NZ : D; }
    // The four values in order, for uploading.
    float* GetPointer() { return &NX; }
    const float* GetPointer() const { return &NX; }
    friend constexpr bool operator==(const TPlaneF& A, const TPlaneF& B) = default;
};
static_assert(sizeof(TPlaneF) == 16);

struct TClipPlaneF {
    bool Enabled;
    TPlaneF Plane;
};
using PClipPlaneF = TClipPlaneF*;

// x offset, y offset, width, height of the GL viewport.
using TKorvaneContextSize = std::array<int32_t, 4>;

enum class TContextShaderKindEx : uint8_t { VertexShader, PixelShader, GeometryShader, TessEvalShader, TessCtrlShader };

// The first three have the ordinals of the platform's primitive kinds.
enum class TKorvanePrimitivesKind : uint8_t { Points, Lines, Triangles, LineLoop, LineStrip, TriangleStrip, TriangleFan };

enum class TStencilOpEx : uint8_t { Keep, Zero, Replace, Increase, Decrease, Invert, IncreaseWrap, DecreaseWrap };

enum class TPolygonOffsetFill : uint8_t { pofOffsetFillOn, pofOffsetFillOff };

enum class TMemoryBarrierFlag : uint8_t {
    VertexAttribArrayBarrierBit, ElementArrayBarrierBit, UniformBarrierBit, TextureFetchBarrierBit,
    ShaderImageAccessBarrierBit, CommandBarrierBit, PixelBufferBarrierBit, TextureUpdateBarrierBit,
    BufferUpdateBarrierBit, FrameBufferBarrierBit, TransformFeedbackBarrierBit, AtomicCounterBarrierBit,
    ShaderStorageBarrierBit
};
using TMemoryBarrierFlags = TSet<TMemoryBarrierFlag>;

// ---------------------------------------------------------------------------
// Shader variables

// The kinds the render context adds to the platform's shader variable kinds:
// one integer, and an array of integers. Only the integer setter serves them.
inline constexpr auto ShaderVariableKindInt = static_cast<TContextShaderVariableKind>(6);
inline constexpr auto ShaderVariableKindIntArray = static_cast<TContextShaderVariableKind>(7);

// What a value of a record handed to SetShaderVariableArrayOfStruct is, as far
// as setting uniforms goes. Unsupported stands for every type that has no
// uniform form (strings, pointers, records other than the 3D layer's own ones).
enum class TShaderTypeKind : uint8_t {
    Unsupported, Integer, Boolean, Enumeration, Float, Array, Record,
    PointF, Point3D, Vector3D, AlphaColorF, Matrix3D
};

struct TShaderTypeInfo;

// One field of a described record: its name (the uniform's field name), its
// type and its byte offset inside the record.
struct TShaderRecordField {
    std::string Name;
    const TShaderTypeInfo* Type = nullptr;
    size_t Offset = 0;
};

// A run-time description of a type: its kind and size in bytes, whether an
// integer or enumeration is signed, the element type and count of a fixed-size
// array, and the fields of a record in declaration order. Descriptions refer
// to each other by address, so they must outlive every use (static ones do).
struct TShaderTypeInfo {
    TShaderTypeKind Kind = TShaderTypeKind::Unsupported;
    size_t Size = 0;
    bool Signed = false;
    const TShaderTypeInfo* ElementType = nullptr;
    int ElementCount = 0;
    std::vector<TShaderRecordField> Fields;

    static TShaderTypeInfo Record(size_t ASize, std::vector<TShaderRecordField> AFields);
    static TShaderTypeInfo Array(const TShaderTypeInfo& AElement, int ACount);
    // A 32-bit Boolean: every value but 0 is true.
    static const TShaderTypeInfo& LongBool();
    // The description of T: integers, bool, enumerations, float and double, the
    // points, vectors, colours and matrices of the 3D layer, and fixed-size
    // arrays (T[N], std::array) of those; every other type is Unsupported.
    // Arrays of described records are made with Array.
    template <typename T>
    static const TShaderTypeInfo& Of();
};

namespace shader_type_detail {
template <typename T>
struct StdArray : std::false_type {};
template <typename E, size_t N>
struct StdArray<std::array<E, N>> : std::true_type {
    using Element = E;
    static constexpr size_t Count = N;
};
} // namespace shader_type_detail

template <typename T>
const TShaderTypeInfo& TShaderTypeInfo::Of()
{
    static const TShaderTypeInfo info = [] {
        TShaderTypeInfo i;
        i.Size = sizeof(T);
        if constexpr (std::is_same_v<T, bool>) i.Kind = TShaderTypeKind::Boolean;
        else if constexpr (std::is_integral_v<T>) {
            i.Kind = TShaderTypeKind::Integer;
            i.Signed = std::is_signed_v<T>;
        } else if constexpr (std::is_enum_v<T>) {
            i.Kind = TShaderTypeKind::Enumeration;
            i.Signed = std::is_signed_v<std::underlying_type_t<T>>;
        } else if constexpr (std::is_same_v<T, float> || std::is_same_v<T, double>) i.Kind = TShaderTypeKind::Float;
        else if constexpr (std::is_same_v<T, TPointF>) i.Kind = TShaderTypeKind::PointF;
        else if constexpr (std::is_same_v<T, TPoint3D>) i.Kind = TShaderTypeKind::Point3D;
        else if constexpr (std::is_same_v<T, TVector3D>) i.Kind = TShaderTypeKind::Vector3D;
        else if constexpr (std::is_same_v<T, TAlphaColorF>) i.Kind = TShaderTypeKind::AlphaColorF;
        else if constexpr (std::is_same_v<T, TMatrix3D>) i.Kind = TShaderTypeKind::Matrix3D;
        else if constexpr (std::is_array_v<T> && std::extent_v<T> > 0) {
            i.Kind = TShaderTypeKind::Array;
            i.ElementType = &Of<std::remove_extent_t<T>>();
            i.ElementCount = static_cast<int>(std::extent_v<T>);
        } else if constexpr (shader_type_detail::StdArray<T>::value) {
            i.Kind = TShaderTypeKind::Array;
            i.ElementType = &Of<typename shader_type_detail::StdArray<T>::Element>();
            i.ElementCount = static_cast<int>(shader_type_detail::StdArray<T>::Count);
        }
        return i;
    }();
    return info;
}

// A field of type T at AOffset (offsetof) of its record.
template <typename T>
TShaderRecordField ShaderField(std::string AName, size_t AOffset)
{
    return {std::move(AName), &TShaderTypeInfo::Of<T>(), AOffset};
}

// ---------------------------------------------------------------------------
// OpenGL errors (implemented with the internal GL helpers)

// Reads glGetError until it answers no error or 16 reads were made; answers the
// bitwise OR of the codes read (0 when none was pending).
uint32_t ClearGLErrors();
// ClearGLErrors() != 0; asking also clears up to 16 pending errors.
bool HasGLErrors();

// ---------------------------------------------------------------------------
// Error reporting

// Error kinds handed to the global error handler.
enum : uint8_t { ContextErrorKind = 0, ShaderCompileErrorKind = 1, InitializationErrorKind = 2 };

inline constexpr const char* ContextExceptionPrefix = "[Context Exception]: ";
inline constexpr const char* ShaderCompileExceptionPrefix = "[Shader Compile Exception]: ";
inline constexpr const char* InitializationExceptionPrefix = "[Initialization Exception]: ";

// Formats AMessage with AArgs, logs it behind "[Context Exception]: ", hands the
// prefixed text to ContextErrorHandler (kind 0) and raises EContext3DException
// with the unprefixed message.
[[noreturn]] void RaiseContextException(TObject* Sender, std::string_view AMessage,
                                        const std::vector<FormatArg>& AArgs = {});
template <typename... Args>
[[noreturn]] void RaiseContextExceptionFmt(TObject* Sender, std::string_view AMessage, const Args&... AArgs)
{
    RaiseContextException(Sender, AMessage, std::vector<FormatArg>{FormatArg(AArgs)...});
}

// The same behind "[Initialization Exception]: ", kind 2, raising the plain Exception.
[[noreturn]] void RaiseInitializationException(TObject* Sender, std::string_view AMessage,
                                               const std::vector<FormatArg>& AArgs = {});

// Annotates the compiler's log with the offending source lines, formats AMessage
// with the shader's name and the annotated log, logs it behind
// "[Shader Compile Exception]: " and hands it to the handler (kind 1); raises
// EContext3DException only when ARaise and RaiseShaderCompileErrors are both set.
void RaiseShaderCompileException(TObject* Sender, bool ARaise, std::string_view AMessage, const std::string& AName,
                                 const std::string& ALog, const std::string& ASource);

// The compiler's log with every line that names a source line followed by that
// line, indented with a tab. Understands "ERROR: 0:12: ..." and "0:12(5): error: ...".
std::string AnnotateShaderLog(const std::string& ALog, const std::string& ASource);

} // namespace korvane
