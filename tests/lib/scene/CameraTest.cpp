// The framework camera (its definition, loading, copying, streaming) and the
// smooth camera controller (impulses, limits, the timer on an injected clock,
// taking over a viewport's mouse).

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "Korvane.Camera.h"
#include "Korvane.Mesh.h"
#include "Korvane.SceneDefs.h"
#include "Korvane.Utils.Math.h"
#include "Platform.Controls.h"
#include "Platform.FormResources.h"
#include "Platform.Forms.h"
#include "Platform.Threads.h"
#include "SceneTestClasses.h"
#include "TestHelpers.h"

namespace korvane {
namespace {

using test::MessageOf;
using test::NearPoint;
using test::Owned;
using TType = TKorvaneSmoothCameraControlType;

// ---------------------------------------------------------------- camera

TEST(Camera, FOVIsTheAngleOfViewAndMatrixChangesAskForAnUpdate)
{
    Owned<TKorvaneCamera> camera(new TKorvaneCamera(nullptr));
    EXPECT_FLOAT_EQ(camera->FOV(), 45);
    camera->SetFOV(60);
    EXPECT_FLOAT_EQ(camera->AngleOfView(), 60);
    camera->SetAngleOfView(30);
    EXPECT_FLOAT_EQ(camera->FOV(), 30);
    EXPECT_FLOAT_EQ(TKorvaneCamera::StaticClass()->FindProperty("FOV")->GetValue(camera.get()).AsType<float>(), 30);

    EXPECT_FALSE(camera->UpdateNeeded());
    camera->Position().SetX(2);
    EXPECT_TRUE(camera->UpdateNeeded());
    camera->SetUpdateNeeded(false);
    camera->RotationAngle().SetY(10);
    EXPECT_TRUE(camera->UpdateNeeded());

    EXPECT_EQ(MessageOf([&] { camera->PerspectiveMatrix(); }), "");
}

TEST(Camera, AssignFromTakesAbsolutePositionRotationTargetAndAngle)
{
    for (bool frameworkSource : {false, true}) {
        SCOPED_TRACE(frameworkSource);
        Owned<TDummy> root(new TDummy(nullptr));
        auto* sourceParent = new TDummy(root.get());
        sourceParent->SetParent(root.get());
        sourceParent->Position().SetPoint({10, 0, 0});
        auto* target = new TDummy(root.get());
        TCamera* source = frameworkSource ? new TKorvaneCamera(root.get()) : new TCamera(root.get());
        source->SetParent(sourceParent);
        source->Position().SetPoint({1, 2, 3});
        source->RotationAngle().SetPoint({0, 30, 0});
        source->SetTarget(target);
        source->SetAngleOfView(70);

        auto* destParent = new TDummy(root.get());
        destParent->SetParent(root.get());
        destParent->Position().SetPoint({0, 5, 0});
        auto* camera = new TKorvaneCamera(root.get());
        camera->SetParent(destParent);
        camera->RotationAngle().SetPoint({45, 0, 0});
        camera->SetUpdateNeeded(false);

        camera->AssignFrom(source);
        EXPECT_TRUE(NearPoint(camera->AbsolutePosition(), {11, 2, 3}));
        EXPECT_TRUE(NearPoint(camera->Position().Point(), {11, -3, 3}));
        EXPECT_TRUE(NearPoint(camera->RotationAngle().Point(), {0, 30, 0}));
        EXPECT_EQ(camera->Target(), target);
        EXPECT_FLOAT_EQ(camera->AngleOfView(), 70);
        EXPECT_TRUE(camera->UpdateNeeded());
        // Anything but a camera is no source.
        camera->AssignFrom(target);
        EXPECT_TRUE(NearPoint(camera->AbsolutePosition(), {11, 2, 3}));
    }
}

TEST(Camera, PlanesOfOlderFormsAreReadAndDroppedAndNeverWritten)
{
    Owned<TDummy> root(new TDummy(nullptr));
    ReadComponentResource(root.get(), "object Root: TDummy\n"
                                      "  object Cam: TKorvaneCamera\n"
                                      "    NearPlane = 0.5\n"
                                      "    FarPlane = 250\n"
                                      "    FOV = 60\n"
                                      "  end\n"
                                      "end\n");
    auto* camera = dynamic_cast<TKorvaneCamera*>(root->FindComponent("Cam"));
    ASSERT_NE(camera, nullptr);
    EXPECT_FLOAT_EQ(camera->FOV(), 60);
    const std::string text = WriteComponentResource(root.get());
    EXPECT_NE(text.find("FOV = 60"), std::string::npos) << text;
    EXPECT_EQ(text.find("NearPlane"), std::string::npos) << text;
    EXPECT_EQ(text.find("FarPlane"), std::string::npos) << text;
}

// Top-level components the global lookup knows: a form holding a node, and a
// 3D control of its own.
TComponent* GForm = nullptr;
TComponent* GTopLevelNode = nullptr;
TComponent* FindTestGlobal(std::string_view AName)
{
    for (TComponent* c : {GForm, GTopLevelNode})
        if (c && SameText(c->Name(), AName)) return c;
    return nullptr;
}

class CameraDefinition : public test::SceneClasses {
protected:
    void SetUp() override
    {
        test::SceneClasses::SetUp();
        FForm.reset(new TComponent(nullptr));
        FForm->SetName("Form1");
        auto* inner = new TDummy(FForm.get());
        inner->SetName("InnerNode");
        FTopLevel.reset(new TDummy(nullptr));
        FTopLevel->SetName("Rig");
        GForm = FForm.get();
        GTopLevelNode = FTopLevel.get();
        RegisterFindGlobalComponentProc(&FindTestGlobal);
    }
    void TearDown() override
    {
        UnregisterFindGlobalComponentProc(&FindTestGlobal);
        GForm = GTopLevelNode = nullptr;
        FTopLevel.reset();
        FForm.reset();
        test::SceneClasses::TearDown();
    }
    Owned<TComponent> FForm;
    Owned<TDummy> FTopLevel;
};

TEST_F(CameraDefinition, TargetIsATopLevel3DControlOrNothing)
{
    struct Case {
        const char* Target;
        bool Found;
    } cases[] = {
        {"Rig", true},         // a top-level 3D control
        {"InnerNode", false},  // inside a form: the global lookup does not see it
        {"Form1", false},      // found, but not a 3D control
        {"Nowhere", false},
        {"", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Target);
        TCameraDef def(nullptr);
        def.SetId("Cam");
        def.Target = c.Target;
        Owned<TKorvaneCamera> camera(new TKorvaneCamera(nullptr));
        camera->SetTarget(new TDummy(camera.get())); // loading replaces it
        camera->LoadFromDefinition(&def);
        EXPECT_EQ(camera->Target(), c.Found ? static_cast<TControl3D*>(FTopLevel.get()) : nullptr);
        EXPECT_EQ(camera->Def(), &def);
    }
}

TEST_F(CameraDefinition, NameFOVAndMatrixComeFromTheDefinition)
{
    TCameraDef def(nullptr);
    def.SetId("Main Camera");
    def.FOV = 35;
    const TMatrix3D matrix = TMatrix3D::CreateScaling({2, 2, 2}) * TMatrix3D::CreateRotationY(DegToRad(90)) *
                             TMatrix3D::CreateTranslation({1, 2, 3});
    def.SetTransform(matrix);
    Owned<TDummy> owner(new TDummy(nullptr));
    auto* camera = new TKorvaneCamera(owner.get());
    camera->LoadFromDefinition(&def);
    EXPECT_EQ(camera->Name(), "Main_Camera");
    EXPECT_FLOAT_EQ(camera->FOV(), 35);
    EXPECT_TRUE(NearPoint(camera->Position().Point(), {1, 2, 3}));
    EXPECT_TRUE(NearPoint(camera->Scale().Point(), {2, 2, 2}));
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) EXPECT_NEAR(camera->LocalMatrix().M[i][j], matrix.M[i][j], 1e-5f) << i << j;
    EXPECT_TRUE(NearPoint(camera->AbsolutePosition(), {1, 2, 3}));

