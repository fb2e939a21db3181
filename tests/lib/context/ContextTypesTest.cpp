#include <gtest/gtest.h>

#include <epoxy/gl.h>

#include <cstring>
#include <string>
#include <vector>

#include "GLTestHarness.h"
#include "Korvane.Context.GLES.Windows.h"
#include "Korvane.Context.Types.OpenGL.h"
#include "Korvane.GL.Internal.h"
#include "LogCapture.h"

using namespace korvane;

namespace {
struct HandlerCall {
    uint8_t Kind;
    std::string Message;
};
std::vector<HandlerCall> GCalls;
void RecordingHandler(TObject*, uint8_t Kind, const std::string& Message) { GCalls.push_back({Kind, Message}); }

class ErrorReporting : public ::testing::Test {
protected:
    void SetUp() override
    {
        GCalls.clear();
        ContextErrorHandler = RecordingHandler;
    }
    void TearDown() override
    {
        ContextErrorHandler = nullptr;
        RaiseShaderCompileErrors = true;
    }
};

const char* const VertexMessage = "Cannot create Vertex-Shader for '%s':\r\n%s";
const std::string Source = "#version 430\r\nvoid main()\r\n{\r\n    gl_Position = vec4(x);\r\n}\r\n";
} // namespace

// Each log line is followed by the source line it names, after a tab.
TEST_F(ErrorReporting, CompileLogsAreAnnotatedWithTheirSourceLines)
{
    struct Case {
        const char* Name;
        std::string Log;
        std::string Annotated;
    } cases[] = {
        {"classic form", "ERROR: 0:4: 'x' : undeclared identifier\n",
         "\r\nERROR: 0:4: 'x' : undeclared identifier\r\n\r\n\t    gl_Position = vec4(x);\r\n\r\n"},
        {"Mesa form", "0:4(22): error: `x' undeclared\n",
         "\r\n0:4(22): error: `x' undeclared\r\n\r\n\t    gl_Position = vec4(x);\r\n\r\n"},
        {"two lines, second without a number", "0:2(1): error: a\nwarning: b\n",
         "\r\n0:2(1): error: a\r\n\r\n\tvoid main()\r\n\r\n\r\nwarning: b\r\n\r\n"},
        {"line 0 is taken as line 1", "ERROR: 0:0: bad\n", "\r\nERROR: 0:0: bad\r\n\r\n\t#version 430\r\n\r\n"},
        {"a line beyond the source names none", "ERROR: 0:99: far\n", "\r\nERROR: 0:99: far\r\n\r\n"},
        {"a number that is not one", "ERROR: 0:4x: odd\n", "\r\nERROR: 0:4x: odd\r\n\r\n"},
        {"empty lines are skipped", "\n\nERROR: 0:1: a\n", "\r\nERROR: 0:1: a\r\n\r\n\t#version 430\r\n\r\n"},
        {"empty log", "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        EXPECT_EQ(AnnotateShaderLog(c.Log, Source), c.Annotated);
    }
}

TEST_F(ErrorReporting, ShaderCompileErrorsRaiseOnlyWhenBothFlagsAreSet)
{
    const std::string log = "0:4(22): error: `x' undeclared\n";
    const std::string message =
        "Cannot create Vertex-Shader for 'prog':\r\n" + AnnotateShaderLog(log, Source);
    struct Case {
        bool Raise, Global, Raises;
    } cases[] = {{true, true, true}, {true, false, false}, {false, true, false}, {false, false, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "ARaise " << c.Raise << " RaiseShaderCompileErrors " << c.Global);
        GCalls.clear();
        RaiseShaderCompileErrors = c.Global;
        test::LogCapture capture;
        bool raised = false;
        try {
            RaiseShaderCompileException(nullptr, c.Raise, VertexMessage, "prog", log, Source);
        } catch (const EContext3DException& e) {
            raised = true;
            EXPECT_EQ(e.Message(), message);
        }
        EXPECT_EQ(raised, c.Raises);
        EXPECT_TRUE(capture.Contains("[Shader Compile Exception]: " + message));
        ASSERT_EQ(GCalls.size(), 1u);
        EXPECT_EQ(GCalls[0].Kind, 1);
        EXPECT_EQ(GCalls[0].Message, "[Shader Compile Exception]: " + message);
    }
}

TEST_F(ErrorReporting, EmptyLogGivesTheMessageWithAnEmptyText)
{
    try {
        RaiseShaderCompileException(nullptr, true, VertexMessage, "prog", "", Source);
        FAIL();
    } catch (const EContext3DException& e) {
        EXPECT_EQ(e.Message(), "Cannot create Vertex-Shader for 'prog':\r\n");
    }
}

// The compiler's own log, annotated: the line it complains about follows it.
TEST_F(ErrorReporting, RealCompilerLogNamesTheOffendingLine)
{
    ASSERT_TRUE(TKorvaneContext::IsContextAvailable());
    const std::string source = "#version 430\nvoid main()\n{\n    float y = undefinedThing;\n}\n";
    const GLuint shader = glCreateShader(GL_VERTEX_SHADER);
    const char* text = source.c_str();
    glShaderSource(shader, 1, &text, nullptr);
    {
        // The compiler reports the failure as a debug error message too.
        test::GLErrorNetPause pause;
        glCompileShader(shader);
    }
    GLint length = 0;
    glGetShaderiv(shader, GL_INFO_LOG_LENGTH, &length);
    std::string log(static_cast<size_t>(length), '\0');
    glGetShaderInfoLog(shader, length, nullptr, log.data());
    glDeleteShader(shader);
    log.resize(log.find('\0') == std::string::npos ? log.size() : log.find('\0'));
    ASSERT_FALSE(log.empty());
    EXPECT_NE(AnnotateShaderLog(log, source).find("\r\n\t    float y = undefinedThing;\r\n"), std::string::npos)
        << log;
}

TEST_F(ErrorReporting, ContextAndInitialisationErrors)
{
    {
        test::LogCapture log;
        try {
            RaiseContextExceptionFmt(nullptr, "cannot begin rendering scene for %s: %d", "TContextOpenGLWindows", 1282);
            FAIL();
        } catch (const EContext3DException& e) {
            EXPECT_EQ(e.Message(), "cannot begin rendering scene for TContextOpenGLWindows: 1282");
        }
        EXPECT_TRUE(log.Contains("[Context Exception]: cannot begin rendering scene for TContextOpenGLWindows: 1282"));
    }
    try {
        RaiseInitializationException(nullptr, "Failed to initialize context: %s", {"boom"});
        FAIL();
    } catch (const EContext3DException&) {
        FAIL() << "initialisation errors raise the plain class";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "Failed to initialize context: boom");
    }
    ASSERT_EQ(GCalls.size(), 2u);
    EXPECT_EQ(GCalls[0].Kind, 0);
    EXPECT_EQ(GCalls[1].Kind, 2);
    EXPECT_EQ(GCalls[1].Message, "[Initialization Exception]: Failed to initialize context: boom");
}

