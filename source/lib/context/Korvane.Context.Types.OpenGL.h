#pragma once
// What the context records need of OpenGL: draining pending errors and the GL
// constants of the blend enumerations.

#include <cstdint>

#include "Korvane.Context.Types.h"

namespace korvane {

// ClearGLErrors and HasGLErrors are declared with the neutral records.

// Reads errors through AReadError until it answers 0 or 16 reads were made;
// answers the OR of the codes read. ClearGLErrors reads glGetError.
using TGLErrorReader = uint32_t (*)();
uint32_t DrainGLErrors(TGLErrorReader AReadError);

// GL constant of a blend factor; an out-of-range value gives GL_ONE.
uint32_t BlendFactorToGL(TBlendFactor AFactor);
// GL constant of a blend operation; an out-of-range value gives GL_FUNC_ADD.
uint32_t BlendOperationToGL(TBlendEquationFunc AFunc);

} // namespace korvane
