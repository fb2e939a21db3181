#pragma once
// The shading-model and tone-mapping enumerations, shared by material
// definitions and the materials that load from and store to them.

#include <cstdint>

namespace korvane {

enum class TKorvaneShadingModel : uint8_t { smLambert, smPhong, smBlinnPhong, smPBR };
enum class TKorvaneTonemapping : uint8_t {
    tmNone, tmExposure, tmNarkowicz, tmHill, tmHillBoost, tmReinhard, tmLumaBasedReinhard,
    tmWhitePreservingLumaBasedReinhard, tmRomBinDaHouse, tmFilmic, tmUncharted2
};

} // namespace korvane