// ---------------------------------------------------------------------------

TEST(GLErrors, DrainingStopsWhenNothingIsPendingAndAfterSixteenReads)
{
    ASSERT_TRUE(TKorvaneContext::IsContextAvailable());
    EXPECT_EQ(ClearGLErrors(), 0u);
    test::LeaveGLErrorPending();
    EXPECT_EQ(ClearGLErrors(), static_cast<uint32_t>(GL_INVALID_ENUM));
    EXPECT_EQ(ClearGLErrors(), 0u);
    test::LeaveGLErrorPending();
    EXPECT_TRUE(HasGLErrors());
    EXPECT_FALSE(HasGLErrors());

    // A source that never stops reporting is read 16 times, no more.
    static int reads;
    reads = 0;
    EXPECT_EQ(DrainGLErrors([]() -> uint32_t {
                  ++reads;
                  return 0x0500;
              }),
              0x0500u);
    EXPECT_EQ(reads, 16);
    reads = 0;
    EXPECT_EQ(DrainGLErrors([]() -> uint32_t { return ++reads <= 3 ? 0x0500u << (reads - 1) : 0u; }),
              0x0500u | 0x0A00u | 0x1400u);
    EXPECT_EQ(reads, 4);
}

TEST(ContextRecords, BlendSettingsAndConversions)
{
    const auto def = TBlendSetting::Create();
    EXPECT_TRUE(def.Enabled);
    EXPECT_EQ(def.Func, TBlendEquationFunc::befAdd);
    EXPECT_EQ(def.AlphaFunc, TBlendEquationFunc::befAdd);
    EXPECT_EQ(def.ColorSource, TBlendFactor::bfOne);
    EXPECT_EQ(def.ColorDest, TBlendFactor::bfOneMinusSrcColor);
    EXPECT_EQ(def.AlphaSource, TBlendFactor::bfOne);
    EXPECT_EQ(def.AlphaDest, TBlendFactor::bfOneMinusSrcAlpha);
    EXPECT_FALSE(TBlendSetting::Create(false).Enabled);
    EXPECT_EQ(TBlendSetting::Create(false).ColorDest, TBlendFactor::bfOneMinusSrcColor);
    const auto fmx = TBlendSetting::CreateForFMX();
    EXPECT_EQ(fmx.ColorDest, TBlendFactor::bfOneMinusSrcAlpha);
    EXPECT_EQ(fmx.AlphaDest, TBlendFactor::bfOneMinusSrcAlpha);
    const auto two = TBlendSetting::Create(true, TBlendEquationFunc::befMax, TBlendFactor::bfSrcAlpha,
                                           TBlendFactor::bfDstColor);
    EXPECT_EQ(two.AlphaFunc, TBlendEquationFunc::befMax);
    EXPECT_EQ(two.AlphaSource, TBlendFactor::bfSrcAlpha);
    EXPECT_EQ(two.AlphaDest, TBlendFactor::bfDstColor);

    const uint32_t factors[] = {GL_ZERO, GL_ONE, GL_SRC_COLOR, GL_ONE_MINUS_SRC_COLOR, GL_SRC_ALPHA,
                                GL_ONE_MINUS_SRC_ALPHA, GL_DST_ALPHA, GL_ONE_MINUS_DST_ALPHA, GL_DST_COLOR,
                                GL_ONE_MINUS_DST_COLOR, GL_SRC_ALPHA_SATURATE};
    for (int i = 0; i < 11; ++i) EXPECT_EQ(BlendFactorToGL(static_cast<TBlendFactor>(i)), factors[i]) << i;
    EXPECT_EQ(BlendFactorToGL(static_cast<TBlendFactor>(11)), static_cast<uint32_t>(GL_ONE));
    const uint32_t operations[] = {GL_FUNC_ADD, GL_FUNC_SUBTRACT, GL_FUNC_REVERSE_SUBTRACT, GL_MIN, GL_MAX};
    for (int i = 0; i < 5; ++i) EXPECT_EQ(BlendOperationToGL(static_cast<TBlendEquationFunc>(i)), operations[i]) << i;
    EXPECT_EQ(BlendOperationToGL(static_cast<TBlendEquationFunc>(200)), static_cast<uint32_t>(GL_FUNC_ADD));

    const auto smooth = TSmoothSetting::Create();
    EXPECT_TRUE(smooth.Targets.Contains(TSmoothTarget::stPoints));
    EXPECT_TRUE(smooth.Targets.Contains(TSmoothTarget::stLines));
    EXPECT_TRUE(smooth.Targets.Contains(TSmoothTarget::stPolygons));
}

