#include "SceneTestClasses.h"

#include "Korvane.Viewport.h"

namespace korvane::test {

KORVANE_IMPLEMENT_CLASS(TKorvaneModel, "Korvane.Model")
KORVANE_IMPLEMENT_CLASS(TKorvaneViewport, "Korvane.Viewport")

void SceneClasses::SetUp()
{
    // The stand-in takes the real viewport's qualified name for the time of a test.
    UnRegisterClass(korvane::TKorvaneViewport::StaticClass());
    RegisterClasses({TKorvaneModel::StaticClass(), TKorvaneViewport::StaticClass()});
}

void SceneClasses::TearDown()
{
    for (TClass c : {TKorvaneModel::StaticClass(), TKorvaneViewport::StaticClass()}) UnRegisterClass(c);
    RegisterClass(korvane::TKorvaneViewport::StaticClass());
}

} // namespace korvane::test
