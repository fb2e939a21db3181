#include <gtest/gtest.h>

#include <epoxy/gl.h>

#include <thread>

#include "GLTestHarness.h"
#include "Korvane.Context.Buffers.h"
#include "Korvane.DefTypes.Mesh.h"
#include "Platform.Threads.h"
#include "TestHelpers.h"

using namespace korvane;
using korvane::test::Owned;

namespace {

GLuint Compile(GLenum AKind, const char* ASource)
{
    const GLuint shader = glCreateShader(AKind);
    glShaderSource(shader, 1, &ASource, nullptr);
    glCompileShader(shader);
    GLint ok = 0;
    glGetShaderiv(shader, GL_COMPILE_STATUS, &ok);
    EXPECT_TRUE(ok);
    return shader;
}

// Draws a_Position (location 0) in opaque red.
GLuint RedProgram()
{
    const GLuint vs = Compile(GL_VERTEX_SHADER, R"(#version 430
layout(location = 0) in vec3 a_Position;
void main() { gl_Position = vec4(a_Position, 1.0); }
)");
    const GLuint fs = Compile(GL_FRAGMENT_SHADER, R"(#version 430
out vec4 o_Color;
void main() { o_Color = vec4(1.0, 0.0, 0.0, 1.0); }
)");
    const GLuint program = glCreateProgram();
    glAttachShader(program, vs);
    glAttachShader(program, fs);
    glLinkProgram(program);
    glDeleteShader(vs);
    glDeleteShader(fs);
    return program;
}

class StaticMesh : public ::testing::Test {
protected:
    void SetUp() override
    {
        test::EnsureGLContext();
        Mesh.reset(new TMeshDef(nullptr));
        // A triangle covering the lower-left half of clip space.
        TVertexBuffer vb(TCustomMeshDef::DefaultVertexFormat, 3);
        vb.SetVertices(0, {-1, -1, 0});
        vb.SetVertices(1, {1, -1, 0});
        vb.SetVertices(2, {-1, 1, 0});
        Mesh->SetVertices(&vb);
        TIndexBuffer ib(3, TIndexFormat::UInt32);
        for (int i = 0; i < 3; ++i) ib.SetIndices(i, uint32_t(i));
        Mesh->SetIndices(&ib);
    }
    void TearDown() override
    {
        while (CheckSynchronize()) {
        }
        EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    }

    Owned<TMeshDef> Mesh;
};

TEST_F(StaticMesh, EmptyIndexSourceBuildsNothing)
{
    TIndexBuffer empty(0, TIndexFormat::UInt32);
    Mesh->SetIndices(&empty);
    Mesh->SetIsStatic(true);
    EXPECT_FALSE(Mesh->IsStatic());
    EXPECT_EQ(Mesh->BufferObject(), nullptr);
}

TEST_F(StaticMesh, BuildsOneBufferObjectThatDraws)
{
    Mesh->SetIsStatic(true);
    ASSERT_TRUE(Mesh->IsStatic());
    TMeshBufferObject* buffer = Mesh->BufferObject();
    ASSERT_NE(buffer, nullptr);
    EXPECT_EQ(buffer->Kind, TKorvanePrimitivesKind::Triangles);
    EXPECT_EQ(buffer->StaticBuffer, buffer);
    EXPECT_TRUE(buffer->ComponentAvailable(TMeshBufferComponent::All));
    EXPECT_TRUE(buffer->ComponentAvailable(TMeshBufferComponent::Indices));
    EXPECT_FALSE(buffer->ComponentAvailable(TMeshBufferComponent::Vertex));
    EXPECT_EQ(buffer->GetComponent(TMeshBufferComponent::All)->Size(), Mesh->VertexSource()->Size());
    EXPECT_EQ(buffer->GetComponent(TMeshBufferComponent::Indices)->Size(), 12);

    test::OffscreenFramebuffer fb(16, 16);
    glClearColor(0, 0, 1, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    const GLuint program = RedProgram();
    glUseProgram(program);
    glBindBuffer(GL_ARRAY_BUFFER, buffer->GetComponent(TMeshBufferComponent::All)->Handle());
    glEnableVertexAttribArray(0);
    glVertexAttribPointer(0, 3, GL_FLOAT, GL_FALSE, Mesh->VertexSource()->VertexSize(), nullptr);
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, buffer->GetComponent(TMeshBufferComponent::Indices)->Handle());
    glDrawElements(GL_TRIANGLES, 3, GL_UNSIGNED_INT, nullptr);
    glDisableVertexAttribArray(0);
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, 0);
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    glUseProgram(0);
    glDeleteProgram(program);
    EXPECT_TRUE(test::NearColor(fb.ReadPixel(2, 2), {255, 0, 0, 255})) << "inside the triangle";
    EXPECT_TRUE(test::NearColor(fb.ReadPixel(13, 13), {0, 0, 255, 255})) << "outside it";
}

