#pragma once
// The per-draw uniform block "ShaderData" of the default material family.
// The record is a GPU layout shared with the generated GLSL: the declaration
// node TKorvaneGLSLUBOShaderData writes the same members in the same order,
// and std140 places them exactly at the offsets below. Change both together.

#include <cstddef>
#include <cstdint>

#include "Korvane.Context.Types.h"
#include "Platform.Math3D.h"

namespace korvane {

// The pass data of the block (GLSL struct "PassData", 672 bytes).
struct TKorvaneShaderPassData {
    TMatrix3D _ShadowMapMatrix[8];   // texture matrix of shadow map 0..7
    TMatrix3D _ReflectTextureMatrix; // reflection pass (or the bias matrix while environment mapping)
    TMatrix3D _RefractTextureMatrix; // refraction pass
    float _ReflectionPower;
    float _RefractionPower;
    float _TranslucentDistance;
    float _NormalIntensity; // negated while inverse normal mapping is on
    int32_t _ParallaxLevels;
    float _PBRMetallic;
    float _PBRRoughness;
    float _PBRAO;
};

// Bit values of TKorvaneShaderData::Options.
inline constexpr int32_t ShaderOptionClipPlane = 1;   // clip against ClippingPlane
inline constexpr int32_t ShaderOptionTranslucent = 2; // the context renders translucent geometry

// The uniform block "ShaderData" (std140, 6352 bytes).
struct TKorvaneShaderData {
    TMatrix3D ModelViewProjectionMatrix;
    TMatrix3D ViewMatrix;
    TMatrix3D ProjectionMatrix;
    TVector3D TimeInfo; // x start, y current frame, z previous frame (seconds), w stopwatch seconds
    TVector3D EyePos;
    TPoint3D ViewDir;     // a vec3: ShadingModel packs into the 4 bytes after it
    int32_t ShadingModel; // TKorvaneShadingModel ordinal
    TKorvaneShaderMaterialData Material;
    TKorvaneShaderLight Lights[32];
    int32_t LightsCount;
    int32_t Options;
    float ShadingIntensity;
    float Brightness;
    int32_t FogMode; // 1 enabled, 2 linear, 4 exponential, 8 squared exponential
    float FogDensity;
    float FogStart;
    float FogEnd;
    TAlphaColorF FogColor;
    TVector3D FrustumMin;
    TVector3D FrustumMax;
    TVector3D SceneMin;
    TVector3D SceneMax;
    TVector3D BoundaryMin;
    TVector3D BoundaryMax;
    TVector3D ViewSize; // width, height, near, far
    TVector3D ClippingPlane;
    TKorvaneShaderPassData PassData;
};

static_assert(sizeof(TKorvaneShaderLight) == 144, "the light record is a 144-byte std140 struct");
static_assert(sizeof(TKorvaneShaderMaterialData) == 656, "the material block is a 656-byte std140 struct");
static_assert(sizeof(TKorvaneShaderPassData) == 672, "the pass data is a 672-byte std140 struct");
static_assert(sizeof(TKorvaneShaderData) == 6352, "ShaderData is a 6352-byte std140 block");
static_assert(offsetof(TKorvaneShaderData, ViewMatrix) == 64);
static_assert(offsetof(TKorvaneShaderData, ProjectionMatrix) == 128);
static_assert(offsetof(TKorvaneShaderData, TimeInfo) == 192);
static_assert(offsetof(TKorvaneShaderData, EyePos) == 208);
static_assert(offsetof(TKorvaneShaderData, ViewDir) == 224);
static_assert(offsetof(TKorvaneShaderData, ShadingModel) == 236);
static_assert(offsetof(TKorvaneShaderData, Material) == 240);
static_assert(offsetof(TKorvaneShaderData, Lights) == 896);
static_assert(offsetof(TKorvaneShaderData, LightsCount) == 5504);
static_assert(offsetof(TKorvaneShaderData, Options) == 5508);
static_assert(offsetof(TKorvaneShaderData, ShadingIntensity) == 5512);
static_assert(offsetof(TKorvaneShaderData, Brightness) == 5516);
static_assert(offsetof(TKorvaneShaderData, FogMode) == 5520);
static_assert(offsetof(TKorvaneShaderData, FogDensity) == 5524);
static_assert(offsetof(TKorvaneShaderData, FogStart) == 5528);
static_assert(offsetof(TKorvaneShaderData, FogEnd) == 5532);
static_assert(offsetof(TKorvaneShaderData, FogColor) == 5536);
static_assert(offsetof(TKorvaneShaderData, FrustumMin) == 5552);
static_assert(offsetof(TKorvaneShaderData, FrustumMax) == 5568);
static_assert(offsetof(TKorvaneShaderData, SceneMin) == 5584);
static_assert(offsetof(TKorvaneShaderData, SceneMax) == 5600);
static_assert(offsetof(TKorvaneShaderData, BoundaryMin) == 5616);
static_assert(offsetof(TKorvaneShaderData, BoundaryMax) == 5632);
static_assert(offsetof(TKorvaneShaderData, ViewSize) == 5648);
static_assert(offsetof(TKorvaneShaderData, ClippingPlane) == 5664);
static_assert(offsetof(TKorvaneShaderData, PassData) == 5680);
static_assert(offsetof(TKorvaneShaderPassData, _ReflectTextureMatrix) == 512);
static_assert(offsetof(TKorvaneShaderPassData, _RefractTextureMatrix) == 576);
static_assert(offsetof(TKorvaneShaderPassData, _ReflectionPower) == 640);
static_assert(offsetof(TKorvaneShaderPassData, _RefractionPower) == 644);
static_assert(offsetof(TKorvaneShaderPassData, _TranslucentDistance) == 648);
static_assert(offsetof(TKorvaneShaderPassData, _NormalIntensity) == 652);
static_assert(offsetof(TKorvaneShaderPassData, _ParallaxLevels) == 656);
static_assert(offsetof(TKorvaneShaderPassData, _PBRMetallic) == 660);
static_assert(offsetof(TKorvaneShaderPassData, _PBRRoughness) == 664);
static_assert(offsetof(TKorvaneShaderPassData, _PBRAO) == 668);

// The block before the first apply: zeroed, then the shading, fog, view-size
// and material defaults. The pass data stays zero.
TKorvaneShaderData InitShaderData();

} // namespace korvane