TEST(ContextRecords, ShaderLightFromASpotLight)
{
    const auto d = TLightDescription::Create(false, 0xFF336699, TLightType::Spot, 60, 7, TPoint3D(1, 2, 3),
                                             TPoint3D(0, -1, 0));
    const auto l = TKorvaneShaderLight::Create(d);
    EXPECT_EQ(l.Enabled, 0);
    EXPECT_FALSE(l.IsEnabled());
    EXPECT_EQ(l.LightType, 2);
    EXPECT_EQ(l.Reserved1[0] | l.Reserved1[1] | l.Reserved1[2], 0);
    EXPECT_EQ(l.Position, TVector3D(1, 2, 3, 1));
    EXPECT_EQ(l.Direction, TVector3D(0, -1, 0, 1));
    EXPECT_FLOAT_EQ(l.SpotCutoff, 60);
    EXPECT_FLOAT_EQ(l.SpotCosCutoff, 0.5f);
    EXPECT_FLOAT_EQ(l.SpotExponent, 7);
    EXPECT_EQ(l.Ambient, TAlphaColorF(0, 0, 0, 1));
    EXPECT_EQ(l.Specular, TAlphaColorF(1, 1, 1, 1));
    EXPECT_EQ(l.Scattering, TVector3D(0.1f, 0.0034f, 1.0f, 0.84f));
    EXPECT_NEAR(l.Diffuse.R, 0x33 / 255.0, 1e-6);
    EXPECT_NEAR(l.Diffuse.G, 0x66 / 255.0, 1e-6);
    EXPECT_NEAR(l.Diffuse.B, 0x99 / 255.0, 1e-6);
    EXPECT_FLOAT_EQ(l.Diffuse.A, 1);
    EXPECT_EQ(l.ConstantAttenuation, 1);
    EXPECT_EQ(l.LinearAttenuation, 0);
    EXPECT_EQ(l.QuadraticAttenuation, 0);
    EXPECT_EQ(l.Intensity, 1);

    const auto back = l.ToLightDescription();
    EXPECT_FALSE(back.Enabled);
    EXPECT_EQ(back.LightType, TLightType::Spot);
    EXPECT_EQ(back.Color, 0xFF336699u);
    EXPECT_FLOAT_EQ(back.SpotCutOff, 60);
    EXPECT_FLOAT_EQ(back.SpotExponent, 7);
    EXPECT_EQ(back.Position, TPoint3D(1, 2, 3));
    EXPECT_EQ(back.Direction, TPoint3D(0, -1, 0));

    auto on = TKorvaneShaderLight::Create(TLightDescription::Create(true, 0xFFFFFFFF, TLightType::Point, 180, 0, {}, {}));
    EXPECT_EQ(on.Enabled, 1);
    EXPECT_TRUE(on.ToLightDescription().Enabled);
    on.Enabled = -3; // a negative value counts as off
    EXPECT_FALSE(on.IsEnabled());
    EXPECT_FALSE(on.ToLightDescription().Enabled);
}

