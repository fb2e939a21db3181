// The program cache of the render context and the shader-variable setters,
// read back from OpenGL.

#include <gtest/gtest.h>

#include <epoxy/gl.h>

#include <array>
#include <cstddef>
#include <string>
#include <vector>

#include "DrawTestSupport.h"
#include "Korvane.Context.GLES.Windows.h"
#include "Korvane.Context.Shader.h"
#include "Korvane.Context.Texturing.h"
#include "Korvane.GL.Internal.h"
#include "LogCapture.h"

using namespace korvane;
using namespace korvane::test;

namespace {
using Var = TContextShaderVariable;
using Kind = TContextShaderVariableKind;

// A stage with a GLSL source, not compiled yet: the context compiles it.
Owned<TContextShader> Shader(TContextShaderKindEx AKind, const std::string& ACode, std::vector<Var> AVariables = {})
{
    return Owned<TContextShader>(new TContextShader(
        static_cast<TContextShaderKind>(AKind), "test",
        {TContextShaderSource(TContextShaderArch::GLSL, ACode, std::move(AVariables))}));
}

const char* const PlainVS = R"(#version 430
in vec3 a_Position;
void main() { gl_Position = vec4(a_Position, 1.0); }
)";

const char* const PlainFS = R"(#version 430
out vec4 o_Color;
void main() { o_Color = vec4(1.0); }
)";

// A pass-through geometry stage; ATag makes two different ones.
std::string PassThroughGS(float ATag)
{
    return "#version 430\nlayout(triangles) in;\nlayout(triangle_strip, max_vertices = 3) out;\n"
           "void main()\n{\n    for (int i = 0; i < 3; ++i) {\n"
           "        gl_Position = gl_in[i].gl_Position * " +
           FloatToStr(ATag) + ";\n        EmitVertex();\n    }\n    EndPrimitive();\n}\n";
}

GLint UniformLocation(const TShaderProgram* P, const char* AName)
{
    return glGetUniformLocation(static_cast<GLuint>(P->Prog()), AName);
}

std::array<float, 4> ReadVec4(const TShaderProgram* P, const char* AName)
{
    std::array<float, 4> v{-1, -1, -1, -1};
    glGetUniformfv(static_cast<GLuint>(P->Prog()), UniformLocation(P, AName), v.data());
    return v;
}

// The program object is gone, or goes as soon as GL no longer uses it.
bool Deleted(GLuint AName)
{
    if (!glIsProgram(AName)) return true;
    GLint pending = GL_FALSE;
    glGetProgramiv(AName, GL_DELETE_STATUS, &pending);
    return pending == GL_TRUE;
}

int ReadInt(const TShaderProgram* P, const char* AName)
{
    GLint v = -1;
    glGetUniformiv(static_cast<GLuint>(P->Prog()), UniformLocation(P, AName), &v);
    return v;
}

class ProgramCache : public TDrawFixture {
protected:
    void TearDown() override
    {
        DesignTimeMode = false;
        TKorvaneContext::FreeProgramCache();
        InstalledShaderProgramClass().ActivateDefault();
        EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
        TDrawFixture::TearDown();
    }
    TKorvaneContext& Context() { return *FContext; }
};
} // namespace

// ---------------------------------------------------------------------------
// The cache

TEST_F(ProgramCache, VertexAndPixelShaderPickTheProgramWhateverTheGeometryStage)
{
    auto vs = Shader(TContextShaderKindEx::VertexShader, PlainVS);
    auto ps = Shader(TContextShaderKindEx::PixelShader, PlainFS);
    auto gs1 = Shader(TContextShaderKindEx::GeometryShader, PassThroughGS(1));
    auto gs2 = Shader(TContextShaderKindEx::GeometryShader, PassThroughGS(2));
    EXPECT_EQ(Context().GetProgram(vs.get(), ps.get()), nullptr); // no handles yet

    Context().SetShaders(vs.get(), gs1.get(), nullptr, nullptr, ps.get());
    // Every stage was compiled as the GL stage of its kind.
    for (auto [shader, type] : {std::pair{vs.get(), GL_VERTEX_SHADER}, std::pair{ps.get(), GL_FRAGMENT_SHADER},
                                std::pair{gs1.get(), GL_GEOMETRY_SHADER}}) {
        ASSERT_NE(shader->Handle(), 0u);
        GLint actual = 0;
        glGetShaderiv(static_cast<GLuint>(shader->Handle()), GL_SHADER_TYPE, &actual);
        EXPECT_EQ(actual, type);
    }
    TShaderProgram* first = TKorvaneContext::GetCurrentProgram();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->GS(), gs1->Handle());
    GLint bound = 0;
    glGetIntegerv(GL_CURRENT_PROGRAM, &bound);
    EXPECT_EQ(static_cast<uintptr_t>(bound), first->Prog());

    // Another geometry stage: the same program, found by the two other handles.
    Context().SetShaders(vs.get(), gs2.get(), nullptr, nullptr, ps.get());
    EXPECT_NE(gs2->Handle(), 0u);
    EXPECT_EQ(TKorvaneContext::GetCurrentProgram(), first);
    EXPECT_EQ(Context().AcquireProgram(vs.get(), nullptr, nullptr, nullptr, ps.get()), first);
    EXPECT_EQ(Context().GetProgram(vs.get(), ps.get()), first);
    // The platform's two-stage form reaches the same cache.
    Context().SetShaders(vs.get(), ps.get());
    EXPECT_EQ(TKorvaneContext::GetCurrentProgram(), first);

    // Removing frees the program; the current program does not outlive it.
    const auto name = static_cast<GLuint>(first->Prog());
    Context().RemoveProgram(vs.get(), ps.get());
    EXPECT_EQ(Context().GetProgram(vs.get(), ps.get()), nullptr);
    EXPECT_EQ(TKorvaneContext::GetCurrentProgram(), nullptr);
    EXPECT_TRUE(Deleted(name));
    Context().RemoveProgram(vs.get(), ps.get()); // nothing left: nothing happens

    // A stage missing, or one without a source for this context: no program,
    // nothing made current.
    Context().SetShaders(vs.get(), nullptr, nullptr, nullptr, nullptr);
    Context().UseProgram(vs.get(), nullptr, nullptr, nullptr, nullptr);
    Owned<TContextShader> foreign(new TContextShader(TContextShaderKind::PixelShader, "foreign",
                                                     {TContextShaderSource(TContextShaderArch::DX11, "float4 main();", {})}));
    Context().SetShaders(vs.get(), nullptr, nullptr, nullptr, foreign.get());
    EXPECT_EQ(foreign->Handle(), 0u);
    EXPECT_EQ(TKorvaneContext::GetCurrentProgram(), nullptr);
    EXPECT_EQ(Context().GetProgram(vs.get(), ps.get()), nullptr);
}

