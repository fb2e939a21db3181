// The render context's own state: the scene bracket, states, clearing, lights,
// clip planes, matrices and the index-buffer answer.

#include <cmath>
#include <thread>

#include "GLTestHarness.h"
#include "DrawTestSupport.h"
#include "Platform.Bitmaps.h"

using namespace korvane;
using namespace korvane::test;

namespace {
class ContextState : public TDrawFixture {};

bool CanvasLockIsFree()
{
    bool free = false;
    std::thread([&] {
        free = TCanvas::TryLock();
        if (free) TCanvas::Unlock();
    }).join();
    return free;
}

// A window context of the registered class (no frame buffers of its own).
Owned<TKorvaneContext> WindowContext(int AWidth, int AHeight)
{
    return Owned<TKorvaneContext>(static_cast<TKorvaneContext*>(
        TContextManager::CreateFromWindow(nullptr, AWidth, AHeight, TMultisample::None, true)));
}

TPoint3D Project(const TPoint3D& P, const TMatrix3D& M)
{
    const TVector3D v = TVector3D(P, 1) * M;
    return {v.X / v.W, v.Y / v.W, v.Z / v.W};
}
} // namespace

TEST_F(ContextState, SceneBracketRendersIntoTheContextsTexture)
{
    FContext->SetContextSize(3, 4, 10, 12);
    ASSERT_NE(FContext->DefaultFrameBuf(), nullptr);

    ASSERT_TRUE(FContext->BeginSceneRendering());
    EXPECT_EQ(TKorvaneContext::CurrentContext(), FContext.get());
    EXPECT_EQ(FContext->GetCurrentlyBoundBuffer(), FContext->DefaultFrameBuf());
    EXPECT_EQ(FContext->GetCurrentTexture(), FTexture.get());
    TKorvaneContextSize viewport{};
    FContext->GetContextSize(viewport);
    EXPECT_EQ(viewport, (TKorvaneContextSize{0, 0, Size, Size}));
    // Another thread cannot draw on a canvas meanwhile.
    EXPECT_FALSE(CanvasLockIsFree());

    // A nested bracket on the same context only counts.
    EXPECT_TRUE(FContext->BeginSceneRendering());
    EXPECT_EQ(FContext->BeginSceneCount(), 2);
    FContext->EndSceneRendering();
    EXPECT_EQ(FContext->GetCurrentlyBoundBuffer(), FContext->DefaultFrameBuf());

    FContext->Clear({TClearTarget::Color}, TAlphaColors::Black, 1, 0);
    TColorMaterial material({1, 0, 0, 1});
    DrawTriangle(CentreTriangle, &material);
    FContext->EndSceneRendering();

    EXPECT_EQ(FContext->BeginSceneCount(), 0);
    EXPECT_EQ(TKorvaneContext::CurrentContext(), nullptr);
    EXPECT_EQ(FContext->GetCurrentlyBoundBuffer(), nullptr);
    FContext->GetContextSize(viewport);
    EXPECT_EQ(viewport, (TKorvaneContextSize{3, 4, 10, 12}));
    EXPECT_TRUE(CanvasLockIsFree());

    // The triangle is in the texture, not in the frame buffer bound before.
    std::vector<uint8_t> bits(size_t(Size) * Size * 4);
    ASSERT_TRUE(FContext->CopyToBits(bits.data(), Size * 4, TRect(0, 0, Size, Size)));
    auto bgra = [&](int x, int y) {
        const uint8_t* p = &bits[(size_t(y) * Size + size_t(x)) * 4];
        return std::array<uint8_t, 4>{p[2], p[1], p[0], p[3]};
    };
    EXPECT_TRUE(NearColor(bgra(Size / 2, Size / 2), {255, 0, 0, 255}));
    EXPECT_TRUE(NearColor(bgra(0, 0), {0, 0, 0, 255}));
    EXPECT_TRUE(NearColor(Pixel(Size / 2, Size / 2), {0, 0, 0, 255}));
}