    // A camera with a name keeps it.
    auto* named = new TKorvaneCamera(owner.get());
    named->SetName("Kept");
    named->LoadFromDefinition(&def);
    EXPECT_EQ(named->Name(), "Kept");
    // The platform's rules apply: the name is taken in the owner.
    auto* third = new TKorvaneCamera(owner.get());
    EXPECT_THROW(third->LoadFromDefinition(&def), EComponentError);
    // An unnamed definition gives "Camera_" and digits.
    TCameraDef anonymous(nullptr);
    auto* fourth = new TKorvaneCamera(owner.get());
    fourth->LoadFromDefinition(&anonymous);
    EXPECT_EQ(fourth->Name().rfind("Camera_", 0), 0u) << fourth->Name();
    EXPECT_THROW(fourth->LoadFromDefinition(nullptr), EArgumentException);
}

TEST_F(CameraDefinition, OwnDefinitionBelongsToTheOwningMeshDefinition)
{
    // Standalone: no definition owner; the camera frees it (the leak check sees it).
    Owned<TKorvaneCamera> standalone(new TKorvaneCamera(nullptr));
    ASSERT_NE(standalone->Def(), nullptr);
    EXPECT_EQ(standalone->Def()->Owner(), nullptr);

    TTransformDef meshDef(nullptr);
    Owned<TKorvaneMesh> mesh(new TKorvaneMesh(nullptr));
    mesh->SetDef(&meshDef);
    auto* camera = new TKorvaneCamera(mesh.get());
    ASSERT_NE(camera->Def(), nullptr);
    EXPECT_EQ(camera->Def()->Owner(), &meshDef);
    // A non-mesh framework node is no definition owner.
    Owned<TKorvaneTransform> node(new TKorvaneTransform(nullptr));
    node->SetDef(&meshDef);
    auto* other = new TKorvaneCamera(node.get());
    EXPECT_EQ(other->Def()->Owner(), nullptr);
}

// ---------------------------------------------------------------- controller

// A control that hosts a scene, as the controller's viewport.
class TViewportDouble : public TControl, public IViewport3D {
public:
    explicit TViewportDouble(TComponent* AOwner) : TControl(AOwner) {}
    TTreeObject* GetObject() override { return nullptr; }
    TContext3D* GetContext() override { return nullptr; }
    TCamera* GetCurrentCamera() override { return nullptr; }
    TPointF ScreenToLocal(const TPointF& P) override { return P; }
    void NeedRender() override {}
};

// The controller's clock stands still until a tick moves it by 33 ms.
class Controller : public ::testing::Test {
protected:
    void SetUp() override
    {
        FController.reset(new TKorvaneSmoothCameraController(nullptr));
        FCamera = new TKorvaneCamera(FController.get());
    }
    void TearDown() override { FController.reset(); }