namespace {
// Draws with the context's program of its two shaders, in the colour it holds.
class TShaderColorMaterial : public TMaterial {
public:
    TShaderColorMaterial()
        : VS(Shader(TContextShaderKindEx::VertexShader, PlainVS)),
          PS(Shader(TContextShaderKindEx::PixelShader, R"(#version 430
uniform vec4 _Color;
out vec4 o_Color;
void main() { o_Color = _Color; }
)",
                    {Var::Create("Color", Kind::Vector, 0, 1)}))
    {
    }
    Owned<TContextShader> VS, PS;
    TVector3D Color;
    TShaderProgram* UsedProgram = nullptr;

protected:
    void DoApply(TContext3D* AContext) override
    {
        AContext->SetShaders(VS.get(), PS.get());
        AContext->SetShaderVariable("Color", {Color});
        UsedProgram = TKorvaneContext::GetCurrentProgram();
    }
};
} // namespace

TEST_F(ProgramCache, AMaterialDrawsWithTheCachedProgramAndItsVariables)
{
    TShaderColorMaterial material;
    material.Color = TVector3D(0, 1, 0, 1);
    DrawTriangle(CentreTriangle, &material);
    EXPECT_TRUE(NearColor(Pixel(Size / 2, Size / 2), {0, 255, 0, 255}));
    EXPECT_TRUE(NearColor(Pixel(0, 0), {0, 0, 0, 255}));
    TShaderProgram* first = material.UsedProgram;
    ASSERT_NE(first, nullptr);

    material.Color = TVector3D(1, 0, 0, 1);
    DrawTriangle(CentreTriangle, &material);
    EXPECT_TRUE(NearColor(Pixel(Size / 2, Size / 2), {255, 0, 0, 255}));
    EXPECT_EQ(material.UsedProgram, first);
    // The draw leaves no program bound; the cache still knows the current one.
    GLint bound = -1;
    glGetIntegerv(GL_CURRENT_PROGRAM, &bound);
    EXPECT_EQ(bound, 0);
    EXPECT_EQ(TKorvaneContext::GetCurrentProgram(), first);
}

TEST_F(ProgramCache, DeletingAStageDropsEveryProgramLinkedWithIt)
{
    auto vs1 = Shader(TContextShaderKindEx::VertexShader, PlainVS);
    auto vs2 = Shader(TContextShaderKindEx::VertexShader, R"(#version 430
in vec3 a_Position;
uniform vec4 _Offset;
void main() { gl_Position = vec4(a_Position, 1.0) + _Offset; }
)",
                      {Var::Create("Offset", Kind::Vector, 0, 1)});
    auto ps = Shader(TContextShaderKindEx::PixelShader, PlainFS);
    auto gs = Shader(TContextShaderKindEx::GeometryShader, PassThroughGS(1));

    Context().SetShaders(vs1.get(), gs.get(), nullptr, nullptr, ps.get());
    TShaderProgram* withGeometry = TKorvaneContext::GetCurrentProgram();
    ASSERT_NE(withGeometry, nullptr);
    const auto firstName = static_cast<GLuint>(withGeometry->Prog());
    // Deleting the geometry stage drops the program that was linked with it.
    TContextManager::FinalizeShader(gs.get());
    EXPECT_EQ(gs->Handle(), 0u);
    EXPECT_TRUE(Deleted(firstName));
    EXPECT_EQ(TKorvaneContext::GetCurrentProgram(), nullptr);
    EXPECT_EQ(Context().GetProgram(vs1.get(), ps.get()), nullptr);

    // Two programs share the pixel shader; deleting it drops both.
    Context().SetShaders(vs1.get(), ps.get());
    const auto name1 = static_cast<GLuint>(TKorvaneContext::GetCurrentProgram()->Prog());
    Context().SetShaders(vs2.get(), ps.get());
    const auto name2 = static_cast<GLuint>(TKorvaneContext::GetCurrentProgram()->Prog());
    ASSERT_NE(name1, name2);
    TContextManager::FinalizeShader(ps.get());
    EXPECT_TRUE(Deleted(name1));
    EXPECT_TRUE(Deleted(name2));
    EXPECT_EQ(TKorvaneContext::GetCurrentProgram(), nullptr);

    // Whatever name GL gives the stages now, the program found for them is
    // linked from them: vs1 was deleted and vs2 sits in its place.
    TContextManager::FinalizeShader(vs1.get());
    Context().SetShaders(vs2.get(), ps.get());
    TShaderProgram* fresh = TKorvaneContext::GetCurrentProgram();
    ASSERT_NE(fresh, nullptr);
    EXPECT_EQ(fresh->VS(), vs2->Handle());
    EXPECT_EQ(fresh->PS(), ps->Handle());
    EXPECT_TRUE(fresh->Available());
    ASSERT_EQ(fresh->Variables().count("Offset"), 1u);
    EXPECT_GE(fresh->Variables().at("Offset").Index, 0);
}

