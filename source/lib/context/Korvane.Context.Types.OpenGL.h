#pragma once
// What the context records need of OpenGL: the GL constants of the blend
// enumerations. (ClearGLErrors and HasGLErrors, declared with the neutral
// records, are implemented with the internal GL helpers.)

#include <cstdint>

#include "Korvane.Context.Types.h"

namespace korvane {

// GL constant of a blend factor; an out-of-range value gives GL_ONE.
uint32_t BlendFactorToGL(TBlendFactor AFactor);
// GL constant of a blend operation; an out-of-range value gives GL_FUNC_ADD.
uint32_t BlendOperationToGL(TBlendEquationFunc AFunc);

} // namespace korvane
