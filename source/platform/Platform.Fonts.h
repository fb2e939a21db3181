#pragma once
// The program's embedded font (DejaVu Sans): controls and canvases draw text
// with it, so nothing is read from disk.

#include <cstdint>
#include <span>

namespace korvane {

// The TrueType data of the default font.
std::span<const uint8_t> DefaultFontData();

} // namespace korvane