// Freeing the program GL is using unbinds it: GL would otherwise keep the
// program, and with it its stages, alive after the framework let them go.
// Freeing another program leaves the current one bound.
TEST_F(ProgramCache, FreeingTheCurrentProgramUnbindsIt)
{
    auto vs1 = Shader(TContextShaderKindEx::VertexShader, PlainVS);
    auto vs2 = Shader(TContextShaderKindEx::VertexShader, std::string(PlainVS) + "// another stage\n");
    auto ps = Shader(TContextShaderKindEx::PixelShader, PlainFS);
    Context().SetShaders(vs1.get(), ps.get());
    TShaderProgram* first = TKorvaneContext::GetCurrentProgram();
    ASSERT_NE(first, nullptr);
    const auto firstName = static_cast<GLuint>(first->Prog());
    Context().SetShaders(vs2.get(), ps.get());
    TShaderProgram* second = TKorvaneContext::GetCurrentProgram();
    ASSERT_NE(second, nullptr);
    const auto secondName = static_cast<GLuint>(second->Prog());
    ASSERT_EQ(static_cast<GLuint>(GLInteger(GL_CURRENT_PROGRAM)), secondName);

    Context().RemoveProgram(first);
    EXPECT_FALSE(glIsProgram(firstName));
    EXPECT_EQ(static_cast<GLuint>(GLInteger(GL_CURRENT_PROGRAM)), secondName);

    const auto vsName = static_cast<GLuint>(vs2->Handle());
    Context().RemoveProgram(second);
    EXPECT_EQ(GLInteger(GL_CURRENT_PROGRAM), 0);
    EXPECT_FALSE(glIsProgram(secondName)) << "the program lives on in GL";
    TContextManager::FinalizeShader(vs2.get());
    EXPECT_FALSE(glIsShader(vsName)) << "the stage lives on in GL";
}

TEST_F(ProgramCache, ProgramsDoNotOutliveTheirGLContext)
{
    auto vs = Shader(TContextShaderKindEx::VertexShader, PlainVS);
    auto ps = Shader(TContextShaderKindEx::PixelShader, PlainFS);
    Context().SetShaders(vs.get(), ps.get());
    ASSERT_NE(TKorvaneContext::GetCurrentProgram(), nullptr);
    FFrame.reset();
    FContext.reset();
    FTexture.reset();
    TCustomContextWindows::ResetSharedContextForTesting();
    EXPECT_EQ(TKorvaneContext::GetCurrentProgram(), nullptr);
    // A new GL context: the old stage names mean nothing there, and the cache
    // holds no program made with them.
    EXPECT_EQ(TKorvaneContext::PlatformClass().PlatformIsContextAvailable(), true);
    EXPECT_EQ(TKorvaneContext::GetCurrentProgram(), nullptr);
    vs->SetHandle(0);
    ps->SetHandle(0);
}

TEST_F(ProgramCache, EachSamplerHasItsOwnTextureUnitAcrossStages)
{
    auto vs = Shader(TContextShaderKindEx::VertexShader, R"(#version 430
in vec3 a_Position;
uniform sampler2D _A;
uniform sampler2D _B;
void main() { gl_Position = vec4(a_Position, 1.0) + textureLod(_A, vec2(0.0), 0.0) + textureLod(_B, vec2(0.0), 0.0); }
)",
                     {Var::Create("A", Kind::Texture, 0, 0), Var::Create("B", Kind::Texture, 0, 0)});
    auto gs = Shader(TContextShaderKindEx::GeometryShader, R"(#version 430
layout(triangles) in;
layout(triangle_strip, max_vertices = 3) out;
uniform sampler2D _G;
void main()
{
    for (int i = 0; i < 3; ++i) {
        gl_Position = gl_in[i].gl_Position + textureLod(_G, vec2(0.0), 0.0);
        EmitVertex();
    }
    EndPrimitive();
}
)",
                     {Var::Create("G", Kind::Texture, 0, 0)});
    auto ps = Shader(TContextShaderKindEx::PixelShader, R"(#version 430
uniform sampler2D _C;
out vec4 o_Color;
void main() { o_Color = texture(_C, vec2(0.5)); }
)",
                     {Var::Create("C", Kind::Texture, 0, 0)});
    Context().SetShaders(vs.get(), gs.get(), nullptr, nullptr, ps.get());
    TShaderProgram* p = TKorvaneContext::GetCurrentProgram();
    ASSERT_NE(p, nullptr);
    const auto& v = p->Variables();
    EXPECT_EQ(v.at("A").TextureUnit, 1);
    EXPECT_EQ(v.at("B").TextureUnit, 2);
    EXPECT_EQ(v.at("G").TextureUnit, 3); // not 1: that is the vertex stage's A
    EXPECT_EQ(v.at("C").TextureUnit, 4);
    EXPECT_EQ(v.at("G").ShaderKind, 2);
}

