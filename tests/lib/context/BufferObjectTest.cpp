#include <gtest/gtest.h>

#include <epoxy/gl.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "Korvane.Context.Buffers.OpenGL.h"
#include "Korvane.Context.GLES.Windows.h"
#include "Korvane.DefTypes.Cache.h"
#include "Platform.Threads.h"
#include "TestHelpers.h"

using namespace korvane;

namespace {
using test::MessageOf;
using test::Owned;

// Bytes that OpenGL holds for a buffer object.
std::vector<uint8_t> GPUBytes(TBufferObject* b)
{
    GLint size = 0;
    glBindBuffer(GL_COPY_READ_BUFFER, b->Handle());
    glGetBufferParameteriv(GL_COPY_READ_BUFFER, GL_BUFFER_SIZE, &size);
    std::vector<uint8_t> bytes(static_cast<size_t>(size));
    if (size > 0) glGetBufferSubData(GL_COPY_READ_BUFFER, 0, size, bytes.data());
    glBindBuffer(GL_COPY_READ_BUFFER, 0);
    return bytes;
}

class Buffers : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(TKorvaneContext::IsContextAvailable());
        // 100 vertices of 40 bytes: position, normal, two texture coordinate sets.
        FVertices = std::make_unique<TVertexBuffer>(
            TVertexFormats{TVertexFormat::Vertex, TVertexFormat::Normal, TVertexFormat::TexCoord0,
                           TVertexFormat::TexCoord1},
            100);
        auto* p = static_cast<uint8_t*>(FVertices->Buffer());
        for (int64_t i = 0; i < FVertices->Size(); ++i) p[i] = uint8_t(i * 13 + 1);
    }
    void TearDown() override { EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR)); }

    std::vector<uint8_t> Packed(TVertexFormat f)
    {
        Owned<TMemoryStream> s(TAnimationFrameCompression::GetSourceStream(f, FVertices.get()));
        return std::vector<uint8_t>(s->Memory(), s->Memory() + s->Size());
    }

    std::unique_ptr<TVertexBuffer> FVertices;
};
} // namespace

TEST_F(Buffers, BindingIsGuarded)
{
    ASSERT_EQ(BufferObjectClass, &TOpenGLBufferObject::ClassInfo());
    Owned<TBufferObject> b(BufferObjectClass->Create(TBufferUsage::StaticDraw, TBufferBindingTarget::_Array, nullptr));
    EXPECT_EQ(b->ClassName(), "TOpenGLBufferObject");
    EXPECT_NE(b->Handle(), 0u);
    EXPECT_EQ(b->Size(), 0);
    EXPECT_EQ(MessageOf([&] { b->Unbind(); }), "failed to unbind - buffer object not bound");
    EXPECT_EQ(b->Bind(), 0);
    EXPECT_EQ(MessageOf([&] { b->Bind(); }), "failed to bind - buffer object already bound");
    const std::vector<uint8_t> data(64, 7);
    b->Push(data.data(), 64);
    b->Unbind();
    EXPECT_EQ(b->Bind(), 64); // the size of the last push
    b->Push(nullptr, 0);
    b->Unbind();
    EXPECT_EQ(b->Size(), 0);
    EXPECT_TRUE(GPUBytes(b.get()).empty());

    EXPECT_EQ(BufferUsageToGL(TBufferUsage::DynamicDraw), static_cast<uint32_t>(GL_DYNAMIC_DRAW));
    EXPECT_EQ(BufferBindingTargetToGL(TBufferBindingTarget::Uniform), static_cast<uint32_t>(GL_UNIFORM_BUFFER));
    EXPECT_EQ(BufferBindingTargetToGL(static_cast<TBufferBindingTarget>(10)), 0u);
    EXPECT_EQ(BufferAccessModeToGL(TBufferAccessMode::WriteOnly), static_cast<uint32_t>(GL_WRITE_ONLY));
    EXPECT_EQ(BufferUsageToGL(static_cast<TBufferUsage>(9)), 0u);
}