    // One timer interval passes; the application fires the due timers.
    void Tick()
    {
        FClock.AdvanceMilliseconds(33);
        TApplication::Instance().FireTimers();
    }

    TManualClock FClock{1000 * TClock::TicksPerSecond};
    TDefaultClockScope FClockScope{&FClock};
    Owned<TKorvaneSmoothCameraController> FController;
    TKorvaneCamera* FCamera = nullptr;
};

TEST_F(Controller, Defaults)
{
    auto& c = *FController;
    EXPECT_TRUE(NearPoint({c.ImpulseLimitRotate(), c.ImpulseLimitUpAndDown(), c.ImpulseLimitZoom()}, {75, 50, 50}));
    EXPECT_TRUE(NearPoint({c.IntensityRotate(), c.IntensityUpAndDown(), c.IntensityZoom()}, {15, 1, 1}));
    EXPECT_TRUE(NearPoint({c.DampingRotate(), c.DampingUpAndDown(), c.DampingZoom()}, {1.5f, 1.5f, 1}));
    EXPECT_EQ(TPointF(c.LimitRotationMin(), c.LimitRotationMax()), TPointF(0, 360));
    EXPECT_EQ(TPointF(c.LimitUpAndDownMin(), c.LimitUpAndDownMax()), TPointF(-10, 10));
    EXPECT_EQ(TPointF(c.LimitZoomMin(), c.LimitZoomMax()), TPointF(-100, -1));
    EXPECT_FLOAT_EQ(c.ShiftImpulseLimit(), 65);
    EXPECT_FLOAT_EQ(c.ShiftDamping(), 1.5f);
    EXPECT_FLOAT_EQ(c.ShiftIntensity(), 0.5f);
    EXPECT_EQ(c.Types(), (TKorvaneSmoothCameraControlTypes{TType::scctRotateY, TType::scctMoveY, TType::scctZoom,
                                                           TType::scctShiftX, TType::scctShiftY, TType::scctShiftZ}));
    EXPECT_EQ(c.GetInterval(), 33);
    EXPECT_TRUE(c.GetEnabled());
    EXPECT_FALSE(c.ShowController());
    EXPECT_EQ(c.Camera(), nullptr);
    EXPECT_EQ(c.Viewport(), nullptr);
}

TEST_F(Controller, ACameraAtTheOriginMovesBackElsewhereItStays)
{
    struct Case {
        TPoint3D Start, Expected;
    } cases[] = {
        {{0, 0, 0}, {0, -10, -25}},
        {{1e-8f, -1e-8f, 0}, {0, -10, -25}},
        {{1e-6f, 0, 0}, {1e-6f, 0, 0}},
        {{0, 0, -5}, {0, 0, -5}},
        {{3, 4, 5}, {3, 4, 5}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.Start.X << " " << c.Start.Y << " " << c.Start.Z);
        auto* camera = new TKorvaneCamera(FController.get());
        camera->Position().SetPoint(c.Start);
        FController->SetCamera(camera);
        EXPECT_EQ(FController->Camera(), camera);
        EXPECT_TRUE(NearPoint(camera->Position().Point(), c.Expected, 0));
        EXPECT_EQ(camera->Parent(), FController.get());
        EXPECT_EQ(camera->Target(), FController.get());
    }
}

TEST_F(Controller, ARotateImpulseTurnsByDecreasingAmountsAndStops)
{
    struct Case {
        float Impulse, StartAngle;
    } cases[] = {{20, 0}, {-20, 0}, {20, 359.5f}, {75, 10}, {400, 10}};
    std::vector<std::vector<double>> stepsOf;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Impulse);
        FController->SetCamera(FCamera);
        FController->RotationAngle().SetY(c.StartAngle);
        FController->SetImpulse({0, 0, 0});
        Tick(); // starts from a fresh stopwatch
        FController->AddXImpulse(c.Impulse);
        std::vector<double> steps;
        float previous = FController->RotationAngle().Y();
        for (int i = 0; i < 40; ++i) {
            Tick();
            const float angle = FController->RotationAngle().Y();
            EXPECT_GE(angle, 0.0f);
            EXPECT_LT(angle, 360.0f);
            double step = std::remainder(double(angle) - previous, 360.0);
            if (step != 0) steps.push_back(step);
            previous = angle;
        }
        ASSERT_GE(steps.size(), 3u);
        for (size_t i = 0; i < steps.size(); ++i) {
            EXPECT_EQ(steps[i] > 0, c.Impulse > 0) << i;
            if (i > 0) {
                EXPECT_LT(std::fabs(steps[i]), std::fabs(steps[i - 1])) << i;
            }
        }
        EXPECT_LT(std::fabs(FController->Impulse().X), 3.01f);
        EXPECT_GT(std::fabs(FController->Impulse().X), 1.0f);
        if (std::fabs(c.Impulse) == 20) {
            // 20 -> 15.5 -> 11.4 -> 7.7 -> 4.7 -> 2.4: five moving ticks; the
            // first turns by 15 x 0.033 s x sqrt(1.5 ln 20).
            EXPECT_EQ(steps.size(), 5u);
            EXPECT_NEAR(std::fabs(steps[0]), 1.0493, 1e-3);
        }
        stepsOf.push_back(steps);
    }
    // Beyond the limit the impulse counts as the limit.
    EXPECT_EQ(stepsOf[3], stepsOf[4]);
}