TEST_F(ContextState, ClearingHonoursItsTargetsAndTheDepthStencilFlag)
{
    auto depthAt = [&] {
        float d = -1;
        glReadPixels(1, 1, 1, 1, GL_DEPTH_COMPONENT, GL_FLOAT, &d);
        return d;
    };
    glDepthMask(GL_FALSE);
    FContext->Clear({TClearTarget::Depth}, 0, 0.25f, 0);
    EXPECT_NEAR(depthAt(), 0.25f, 1e-3);
    // The depth write mask is back where it was.
    GLboolean mask = GL_TRUE;
    glGetBooleanv(GL_DEPTH_WRITEMASK, &mask);
    EXPECT_FALSE(mask);
    glDepthMask(GL_TRUE);

    FContext->ClearEx({TRenderTarget::Color_0}, TAlphaColors::Blue, 1.0f, 0);
    EXPECT_TRUE(NearColor(Pixel(1, 1), {0, 0, 255, 255}));
    EXPECT_NEAR(depthAt(), 0.25f, 1e-3);
    FContext->ClearEx({TRenderTarget::Depth}, TAlphaColors::Red, 0.75f, 0);
    EXPECT_NEAR(depthAt(), 0.75f, 1e-3);
    EXPECT_TRUE(NearColor(Pixel(1, 1), {0, 0, 255, 255}));

    // A context without a depth-stencil buffer clears no depth.
    auto texture = std::make_unique<TTexture>();
    texture->SetSize(8, 8);
    Owned<TKorvaneContext> flat(
        static_cast<TKorvaneContext*>(TContextManager::CreateFromTexture(texture.get(), TMultisample::None, false)));
    FFrame->Bind();
    flat->Clear({TClearTarget::Depth, TClearTarget::Color}, TAlphaColors::Lime, 0.0f, 0);
    EXPECT_NEAR(depthAt(), 0.75f, 1e-3);
    EXPECT_TRUE(NearColor(Pixel(1, 1), {0, 255, 0, 255}));
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

TEST_F(ContextState, SettingAWholeSetLetsOffAndFrontWin)
{
    glEnable(GL_STENCIL_TEST);
    glDisable(GL_BLEND);
    FContext->SetContextStates({TContextState::csZTestOn, TContextState::csZTestOff, TContextState::csAlphaBlendOn,
                                TContextState::csFrontFace, TContextState::csBackFace});
    EXPECT_FALSE(glIsEnabled(GL_DEPTH_TEST));
    EXPECT_TRUE(glIsEnabled(GL_BLEND));
    EXPECT_TRUE(glIsEnabled(GL_CULL_FACE));
    GLint cull = 0;
    glGetIntegerv(GL_CULL_FACE_MODE, &cull);
    EXPECT_EQ(cull, GL_BACK);
    // A pair with neither member in the set is left alone.
    EXPECT_TRUE(glIsEnabled(GL_STENCIL_TEST));
    // The states are recorded in order; the later member of a group is the current one.
    const TContextStates current = FContext->CurrentStates();
    EXPECT_TRUE(current.Contains(TContextState::csZTestOff));
    EXPECT_FALSE(current.Contains(TContextState::csZTestOn));
    EXPECT_TRUE(current.Contains(TContextState::csBackFace));

    FContext->SetContextState(TContextState::csZTestOn);
    EXPECT_TRUE(glIsEnabled(GL_DEPTH_TEST));
    GLint func = 0;
    glGetIntegerv(GL_DEPTH_FUNC, &func);
    EXPECT_EQ(func, GL_LEQUAL);
    FContext->SetContextState(TContextState::csAllFace);
    EXPECT_FALSE(glIsEnabled(GL_CULL_FACE));

    // Pushed states come back.
    FContext->PushContextStates();
    FContext->SetContextState(TContextState::csZTestOff);
    FContext->PopContextStates();
    EXPECT_TRUE(glIsEnabled(GL_DEPTH_TEST));
    EXPECT_TRUE(FContext->CurrentStates().Contains(TContextState::csZTestOn));
}

TEST_F(ContextState, LightsStayParallel)
{
    const TLightDescription spot = TLightDescription::Create(true, TAlphaColors::Red, TLightType::Spot, 60, 2,
                                                             {1, 2, 3}, {0, -1, 0});
    EXPECT_EQ(FContext->AddLight(spot), 0);
    TKorvaneShaderLight point = TKorvaneShaderLight::Create(
        TLightDescription::Create(false, TAlphaColors::Lime, TLightType::Point, 0, 0, {4, 5, 6}, {}));
    EXPECT_EQ(FContext->AddLight(point), 1);
    ASSERT_EQ(FContext->Lights().size(), 2u);
    ASSERT_EQ(FContext->ShaderLights().size(), 2u);
    EXPECT_EQ(FContext->Lights()[1].LightType, TLightType::Point);
    EXPECT_EQ(FContext->ShaderLights()[0].LightType, 2);

    FContext->RemoveLight(0);
    ASSERT_EQ(FContext->Lights().size(), 1u);
    EXPECT_EQ(FContext->Lights()[0].Position, (TPoint3D{4, 5, 6}));
    EXPECT_EQ(FContext->ShaderLights()[0].LightType, 1);
    EXPECT_THROW(FContext->RemoveLight(1), EListError);
    EXPECT_THROW(FContext->RemoveLight(-1), EListError);
    FContext->ClearLights();
    EXPECT_TRUE(FContext->Lights().empty());
    EXPECT_TRUE(FContext->ShaderLights().empty());
}

TEST_F(ContextState, ClipPlaneIndicesAreClamped)
{
    struct TCase {
        int Given, Acts;
    };
    for (const TCase c : {TCase{12, 7}, TCase{-3, 0}, TCase{3, 3}}) {
        const TPlaneF plane = TPlaneF::Create(float(c.Given), 1, 0, 2);
        FContext->ActivateClipPlane(c.Given, plane);
        EXPECT_TRUE(FContext->IsClippingPlaneActive(c.Acts)) << c.Given;
        EXPECT_EQ(FContext->GetClippingPlane(c.Acts)->Plane.NX, float(c.Given)) << c.Given;
        EXPECT_EQ(FContext->GetClippingPlane(c.Given), FContext->GetClippingPlane(c.Acts)) << c.Given;
    }
    for (int i : {1, 2, 4, 5, 6}) EXPECT_FALSE(FContext->IsClippingPlaneActive(i)) << i;
    FContext->DeactivateClipPlane(99);
    EXPECT_FALSE(FContext->IsClippingPlaneActive(7));
    EXPECT_EQ(FContext->GetClippingPlane(7)->Plane.D, 0.0f);
}

TEST_F(ContextState, ProjectionFollowsTheViewAndNoHeightMeansAspectOne)
{
    // 32 x 32 with the default 45 degrees, near 0.1 and far 10000.
    const TMatrix3D square = FContext->CurrentProjectionMatrix();
    EXPECT_NEAR(square.m22, 1 / std::tan(DegToRad(22.5f)), 1e-5);
    EXPECT_NEAR(square.m11, square.m22, 1e-5);
    EXPECT_NEAR(Project({0, 0, -0.1f}, square).Z, -1, 1e-3);

    Owned<TKorvaneContext> wide = WindowContext(64, 32);
    EXPECT_NEAR(wide->CurrentProjectionMatrix().m11, wide->CurrentProjectionMatrix().m22 / 2, 1e-5);
    Owned<TKorvaneContext> flat = WindowContext(64, 0);
    EXPECT_NEAR(flat->CurrentProjectionMatrix().m11, flat->CurrentProjectionMatrix().m22, 1e-5);

    // A centre offset moves the picture (in view units after the projection); a
    // set projection stays until it is recomputed.
    wide->SetCenterOffset({0.5f, 0});
    EXPECT_NEAR(Project({0, 0, -1}, wide->CurrentProjectionMatrix()).X, 0.5f, 1e-5);
    const TMatrix3D fixed = TMatrix3D::CreateScaling({2, 2, 2});
    wide->SetProjectionMatrix(fixed);
    EXPECT_EQ(wide->CurrentProjectionMatrix(), fixed);
    EXPECT_EQ(wide->CurrentModelViewProjectionMatrix(), fixed);
    wide->SetCameraAngleOfView(60);
    EXPECT_NEAR(wide->CurrentProjectionMatrix().m22, 1 / std::tan(DegToRad(30)), 1e-5);
}

TEST_F(ContextState, ScreenMatrixMapsPixelsOntoTheView)
{
    Owned<TKorvaneContext> view = WindowContext(64, 32);
    const TMatrix3D screen = view->CurrentScreenMatrix();
    const TPoint3D topLeft = Project({0, 0, 0}, screen), bottomRight = Project({64, 32, 0}, screen),
                   centre = Project({32, 16, 0}, screen);
    EXPECT_NEAR(topLeft.X, -1, 1e-4);
    EXPECT_NEAR(topLeft.Y, 1, 1e-4);
    EXPECT_NEAR(bottomRight.X, 1, 1e-4);
    EXPECT_NEAR(bottomRight.Y, -1, 1e-4);
    EXPECT_NEAR(centre.X, 0, 1e-4);
    EXPECT_NEAR(centre.Y, 0, 1e-4);
}

TEST_F(ContextState, ScreenToWorldFollowsThePickRay)
{
    Owned<TKorvaneContext> view = WindowContext(64, 32);
    view->SetCameraMatrix(TMatrix3D::CreateLookAtRH({0, 0, 5}, {0, 0, 0}, {0, 1, 0}));
    const TPoint3D centre = view->ScreenToWorld({32, 16}, TProjection::Camera);
    EXPECT_NEAR(centre.X, 0, 1e-4);
    EXPECT_NEAR(centre.Y, 0, 1e-4);
    EXPECT_NEAR(centre.Z, 0, 1e-4);
    const TPoint3D left = view->ScreenToWorld({0, 16}, TProjection::Camera);
    EXPECT_LT(left.X, -0.5f);
    EXPECT_NEAR((left - TPoint3D{0, 0, 5}).Length(), 5, 1e-4);
}

TEST_F(ContextState, ContextAnswersAndEmptyStacks)
{
    EXPECT_EQ(FContext->GetIndexBufferSupport(), TIndexBufferSupport::Int32);
    EXPECT_EQ(FContext->PopFBO(), nullptr);
    EXPECT_EQ(FContext->GetCurrentlyBoundBuffer(), nullptr);
    EXPECT_EQ(FContext->MemoryBarrierFlagsToBits({TMemoryBarrierFlag::UniformBarrierBit,
                                                  TMemoryBarrierFlag::ShaderImageAccessBarrierBit}),
              uint32_t(GL_UNIFORM_BARRIER_BIT | GL_SHADER_IMAGE_ACCESS_BARRIER_BIT));
    EXPECT_EQ(FContext->NearPlane(), DefaultNearPlane);
    EXPECT_EQ(FContext->FarPlane(), DefaultFarPlane);
    ASSERT_NE(FContext->RenderPasses(), nullptr);
    EXPECT_EQ(WindowContext(8, 8)->RenderPasses(), nullptr);
}

TEST_F(ContextState, AFailedSceneBeginLeavesNothingOpen)
{
    // A pending GL error fails the begin.
    test::LeaveGLErrorPending();
    try {
        FContext->BeginSceneRendering();
        ADD_FAILURE() << "no exception";
    } catch (const EContext3DException& e) {
        EXPECT_EQ(e.Message(), "cannot begin rendering scene for TContextOpenGLWindows: 1280");
    }
    EXPECT_EQ(FContext->BeginSceneCount(), 0);
    EXPECT_EQ(TKorvaneContext::CurrentContext(), nullptr);
    EXPECT_TRUE(CanvasLockIsFree());
    // The next frame begins normally.
    ASSERT_TRUE(FContext->BeginSceneRendering());
    FContext->EndSceneRendering();
    EXPECT_TRUE(CanvasLockIsFree());
}

TEST_F(ContextState, StatesPushedForANestedSceneComeBackAtItsEnd)
{
    // Two other contexts have scenes open.
    Owned<TKorvaneContext> a = WindowContext(8, 8), b = WindowContext(8, 8);
    ASSERT_TRUE(a->BeginScene());
    ASSERT_TRUE(b->BeginScene());
    ASSERT_EQ(TContext3D::SceneCount(), 2);
    FContext->SetContextState(TContextState::csZTestOn);

    ASSERT_TRUE(FContext->BeginSceneRendering());
    FContext->SetContextState(TContextState::csZTestOff);
    FContext->EndSceneRendering();

    EXPECT_TRUE(FContext->CurrentStates().Contains(TContextState::csZTestOn));
    EXPECT_TRUE(glIsEnabled(GL_DEPTH_TEST));
    b->EndScene();
    a->EndScene();
    EXPECT_EQ(TContext3D::SceneCount(), 0);
}

TEST_F(ContextState, ScreenRectangleFillsTheViewport)
{
    GLint projectionDepth = 0, modelViewDepth = 0;
    glGetIntegerv(GL_PROJECTION_STACK_DEPTH, &projectionDepth);
    glGetIntegerv(GL_MODELVIEW_STACK_DEPTH, &modelViewDepth);
    glUseProgram(0);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_BLEND);
    FContext->DrawScreenRectangle(TAlphaColors::Lime);
    for (auto [x, y] : {std::pair{0, 0}, {Size - 1, Size - 1}, {Size / 2, Size / 3}})
        EXPECT_TRUE(NearColor(Pixel(x, y), {0, 255, 0, 255})) << x << "," << y;
    GLint depth = 0;
    glGetIntegerv(GL_PROJECTION_STACK_DEPTH, &depth);
    EXPECT_EQ(depth, projectionDepth);
    glGetIntegerv(GL_MODELVIEW_STACK_DEPTH, &depth);
    EXPECT_EQ(depth, modelViewDepth);
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}
