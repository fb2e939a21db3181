#include "SceneTestClasses.h"

namespace korvane::test {

KORVANE_IMPLEMENT_CLASS(TKorvaneMesh, "Korvane.Mesh")
KORVANE_IMPLEMENT_CLASS(TKorvaneModel, "Korvane.Model")
KORVANE_IMPLEMENT_CLASS(TKorvaneViewport, "Korvane.Viewport")

void SceneClasses::SetUp()
{
    RegisterClasses({TKorvaneMesh::StaticClass(), TKorvaneModel::StaticClass(), TKorvaneViewport::StaticClass()});
    FSaved = MeshNodeServices();
    MeshNodeServices().GetReferencedName = [](const TKorvaneControl* AControl, std::string& AName) {
        const auto* mesh = dynamic_cast<const TKorvaneMesh*>(AControl);
        if (!mesh) return false;
        AName = mesh->ReferencedName;
        return true;
    };
}

void SceneClasses::TearDown()
{
    MeshNodeServices() = FSaved;
    for (TClass c : {TKorvaneMesh::StaticClass(), TKorvaneModel::StaticClass(), TKorvaneViewport::StaticClass()})
        UnRegisterClass(c);
}

} // namespace korvane::test