TEST_F(Controller, ZoomStaysWithinItsLimits)
{
    FController->SetCamera(FCamera);
    const float impulses[] = {50, -50, 400, -400, 3, -3, 50, 50, 50};
    for (float start : {-1.05f, -25.0f, -99.95f}) {
        FCamera->Position().SetZ(start);
        for (float impulse : impulses) {
            FController->Zoom(impulse);
            for (int i = 0; i < 30; ++i) {
                Tick();
                const float z = FCamera->Position().Z();
                ASSERT_GE(z, -100.0f) << start << " " << impulse;
                ASSERT_LE(z, -1.0f) << start << " " << impulse;
            }
        }
    }
    // Pushed on against a limit the camera rests on it.
    FCamera->Position().SetZ(-1.05f);
    FController->Zoom(50);
    for (int i = 0; i < 30; ++i) Tick();
    EXPECT_FLOAT_EQ(FCamera->Position().Z(), -1);
    FCamera->Position().SetZ(-99.95f);
    FController->Zoom(-50);
    for (int i = 0; i < 30; ++i) Tick();
    EXPECT_FLOAT_EQ(FCamera->Position().Z(), -100);
}

TEST_F(Controller, UpAndDownMovesTheCameraWithinItsLimits)
{
    FController->SetCamera(FCamera);
    FCamera->Position().SetY(9.99f);
    FController->AddYImpulse(-50); // up-and-down impulse +50
    EXPECT_FLOAT_EQ(FController->Impulse().Y, 50);
    for (int i = 0; i < 30; ++i) Tick();
    EXPECT_FLOAT_EQ(FCamera->Position().Y(), 10);
    FController->AddImpulse({0, 50}); // -50
    for (int i = 0; i < 30; ++i) Tick();
    EXPECT_LT(FCamera->Position().Y(), 10);
    EXPECT_GE(FCamera->Position().Y(), -10);
}