TEST(ContextRecords, MaterialDataDefaults)
{
    TKorvaneShaderMaterialData m;
    std::memset(static_cast<void*>(&m), 0xAB, sizeof(m));
    InitShaderMaterialData(m);
    EXPECT_EQ(m._Emissive, TAlphaColorF(0, 0, 0, 1));
    EXPECT_EQ(m._Ambient, TAlphaColorF(0.5f, 0.5f, 0.5f, 1));
    EXPECT_EQ(m._Diffuse, TAlphaColorF(1, 1, 1, 1));
    EXPECT_EQ(m._Specular, TAlphaColorF(0.75f, 0.75f, 0.75f, 1));
    EXPECT_EQ(m._Clipping, TAlphaColorF(0, 0, 0, 0));
    EXPECT_EQ(m._AlphaCutoff, TPointF(0, 0));
    EXPECT_EQ(m._ToneMapExp, 1.0f);
    EXPECT_EQ(m._Displacement, TVector3D(0.1f, 0.1f, 0.1f, 1));
    EXPECT_EQ(m._Features, TVector3D(1, 0, 0, 0));
    EXPECT_EQ(m._Shininess, 32.0f);
    EXPECT_EQ(m._Textures, 1);
    EXPECT_EQ(m._PoolTexturesOffset, 0);
    EXPECT_EQ(m._PoolTextures, 0);
    for (const auto& t : m._Texture) {
        EXPECT_EQ(t._Feature, TVector3D(0, 0, 0, 0));
        EXPECT_EQ(t._Tiling, TPointF(1, 1));
    }
    // Nothing of the earlier contents survives, padding included: the block goes to the GPU as it is.
    const auto* bytes = reinterpret_cast<const uint8_t*>(&m);
    EXPECT_EQ(bytes[92], 0);
    EXPECT_EQ(bytes[144 + 24], 0);
}

TEST(ContextRecords, FogPlanesAndClipPlanes)
{
    const auto fog = TKorvaneFogSettings::Create(false, 2, 0.001f, 100, 500);
    EXPECT_FALSE(fog.Enabled);
    EXPECT_EQ(fog.Mode, 2);
    EXPECT_FLOAT_EQ(fog.Density, 0.001f);
    EXPECT_EQ(fog.FogStart, 100);
    EXPECT_EQ(fog.FogEnd, 500);
    EXPECT_EQ(fog.Color, TAlphaColorF(0, 0, 0, 1));

    auto p = TPlaneF::Create(TPoint3D(0, 1, 0), -2.5f);
    EXPECT_EQ(p.Normal(), TPoint3D(0, 1, 0));
    EXPECT_EQ(p.Distance(), -2.5f);
    EXPECT_EQ(p.AsVector3D(), TVector3D(0, 1, 0, -2.5f));
    EXPECT_EQ(p.GetPointer()[3], -2.5f);
    const auto q = TPlaneF::Create(0.25, 0.5, 0.75, 1.0);
    EXPECT_EQ(q.AsVector3D(), TVector3D(0.25f, 0.5f, 0.75f, 1.0f));
    TClipPlaneF clip{true, q};
    PClipPlaneF pc = &clip;
    EXPECT_TRUE(pc->Enabled);
    EXPECT_EQ(pc->Plane.D, 1.0f);

    const auto o = TOrthographicData::Create(1, 2, 3, 4, 5, 6);
    EXPECT_EQ(o.Left, 1);
    EXPECT_EQ(o.Bottom, 4);
    EXPECT_EQ(o._Far, 6);
}
