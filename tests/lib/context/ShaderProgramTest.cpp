#include <gtest/gtest.h>

#include <epoxy/gl.h>

#include <array>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "GLTestHarness.h"
#include "Korvane.Context.Buffers.OpenGL.h"
#include "Korvane.Context.GLES.Windows.h"
#include "Korvane.Context.Shader.OpenGL.h"
#include "LogCapture.h"
#include "TestHelpers.h"

using namespace korvane;

namespace {
using test::MessageOf;
using test::Owned;

using Var = TContextShaderVariable;
using Kind = TContextShaderVariableKind;

// A compiled stage with its GLSL source and variables.
Owned<TContextShader> Stage(TContextShaderKind AKind, const std::string& ACode, std::vector<Var> AVariables = {})
{
    Owned<TContextShader> s(new TContextShader(
        AKind, "test", {TContextShaderSource(TContextShaderArch::GLSL, ACode, std::move(AVariables))}));
    const int type = AKind == TContextShaderKind::VertexShader ? GL_VERTEX_SHADER : GL_FRAGMENT_SHADER;
    s->SetHandle(ShaderProgramClass->BuildShader(type, std::vector<uint8_t>(ACode.begin(), ACode.end()), true));
    return s;
}

const char* const PlainVS = R"(#version 430
in vec3 a_Position;
void main() { gl_Position = vec4(a_Position, 1.0); }
)";

const char* const BlockFS = R"(#version 430
layout(std140) uniform ColorBlock { vec4 u_Color; };
out vec4 o_Color;
void main() { o_Color = u_Color; }
)";

class ShaderPrograms : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(TKorvaneContext::IsContextAvailable());
        ASSERT_EQ(ShaderProgramClass, &TOpenGLShaderProgram::ClassInfo());
    }
    void TearDown() override
    {
        ContextErrorHandler = nullptr;
        TOpenGLShaderProgram::ClassInfo().ActivateDefault();
        EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    }
    Owned<TShaderProgram> Program(TContextShader* vs, TContextShader* fs)
    {
        return Owned<TShaderProgram>(ShaderProgramClass->Create(TContextOpenGLWindows::StaticClass(), vs, fs));
    }
};
} // namespace

TEST_F(ShaderPrograms, AttributesGetTheirFixedLocations)
{
    // Declared in another order than the fixed locations.
    auto vs = Stage(TContextShaderKind::VertexShader, R"(#version 430
in mat4 a_ModelMatrix;
in vec3 a_Tangent; in vec3 a_Binormal;
in vec2 a_TexCoord3; in vec2 a_TexCoord2; in vec2 a_TexCoord1; in vec2 a_TexCoord0;
in vec4 a_Color3; in vec4 a_Color2; in vec4 a_Color1; in vec4 a_Color;
in vec3 a_Normal;
in vec3 a_Position;
void main()
{
    gl_Position = a_ModelMatrix * vec4(a_Position + a_Normal + a_Binormal + a_Tangent, 1.0)
        + a_Color + a_Color1 + a_Color2 + a_Color3 + vec4(a_TexCoord0 + a_TexCoord1 + a_TexCoord2 + a_TexCoord3, 0.0, 0.0);
}
)");
    auto fs = Stage(TContextShaderKind::PixelShader, "#version 430\nout vec4 o_Color;\nvoid main() { o_Color = vec4(1.0); }\n");
    auto p = Program(vs.get(), fs.get());
    ASSERT_TRUE(p->Available());
    EXPECT_EQ(p->ContextClass(), TContextOpenGLWindows::StaticClass());
    EXPECT_EQ(p->VS(), vs->Handle());
    EXPECT_EQ(p->PS(), fs->Handle());
    EXPECT_EQ(p->GS(), 0u);
    for (int i = 0; i < 13; ++i)
        EXPECT_EQ(glGetAttribLocation(static_cast<GLuint>(p->Prog()), ShaderAttributeNames[i]), i)
            << ShaderAttributeNames[i];
    EXPECT_STREQ(ShaderAttributeNames[0], "a_Position");
    EXPECT_STREQ(ShaderAttributeNames[12], "a_ModelMatrix");
}

