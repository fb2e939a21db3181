#pragma once
// The kinds of render pass whose output a material samples. A material asks
// for the kind of the pass it is given (a shadow-map depth pass gives a shadow
// map and its matrix, a reflection pass a reflection texture matrix) and binds
// what that kind renders. Each concrete pass derives from its kind.

#include "Korvane.Controller.h"

namespace korvane {

#define KORVANE_PASS_KIND(Name)                                                                            \
    class Name : public TKorvaneRenderPassController {                                                     \
        KORVANE_CLASS(Name, TKorvaneRenderPassController)                                                  \
        explicit Name(TComponent* AOwner) : TKorvaneRenderPassController(AOwner) {}                        \
    };

// Shadow-map depth pass: its output is the shadow map, its biased matrix the shadow-map matrix.
KORVANE_PASS_KIND(TKorvaneRenderPassSMStoreDepth)
// Variance shadow-map depth pass, used like the plain one.
KORVANE_PASS_KIND(TKorvaneRenderPassVSMStoreDepth)
// Blur of a variance shadow map: its input pass's matrix applies, its own output is the blurred map.
KORVANE_PASS_KIND(TKorvaneRenderPassVSMBlur)
// Reflection pass: its biased matrix is the reflection texture matrix.
KORVANE_PASS_KIND(TKorvaneRenderPassReflection)
// Refraction pass: its unbiased matrix is the refraction texture matrix.
KORVANE_PASS_KIND(TKorvaneRenderPassRefraction)
// Custom depth pass: its output is bound as "DepthTexture".
KORVANE_PASS_KIND(TKorvaneRenderPassCustomDepth)
// Environment pass: while it runs, the material takes the bias matrix as its reflection matrix.
KORVANE_PASS_KIND(TKorvaneRenderPassEnvironment)

#undef KORVANE_PASS_KIND

} // namespace korvane