TEST_F(Buffers, MeshComponentsHoldOneAttributeEach)
{
    Owned<TMeshBufferObject> m(new TMeshBufferObject());
    EXPECT_EQ(m->Kind, TKorvanePrimitivesKind::Triangles);
    EXPECT_EQ(m->LineWidth, 1.0f);

    m->PushData(TMeshBufferComponent::Vertex, FVertices.get());
    m->PushData(TMeshBufferComponent::TexCoord1, FVertices.get());
    m->PushData(TMeshBufferComponent::All, FVertices.get());
    struct Case {
        TMeshBufferComponent Component;
        intptr_t Size;
        std::vector<uint8_t> Bytes;
    } cases[] = {
        {TMeshBufferComponent::Vertex, 1200, Packed(TVertexFormat::Vertex)},
        {TMeshBufferComponent::TexCoord1, 800, Packed(TVertexFormat::TexCoord1)},
        {TMeshBufferComponent::All, 4000,
         std::vector<uint8_t>(static_cast<uint8_t*>(FVertices->Buffer()),
                              static_cast<uint8_t*>(FVertices->Buffer()) + FVertices->Size())},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.Component));
        TBufferObject* b = m->GetComponent(c.Component);
        EXPECT_EQ(b->Size(), c.Size);
        EXPECT_EQ(GPUBytes(b), c.Bytes);
        EXPECT_FALSE(b->Bound()); // unbound again after the push
    }

    // Components appear on request, with their targets.
    EXPECT_FALSE(m->ComponentAvailable(TMeshBufferComponent::Indices));
    EXPECT_EQ(m->GetComponent(TMeshBufferComponent::Indices)->Target(), TBufferBindingTarget::ElementArray);
    EXPECT_EQ(m->GetComponent(TMeshBufferComponent::TexCoord0)->Target(), TBufferBindingTarget::_Array);
    EXPECT_EQ(m->GetComponent(TMeshBufferComponent::Indices)->Usage(), TBufferUsage::StaticDraw);
    EXPECT_TRUE(m->ComponentAvailable(TMeshBufferComponent::Indices));

    EXPECT_EQ(MessageOf([&] { m->PushData(TMeshBufferComponent::Indices, FVertices.get()); }),
              "failed to push index data to mesh buffer object");
    m->PushData(TMeshBufferComponent::Normal, static_cast<const TVertexBuffer*>(nullptr));
    EXPECT_FALSE(m->ComponentAvailable(TMeshBufferComponent::Normal));

    // Indices go through the pointer overload.
    const std::vector<uint32_t> indices{0, 1, 2, 2, 1, 3};
    m->PushData(TMeshBufferComponent::Indices, indices.data(), intptr_t(indices.size() * 4));
    EXPECT_EQ(m->GetComponent(TMeshBufferComponent::Indices)->Size(), 24);
}

TEST_F(Buffers, CompressedComponentsInflateToTheUploadedBytes)
{
    Owned<TMeshBufferObject> m(new TMeshBufferObject());
    EXPECT_FALSE(m->GetIsCompressed(TMeshBufferComponent::Vertex));
    EXPECT_EQ(MessageOf([&] { Owned<TMemoryStream>(m->Decompress(TMeshBufferComponent::Vertex)); }),
              "failed to decompress mesh buffer component 0 - no compressed data");
    m->SetCompressed(TMeshBufferComponent::Vertex, TAnimationFrameCompression::Compress(TVertexFormat::Vertex,
                                                                                         FVertices.get()));
    // Replacing frees the earlier stream (the leak check at exit would see it otherwise).
    m->SetCompressed(TMeshBufferComponent::Vertex, TAnimationFrameCompression::Compress(TVertexFormat::Vertex,
                                                                                         FVertices.get()));
    EXPECT_TRUE(m->GetIsCompressed(TMeshBufferComponent::Vertex));
    EXPECT_FALSE(m->ComponentAvailable(TMeshBufferComponent::Vertex));
    Owned<TMemoryStream> inflated(m->Decompress(TMeshBufferComponent::Vertex));
    EXPECT_EQ(inflated->Position(), 0);
    ASSERT_EQ(inflated->Size(), 1200);
    m->PushData(TMeshBufferComponent::Vertex, inflated->Memory(), intptr_t(inflated->Size()));
    EXPECT_EQ(GPUBytes(m->GetComponent(TMeshBufferComponent::Vertex)), Packed(TVertexFormat::Vertex));

    m->ClearAll();
    EXPECT_FALSE(m->GetIsCompressed(TMeshBufferComponent::Vertex));
    EXPECT_FALSE(m->ComponentAvailable(TMeshBufferComponent::Vertex));
}