TEST_F(Controller, NothingMovesWithoutACameraOrWithTheAxisSwitchedOff)
{
    FController->AddXImpulse(20);
    for (int i = 0; i < 5; ++i) Tick();
    EXPECT_FLOAT_EQ(FController->RotationAngle().Y(), 0);
    EXPECT_FLOAT_EQ(FController->Impulse().X, 20);

    FController->SetCamera(FCamera);
    FController->SetTypes({TType::scctZoom});
    for (int i = 0; i < 5; ++i) Tick();
    EXPECT_FLOAT_EQ(FController->RotationAngle().Y(), 0);
    // A camera freed is forgotten.
    FCamera->Free();
    EXPECT_EQ(FController->Camera(), nullptr);
    Tick();
}

TEST_F(Controller, HandlersSeeAndMayChangeEveryAxisValue)
{
    FController->SetCamera(FCamera);
    std::vector<TType> before;
    FController->OnBeforeModify = [&](TObject* Sender, TType AType, float& AValue) {
        EXPECT_EQ(Sender, FController.get());
        before.push_back(AType);
        if (AType == TType::scctZoom) AValue = -50;
        // A step that re-enters itself does nothing.
        FController->DoStep();
    };
    FController->OnAfterModify = [&](TObject*, TType AType, float& AValue) {
        if (AType == TType::scctRotateY) AValue = 42;
    };
    FController->AddXImpulse(20);
    FController->Zoom(5);
    FController->Shift({10, 0, 0});
    Tick();
    EXPECT_EQ(before, (std::vector<TType>{TType::scctShiftX, TType::scctRotateY, TType::scctZoom}));
    EXPECT_FLOAT_EQ(FController->RotationAngle().Y(), 42);
    EXPECT_GT(FCamera->Position().Z(), -50.0f);
    EXPECT_LT(FCamera->Position().Z(), -49.0f);
}