// ---------------------------------------------------------------------------
// Shader variables

namespace {
const char* const VariablesVS = R"(#version 430
in vec3 a_Position;
void main() { gl_Position = vec4(a_Position, 1.0); }
)";

// Every uniform takes part in the output, so that all of them are active.
const char* const VariablesFS = R"(#version 430
uniform float _F1;
uniform vec2 _F2;
uniform vec3 _F3;
uniform vec4 _Vecs[4];
uniform vec4 _Rows[4];
uniform mat4 _M;
uniform mat4 _Bones[2];
uniform int _Flag;
uniform int _One[2];
uniform int _Three[3];
uniform float _NotInt;
uniform sampler2D _Tex;
uniform samplerCube _Cube;
out vec4 o_Color;
void main()
{
    vec4 s = vec4(_F1, _F2, 0.0) + vec4(_F3, 0.0) + _Vecs[0] + _Vecs[1] + _Vecs[2] + _Vecs[3];
    s += _Rows[0] + _Rows[1] + _Rows[2] + _Rows[3] + _M[0] + _Bones[0][1] + _Bones[1][2];
    s += vec4(float(_Flag + _One[0] + _One[1] + _Three[0] + _Three[1] + _Three[2]), _NotInt, 0.0, 0.0);
    o_Color = s + texture(_Tex, vec2(0.5)) + texture(_Cube, vec3(1.0, 0.0, 0.0));
}
)";

std::vector<Var> VariablesOfFS()
{
    return {Var::Create("F1", Kind::Float, 0, 1),
            Var::Create("F2", Kind::Float2, 0, 1),
            Var::Create("F3", Kind::Float3, 0, 1),
            Var::Create("Vecs", Kind::Vector, 0, 3),
            Var::Create("Rows", Kind::Matrix, 0, 4),
            Var::Create("M", Kind::Vector, 0, 1),
            Var::Create("Bones", Kind::Matrix, 0, 1),
            Var::Create("Flag", ShaderVariableKindInt, 0, 0),
            Var::Create("One", ShaderVariableKindInt, 0, 0),
            Var::Create("Three", ShaderVariableKindIntArray, 0, 3),
            Var::Create("NotInt", Kind::Float, 0, 1),
            Var::Create("Tex", Kind::Texture, 0, 0),
            Var::Create("Cube", Kind::Texture, 0, 0)};
}

// The context's current program made of VariablesVS and a pixel stage with
// its variables, for the whole test.
class CurrentProgram : public ProgramCache {
protected:
    void UsePixelStage(const char* APixelCode, std::vector<Var> AVariables)
    {
        FVS = Shader(TContextShaderKindEx::VertexShader, VariablesVS);
        FPS = Shader(TContextShaderKindEx::PixelShader, APixelCode, std::move(AVariables));
        Context().SetShaders(FVS.get(), FPS.get());
        FProgram = TKorvaneContext::GetCurrentProgram();
        ASSERT_NE(FProgram, nullptr);
    }
    void TearDown() override
    {
        FProgram = nullptr;
        ProgramCache::TearDown();
        FPS.reset();
        FVS.reset();
    }
    Owned<TContextShader> FVS, FPS;
    TShaderProgram* FProgram = nullptr;
};

class ShaderVariables : public CurrentProgram {
protected:
    void SetUp() override
    {
        CurrentProgram::SetUp();
        UsePixelStage(VariablesFS, VariablesOfFS());
    }
};
} // namespace

