// The owned GL name: what it makes, labels, hands over and deletes; and the
// debug labels the framework's GPU objects carry, read back from OpenGL.

#include <gtest/gtest.h>

#include <epoxy/gl.h>

#include <string>
#include <utility>
#include <vector>

#include "GLTestHarness.h"
#include "Korvane.Context.Buffers.h"
#include "Korvane.Context.Shader.h"
#include "Korvane.Context.Texturing.h"
#include "Korvane.Context.h"
#include "Korvane.GL.Internal.h"
#include "TestHelpers.h"

using namespace korvane;

namespace {
using test::Owned;

GLenum LabelNamespace(TGLObjectKind AKind)
{
    switch (AKind) {
    case TGLObjectKind::Buffer: return GL_BUFFER;
    case TGLObjectKind::FrameBuffer: return GL_FRAMEBUFFER;
    case TGLObjectKind::RenderBuffer: return GL_RENDERBUFFER;
    case TGLObjectKind::Texture: return GL_TEXTURE;
    case TGLObjectKind::Program: return GL_PROGRAM;
    case TGLObjectKind::Shader: return GL_SHADER;
    }
    return 0;
}

// The label OpenGL holds for an object.
std::string LabelOf(TGLObjectKind AKind, GLuint AName)
{
    char text[256] = {};
    GLsizei length = 0;
    glGetObjectLabel(LabelNamespace(AKind), AName, sizeof(text), &length, text);
    return std::string(text, static_cast<size_t>(length));
}

// Whether the name is an object of its kind that GL has not deleted.
bool Alive(TGLObjectKind AKind, GLuint AName)
{
    switch (AKind) {
    case TGLObjectKind::Buffer: return glIsBuffer(AName);
    case TGLObjectKind::FrameBuffer: return glIsFramebuffer(AName);
    case TGLObjectKind::RenderBuffer: return glIsRenderbuffer(AName);
    case TGLObjectKind::Texture: return glIsTexture(AName);
    case TGLObjectKind::Program: return glIsProgram(AName);
    case TGLObjectKind::Shader: return glIsShader(AName);
    }
    return false;
}

struct KindCase {
    TGLObjectKind Kind;
    GLenum Target;
    const char* Label;
};
const KindCase Kinds[] = {
    {TGLObjectKind::Buffer, 0, "Test.Buffer"},
    {TGLObjectKind::FrameBuffer, 0, "Test.FrameBuffer"},
    {TGLObjectKind::RenderBuffer, 0, "Test.RenderBuffer"},
    {TGLObjectKind::Texture, GL_TEXTURE_2D, "Test.Texture2D"},
    {TGLObjectKind::Texture, GL_TEXTURE_CUBE_MAP, "Test.CubeMap"},
    {TGLObjectKind::Program, 0, "Test.Program"},
    {TGLObjectKind::Shader, GL_FRAGMENT_SHADER, "Test.Shader"},
};

class GLNames : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(TKorvaneContext::IsContextAvailable()); }
    void TearDown() override { EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR)); }
};
} // namespace

// Each kind is made as an object at once (labels need one), carries its
// label, leaves the bindings it used as they were, and is deleted by Reset.
TEST_F(GLNames, CreateMakesALabelledObjectThatResetDeletes)
{
    const GLint buffer = GLInteger(GL_COPY_WRITE_BUFFER_BINDING);
    const GLint draw = GLInteger(GL_DRAW_FRAMEBUFFER_BINDING);
    const GLint readFrom = GLInteger(GL_READ_FRAMEBUFFER_BINDING);
    const GLint renderBuffer = GLInteger(GL_RENDERBUFFER_BINDING);
    const GLint texture = GLInteger(GL_TEXTURE_BINDING_2D);
    for (const KindCase& c : Kinds) {
        TGLName name = TGLName::Create(c.Kind, c.Label, c.Target);
        ASSERT_NE(name.Get(), 0u) << c.Label;
        EXPECT_TRUE(Alive(c.Kind, name.Get())) << c.Label;
        EXPECT_EQ(LabelOf(c.Kind, name.Get()), c.Label);
        const GLuint raw = name.Get();
        name.Reset();
        EXPECT_EQ(name.Get(), 0u) << c.Label;
        EXPECT_FALSE(Alive(c.Kind, raw)) << c.Label;
    }
    EXPECT_EQ(GLInteger(GL_COPY_WRITE_BUFFER_BINDING), buffer);
    EXPECT_EQ(GLInteger(GL_DRAW_FRAMEBUFFER_BINDING), draw);
    EXPECT_EQ(GLInteger(GL_RENDERBUFFER_BINDING), renderBuffer);
    EXPECT_EQ(GLInteger(GL_TEXTURE_BINDING_2D), texture);

    // Different draw and read frame buffers both come back.
    TGLName drawn = TGLName::Create(TGLObjectKind::FrameBuffer, "Test.Draw");
    TGLName read = TGLName::Create(TGLObjectKind::FrameBuffer, "Test.Read");
    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, drawn.Get());
    glBindFramebuffer(GL_READ_FRAMEBUFFER, read.Get());
    TGLName made = TGLName::Create(TGLObjectKind::FrameBuffer, "Test.Made");
    EXPECT_EQ(static_cast<GLuint>(GLInteger(GL_DRAW_FRAMEBUFFER_BINDING)), drawn.Get());
    EXPECT_EQ(static_cast<GLuint>(GLInteger(GL_READ_FRAMEBUFFER_BINDING)), read.Get());
    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, static_cast<GLuint>(draw));
    glBindFramebuffer(GL_READ_FRAMEBUFFER, static_cast<GLuint>(readFrom));
}

