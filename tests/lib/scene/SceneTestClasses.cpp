#include "SceneTestClasses.h"

namespace korvane::test {

KORVANE_IMPLEMENT_CLASS(TKorvaneModel, "Korvane.Model")
KORVANE_IMPLEMENT_CLASS(TKorvaneViewport, "Korvane.Viewport")

void SceneClasses::SetUp()
{
    RegisterClasses({TKorvaneModel::StaticClass(), TKorvaneViewport::StaticClass()});
}

void SceneClasses::TearDown()
{
    for (TClass c : {TKorvaneModel::StaticClass(), TKorvaneViewport::StaticClass()}) UnRegisterClass(c);
}

} // namespace korvane::test