TEST_F(ShaderVariables, VectorsGoByKindAndStopAtTheVariableSize)
{
    Context().SetShaderVariable("F1", {TVector3D(1.5f, 9, 9, 9)});
    Context().SetShaderVariable("F2", {TVector3D(2, 3, 9, 9)});
    Context().SetShaderVariable("F3", {TVector3D(4, 5, 6, 9)});
    EXPECT_EQ(ReadVec4(FProgram, "_F1")[0], 1.5f);
    EXPECT_EQ(ReadVec4(FProgram, "_F2")[1], 3.0f);
    EXPECT_EQ(ReadVec4(FProgram, "_F3")[2], 6.0f);

    // Five vectors on a variable of size 3 (declared with room for four): three arrive.
    const std::vector<TVector3D> five{{1, 1, 1, 1}, {2, 2, 2, 2}, {3, 3, 3, 3}, {4, 4, 4, 4}, {5, 5, 5, 5}};
    Context().SetShaderVariable("Vecs", five);
    for (int i = 0; i < 3; ++i) {
        const std::string name = "_Vecs[" + std::to_string(i) + "]";
        EXPECT_EQ(ReadVec4(FProgram, name.c_str()), (std::array<float, 4>{float(i + 1), float(i + 1), float(i + 1),
                                                                          float(i + 1)}));
    }
    EXPECT_EQ(ReadVec4(FProgram, "_Vecs[3]"), (std::array<float, 4>{0, 0, 0, 0}));

    // No vectors set nothing.
    Context().SetShaderVariable("F1", std::span<const TVector3D>());
    EXPECT_EQ(ReadVec4(FProgram, "_F1")[0], 1.5f);
}

TEST_F(ShaderVariables, MatricesAsTransposedRowsOrAsOneMat4)
{
    const TMatrix3D m(1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16);
    // The rows of the transposed matrix: its columns.
    Context().SetShaderVariable("Rows", m, false);
    EXPECT_EQ(ReadVec4(FProgram, "_Rows[0]"), (std::array<float, 4>{1, 5, 9, 13}));
    EXPECT_EQ(ReadVec4(FProgram, "_Rows[3]"), (std::array<float, 4>{4, 8, 12, 16}));

    Context().SetShaderVariable("M", m, true);
    std::array<float, 16> read{};
    glGetUniformfv(static_cast<GLuint>(FProgram->Prog()), UniformLocation(FProgram, "_M"), read.data());
    for (int i = 0; i < 16; ++i) EXPECT_EQ(read[size_t(i)], float(i + 1)) << i;

    // An array of two mat4 (its size read at link) gets the one matrix given,
    // and nothing that happens to lie behind it.
    EXPECT_EQ(FProgram->Variables().at("Bones").Size, 2);
    const TMatrix3D pair[2] = {m, TMatrix3D(-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1)};
    Context().SetShaderVariable("Bones", pair[0], true);
    glGetUniformfv(static_cast<GLuint>(FProgram->Prog()), UniformLocation(FProgram, "_Bones[0]"), read.data());
    EXPECT_EQ(read[15], 16.0f);
    glGetUniformfv(static_cast<GLuint>(FProgram->Prog()), UniformLocation(FProgram, "_Bones[1]"), read.data());
    for (float f : read) EXPECT_EQ(f, 0.0f);
}

TEST_F(ShaderVariables, IntegersByKind)
{
    struct Case {
        const char* Name;
        std::vector<int32_t> Values;
        std::vector<std::pair<const char*, int>> Expected;
    } cases[] = {
        {"Flag", {6}, {{"_Flag", 6}}},
        // Kind 6 holds one integer, whatever is handed over and however large the uniform is.
        {"One", {7, 9}, {{"_One[0]", 7}, {"_One[1]", 0}}},
        // Kind 7 passes as many as it is given.
        {"Three", {5, 6}, {{"_Three[0]", 5}, {"_Three[1]", 6}, {"_Three[2]", 0}}},
        // No values, and a variable of another kind: nothing.
        {"Flag", {}, {{"_Flag", 6}}},
    };
    for (const auto& c : cases) {
        Context().SetShaderVariableInt(c.Name, c.Values);
        for (const auto& [glsl, value] : c.Expected) EXPECT_EQ(ReadInt(FProgram, glsl), value) << c.Name << " " << glsl;
    }
    Context().SetShaderVariable("NotInt", {TVector3D(0.25f, 0, 0, 0)});
    Context().SetShaderVariableInt("NotInt", {3});
    EXPECT_EQ(ReadVec4(FProgram, "_NotInt")[0], 0.25f);
}

TEST_F(ShaderVariables, TexturesAreBoundOnTheVariablesUnit)
{
    Owned<TKorvaneTexture> cube(TKorvaneTexture::Create());
    cube->Kind = TKorvaneTextureKind::CubeMap;
    cube->SetSize(16, 16);
    cube->Initialize();
    ASSERT_NE(cube->Handle(), 0u);
    Owned<TKorvaneTexture> flat(TKorvaneTexture::Create());
    flat->SetSize(4, 4);
    flat->Initialize();
    ASSERT_NE(flat->Handle(), 0u);

    const int cubeUnit = FProgram->Variables().at("Cube").TextureUnit;
    const int flatUnit = FProgram->Variables().at("Tex").TextureUnit;
    ASSERT_GT(cubeUnit, 0);
    ASSERT_NE(cubeUnit, flatUnit);
    Context().SetShaderVariable("Cube", cube.get());
    Context().SetShaderVariable("Tex", flat.get());
    EXPECT_EQ(cube->TextureUnit, cubeUnit);
    EXPECT_EQ(ReadInt(FProgram, "_Cube"), cubeUnit);
    EXPECT_EQ(ReadInt(FProgram, "_Tex"), flatUnit);
    GLint boundCube = 0, boundFlat = 0;
    glActiveTexture(GL_TEXTURE0 + static_cast<GLenum>(cubeUnit));
    glGetIntegerv(GL_TEXTURE_BINDING_CUBE_MAP, &boundCube);
    glActiveTexture(GL_TEXTURE0 + static_cast<GLenum>(flatUnit));
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &boundFlat);
    EXPECT_EQ(static_cast<uintptr_t>(boundCube), cube->Handle());
    EXPECT_EQ(static_cast<uintptr_t>(boundFlat), flat->Handle());

    // No texture changes nothing.
    Context().SetShaderVariable("Cube", static_cast<TTexture*>(nullptr));
    glActiveTexture(GL_TEXTURE0 + static_cast<GLenum>(cubeUnit));
    glGetIntegerv(GL_TEXTURE_BINDING_CUBE_MAP, &boundCube);
    EXPECT_EQ(static_cast<uintptr_t>(boundCube), cube->Handle());
    glActiveTexture(GL_TEXTURE0);
}

