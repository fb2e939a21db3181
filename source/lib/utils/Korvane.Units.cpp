#include "Korvane.Units.h"

#include <exception>

#include "Platform.Log.h"
#include "Platform.Threads.h"

namespace korvane {

// Each unit's start-up and shut-down, defined in the unit itself.
namespace units {
void ContextInitialize();
void ContextFinalize();
void BuffersOpenGLInitialize();
void BuffersOpenGLFinalize();
void FrameBuffersOpenGLInitialize();
void FrameBuffersOpenGLFinalize();
void TexturingOpenGLInitialize();
void TexturingOpenGLFinalize();
void ShaderOpenGLInitialize();
void ShaderOpenGLFinalize();
void ExtensionOpenGLInitialize();
void ExtensionOpenGLFinalize();
void MemoryOpenGLInitialize();
void MemoryOpenGLFinalize();
void WindowsContextInitialize();
void WindowsContextFinalize();
void PlatformTypes3DFinalize();
void ImagingFormatsInitialize();
void ImagingFormatsFinalize();
void ImagingInitialize();
void DefTypesInitialize();
void PlatformControls3DInitialize();
void PlatformControls3DFinalize();
void ControlInitialize();
void ControlFinalize();
void ControllerInitialize();
void ControllerFinalize();
void ViewportInitialize();
void ViewportFinalize();
void TransformInitialize();
void TransformFinalize();
void MeshInitialize();
void MeshFinalize();
void CubeInitialize();
void CubeFinalize();
void PlaneInitialize();
void PlaneFinalize();
void CameraInitialize();
void CameraFinalize();
void LightInitialize();
void LightFinalize();
void MaterialDefaultInitialize();
void MaterialDefaultFinalize();
void MaterialSplatMapInitialize();
void MaterialSplatMapFinalize();
void MaterialVertexColorInitialize();
void MaterialVertexColorFinalize();
void MaterialLambertInitialize();
void MaterialLambertFinalize();
void MaterialPhongInitialize();
void MaterialPhongFinalize();
void MaterialBlinnInitialize();
void MaterialBlinnFinalize();
void MaterialNormalMapInitialize();
void MaterialNormalMapFinalize();
void MaterialBumpMapInitialize();
void MaterialBumpMapFinalize();
void MaterialPOMInitialize();
void MaterialPOMFinalize();
void MaterialPBRInitialize();
void MaterialPBRFinalize();
void DefTypesMeshInitialize();
void DefTypesMetaInitialize();
void DefTypesLightInitialize();
void DefTypesSkinInitialize();
void DefTypesInterpolatorInitialize();
void DefTypesAnimationInitialize();
void DefTypesModelInitialize();
void DefTypesModelFinalize();
void PlatformFormsInitialize();
void PlatformFormsFinalize();
// The demo program's unit: linked only into the demo and its tests, so the
// references are weak and the row is skipped wherever it is not linked.
[[gnu::weak]] void DemoUnit1Initialize();
[[gnu::weak]] void DemoUnit1Finalize();
} // namespace units

namespace {

struct TUnitEntry {
    const char* Name;
    void (*Initialize)();
    void (*Finalize)();
};

// The start-up order: the render context first (default planes, shader
// errors), then the OpenGL back ends that set the render layer's class
// references, then the window context class that registers itself as the
// default 3D context; then the scene, pipeline, material and asset units; the
// image library; the definition model and the other units that only fill tables.
// Shut-down runs the list backwards.
const TUnitEntry Units[] = {
    {"Korvane.Context", units::ContextInitialize, units::ContextFinalize},
    {"Korvane.Context.Texturing.OpenGL", units::TexturingOpenGLInitialize, units::TexturingOpenGLFinalize},
    {"Korvane.Context.Buffers.OpenGL", units::BuffersOpenGLInitialize, units::BuffersOpenGLFinalize},
    {"Korvane.Context.FrameBuffers.OpenGL", units::FrameBuffersOpenGLInitialize, units::FrameBuffersOpenGLFinalize},
    {"Korvane.Context.Shader.OpenGL", units::ShaderOpenGLInitialize, units::ShaderOpenGLFinalize},
    {"Korvane.Context.Extension.OpenGL", units::ExtensionOpenGLInitialize, units::ExtensionOpenGLFinalize},
    {"Korvane.Context.Memory.OpenGL", units::MemoryOpenGLInitialize, units::MemoryOpenGLFinalize},
    {"Korvane.Context.GLES.Windows", units::WindowsContextInitialize, units::WindowsContextFinalize},
    // After the context: its shut-down frees the registered shaders before the GL context goes.
    {"Platform.Types3D", nullptr, units::PlatformTypes3DFinalize},
    {"Platform.Controls3D", units::PlatformControls3DInitialize, units::PlatformControls3DFinalize},
    {"Korvane.Control", units::ControlInitialize, units::ControlFinalize},
    {"Korvane.Transform", units::TransformInitialize, units::TransformFinalize},
    {"Korvane.Mesh", units::MeshInitialize, units::MeshFinalize},
    {"Korvane.Cube", units::CubeInitialize, units::CubeFinalize},
    {"Korvane.Plane", units::PlaneInitialize, units::PlaneFinalize},
    {"Korvane.Camera", units::CameraInitialize, units::CameraFinalize},
    {"Korvane.Light", units::LightInitialize, units::LightFinalize},
    {"Korvane.Controller", units::ControllerInitialize, units::ControllerFinalize},
    {"Korvane.Viewport", units::ViewportInitialize, units::ViewportFinalize},
    {"Korvane.Imaging.Formats", units::ImagingFormatsInitialize, units::ImagingFormatsFinalize},
    {"Korvane.Imaging", units::ImagingInitialize, nullptr},
    {"Korvane.DefTypes", units::DefTypesInitialize, nullptr},
    {"Korvane.DefTypes.Mesh", units::DefTypesMeshInitialize, nullptr},
    {"Korvane.DefTypes.Meta", units::DefTypesMetaInitialize, nullptr},
    {"Korvane.DefTypes.Light", units::DefTypesLightInitialize, nullptr},
    {"Korvane.DefTypes.Skin", units::DefTypesSkinInitialize, nullptr},
    {"Korvane.DefTypes.Interpolator", units::DefTypesInterpolatorInitialize, nullptr},
    {"Korvane.DefTypes.Animation", units::DefTypesAnimationInitialize, nullptr},
    // Installs the model services the definitions above call while they read.
    {"Korvane.DefTypes.Model", units::DefTypesModelInitialize, units::DefTypesModelFinalize},
    {"Korvane.Material.Default", units::MaterialDefaultInitialize, units::MaterialDefaultFinalize},
    {"Korvane.Material.SplatMap", units::MaterialSplatMapInitialize, units::MaterialSplatMapFinalize},
    {"Korvane.Material.VertexColor", units::MaterialVertexColorInitialize, units::MaterialVertexColorFinalize},
    {"Korvane.Material.Lambert", units::MaterialLambertInitialize, units::MaterialLambertFinalize},
    {"Korvane.Material.Phong", units::MaterialPhongInitialize, units::MaterialPhongFinalize},
    {"Korvane.Material.Blinn", units::MaterialBlinnInitialize, units::MaterialBlinnFinalize},
    {"Korvane.Material.NormalMap", units::MaterialNormalMapInitialize, units::MaterialNormalMapFinalize},
    {"Korvane.Material.BumpMap", units::MaterialBumpMapInitialize, units::MaterialBumpMapFinalize},
    {"Korvane.Material.POM", units::MaterialPOMInitialize, units::MaterialPOMFinalize},
    {"Korvane.Material.PBR", units::MaterialPBRInitialize, units::MaterialPBRFinalize},
    {"Unit1", units::DemoUnit1Initialize, units::DemoUnit1Finalize},
    // Last, so that its shut-down frees the forms (and what they show) first.
    {"Platform.Forms", units::PlatformFormsInitialize, units::PlatformFormsFinalize},
};
constexpr int UnitCount = static_cast<int>(sizeof(Units) / sizeof(Units[0]));

int GNesting = 0;
// How many units have run their start-up; a failed start-up finalises exactly those.
int GInitialized = 0;

void FinalizeFrom(int ACount)
{
    for (int i = ACount - 1; i >= 0; --i) {
        if (!Units[i].Finalize) continue;
        try {
            Units[i].Finalize();
        } catch (const std::exception& e) {
            Log::d(std::string("<ERROR> finalization of ") + Units[i].Name + " failed: " + e.what());
        } catch (...) {
            Log::d(std::string("<ERROR> finalization of ") + Units[i].Name + " failed");
        }
    }
}

} // namespace

void InitializeUnits()
{
    if (GNesting++ > 0) return;
    TThread::SetMainThread();
    try {
        for (GInitialized = 0; GInitialized < UnitCount; ++GInitialized)
            if (Units[GInitialized].Initialize) Units[GInitialized].Initialize();
    } catch (...) {
        FinalizeFrom(GInitialized);
        GInitialized = 0;
        GNesting = 0;
        throw;
    }
}

void FinalizeUnits()
{
    if (GNesting <= 0) return;
    if (--GNesting > 0) return;
    FinalizeFrom(GInitialized);
    GInitialized = 0;
}

bool UnitsInitialized() { return GNesting > 0; }

const char* const* UnitNames(int& ACount)
{
    static const char* names[UnitCount];
    for (int i = 0; i < UnitCount; ++i) names[i] = Units[i].Name;
    ACount = UnitCount;
    return names;
}

} // namespace korvane