// Moving hands the object over (deleted once, by its last holder); Release
// gives the name up without deleting; going out of scope deletes.
TEST_F(GLNames, MoveReleaseAndScopeEnd)
{
    GLuint raw = 0;
    {
        TGLName first = TGLName::Create(TGLObjectKind::Buffer, "Test.Moved");
        raw = first.Get();
        TGLName second(std::move(first));
        EXPECT_EQ(first.Get(), 0u);
        EXPECT_EQ(second.Get(), raw);
        TGLName third;
        third = std::move(second);
        EXPECT_EQ(third.Get(), raw);
        EXPECT_TRUE(glIsBuffer(raw));
        // Assigning over a held name deletes the old object.
        TGLName other = TGLName::Create(TGLObjectKind::Buffer, "Test.Other");
        const GLuint otherRaw = other.Get();
        other = std::move(third);
        EXPECT_FALSE(glIsBuffer(otherRaw));
        EXPECT_EQ(other.Get(), raw);
    }
    EXPECT_FALSE(glIsBuffer(raw));

    TGLName kept = TGLName::Create(TGLObjectKind::Texture, "Test.Kept", GL_TEXTURE_2D);
    const GLuint keptRaw = kept.Release();
    EXPECT_EQ(kept.Get(), 0u);
    kept.Reset();
    EXPECT_TRUE(glIsTexture(keptRaw));
    glDeleteTextures(1, &keptRaw);
}

// The labels of objects the framework makes: buffer objects by target and
// by the mesh component they hold, textures by class and kind, compiled stages.
TEST_F(GLNames, FrameworkObjectsCarryClassAndRoleLabels)
{
    Owned<TBufferObject> uniform(
        InstalledBufferObjectClass().Create(TBufferUsage::DynamicDraw, TBufferBindingTarget::Uniform, nullptr));
    EXPECT_EQ(uniform->ClassName(), "TOpenGLBufferObject");
    EXPECT_EQ(LabelOf(TGLObjectKind::Buffer, uniform->Handle()), "TOpenGLBufferObject.Uniform");

    Owned<TMeshBufferObject> mesh(new TMeshBufferObject());
    EXPECT_EQ(LabelOf(TGLObjectKind::Buffer, mesh->GetComponent(TMeshBufferComponent::Vertex)->Handle()),
              "TMeshBufferObject.Vertex");
    EXPECT_EQ(LabelOf(TGLObjectKind::Buffer, mesh->GetComponent(TMeshBufferComponent::Indices)->Handle()),
              "TMeshBufferObject.Indices");

    Owned<TKorvaneTexture> texture(TKorvaneTexture::Create());
    texture->SetSize(4, 4);
    texture->Initialize();
    ASSERT_NE(texture->Handle(), 0u);
    EXPECT_EQ(LabelOf(TGLObjectKind::Texture, static_cast<GLuint>(texture->Handle())),
              texture->ClassName() + ".Texture2D");

    const std::string code = "#version 430\nvoid main() { gl_Position = vec4(0.0); }\n";
    const auto shader = static_cast<GLuint>(
        ShaderProgramClass->BuildShader(GL_VERTEX_SHADER, std::vector<uint8_t>(code.begin(), code.end()), false));
    EXPECT_EQ(LabelOf(TGLObjectKind::Shader, shader), "TContextShader.Vertex");
    glDeleteShader(shader);
}
