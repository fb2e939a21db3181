#pragma once
// Small records and enumerations that cross the boundary of the render context
// (blending, smoothing, orthographic projection, memory barriers, context size),
// the neutral face of the OpenGL error drain, and the three routines through
// which the context layer reports a failure: format the message, write it to the
// debug log behind a prefix, hand it to the optional global error handler, raise.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "Platform.Classes.h"
#include "Platform.SysUtils.h"
#include "Platform.Types3D.h"

namespace korvane {

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
// OpenGL errors (implemented by Korvane.Context.Types.OpenGL)

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