TEST_F(StaticMesh, StaticAgainKeepsAndFalseFreesAtOnce)
{
    Mesh->SetIsStatic(true);
    TMeshBufferObject* first = Mesh->BufferObject();
    ASSERT_NE(first, nullptr);
    Mesh->SetIsStatic(true);
    EXPECT_EQ(Mesh->BufferObject(), first);
    Mesh->SetIsStatic(false);
    EXPECT_FALSE(Mesh->IsStatic());
    EXPECT_EQ(Mesh->BufferObject(), nullptr);
    // Children follow their parent.
    auto* child = new TMeshDef(Mesh.get());
    Mesh->AddMesh(child);
    TVertexBuffer vb(TCustomMeshDef::DefaultVertexFormat, 1);
    TIndexBuffer ib(1, TIndexFormat::UInt32);
    child->SetVertices(&vb);
    child->SetIndices(&ib);
    Mesh->SetIsStatic(true);
    EXPECT_NE(child->BufferObject(), nullptr);
}

TEST_F(StaticMesh, FromAWorkerItBuildsWhenTheQueueIsDrained)
{
    std::thread worker([&] { Mesh->SetIsStatic(true); });
    worker.join();
    EXPECT_TRUE(Mesh->IsStatic());
    EXPECT_EQ(Mesh->BufferObject(), nullptr) << "nothing is built off the main thread";
    while (CheckSynchronize()) {
    }
    ASSERT_NE(Mesh->BufferObject(), nullptr);
    EXPECT_TRUE(Mesh->BufferObject()->ComponentAvailable(TMeshBufferComponent::All));
}

TEST_F(StaticMesh, FreeingWithAPendingBuildIsSafe)
{
    std::thread worker([&] { Mesh->SetIsStatic(true); });
    worker.join();
    Mesh.reset();
    // The queued build finds its mesh gone and does nothing (ASan watches).
    while (CheckSynchronize()) {
    }

    // A build superseded by setting false before the queue ran builds nothing.
    Mesh.reset(new TMeshDef(nullptr));
    TVertexBuffer vb(TCustomMeshDef::DefaultVertexFormat, 3);
    TIndexBuffer ib(3, TIndexFormat::UInt32);
    Mesh->SetVertices(&vb);
    Mesh->SetIndices(&ib);
    std::thread again([&] { Mesh->SetIsStatic(true); });
    again.join();
    Mesh->SetIsStatic(false);
    while (CheckSynchronize()) {
    }
    EXPECT_EQ(Mesh->BufferObject(), nullptr);
}

TEST_F(StaticMesh, LinkedMeshesBorrowTheirSources)
{
    Mesh->SetIsStatic(true);
    Owned<TMeshDef> linked(new TMeshDef(nullptr));
    linked->LinkMeshBuffer(Mesh->BufferObject(), Mesh->VertexSource(), Mesh->IndexSource());
    EXPECT_TRUE(linked->IsStatic());
    EXPECT_EQ(linked->VertexSource(), Mesh->VertexSource());
    EXPECT_EQ(linked->BufferObject()->StaticBuffer, Mesh->BufferObject());
    linked->UnlinkMeshBuffer();
    EXPECT_EQ(linked->VertexSource(), nullptr);
    // The borrowed sources and the shared buffer survive the linked mesh.
    linked.reset();
    EXPECT_EQ(Mesh->VertexSource()->Length(), 3);
    EXPECT_TRUE(Mesh->BufferObject()->ComponentAvailable(TMeshBufferComponent::All));
}

} // namespace