TEST_F(ShaderVariables, UnknownNamesAndNoCurrentProgramSetNothing)
{
    Context().SetShaderVariable("F1", {TVector3D(0.5f, 0, 0, 0)});
    Context().SetShaderVariable("Nothing", {TVector3D(1, 2, 3, 4)});
    Context().SetShaderVariable("Nothing", TMatrix3D::Identity());
    Context().SetShaderVariable("Nothing", TMatrix3D::Identity(), true);
    Context().SetShaderVariableInt("Nothing", {1});
    Context().SetShaderVariable("Nothing", static_cast<TTexture*>(nullptr));
    const float one = 1;
    Context().SetShaderVariableArrayOfStruct(
        "Nothing", TShaderTypeInfo::Record(sizeof(float), {ShaderField<float>("X", 0)}), 1, &one);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));

    // Without a current program the known name sets nothing either.
    Context().RemoveProgram(FVS.get(), FPS.get());
    ASSERT_EQ(TKorvaneContext::GetCurrentProgram(), nullptr);
    Context().SetShaders(FVS.get(), FPS.get());
    TShaderProgram* again = TKorvaneContext::GetCurrentProgram();
    TKorvaneContext::RemoveProgramsOfShader(0); // 0 is no stage: nothing is dropped
    EXPECT_EQ(TKorvaneContext::GetCurrentProgram(), again);
    Context().RemoveProgram(again);
    Context().SetShaderVariable("F1", {TVector3D(0.75f, 0, 0, 0)});
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST_F(ShaderVariables, AGLErrorRaisesExceptWhileDesigning)
{
    // A float value for a sampler: GL refuses it.
    test::GLErrorNetPause pause;
    const std::string expected = "Cannot find shader variable: Tex";
    {
        LogCapture log;
        EXPECT_EQ(MessageOf([&] { Context().SetShaderVariable("Tex", {TVector3D(1, 0, 0, 0)}); }), expected);
        EXPECT_TRUE(log.Contains("[Context Exception]: " + expected));
    }
    DesignTimeMode = true;
    LogCapture log;
    EXPECT_EQ(MessageOf([&] { Context().SetShaderVariable("Tex", {TVector3D(1, 0, 0, 0)}); }), "(no exception)");
    EXPECT_TRUE(log.Contains("[Context Exception]: " + expected));
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

// ---------------------------------------------------------------------------
// Arrays of records

namespace {
enum class TLightKind : int32_t { Point, Spot, Sun };

struct TLightRec {
    float Intensity;
    bool Enabled;
    TLightKind LightKind;
    TPoint3D Position;
    TAlphaColorF Color;
    TMatrix3D Matrix;
};

const TShaderTypeInfo& LightRecType()
{
    static const TShaderTypeInfo type = TShaderTypeInfo::Record(
        sizeof(TLightRec), {ShaderField<float>("Intensity", offsetof(TLightRec, Intensity)),
                            ShaderField<bool>("Enabled", offsetof(TLightRec, Enabled)),
                            ShaderField<TLightKind>("LightKind", offsetof(TLightRec, LightKind)),
                            ShaderField<TPoint3D>("Position", offsetof(TLightRec, Position)),
                            ShaderField<TAlphaColorF>("Color", offsetof(TLightRec, Color)),
                            ShaderField<TMatrix3D>("Matrix", offsetof(TLightRec, Matrix))});
    return type;
}

const char* const LightsFS = R"(#version 430
struct TL { float _Intensity; int _Enabled; int _LightKind; vec4 _Position; vec4 _Color; mat4 _Matrix; };
uniform TL _L[2];
out vec4 o_Color;
void main()
{
    vec4 s = vec4(0.0);
    for (int i = 0; i < 2; ++i)
        s += vec4(_L[i]._Intensity, float(_L[i]._Enabled + _L[i]._LightKind), 0.0, 0.0) + _L[i]._Position
             + _L[i]._Color + _L[i]._Matrix[3];
    o_Color = s;
}
)";

std::vector<Var> LightVariables()
{
    std::vector<Var> v;
    for (int i = 0; i < 2; ++i) {
        const std::string p = "L[" + std::to_string(i) + "].";
        v.push_back(Var::Create(p + "Intensity", Kind::Float, 0, 1));
        v.push_back(Var::Create(p + "Enabled", ShaderVariableKindInt, 0, 0));
        v.push_back(Var::Create(p + "LightKind", ShaderVariableKindInt, 0, 0));
        v.push_back(Var::Create(p + "Position", Kind::Vector, 0, 1));
        v.push_back(Var::Create(p + "Color", Kind::Vector, 0, 1));
        v.push_back(Var::Create(p + "Matrix", Kind::Vector, 0, 1));
    }
    return v;
}

class RecordArrays : public CurrentProgram {
protected:
    void SetUp() override
    {
        CurrentProgram::SetUp();
        UsePixelStage(LightsFS, LightVariables());
    }
};
} // namespace

