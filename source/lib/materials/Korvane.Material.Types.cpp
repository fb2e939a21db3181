#include "Korvane.Material.Types.h"

#include <cstring>

namespace korvane {

TKorvaneShaderData InitShaderData()
{
    TKorvaneShaderData data;
    std::memset(static_cast<void*>(&data), 0, sizeof(data));
    data.ShadingModel = 2;
    data.ShadingIntensity = 1.0f;
    data.Brightness = 1.0f;
    data.ViewSize.Z = 1.0f;
    data.ViewSize.W = 1000.0f;
    InitShaderMaterialData(data.Material);
    data.FogMode = 3;
    data.FogDensity = 0.001f;
    data.FogStart = 100.0f;
    data.FogEnd = 500.0f;
    data.FogColor = TAlphaColorF(0, 0, 0, 1);
    return data;
}

} // namespace korvane