TEST_F(Buffers, StaticBuffersAndSharing)
{
    Owned<TMeshBufferObject> alone(new TMeshBufferObject());
    EXPECT_FALSE(alone->IsStaticBufferAvailable());
    EXPECT_EQ(MessageOf([&] { alone->BindStaticVertices(); }), "failed to bind vertices - static buffer not assigned");
    EXPECT_EQ(MessageOf([&] { alone->BindStaticIndices(); }), "failed to bind indices - static buffer not assigned");
    EXPECT_EQ(MessageOf([&] { alone->UnbindStaticVertices(); }),
              "failed to unbind vertices - static buffer not assigned");
    EXPECT_EQ(MessageOf([&] { alone->UnbindStaticIndices(); }),
              "failed to unbind indices - static buffer not assigned");

    Owned<TMeshBufferObject> shared(new TMeshBufferObject());
    shared->PushData(TMeshBufferComponent::All, FVertices.get());
    Owned<TMeshBufferObject> frame(new TMeshBufferObject(shared.get()));
    EXPECT_EQ(frame->BindStaticVertices(), 4000);
    GLint bound = 0;
    glGetIntegerv(GL_ARRAY_BUFFER_BINDING, &bound);
    EXPECT_EQ(static_cast<GLuint>(bound), shared->GetComponent(TMeshBufferComponent::All)->Handle());
    frame->UnbindStaticVertices();
    EXPECT_EQ(frame->BindStaticIndices(), -1); // no index component
    frame->UnbindStaticIndices();

    // A sharing object forgets what it shares before it goes.
    TMeshBufferObject* sharer = new TMeshBufferObject();
    sharer->AssignBufferObject(shared.get());
    EXPECT_EQ(sharer->GetComponent(TMeshBufferComponent::All), shared->GetComponent(TMeshBufferComponent::All));
    EXPECT_EQ(sharer->StaticBuffer, nullptr);
    sharer->ClearAssignedBufferObject();
    sharer->Free();
    TBufferObject* all = shared->GetComponent(TMeshBufferComponent::All);
    EXPECT_TRUE(glIsBuffer(all->Handle()));
    EXPECT_EQ(GPUBytes(all).size(), 4000u);
}

// Worker threads push and swap compressed frames while the main thread binds
// and inflates; the GL part of a worker's push runs on the main thread.
TEST_F(Buffers, WorkersPushWhileTheMainThreadBinds)
{
    Owned<TMeshBufferObject> shared(new TMeshBufferObject());
    shared->PushData(TMeshBufferComponent::All, FVertices.get());
    Owned<TMeshBufferObject> frame(new TMeshBufferObject(shared.get()));
    frame->SetCompressed(TMeshBufferComponent::Vertex,
                         TAnimationFrameCompression::Compress(TVertexFormat::Vertex, FVertices.get()));

    std::atomic<int> running{2}, failures{0};
    std::string workerError;
    auto work = [&](int seed) {
        try {
            for (int i = 0; i < 60; ++i) {
                frame->SetCompressed(TMeshBufferComponent::Vertex,
                                     TAnimationFrameCompression::Compress(TVertexFormat::Vertex, FVertices.get()));
                Owned<TMemoryStream> d(frame->Decompress(TMeshBufferComponent::Vertex));
                if (d->Size() != 1200) ++failures;
                frame->PushData(TMeshBufferComponent::TexCoord1, FVertices.get());
                if ((i + seed) % 10 == 0) shared->PushData(TMeshBufferComponent::All, FVertices.get());
                if (frame->GetComponent(TMeshBufferComponent::TexCoord1)->Size() != 800) ++failures;
            }
            // A failure of handed-over work reaches the worker.
            if (MessageOf([&] { Owned<TMeshBufferObject>(new TMeshBufferObject())->BindStaticIndices(); }) !=
                "failed to bind indices - static buffer not assigned")
                ++failures;
        } catch (const Exception& e) {
            workerError = e.Message();
            ++failures;
        }
        --running;
    };
    std::thread a(work, 0), b(work, 5);
    int binds = 0;
    while (running > 0) {
        if (frame->BindStaticVertices() != 4000) ++failures;
        frame->UnbindStaticVertices();
        if (frame->GetIsCompressed(TMeshBufferComponent::Vertex)) {
            Owned<TMemoryStream> d(frame->Decompress(TMeshBufferComponent::Vertex));
            if (d->Size() != 1200) ++failures;
        }
        CheckSynchronize(1); // serve the workers, waiting briefly for their work as a frame loop would
        ++binds;
    }
    a.join();
    b.join();
    CheckSynchronize();
    EXPECT_EQ(failures, 0) << workerError;
    EXPECT_GT(binds, 0);
    EXPECT_EQ(GPUBytes(frame->GetComponent(TMeshBufferComponent::TexCoord1)), Packed(TVertexFormat::TexCoord1));
}
