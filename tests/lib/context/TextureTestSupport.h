#pragma once
// Shared pieces of the texture and frame-buffer tests: objects freed through
// Free(), a GL context that is certain to be there, and a snapshot of every
// texture binding.

#include <gtest/gtest.h>

#include <epoxy/gl.h>

#include <array>
#include <memory>

#include "Korvane.Context.GLES.Windows.h"
#include "TestHelpers.h"

namespace korvane::test {

// The program's GL context, made again if an earlier test gave it up.
inline void EnsureProgramContext()
{
    if (!TKorvaneContext::IsContextAvailable()) TCustomContextWindows::ResetSharedContextForTesting();
    ASSERT_TRUE(TKorvaneContext::IsContextAvailable());
}

// The active unit and the textures bound to the four kinds of target on the
// first four units.
struct TextureBindings {
    GLint Active = 0;
    std::array<std::array<GLint, 4>, 4> Bound{};

    static TextureBindings Read()
    {
        TextureBindings b;
        glGetIntegerv(GL_ACTIVE_TEXTURE, &b.Active);
        const GLenum queries[4] = {GL_TEXTURE_BINDING_2D, GL_TEXTURE_BINDING_3D, GL_TEXTURE_BINDING_CUBE_MAP,
                                   GL_TEXTURE_BINDING_2D_ARRAY};
        for (GLenum unit = 0; unit < 4; ++unit) {
            glActiveTexture(GL_TEXTURE0 + unit);
            for (int q = 0; q < 4; ++q) glGetIntegerv(queries[q], &b.Bound[unit][q]);
        }
        glActiveTexture(static_cast<GLenum>(b.Active));
        return b;
    }
    bool operator==(const TextureBindings&) const = default;
};

// Binds a texture of its own to each kind of target on unit 0 and 1 (so that a
// restore to "nothing" would show), and deletes them again.
class DistinctBindings {
public:
    DistinctBindings()
    {
        glGenTextures(8, FNames.data());
        const GLenum targets[4] = {GL_TEXTURE_2D, GL_TEXTURE_3D, GL_TEXTURE_CUBE_MAP, GL_TEXTURE_2D_ARRAY};
        for (GLenum unit = 0; unit < 2; ++unit) {
            glActiveTexture(GL_TEXTURE0 + unit);
            for (int t = 0; t < 4; ++t) glBindTexture(targets[t], FNames[unit * 4 + t]);
        }
        glActiveTexture(GL_TEXTURE0);
    }
    ~DistinctBindings()
    {
        glDeleteTextures(8, FNames.data());
        glActiveTexture(GL_TEXTURE0);
    }
    DistinctBindings(const DistinctBindings&) = delete;
    DistinctBindings& operator=(const DistinctBindings&) = delete;

private:
    std::array<GLuint, 8> FNames{};
};

} // namespace korvane::test
