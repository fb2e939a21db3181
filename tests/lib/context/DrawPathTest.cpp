// The draw entry of the render context on OpenGL: what reaches the frame
// buffer, the statistics, instancing, layered materials, the blend table and
// the failures of a batch.

#include <algorithm>
#include <cmath>
#include <cstring>

#include "DrawTestSupport.h"
#include "Platform.Bitmaps.h"
#include "Korvane.Context.Buffers.h"
#include "Korvane.Context.Types.OpenGL.h"
#include "Korvane.DefTypes.Cache.h"
#include "LogCapture.h"

using namespace korvane;
using namespace korvane::test;

namespace {
const std::array<uint8_t, 4> Black{0, 0, 0, 255};
const std::array<uint8_t, 4> Red{255, 0, 0, 255};
const std::array<uint8_t, 4> Green{0, 255, 0, 255};

struct TStats {
    int64_t Calls, Instances, Vertices, Indices;
    static TStats Now()
    {
        return {ContextDrawCalls.load(), ContextDrawInstances.load(), ContextDrawVertices.load(),
                ContextDrawIndices.load()};
    }
};

bool AttributeArrayEnabled(GLuint location)
{
    GLint enabled = 0;
    glGetVertexAttribiv(location, GL_VERTEX_ATTRIB_ARRAY_ENABLED, &enabled);
    return enabled != 0;
}

class DrawPath : public TDrawFixture {};
} // namespace