TEST_F(RecordArrays, EachFieldOfEachElementIsSetByItsType)
{
    TLightRec lights[2] = {};
    lights[0].Intensity = 0.5f;
    lights[1] = {2.5f, true, TLightKind::Sun, TPoint3D(1, 2, 3), TAlphaColorF(0.1f, 0.2f, 0.3f, 0.4f),
                 TMatrix3D::CreateTranslation(TPoint3D(7, 8, 9))};
    Context().SetShaderVariableArrayOfStruct("L", LightRecType(), 2, lights);

    // "L[1].Intensity" is the GLSL uniform _L[1]._Intensity.
    EXPECT_EQ(FProgram->Variables().at("L[1].Intensity").Index, UniformLocation(FProgram, "_L[1]._Intensity"));
    EXPECT_EQ(ReadVec4(FProgram, "_L[0]._Intensity")[0], 0.5f);
    EXPECT_EQ(ReadVec4(FProgram, "_L[1]._Intensity")[0], 2.5f);
    EXPECT_EQ(ReadInt(FProgram, "_L[1]._Enabled"), 1);
    EXPECT_EQ(ReadInt(FProgram, "_L[0]._Enabled"), 0);
    EXPECT_EQ(ReadInt(FProgram, "_L[1]._LightKind"), 2);
    EXPECT_EQ(ReadVec4(FProgram, "_L[1]._Position"), (std::array<float, 4>{1, 2, 3, 0}));
    EXPECT_EQ(ReadVec4(FProgram, "_L[1]._Color"), (std::array<float, 4>{0.1f, 0.2f, 0.3f, 0.4f}));
    std::array<float, 16> m{};
    glGetUniformfv(static_cast<GLuint>(FProgram->Prog()), UniformLocation(FProgram, "_L[1]._Matrix"), m.data());
    EXPECT_EQ(m[12], 7.0f); // as stored: the translation in m41..m43
    EXPECT_EQ(m[14], 9.0f);

    // No elements: nothing, whatever the type.
    Context().SetShaderVariableArrayOfStruct("L", TShaderTypeInfo::Of<float>(), 0, lights);
}

// The names of an array's fields are kept by the program after the first set;
// later sets still reach every field, a description changed in place is
// followed, and a program linked again resolves its variables anew.
TEST_F(RecordArrays, LaterSetsReachTheSameFieldsAndFollowChanges)
{
    TLightRec lights[2] = {};
    for (float round : {1.0f, 2.0f, 3.0f}) {
        lights[1].Intensity = round;
        lights[1].LightKind = round == 2.0f ? TLightKind::Spot : TLightKind::Sun;
        lights[0].Color = TAlphaColorF(round / 4, 0, 0, 1);
        Context().SetShaderVariableArrayOfStruct("L", LightRecType(), 2, lights);
        EXPECT_EQ(ReadVec4(FProgram, "_L[1]._Intensity")[0], round);
        EXPECT_EQ(ReadInt(FProgram, "_L[1]._LightKind"), round == 2.0f ? 1 : 2);
        EXPECT_EQ(ReadVec4(FProgram, "_L[0]._Color")[0], round / 4);
    }

    // One description object, its fields replaced between two sets.
    struct TPair {
        float A;
        float B;
    };
    const TPair pair[1] = {{0.25f, 0.75f}};
    TShaderTypeInfo type = TShaderTypeInfo::Record(sizeof(TPair), {ShaderField<float>("Intensity", 0)});
    Context().SetShaderVariableArrayOfStruct("L", type, 1, pair);
    EXPECT_EQ(ReadVec4(FProgram, "_L[0]._Intensity")[0], 0.25f);
    type = TShaderTypeInfo::Record(sizeof(TPair), {ShaderField<float>("Intensity", offsetof(TPair, B))});
    Context().SetShaderVariableArrayOfStruct("L", type, 1, pair);
    EXPECT_EQ(ReadVec4(FProgram, "_L[0]._Intensity")[0], 0.75f);

    // Linked again: a new GL program whose uniforms start at zero.
    FProgram->LinkProgram(FVS.get(), FPS.get());
    ASSERT_TRUE(FProgram->Available());
    FProgram->Use();
    EXPECT_EQ(ReadVec4(FProgram, "_L[1]._Intensity")[0], 0.0f);
    lights[1].Intensity = 4.5f;
    Context().SetShaderVariableArrayOfStruct("L", LightRecType(), 2, lights);
    EXPECT_EQ(ReadVec4(FProgram, "_L[1]._Intensity")[0], 4.5f);
    EXPECT_EQ(FProgram->Variables().at("L[1].Intensity").Index, UniformLocation(FProgram, "_L[1]._Intensity"));
}

