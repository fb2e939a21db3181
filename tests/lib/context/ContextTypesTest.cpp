#include <gtest/gtest.h>

#include <epoxy/gl.h>

#include <string>
#include <vector>

#include "Korvane.Context.GLES.Windows.h"
#include "Korvane.Context.Types.OpenGL.h"
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
    glCompileShader(shader);
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
    glEnable(0x7FFF);
    EXPECT_EQ(ClearGLErrors(), static_cast<uint32_t>(GL_INVALID_ENUM));
    EXPECT_EQ(ClearGLErrors(), 0u);
    glEnable(0x7FFF);
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