TEST_F(DrawPath, TriangleThroughDrawPrimitivesColoursItsPixelsOnly)
{
    TColorMaterial material({1, 0, 0, 1});
    DrawTriangle(CentreTriangle, &material);

    EXPECT_TRUE(NearColor(Pixel(Size / 2, Size / 2), Red));
    EXPECT_TRUE(NearColor(Pixel(Size / 2, Size / 2 + 6), Red));
    for (auto [x, y] : {std::pair{0, 0}, {Size - 1, 0}, {0, Size - 1}, {Size - 1, Size - 1}})
        EXPECT_TRUE(NearColor(Pixel(x, y), Black)) << x << "," << y;
    EXPECT_EQ(material.Applied, 1);
    EXPECT_EQ(material.Resets, 1);
    const TStats s = TStats::Now();
    EXPECT_EQ(s.Calls, 1);
    EXPECT_EQ(s.Instances, 1);
    EXPECT_EQ(s.Vertices, 3);
    EXPECT_EQ(s.Indices, 3);
    // The draw leaves no program bound and every attribute array off.
    GLint program = -1;
    glGetIntegerv(GL_CURRENT_PROGRAM, &program);
    EXPECT_EQ(program, 0);
    for (GLuint i = 0; i < 16; ++i) EXPECT_FALSE(AttributeArrayEnabled(i)) << i;
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

TEST_F(DrawPath, IndexSizeTwoWithoutIndicesDrawsTheVerticesAsArrays)
{
    TColorMaterial material({0, 1, 0, 1});
    TVertexBuffer vertices({TVertexFormat::Vertex}, 3);
    std::memcpy(vertices.Buffer(), CentreTriangle.data(), sizeof CentreTriangle);
    FContext->DrawPrimitives(TPrimitivesKind::Triangles, &vertices, nullptr, &material, 1.0f);
    EXPECT_TRUE(NearColor(Pixel(Size / 2, Size / 2), Green));
    EXPECT_EQ(TStats::Now().Calls, 1);
    EXPECT_EQ(TStats::Now().Indices, 0);
}

TEST_F(DrawPath, InstancedDrawCountsEveryInstanceAndServesOneDraw)
{
    // A small square drawn through 36 indices (the square six times over),
    // moved by each instance to the left, the middle and the right.
    const float h = 0.1f;
    const float square[] = {-h, -h, 0, h, -h, 0, h, h, 0, -h, h, 0};
    TVertexBuffer vertices({TVertexFormat::Vertex}, 4);
    std::memcpy(vertices.Buffer(), square, sizeof square);
    TIndexBuffer indices(36);
    const uint16_t quad[] = {0, 1, 2, 0, 2, 3};
    for (int i = 0; i < 36; ++i) indices.SetIndices(i, quad[i % 6]);
    TMatrix3D matrices[3];
    for (int i = 0; i < 3; ++i) matrices[i] = TMatrix3D::CreateTranslation({-0.6f + 0.6f * float(i), 0, 0});

    TColorMaterial material({1, 0, 0, 1}, true);
    FContext->SetInstances(3, matrices);
    EXPECT_EQ(FContext->InstanceCount(), 3);
    FContext->DrawPrimitives(TPrimitivesKind::Triangles, &vertices, &indices, &material, 1.0f);

    const TStats s = TStats::Now();
    EXPECT_EQ(s.Calls, 1);
    EXPECT_EQ(s.Instances, 3);
    EXPECT_EQ(s.Indices, 108);
    EXPECT_EQ(s.Vertices, 12);
    EXPECT_EQ(FContext->InstanceCount(), 0);
    // x = -0.6, 0, 0.6 in clip space are pixels 6.4, 16 and 25.6: three red
    // squares 3.2 pixels wide, red exactly where a pixel's centre lies inside one.
    RgbaImage expected = RgbaImage::Filled(Size, Size, Black);
    for (float centre : {6.4f, 16.0f, 25.6f})
        for (int y = 0; y < Size; ++y)
            for (int x = 0; x < Size; ++x)
                if (std::abs(float(x) + 0.5f - centre) < 1.6f && std::abs(float(y) + 0.5f - 16.0f) < 1.6f)
                    std::copy(Red.begin(), Red.end(), expected.Pixel(x, y));
    EXPECT_TRUE(ImagesMatch(FFrame->ReadImage(), expected, {2, 0.1}, "instances"));

    // The next draw is not instanced again.
    FContext->DrawPrimitives(TPrimitivesKind::Triangles, &vertices, &indices, &material, 1.0f);
    const TStats t = TStats::Now();
    EXPECT_EQ(t.Calls - s.Calls, 1);
    EXPECT_EQ(t.Instances - s.Instances, 1);
    EXPECT_EQ(t.Indices - s.Indices, 36);
}

TEST_F(DrawPath, SetInstancesUploadsOneMatrixPerInstance)
{
    TMatrix3D matrices[3] = {TMatrix3D::Identity(), TMatrix3D::Identity(), TMatrix3D::Identity()};
    FContext->SetInstances(0, matrices);
    EXPECT_EQ(FContext->InstanceCount(), 0);
    EXPECT_EQ(FContext->InstanceBuffer(), nullptr);
    FContext->SetInstances(3, matrices);
    ASSERT_NE(FContext->InstanceBuffer(), nullptr);
    EXPECT_EQ(FContext->InstanceBuffer()->Size(), 192);
    EXPECT_FALSE(FContext->InstanceBuffer()->Bound());
    EXPECT_THROW(FContext->SetInstances(2, nullptr), EArgumentException);
}

TEST_F(DrawPath, AnInvalidIndexSizeFailsTheBatchAndLeavesNothingBehind)
{
    struct TCase {
        int Instances;
        const char* Message;
    };
    const TCase cases[] = {
        {0, "Exception in TKorvaneContextOpenGLES.DoDrawPrimitivesBatch(): DrawElements(2): invalid index size"},
        {3, "Exception in TKorvaneContextOpenGLES.DoDrawPrimitivesBatch(): DrawElements(1): invalid index size"},
    };
    TVertexBuffer vertices({TVertexFormat::Vertex}, 3);
    const uint8_t indices[3] = {0, 1, 2};
    TMatrix3D matrices[3];
    for (const TCase& c : cases) {
        TKorvaneContext::ResetDrawCallDiagnostics();
        if (c.Instances) FContext->SetInstances(c.Instances, matrices);
        EXPECT_EQ(MessageOf([&] {
                      FContext->DirectDrawPrimitives(TPrimitivesKind::Triangles, vertices.Buffer(), indices,
                                                     GetVertexDeclarations(vertices.Format()), vertices.VertexSize(), 3, 1, 3);
                  }),
                  c.Message);
        EXPECT_EQ(TStats::Now().Calls, 0);
        EXPECT_EQ(FContext->InstanceCount(), 0);
        EXPECT_FALSE(AttributeArrayEnabled(0));
    }

    // While designing, the failure is logged and swallowed.
    DesignTimeMode = true;
    LogCapture log;
    EXPECT_NO_THROW(FContext->DirectDrawPrimitives(TPrimitivesKind::Triangles, vertices.Buffer(), indices,
                                                   GetVertexDeclarations(vertices.Format()), vertices.VertexSize(), 3, 1,
                                                   3));
    EXPECT_TRUE(log.Contains("DrawElements(2): invalid index size"));
}

TEST_F(DrawPath, NoVerticesAndNoCacheDrawsNothing)
{
    FContext->DirectDrawPrimitives(TPrimitivesKind::Triangles, nullptr, nullptr, {{TVertexFormat::Vertex, 0}}, 12, 3,
                                   2, 0);
    EXPECT_EQ(TStats::Now().Calls, 0);
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

// ---------------------------------------------------------------------------
// Drawing from mesh buffer objects

namespace {
enum class TCacheSource { All, Vertex, CompressedVertex, CompressedAll };
}

TEST_F(DrawPath, MeshBufferObjectsFeedTheDrawWithoutClientVertices)
{
    // Static geometry: the whole vertex buffer (position and a normal) and the indices.
    TVertexBuffer vertices({TVertexFormat::Vertex, TVertexFormat::Normal}, 3);
    for (int i = 0; i < 3; ++i)
        std::memcpy(vertices.Attribute(TVertexFormat::Vertex, i), &CentreTriangle[size_t(i) * 3], 12);
    const uint16_t indices[3] = {0, 1, 2};
    Owned<TMeshBufferObject> geometry(new TMeshBufferObject());
    geometry->PushData(TMeshBufferComponent::All, &vertices);
    geometry->PushData(TMeshBufferComponent::Indices, indices, sizeof indices);

    for (TCacheSource source :
         {TCacheSource::All, TCacheSource::Vertex, TCacheSource::CompressedVertex, TCacheSource::CompressedAll}) {
        FContext->Clear({TClearTarget::Color}, TAlphaColors::Black, 1, 0);
        Owned<TMeshBufferObject> cache(new TMeshBufferObject(geometry.get()));
        switch (source) {
        case TCacheSource::All: cache->PushData(TMeshBufferComponent::All, &vertices); break;
        case TCacheSource::Vertex: cache->PushData(TMeshBufferComponent::Vertex, &vertices); break;
        case TCacheSource::CompressedVertex:
            cache->SetCompressed(TMeshBufferComponent::Vertex,
                                 TAnimationFrameCompression::Compress(TVertexFormat::Vertex, &vertices));
            break;
        case TCacheSource::CompressedAll:
            cache->SetCompressed(TMeshBufferComponent::All,
                                 TAnimationFrameCompression::Compress(vertices.Buffer(), vertices.Size()));
            break;
        }
        TColorMaterial material({0, 1, 0, 1});
        FContext->SetCurrentCache(cache.get());
        FContext->DrawPrimitives(TPrimitivesKind::Triangles, nullptr, nullptr, GetVertexDeclarations(vertices.Format()),
                                 vertices.VertexSize(), 3, 2, 0, &material, 1.0f);
        const int at = static_cast<int>(source);
        EXPECT_TRUE(NearColor(Pixel(Size / 2, Size / 2), Green)) << at;
        EXPECT_TRUE(NearColor(Pixel(0, 0), Black)) << at;
        EXPECT_EQ(FContext->CurrentCache(), nullptr) << at;
        EXPECT_FALSE(geometry->GetComponent(TMeshBufferComponent::All)->Bound()) << at;
        EXPECT_FALSE(geometry->GetComponent(TMeshBufferComponent::Indices)->Bound()) << at;
        if (source == TCacheSource::Vertex) {
            EXPECT_FALSE(cache->GetComponent(TMeshBufferComponent::Vertex)->Bound());
        }
    }
    EXPECT_EQ(TStats::Now().Calls, 4);
    EXPECT_EQ(TStats::Now().Indices, 12);
}

TEST_F(DrawPath, ACacheWithoutStaticIndicesDrawsNothingAndIsCleared)
{
    TVertexBuffer vertices({TVertexFormat::Vertex}, 3);
    Owned<TMeshBufferObject> geometry(new TMeshBufferObject());
    geometry->PushData(TMeshBufferComponent::All, &vertices);
    Owned<TMeshBufferObject> cache(new TMeshBufferObject(geometry.get()));
    cache->PushData(TMeshBufferComponent::All, &vertices);
    FContext->SetCurrentCache(cache.get());
    FContext->DirectDrawPrimitives(TPrimitivesKind::Triangles, nullptr, nullptr, GetVertexDeclarations(vertices.Format()),
                                   vertices.VertexSize(), 3, 2, 0);
    EXPECT_EQ(TStats::Now().Calls, 0);
    EXPECT_EQ(FContext->CurrentCache(), nullptr);

    // A cache that has no vertex source at all fails, and is cleared as well.
    Owned<TMeshBufferObject> empty(new TMeshBufferObject(geometry.get()));
    FContext->SetCurrentCache(empty.get());
    EXPECT_EQ(MessageOf([&] {
                  FContext->DirectDrawPrimitives(TPrimitivesKind::Triangles, nullptr, nullptr,
                                                 GetVertexDeclarations(vertices.Format()), vertices.VertexSize(), 3, 2, 0);
              }),
              "Exception in TKorvaneContextOpenGLES.DoDrawPrimitivesBatch(): cache used, but no meshbuffer object "
              "found ...");
    EXPECT_EQ(FContext->CurrentCache(), nullptr);
    EXPECT_FALSE(geometry->GetComponent(TMeshBufferComponent::All)->Bound());
}

// ---------------------------------------------------------------------------
// Layered materials

namespace {
// Draws with its own colour and hands its layers to the context.
class TLayeredDouble : public TColorMaterial, public IKorvaneLayeredMaterial {
public:
    TLayeredDouble() : TColorMaterial({0, 0, 1, 1}) {}
    std::vector<TMaterialSource*> Layers;
    int GetMaterialsCount() override { return static_cast<int>(Layers.size()); }
    TMaterialSource* GetLayerMaterialSource(TContext3D*, int AIndex) override
    {
        return AIndex >= 0 && AIndex < GetMaterialsCount() ? Layers[size_t(AIndex)] : nullptr;
    }

protected:
    void DoApply(TContext3D* AContext) override
    {
        TColorMaterial::DoApply(AContext);
        static_cast<TKorvaneContext*>(AContext)->SetCurrentLayeredMaterial(this);
    }
};

struct TGLBlendState {
    std::vector<bool> Enabled;
    bool DepthTest;
    GLint DepthFunc;
    static TGLBlendState Read()
    {
        TGLBlendState s;
        for (int i = 0; i < TKorvaneContext::EffectiveDrawBuffers(); ++i)
            s.Enabled.push_back(glIsEnabledi(GL_BLEND, GLuint(i)));
        s.DepthTest = glIsEnabled(GL_DEPTH_TEST);
        glGetIntegerv(GL_DEPTH_FUNC, &s.DepthFunc);
        return s;
    }
};
} // namespace

TEST_F(DrawPath, LayeredMaterialDrawsOncePerLayerAndRestoresBlendingAndDepth)
{
    for (const bool depthOn : {true, false}) {
        TKorvaneContext::ResetDrawCallDiagnostics();
        FContext->SetContextState(depthOn ? TContextState::csZTestOn : TContextState::csZTestOff);
        glDepthFunc(GL_LESS);
        TBlendSettings table = FContext->GetBlendings();
        table[1] = TBlendSetting::Create(true, TBlendEquationFunc::befAdd, TBlendFactor::bfSrcAlpha,
                                         TBlendFactor::bfOneMinusSrcAlpha);
        FContext->SetBlendings(table);
        const TBlendSettings before = FContext->GetBlendings();
        const TGLBlendState glBefore = TGLBlendState::Read();

        TColorMaterialSource base({1, 0, 0, 1}), detail({0, 1, 0, 1});
        TLayeredDouble layered;
        layered.Layers = {&base, &detail};
        DrawTriangle(CentreTriangle, &layered);

        EXPECT_EQ(TStats::Now().Calls, 3) << depthOn;
        for (TColorMaterialSource* layer : {&base, &detail}) {
            TColorMaterial* m = layer->ColorMaterial();
            ASSERT_EQ(m->Applied, 1);
            EXPECT_EQ(m->Resets, 1);
            // Each layer draws with the depth test off and blends ONE, ONE_MINUS_SRC_COLOR / ONE, ONE_MINUS_SRC_ALPHA.
            const TAppliedState& s = m->States[0];
            EXPECT_FALSE(s.DepthTest);
            EXPECT_TRUE(s.Blend0);
            EXPECT_EQ(s.BlendSrcRGB, GL_ONE);
            EXPECT_EQ(s.BlendDstRGB, GL_ONE_MINUS_SRC_COLOR);
            EXPECT_EQ(s.BlendSrcAlpha, GL_ONE);
            EXPECT_EQ(s.BlendDstAlpha, GL_ONE_MINUS_SRC_ALPHA);
        }
        EXPECT_EQ(FContext->GetBlendings(), before);
        const TGLBlendState glAfter = TGLBlendState::Read();
        EXPECT_EQ(glAfter.Enabled, glBefore.Enabled);
        EXPECT_EQ(glAfter.DepthTest, depthOn);
        EXPECT_EQ(glAfter.DepthFunc, GL_LESS);
        EXPECT_TRUE(FContext->CurrentStates().Contains(depthOn ? TContextState::csZTestOn
                                                               : TContextState::csZTestOff));
        EXPECT_EQ(FContext->CurrentLayeredMaterial(), nullptr);
    }
}

TEST_F(DrawPath, ALayerWithoutMaterialIsSkipped)
{
    TColorMaterialSource base({1, 0, 0, 1});
    TMaterialSource empty(nullptr);
    TLayeredDouble layered;
    layered.Layers = {&empty, &base};
    DrawTriangle(CentreTriangle, &layered);
    EXPECT_EQ(TStats::Now().Calls, 2);
    EXPECT_EQ(base.ColorMaterial()->Applied, 1);
    EXPECT_EQ(FContext->CurrentLayeredMaterial(), nullptr);
}

// ---------------------------------------------------------------------------
// The blend table

TEST_F(DrawPath, BlendTableFollowsTheDrawBuffersOfTheDevice)
{
    const int n = TKorvaneContext::EffectiveDrawBuffers();
    ASSERT_GE(n, 2);
    ASSERT_EQ(n, std::min(TKorvaneContext::MaxDrawBuffers(), 32));
    const TBlendFactor factors[] = {TBlendFactor::bfZero, TBlendFactor::bfSrcColor, TBlendFactor::bfDstAlpha,
                                    TBlendFactor::bfOneMinusDstColor};
    auto settingFor = [&](int i) {
        return TBlendSetting::Create(true, i % 2 ? TBlendEquationFunc::befSubtract : TBlendEquationFunc::befAdd,
                                     factors[i % 4], factors[(i + 1) % 4], factors[(i + 2) % 4],
                                     factors[(i + 3) % 4]);
    };
    for (int i = 0; i < 32; ++i) FContext->SetBlendingByIndex(i, settingFor(i));

    for (int i = 0; i < n; ++i) {
        const TBlendSetting s = settingFor(i);
        EXPECT_EQ(FContext->GetBlendingByIndex(i), s) << i;
        const GLuint b = GLuint(i);
        EXPECT_TRUE(glIsEnabledi(GL_BLEND, b)) << i;
        GLint v = 0;
        glGetIntegeri_v(GL_BLEND_SRC_RGB, b, &v);
        EXPECT_EQ(GLuint(v), BlendFactorToGL(s.ColorSource)) << i;
        glGetIntegeri_v(GL_BLEND_DST_RGB, b, &v);
        EXPECT_EQ(GLuint(v), BlendFactorToGL(s.ColorDest)) << i;
        glGetIntegeri_v(GL_BLEND_SRC_ALPHA, b, &v);
        EXPECT_EQ(GLuint(v), BlendFactorToGL(s.AlphaSource)) << i;
        glGetIntegeri_v(GL_BLEND_DST_ALPHA, b, &v);
        EXPECT_EQ(GLuint(v), BlendFactorToGL(s.AlphaDest)) << i;
        glGetIntegeri_v(GL_BLEND_EQUATION_RGB, b, &v);
        EXPECT_EQ(GLuint(v), BlendOperationToGL(s.Func)) << i;
    }
    const TBlendSettings table = FContext->GetBlendings();
    for (int i = n; i < 32; ++i) {
        EXPECT_EQ(table[size_t(i)], TBlendSetting::Create(false)) << i;
        EXPECT_EQ(FContext->GetBlendingByIndex(i), TBlendSetting::Create(false)) << i;
    }
    // Indices outside the table change nothing.
    FContext->SetBlendingByIndex(40, settingFor(0));
    FContext->SetBlendingByIndex(-1, settingFor(0));
    EXPECT_EQ(FContext->GetBlendings(), table);
    EXPECT_EQ(FContext->GetBlendingByIndex(-1), TBlendSetting::Create(false));
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));

    // Disabling the buffers turns every buffer's blending off.
    FContext->DisableBlendingBuffers();
    for (int i = 0; i < n; ++i) EXPECT_FALSE(glIsEnabledi(GL_BLEND, GLuint(i))) << i;
}