TEST_F(ShaderPrograms, VariablesGetLocationsUnitsAndArraySizes)
{
    auto vs = Stage(TContextShaderKind::VertexShader, R"(#version 430
in vec3 a_Position;
uniform sampler2D _A;
uniform sampler2D _B;
uniform sampler2D _Unused;
uniform mat4 _Bones[4];
struct TLight { vec4 _Position; };
uniform TLight _Light;
void main()
{
    vec4 t = textureLod(_A, vec2(0.0), 0.0) + textureLod(_B, vec2(0.0), 0.0);
    gl_Position = _Bones[3] * vec4(a_Position, 1.0) + t + _Light._Position;
}
)",
                    {Var::Create("A", Kind::Texture, 0, 0), Var::Create("B", Kind::Texture, 0, 0),
                     Var::Create("Unused", Kind::Texture, 0, 0), Var::Create("Bones", Kind::Matrix, 0, 1),
                     Var::Create("Light.Position", Kind::Vector, 0, 1)});
    auto fs = Stage(TContextShaderKind::PixelShader, R"(#version 430
uniform sampler2D _C;
out vec4 o_Color;
void main() { o_Color = texture(_C, vec2(0.5)); }
)",
                    {Var::Create("C", Kind::Texture, 0, 0)});
    auto p = Program(vs.get(), fs.get());
    const auto& v = p->Variables();
    ASSERT_EQ(v.size(), 6u);
    EXPECT_EQ(v.at("A").TextureUnit, 1);
    EXPECT_EQ(v.at("B").TextureUnit, 2);
    EXPECT_EQ(v.at("C").TextureUnit, 3); // the fragment stage goes on counting
    EXPECT_EQ(v.at("Unused").Index, -1);
    EXPECT_EQ(v.at("Unused").TextureUnit, -1); // not used by the program: no unit
    EXPECT_EQ(v.at("Bones").Size, 4);          // listed as "_Bones[0]"
    EXPECT_GE(v.at("Light.Position").Index, 0);
    EXPECT_EQ(v.at("Light.Position").Index,
              glGetUniformLocation(static_cast<GLuint>(p->Prog()), "_Light._Position"));
    EXPECT_EQ(v.at("A").ShaderKind, 0);
    EXPECT_EQ(v.at("C").ShaderKind, 1);
}

TEST_F(ShaderPrograms, LinkFailureRaisesAndLeavesNoProgram)
{
    static std::vector<std::pair<uint8_t, std::string>> calls;
    calls.clear();
    ContextErrorHandler = [](TObject*, uint8_t kind, const std::string& m) { calls.push_back({kind, m}); };
    auto vs = Stage(TContextShaderKind::VertexShader, PlainVS);
    auto bad = Stage(TContextShaderKind::PixelShader, R"(#version 430
in vec4 v_Missing;
out vec4 o_Color;
void main() { o_Color = v_Missing; }
)");
    test::LogCapture log;
    const std::string m = MessageOf([&] { Program(vs.get(), bad.get()); });
    EXPECT_EQ(m.rfind("cannot create shader program: TOpenGLShaderProgram - ", 0), 0u) << m;
    EXPECT_GT(m.size(), std::string("cannot create shader program: TOpenGLShaderProgram - ").size()); // the link log
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].first, 0);
    EXPECT_TRUE(log.Contains("[Context Exception]: cannot create shader program: TOpenGLShaderProgram - "));

    // A program linked again from a failing pair is unavailable afterwards.
    auto good = Stage(TContextShaderKind::PixelShader, BlockFS);
    auto p = Program(vs.get(), good.get());
    ASSERT_TRUE(p->Available());
    EXPECT_THROW(p->LinkProgram(vs.get(), bad.get()), EContext3DException);
    EXPECT_FALSE(p->Available());
    EXPECT_EQ(p->Prog(), 0u);
    p->Use(); // does nothing
    GLint current = -1;
    glGetIntegerv(GL_CURRENT_PROGRAM, &current);
    EXPECT_EQ(current, 0);
}

