#include "Platform.Fonts.h"

// The font file is assembled into the program's read-only data; the build
// names it in KORVANE_DEFAULT_FONT_FILE.
#ifndef KORVANE_DEFAULT_FONT_FILE
#error "KORVANE_DEFAULT_FONT_FILE must name the embedded font file"
#endif

#define KORVANE_STR2(x) #x
#define KORVANE_STR(x) KORVANE_STR2(x)

__asm__(".section .rodata\n"
        ".balign 16\n"
        ".global korvane_default_font_begin\n"
        ".hidden korvane_default_font_begin\n"
        ".global korvane_default_font_end\n"
        ".hidden korvane_default_font_end\n"
        "korvane_default_font_begin:\n"
        ".incbin \"" KORVANE_STR(KORVANE_DEFAULT_FONT_FILE) "\"\n"
        "korvane_default_font_end:\n"
        ".previous\n");

extern "C" const uint8_t korvane_default_font_begin[];
extern "C" const uint8_t korvane_default_font_end[];

namespace korvane {

std::span<const uint8_t> DefaultFontData()
{
    return {korvane_default_font_begin, size_t(korvane_default_font_end - korvane_default_font_begin)};
}

} // namespace korvane