TEST_F(Controller, IntervalAndEnabledAreTheTimers)
{
    FController->SetCamera(FCamera);
    FController->SetInterval(100);
    EXPECT_EQ(FController->GetInterval(), 100);
    FController->AddXImpulse(20);
    FClock.AdvanceMilliseconds(50);
    TApplication::Instance().FireTimers();
    EXPECT_FLOAT_EQ(FController->RotationAngle().Y(), 0) << "not due yet";
    FController->SetEnabled(false);
    EXPECT_FALSE(FController->GetEnabled());
    FClock.AdvanceMilliseconds(500);
    TApplication::Instance().FireTimers();
    EXPECT_FLOAT_EQ(FController->RotationAngle().Y(), 0);
    // Enabling restarts the stopwatch: the first step after it counts from then.
    FController->SetEnabled(true);
    FClock.AdvanceMilliseconds(100);
    TApplication::Instance().FireTimers();
    EXPECT_NEAR(FController->RotationAngle().Y(), 15 * 0.1 * std::sqrt(1.5 * std::log(20.0)), 1e-3);
}

// ---------------------------------------------------------------- the viewport's mouse

class ControllerMouse : public Controller {
protected:
    void SetUp() override
    {
        Controller::SetUp();
        FViewport.reset(new TViewportDouble(nullptr));
        FViewport->OnMouseDown = [this](TObject* S, TMouseButton, TShiftState, float X, float Y) {
            Calls.push_back("down " + std::to_string(int(X)) + "," + std::to_string(int(Y)) + (S == FViewport.get() ? "" : " ?"));
        };
        FViewport->OnMouseMove = [this](TObject*, TShiftState, float X, float Y) {
            Calls.push_back("move " + std::to_string(int(X)) + "," + std::to_string(int(Y)));
        };
        FViewport->OnMouseUp = [this](TObject*, TMouseButton, TShiftState, float, float) { Calls.push_back("up"); };
        FViewport->OnMouseWheel = [this](TObject*, TShiftState, int D, bool& Handled) {
            Calls.push_back("wheel " + std::to_string(D) + (Handled ? " handled" : ""));
        };
        // The camera turned, so its axes are not the world's.
        FCamera->Position().SetPoint({0, 0, -10});
        FController->SetCamera(FCamera);
        FCamera->RotationAngle().SetPoint({0, 30, 0});
        FController->SetViewport(FViewport.get());
    }
    void TearDown() override
    {
        FViewport.reset();
        Controller::TearDown();
    }

    // A right-button drag by (dx, dy), then the steps until the shift ends.
    TPoint3D Drag(float dx, float dy, TShiftState AShift)
    {
        const TPoint3D start = FController->Position().Point();
        FViewport->MouseDown(TMouseButton::mbRight, AShift, 100, 100);
        FViewport->MouseMove(AShift, 100 + dx, 100 + dy);
        FViewport->MouseUp(TMouseButton::mbRight, AShift, 100 + dx, 100 + dy);
        for (int i = 0; i < 40; ++i) Tick();
        return FController->Position().Point() - start;
    }

    Owned<TViewportDouble> FViewport;
    std::vector<std::string> Calls;
};

TEST_F(ControllerMouse, RightDragsShiftAlongTheCamerasAxes)
{
    const TPoint3D left = FCamera->AbsoluteLeft(), up = FCamera->AbsoluteUp(), dir = FCamera->AbsoluteDirection();
    // Without Shift: along left (x) and the viewing direction (-y).
    const TPoint3D plain = Drag(20, -20, {ssRight});
    EXPECT_GT(plain.DotProduct(left), 0.05f);
    EXPECT_GT(plain.DotProduct(dir), 0.05f);
    EXPECT_NEAR(plain.DotProduct(up), 0, 1e-5f);
    EXPECT_NEAR(plain.DotProduct(left), plain.DotProduct(dir), 1e-4f) << "equal impulses, equal moves";
    // With Shift: along left and up (y).
    const TPoint3D shifted = Drag(-20, 20, {ssRight, ssShift});
    EXPECT_LT(shifted.DotProduct(left), -0.05f);
    EXPECT_GT(shifted.DotProduct(up), 0.05f);
    EXPECT_NEAR(shifted.DotProduct(dir), 0, 1e-5f);
    // The camera itself stays where it is on the rig.
    EXPECT_TRUE(NearPoint(FCamera->Position().Point(), {0, 0, -10}));
}

