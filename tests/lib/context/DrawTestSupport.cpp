#include "DrawTestSupport.h"

#include <cstring>

#include "Platform.SysUtils.h"

namespace korvane::test {

namespace {
GLuint Compile(GLenum AType, const char* ASource)
{
    const GLuint shader = glCreateShader(AType);
    glShaderSource(shader, 1, &ASource, nullptr);
    glCompileShader(shader);
    GLint ok = 0;
    glGetShaderiv(shader, GL_COMPILE_STATUS, &ok);
    if (!ok) {
        char log[1024] = {};
        glGetShaderInfoLog(shader, sizeof log, nullptr, log);
        throw Exception(std::string("test shader: ") + log);
    }
    return shader;
}
} // namespace

GLuint FlatColorProgram()
{
    static GLuint program = 0;
    if (program && glIsProgram(program)) return program;
    const GLuint vs = Compile(GL_VERTEX_SHADER, R"(#version 430
layout(location = 0) in vec3 a_Position;
layout(location = 12) in mat4 a_ModelMatrix;
uniform bool u_Instanced;
void main()
{
    vec4 p = vec4(a_Position, 1.0);
    gl_Position = u_Instanced ? a_ModelMatrix * p : p;
})");
    const GLuint fs = Compile(GL_FRAGMENT_SHADER, R"(#version 430
uniform vec4 u_Color;
layout(location = 0) out vec4 o_Color;
void main() { o_Color = u_Color; })");
    program = glCreateProgram();
    glAttachShader(program, vs);
    glAttachShader(program, fs);
    glLinkProgram(program);
    glDeleteShader(vs);
    glDeleteShader(fs);
    GLint ok = 0;
    glGetProgramiv(program, GL_LINK_STATUS, &ok);
    if (!ok) throw Exception("test program does not link");
    return program;
}

void TColorMaterial::DoApply(TContext3D*)
{
    ++Applied;
    TAppliedState s;
    s.DepthTest = glIsEnabled(GL_DEPTH_TEST);
    s.Blend0 = glIsEnabledi(GL_BLEND, 0);
    glGetIntegeri_v(GL_BLEND_SRC_RGB, 0, &s.BlendSrcRGB);
    glGetIntegeri_v(GL_BLEND_DST_RGB, 0, &s.BlendDstRGB);
    glGetIntegeri_v(GL_BLEND_SRC_ALPHA, 0, &s.BlendSrcAlpha);
    glGetIntegeri_v(GL_BLEND_DST_ALPHA, 0, &s.BlendDstAlpha);
    States.push_back(s);
    const GLuint program = FlatColorProgram();
    glUseProgram(program);
    glUniform4f(glGetUniformLocation(program, "u_Color"), Color[0], Color[1], Color[2], Color[3]);
    glUniform1i(glGetUniformLocation(program, "u_Instanced"), Instanced ? 1 : 0);
}

void TDrawFixture::SetUp()
{
    ASSERT_TRUE(TKorvaneContext::IsContextAvailable());
    // The GL context is shared by every test of the process: start each from
    // GL's own blending and depth defaults, whatever an earlier test left.
    glDisable(GL_BLEND);
    glBlendEquation(GL_FUNC_ADD);
    glBlendFunc(GL_ONE, GL_ZERO);
    glDisable(GL_DEPTH_TEST);
    glDepthFunc(GL_LESS);
    FTexture = std::make_unique<TTexture>();
    FTexture->SetSize(Size, Size);
    FContext.reset(
        static_cast<TKorvaneContext*>(TContextManager::CreateFromTexture(FTexture.get(), TMultisample::None, true)));
    FFrame = std::make_unique<OffscreenFramebuffer>(Size, Size);
    FContext->Clear({TClearTarget::Color, TClearTarget::Depth}, TAlphaColors::Black, 1.0f, 0);
    TKorvaneContext::ResetDrawCallDiagnostics();
}

void TDrawFixture::TearDown()
{
    FFrame.reset();
    FContext.reset();
    FTexture.reset();
    DesignTimeMode = false;
}

void TDrawFixture::DrawTriangle(const std::array<float, 9>& APositions, TMaterial* AMaterial)
{
    TVertexBuffer vertices({TVertexFormat::Vertex}, 3);
    std::memcpy(vertices.Buffer(), APositions.data(), sizeof(float) * 9);
    TIndexBuffer indices(3);
    for (int i = 0; i < 3; ++i) indices.SetIndices(i, uint32_t(i));
    FContext->DrawPrimitives(TPrimitivesKind::Triangles, &vertices, &indices, AMaterial, 1.0f);
}

} // namespace korvane::test