TEST_F(ShaderPrograms, CompileFailuresRaiseOnlyWhileDesigning)
{
    const std::string code = "#version 430\nvoid main()\n{\n    gl_Position = vec4(nothing);\n}\n";
    const std::vector<uint8_t> bytes(code.begin(), code.end());
    // The compiler reports each failure as a debug error message too.
    test::GLErrorNetPause pause;
    try {
        ShaderProgramClass->BuildShader(GL_VERTEX_SHADER, bytes, true);
        FAIL();
    } catch (const EContext3DException& e) {
        EXPECT_EQ(e.Message().rfind("Cannot create Vertex-Shader for 'TOpenGLShaderProgram':\r\n", 0), 0u);
        EXPECT_NE(e.Message().find("\t    gl_Position = vec4(nothing);\r\n"), std::string::npos) << e.Message();
    }
    test::LogCapture log;
    const uintptr_t handle = ShaderProgramClass->BuildShader(GL_FRAGMENT_SHADER, bytes, false);
    EXPECT_NE(handle, 0u); // the failed stage is handed back
    EXPECT_TRUE(log.Contains("[Shader Compile Exception]: Cannot create Fragment-Shader for 'TOpenGLShaderProgram'"));
    glDeleteShader(static_cast<GLuint>(handle));
}

TEST_F(ShaderPrograms, UniformBlockLimits)
{
    auto vs = Stage(TContextShaderKind::VertexShader, PlainVS);
    auto fs = Stage(TContextShaderKind::PixelShader, BlockFS);
    auto p = Program(vs.get(), fs.get());
    const int limit = std::min(TKorvaneContext::MaxVertexShaderUniformBlocks(),
                               TKorvaneContext::MaxFragmentShaderUniformBlocks());
    ASSERT_GT(limit, 1);
    std::array<float, 4> data{};
    for (int i = 0; i < limit; ++i) ASSERT_NE(p->RegisterUniformBuffer("Block" + std::to_string(i), &data, 16), nullptr);
    EXPECT_EQ(MessageOf([&] { p->RegisterUniformBuffer("OneTooMany", &data, 16); }),
              "failed to register uniform buffer - maximum number of vertex uniform blocks exceeded");
    EXPECT_EQ(p->UniformBufferCount(), limit);
    EXPECT_EQ(p->IndexOfUniformBuffer("OneTooMany"), -1);
    // A registered name is answered without a new entry.
    EXPECT_EQ(p->RegisterUniformBuffer("Block3", &data, 16), p->GetUniformBufferByName("Block3"));

    p->ClearUniformBuffers();
    EXPECT_EQ(p->UniformBufferCount(), 0);
    EXPECT_EQ(p->IndexOfUniformBuffer("Block3"), -1);
    std::vector<uint8_t> big(static_cast<size_t>(TKorvaneContext::MaxUniformBlockSize()) + 1);
    EXPECT_EQ(MessageOf([&] { p->RegisterUniformBuffer("Big", big.data(), int64_t(big.size())); }),
              "failed to register uniform buffer - maximum uniform block size exceeded");
    EXPECT_EQ(p->UniformBufferCount(), 0);
}

TEST_F(ShaderPrograms, RegisteredEntriesAndUnregistering)
{
    auto vs = Stage(TContextShaderKind::VertexShader, PlainVS);
    auto fs = Stage(TContextShaderKind::PixelShader, R"(#version 430
layout(std140) uniform First { vec4 u_A; };
layout(std140) uniform Second { vec4 u_B; };
out vec4 o_Color;
void main() { o_Color = u_A + u_B; }
)");
    auto p = Program(vs.get(), fs.get());
    std::array<float, 4> a{1, 2, 3, 4}, b{5, 6, 7, 8}, other{9, 9, 9, 9};
    PUniformBufferStruct first = p->RegisterUniformBuffer("First", a.data(), 16);
    PUniformBufferStruct second = p->RegisterUniformBuffer("Second", b.data(), 16);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->Binding, 0);
    EXPECT_EQ(second->Binding, 1);
    EXPECT_EQ(first->Buffer->Size(), 16);
    // Registering again answers the same entry and uploads nothing.
    EXPECT_EQ(p->RegisterUniformBuffer("First", other.data(), 16), first);
    EXPECT_EQ(first->Data, a.data());
    first->Buffer->Bind();
    std::array<float, 4> gpu{};
    glGetBufferSubData(GL_UNIFORM_BUFFER, 0, 16, gpu.data());
    first->Buffer->Unbind();
    EXPECT_EQ(gpu, a);

    p->UnregisterUniformBufferByIdx(-1);
    p->UnregisterUniformBufferByIdx(2);
    p->UnregisterUniformBufferByName("Third");
    EXPECT_EQ(p->UniformBufferCount(), 2);
    p->UnregisterUniformBufferByName("First");
    EXPECT_EQ(p->UniformBufferCount(), 1);
    // Entries stay where they are: the answer for "Second" is still good.
    EXPECT_EQ(p->GetUniformBufferByName("Second"), second);
    p->PushUniformBuffers();
    const GLuint prog = static_cast<GLuint>(p->Prog());
    GLint binding = -1;
    glGetActiveUniformBlockiv(prog, glGetUniformBlockIndex(prog, "Second"), GL_UNIFORM_BLOCK_BINDING, &binding);
    EXPECT_EQ(binding, 0);
    EXPECT_EQ(second->Binding, 0);
}