TEST_F(DrawPath, GlobalBlendingReadsTheDefaultAndWritesEveryBuffer)
{
    const TBlendSetting additive =
        TBlendSetting::Create(true, TBlendEquationFunc::befAdd, TBlendFactor::bfOne, TBlendFactor::bfOne);
    FContext->SetGlobalBlendingValue(additive);
    EXPECT_EQ(FContext->GlobalBlending(), TBlendSetting::CreateForFMX());
    EXPECT_EQ(FContext->GetBlendingByIndex(0), additive);
    EXPECT_EQ(FContext->GetBlendingByIndex(1), TBlendSetting::Create(false));
    EXPECT_TRUE(glIsEnabled(GL_BLEND));
    GLint v = 0;
    glGetIntegerv(GL_BLEND_DST_RGB, &v);
    EXPECT_EQ(v, GL_ONE);
    // A red and then a green half-transparent triangle add up.
    TColorMaterial red({1, 0, 0, 1}), green({0, 1, 0, 1});
    DrawTriangle(CentreTriangle, &red);
    DrawTriangle(CentreTriangle, &green);
    EXPECT_TRUE(NearColor(Pixel(Size / 2, Size / 2), {255, 255, 0, 255}));
}

TEST_F(DrawPath, SaveToBitmapFileWritesARandomlyNamedBitmapUnderThePath)
{
    TempFolder folder;
    TBitmap bitmap(4, 4);
    bitmap.Clear(TAlphaColors::Red);
    const std::string prefix = folder.Path("shot-");
    const std::string first = FContext->SaveToBitmapFile(&bitmap, prefix);
    const std::string second = FContext->SaveToBitmapFile(&bitmap, prefix);
    for (const std::string& file : {first, second}) {
        EXPECT_EQ(file.rfind(prefix, 0), 0u) << file;
        EXPECT_EQ(file.substr(file.size() - 4), ".bmp") << file;
        EXPECT_GT(std::filesystem::file_size(file), 4u * 4u * 4u) << file;
    }
    EXPECT_NE(first, second);
    EXPECT_EQ(FContext->SaveToBitmapFile(nullptr, prefix), "");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.Folder()), {}), 2);
}
