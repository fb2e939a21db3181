#pragma once
// Stand-ins for node classes that later units bring (the model and the
// viewport), known to the class registry under the qualified names the
// real ones will have, and a fixture that registers them for a test.

#include <gtest/gtest.h>

#include <string>

#include "Korvane.Control.h"
#include "Korvane.Transform.h"
#include "Platform.ClassRegistry.h"
#include "Platform.Controls3D.h"
#include "Platform.Types3D.h"

namespace korvane::test {

class TKorvaneModel : public TKorvaneTransform {
    KORVANE_CLASS(TKorvaneModel, TKorvaneTransform)
    explicit TKorvaneModel(TComponent* AOwner) : TKorvaneTransform(AOwner) {}
};

// A host of a scene with a context of its own.
class TKorvaneViewport : public TTreeObject, public IViewport3D {
    KORVANE_CLASS(TKorvaneViewport, TTreeObject)
    explicit TKorvaneViewport(TComponent* AOwner) : TTreeObject(AOwner) {}
    TTreeObject* GetObject() override { return this; }
    TContext3D* GetContext() override { return Context; }
    TCamera* GetCurrentCamera() override { return nullptr; }
    TPointF ScreenToLocal(const TPointF& P) override { return P; }
    void NeedRender() override {}
    TContext3D* Context = nullptr;
};

// Registers the stand-ins for a test.
class SceneClasses : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
};

} // namespace korvane::test