TEST_F(ShaderPrograms, LinkingABufferToAnUndeclaredBlockRaises)
{
    auto vs = Stage(TContextShaderKind::VertexShader, PlainVS);
    auto fs = Stage(TContextShaderKind::PixelShader, BlockFS);
    auto p = Program(vs.get(), fs.get());
    Owned<TBufferObject> b(BufferObjectClass->Create(TBufferUsage::DynamicDraw, TBufferBindingTarget::Uniform, nullptr));
    b->LinkWithBindingPoint(3, true);
    EXPECT_EQ(b->BindingPoint(), 3u);
    EXPECT_EQ(MessageOf([&] { b->LinkWithShaderProgram(p.get(), "NoSuchBlock", nullptr, 0, true); }),
              Format("TBufferObject.LinkWithShaderProgram failed: invalid uniform block index (program=%d, index=-1, "
                     "name=NoSuchBlock)",
                     p->Prog()));
    EXPECT_FALSE(b->Linked());
    b->LinkWithShaderProgram(p.get(), "ColorBlock", nullptr, 0, true);
    EXPECT_TRUE(b->Linked());
    glBindBufferBase(GL_UNIFORM_BUFFER, 3, 0);
}

// An error someone else left pending is not taken for a failure of these calls.
TEST_F(ShaderPrograms, UnrelatedPendingErrorsDoNotFailTheNextCall)
{
    auto vs = Stage(TContextShaderKind::VertexShader, PlainVS);
    auto fs = Stage(TContextShaderKind::PixelShader, BlockFS);
    test::LeaveGLErrorPending();
    auto p = Program(vs.get(), fs.get());
    EXPECT_TRUE(p->Available());
    test::LeaveGLErrorPending();
    EXPECT_NO_THROW(p->Use());
    test::LeaveGLErrorPending();
    EXPECT_NO_THROW(TOpenGLShaderProgram::ClassInfo().ActivateDefault());
    Owned<TBufferObject> b(BufferObjectClass->Create(TBufferUsage::DynamicDraw, TBufferBindingTarget::Uniform, nullptr));
    test::LeaveGLErrorPending();
    EXPECT_NO_THROW(b->LinkWithBindingPoint(0, true));
    test::LeaveGLErrorPending();
    EXPECT_NO_THROW(b->LinkWithShaderProgram(p.get(), "ColorBlock", nullptr, 0, true));
    glBindBufferBase(GL_UNIFORM_BUFFER, 0, 0);
}

// A value pushed through a registered block reaches the pixels drawn with it.
TEST_F(ShaderPrograms, PushedUniformBlockColoursThePixels)
{
    auto vs = Stage(TContextShaderKind::VertexShader, PlainVS);
    auto fs = Stage(TContextShaderKind::PixelShader, BlockFS);
    auto p = Program(vs.get(), fs.get());
    std::array<float, 4> color{0.2f, 0.4f, 0.6f, 1.0f};
    ASSERT_NE(p->RegisterUniformBuffer("ColorBlock", color.data(), 16), nullptr);

    // One triangle over the whole view, from a buffer object at location 0.
    const float corners[] = {-1, -1, 0, 3, -1, 0, -1, 3, 0};
    Owned<TBufferObject> vertices(BufferObjectClass->Create(TBufferUsage::StaticDraw, TBufferBindingTarget::_Array, nullptr));
    vertices->Bind();
    vertices->Push(corners, sizeof(corners));
    test::OffscreenFramebuffer fb(8, 8);
    auto draw = [&] {
        glClearColor(0, 0, 0, 0);
        glClear(GL_COLOR_BUFFER_BIT);
        p->PushUniformBuffers();
        p->Use();
        glEnableVertexAttribArray(0);
        glVertexAttribPointer(0, 3, GL_FLOAT, GL_FALSE, 12, nullptr);
        glDrawArrays(GL_TRIANGLES, 0, 3);
        glDisableVertexAttribArray(0);
    };
    draw();
    EXPECT_TRUE(test::NearColor(fb.ReadPixel(4, 4), {51, 102, 153, 255})) << int(fb.ReadPixel(4, 4)[0]);
    color = {1, 0, 0, 1};
    draw();
    EXPECT_TRUE(test::NearColor(fb.ReadPixel(1, 6), {255, 0, 0, 255}));
    vertices->Unbind();
    TOpenGLShaderProgram::ClassInfo().ActivateDefault();
}