TEST_F(RecordArrays, DescriptionsThatCannotBeSetAreRefused)
{
    struct TNamed {
        float Intensity;
        std::string Name;
    };
    const TShaderTypeInfo named =
        TShaderTypeInfo::Record(sizeof(TNamed), {ShaderField<float>("Intensity", offsetof(TNamed, Intensity)),
                                                 ShaderField<std::string>("Name", offsetof(TNamed, Name))});
    const TShaderTypeInfo empty = TShaderTypeInfo::Record(sizeof(float), {});
    const TShaderTypeInfo outside = TShaderTypeInfo::Record(sizeof(float), {ShaderField<double>("Intensity", 0)});
    TNamed values[1] = {{1.0f, "x"}};
    struct Case {
        const TShaderTypeInfo* Type;
        std::string Message;
    } cases[] = {
        {&named, "structure field \"L[0].Name\" - type not supported in shader language!"},
        {&TShaderTypeInfo::Of<float>(),
         "TKorvaneContext.DoSetShaderVariableArrayOfStruct - structure type not found by RTTI!"},
        {&empty, "TKorvaneContext.DoSetShaderVariableArrayOfStruct - structure fields missing"},
        {&outside, "structure field \"L[0].Intensity\" lies outside its structure of 4 bytes"},
    };
    for (const auto& c : cases) {
        DesignTimeMode = false;
        EXPECT_EQ(MessageOf([&] { Context().SetShaderVariableArrayOfStruct("L", *c.Type, 1, values); }), c.Message);
        // While designing the failure is logged instead.
        DesignTimeMode = true;
        LogCapture log;
        EXPECT_EQ(MessageOf([&] { Context().SetShaderVariableArrayOfStruct("L", *c.Type, 1, values); }),
                  "(no exception)");
        EXPECT_TRUE(log.Contains(c.Message)) << c.Message;
    }
    DesignTimeMode = false;
    // The field before the unsupported one was set.
    EXPECT_EQ(ReadVec4(FProgram, "_L[0]._Intensity")[0], 1.0f);
}

// ---------------------------------------------------------------------------
// Texture units, names and the program log

TEST(TextureUnits, ByIndexAndByName)
{
    for (auto [index, expected] : {std::pair{0, GL_TEXTURE0}, std::pair{32, GL_TEXTURE0}, std::pair{-1, GL_TEXTURE0},
                                   std::pair{1, GL_TEXTURE1}, std::pair{31, GL_TEXTURE31}})
        EXPECT_EQ(TKorvaneContextOpenGLES::GetTextureByTextureIndex(index), static_cast<uint32_t>(expected)) << index;

    ASSERT_TRUE(TKorvaneContext::IsContextAvailable());
    Owned<TTexture> target(new TTexture());
    target->SetSize(4, 4);
    Owned<TKorvaneContext> context(
        static_cast<TKorvaneContext*>(TContextManager::CreateFromTexture(target.get(), TMultisample::None, false)));
    for (auto [name, expected] : {std::pair{"TEXTURE12", 12}, std::pair{"Texture3", 3}, std::pair{"texture0", 0},
                                  std::pair{"texture", 0}, std::pair{"diffuse", 0}, std::pair{"Texture-1", 0},
                                  std::pair{"Texture 3", 0}, std::pair{"Texture3a", 0}, std::pair{"MyTexture3", 0},
                                  std::pair{"Texture99999999999", 0}})
        EXPECT_EQ(context->GetTextureUnitIndex(name), expected) << name;
    context.reset();
}

TEST(ProgramState, LogLineMarksMissingObjects)
{
    ASSERT_TRUE(TKorvaneContext::IsContextAvailable());
    Owned<TTexture> target(new TTexture());
    target->SetSize(4, 4);
    Owned<TKorvaneContext> context(
        static_cast<TKorvaneContext*>(TContextManager::CreateFromTexture(target.get(), TMultisample::None, false)));
    TObject program, texture;
    LogCapture log;
    context->LogProgramState("A", &program, &texture, 1);
    context->LogProgramState("B", &program, nullptr, 2);
    context->LogProgramState("C", nullptr, &texture, 3);
    context->LogProgramState("D", nullptr, nullptr, 4);
    const auto lines = log.Lines();
    ASSERT_EQ(lines.size(), 4u);
    auto matches = [](const std::string& line, const std::string& prefix, const std::string& middle,
                      const std::string& suffix) {
        return line.rfind(prefix, 0) == 0 && line.find(middle) != std::string::npos &&
               line.size() >= suffix.size() && line.compare(line.size() - suffix.size(), suffix.size(), suffix) == 0;
    };
    EXPECT_TRUE(matches(lines[0], "A - Program = ", ", Texture = ", ", Index = 1")) << lines[0];
    EXPECT_EQ(lines[0].find('?'), std::string::npos) << lines[0];
    EXPECT_TRUE(matches(lines[1], "B - Program = ", ", Texture = ?, ", "Index = 2")) << lines[1];
    EXPECT_TRUE(matches(lines[2], "C - Program = ?, Texture = ", ", Index = ", ", Index = 3")) << lines[2];
    EXPECT_EQ(lines[3], "D - Program = ?, Texture = ?, Index = 4");
    context.reset();
}