TEST_F(ControllerMouse, LeftDragsAndTheWheelGiveImpulses)
{
    struct Case {
        TShiftState Shift;
        int Wheel;
        float Zoom;
    } wheels[] = {{{}, 120, 18}, {{ssShift}, 120, 240}, {{}, -120, -18}};
    for (const Case& c : wheels) {
        FController->SetImpulse({0, 0, 0});
        bool handled = false;
        FViewport->MouseWheel(c.Shift, c.Wheel, handled);
        EXPECT_TRUE(handled);
        EXPECT_FLOAT_EQ(FController->Impulse().Z, c.Zoom);
    }
    FController->SetImpulse({0, 0, 0});
    FViewport->MouseDown(TMouseButton::mbLeft, {ssLeft}, 10, 10);
    FViewport->MouseMove({ssLeft}, 15, 30);
    EXPECT_TRUE(NearPoint(FController->Impulse(), {5, -20, 0}));
    // Moves without a button held down give nothing.
    FViewport->MouseUp(TMouseButton::mbLeft, {}, 15, 30);
    FViewport->MouseMove({ssLeft}, 50, 50);
    EXPECT_TRUE(NearPoint(FController->Impulse(), {5, -20, 0}));
}

TEST_F(ControllerMouse, TheViewportsOwnHandlersRunAfterTheControllersAndComeBack)
{
    FViewport->MouseDown(TMouseButton::mbLeft, {ssLeft}, 1, 2);
    FViewport->MouseMove({ssLeft}, 11, 2);
    FViewport->MouseUp(TMouseButton::mbLeft, {}, 11, 2);
    bool handled = false;
    FViewport->MouseWheel({}, 120, handled);
    EXPECT_EQ(Calls, (std::vector<std::string>{"down 1,2", "move 11,2", "up", "wheel 120 handled"}));
    EXPECT_FLOAT_EQ(FController->Impulse().X, 10) << "the controller ran first";

    // Unhooked: the viewport's handlers are back alone.
    FController->SetViewport(nullptr);
    Calls.clear();
    FController->SetImpulse({0, 0, 0});
    handled = false;
    FViewport->MouseDown(TMouseButton::mbLeft, {ssLeft}, 1, 2);
    FViewport->MouseMove({ssLeft}, 11, 2);
    FViewport->MouseWheel({}, 120, handled);
    EXPECT_EQ(Calls, (std::vector<std::string>{"down 1,2", "move 11,2", "wheel 120"}));
    EXPECT_TRUE(NearPoint(FController->Impulse(), {0, 0, 0}));
}

TEST_F(ControllerMouse, AHandlerReplacedWhileHookedStaysAfterUnhooking)
{
    int replaced = 0;
    FViewport->OnMouseUp = [&](TObject*, TMouseButton, TShiftState, float, float) { ++replaced; };
    FController->SetViewport(nullptr);
    FViewport->MouseUp(TMouseButton::mbLeft, {}, 0, 0);
    EXPECT_EQ(replaced, 1);
    FViewport->MouseDown(TMouseButton::mbLeft, {}, 0, 0);
    EXPECT_EQ(Calls, std::vector<std::string>{"down 0,0"});
}

TEST_F(ControllerMouse, OnlyViewportsAreTakenAndAFreedOneIsForgotten)
{
    Owned<TPanel> panel(new TPanel(nullptr));
    FController->SetViewport(panel.get());
    EXPECT_EQ(FController->Viewport(), FViewport.get());

    // The viewport is held in update while a step runs.
    bool updatingDuringStep = false;
    FController->OnBeforeModify = [&](TObject*, TType, float&) { updatingDuringStep = FViewport->IsUpdating(); };
    FController->AddXImpulse(20);
    Tick();
    EXPECT_TRUE(updatingDuringStep);
    EXPECT_FALSE(FViewport->IsUpdating());
    FController->OnBeforeModify = TOnCameraControllerEvent();

    FViewport.reset();
    EXPECT_EQ(FController->Viewport(), nullptr);
    Tick();
}

TEST_F(ControllerMouse, FreeingTheControllerGivesTheMouseBack)
{
    FController.reset();
    Calls.clear();
    FViewport->MouseDown(TMouseButton::mbLeft, {}, 3, 4);
    EXPECT_EQ(Calls, std::vector<std::string>{"down 3,4"});
}

} // namespace
} // namespace korvane