// Variables are found by name through an index made at link time; linking the
// program again with other stages answers the new locations and forgets the
// old names.
TEST_F(ShaderPrograms, VariablesAreFoundByNameAlsoAfterRelinking)
{
    // Many names, several of one length and with one prefix, so that the index
    // has to tell apart names that land in one slot.
    std::string declarations, sum = "0.0";
    std::vector<Var> variables;
    for (int i = 0; i < 40; ++i) {
        const std::string name = "Value" + std::to_string(i);
        declarations += "uniform float _" + name + ";\n";
        sum += " + _" + name;
        variables.push_back(Var::Create(name, Kind::Float, 0, 1));
    }
    auto vs = Stage(TContextShaderKind::VertexShader, PlainVS);
    auto fs = Stage(TContextShaderKind::PixelShader,
                    "#version 430\n" + declarations + "out vec4 o_Color;\nvoid main() { o_Color = vec4(" + sum + "); }\n",
                    variables);
    auto p = Program(vs.get(), fs.get());
    const auto prog = [&] { return static_cast<GLuint>(p->Prog()); };
    for (const Var& v : variables) {
        const TContextShaderVariable* found = p->FindVariable(v.Name);
        ASSERT_NE(found, nullptr) << v.Name;
        EXPECT_EQ(found, &p->Variables().at(v.Name));
        EXPECT_EQ(found->Index, glGetUniformLocation(prog(), ("_" + v.Name).c_str())) << v.Name;
    }
    for (const char* unknown : {"", "Value", "Value40", "value1", "Value1 ", "_Value1"})
        EXPECT_EQ(p->FindVariable(unknown), nullptr) << unknown;

    // Other stages: "Tint" comes first now, and the forty values are gone.
    auto fs2 = Stage(TContextShaderKind::PixelShader, R"(#version 430
uniform vec4 _Tint;
uniform float _Value7;
out vec4 o_Color;
void main() { o_Color = _Tint * _Value7; }
)",
                     {Var::Create("Tint", Kind::Vector, 0, 1), Var::Create("Value7", Kind::Float, 0, 1)});
    p->LinkProgram(vs.get(), fs2.get());
    ASSERT_TRUE(p->Available());
    for (const char* name : {"Tint", "Value7"}) {
        const TContextShaderVariable* found = p->FindVariable(name);
        ASSERT_NE(found, nullptr) << name;
        EXPECT_EQ(found->Index, glGetUniformLocation(prog(), (std::string("_") + name).c_str())) << name;
    }
    EXPECT_EQ(p->FindVariable("Value8"), nullptr);
    EXPECT_EQ(p->FindVariable("Value39"), nullptr);
}

// The lock of a program's uniform-buffer list: re-entrant for its holder,
// exclusive between threads, free again once the holder left every level.
TEST(UniformListLock, ReentrantForTheHolderAndExclusiveBetweenThreads)
{
    TUniformListLock lock;
    lock.lock();
    lock.lock(); // the holder again: no deadlock
    bool otherGotIn = false;
    std::thread other([&] {
        std::lock_guard<TUniformListLock> guard(lock);
        otherGotIn = true;
    });
    lock.unlock();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_FALSE(otherGotIn) << "one level is still held";
    lock.unlock();
    other.join();
    EXPECT_TRUE(otherGotIn);

    // Unsynchronised increments would lose some of these.
    int64_t counter = 0;
    constexpr int PerThread = 20000;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < PerThread; ++i) {
                std::lock_guard<TUniformListLock> outer(lock);
                std::lock_guard<TUniformListLock> inner(lock);
                counter = counter + 1;
            }
        });
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(counter, 4 * PerThread);
}
