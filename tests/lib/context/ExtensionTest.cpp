#include <gtest/gtest.h>

#include <epoxy/gl.h>

#include <string>

#include "GLTestHarness.h"
#include "Korvane.Context.Extension.OpenGL.h"
#include "Korvane.Context.GLES.Windows.h"
#include "Korvane.Context.Memory.OpenGL.h"
#include "LogCapture.h"

using namespace korvane;

namespace {
// Reads its list from a fixed text instead of the driver.
class TTextExtensions : public TExtensions {
public:
    explicit TTextExtensions(const std::string& text) { ParseExtensionList(text); }
};
} // namespace

TEST(Extensions, LookupIgnoresCaseButNotLength)
{
    ASSERT_TRUE(TKorvaneContext::IsContextAvailable());
    EXPECT_EQ(ExtensionsClass, &TOpenGLExtensions::ClassInfo());
    EXPECT_TRUE(TKorvaneContext::HasExtension("GL_EXT_direct_state_access"));
    EXPECT_TRUE(TKorvaneContext::HasExtension("gl_ext_direct_state_access"));
    EXPECT_TRUE(TKorvaneContext::HasExtension("GL_ARB_DIRECT_STATE_ACCESS"));
    EXPECT_FALSE(TKorvaneContext::HasExtension("GL_EXT_direct_state"));
    EXPECT_FALSE(TKorvaneContext::HasExtension("GL_EXT_direct_state_access_more"));
    EXPECT_FALSE(TKorvaneContext::HasExtension(""));
    TExtensions* e = TKorvaneContext::Extensions();
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e, TKorvaneContext::Extensions()); // read once
    EXPECT_EQ(e->Renderer(), UpperCase(TKorvaneContext::GetRendererName()));
    EXPECT_GT(e->Extensions().size(), 50u);
}

TEST(Extensions, ListParsing)
{
    TTextExtensions e(" GL_B  GL_a GL_C GL_a ");
    ASSERT_EQ(e.Extensions().size(), 3u); // no empty entries, no repeats
    EXPECT_EQ(e.Extensions()[0], "GL_a");
    EXPECT_EQ(e.Extensions()[1], "GL_B");
    EXPECT_EQ(e.Extensions()[2], "GL_C");
    EXPECT_TRUE(e.Extension("gl_b"));
    EXPECT_FALSE(e.Extension(""));
    EXPECT_FALSE(e.Extension("GL_"));
    TTextExtensions empty("");
    EXPECT_TRUE(empty.Extensions().empty());
    EXPECT_FALSE(empty.Extension(""));
}

// An error that someone else left pending must not be taken for a failure of
// the query: the list would stay empty for the rest of the run.
TEST(Extensions, AnUnrelatedPendingErrorDoesNotEmptyTheList)
{
    ASSERT_TRUE(TKorvaneContext::IsContextAvailable());
    test::LeaveGLErrorPending();
    test::LogCapture log;
    TExtensions* e = ExtensionsClass->Create();
    EXPECT_TRUE(e->Extension("GL_EXT_direct_state_access"));
    EXPECT_TRUE(log.Contains("<WARNING> TOpenGLExtensions.ReadExtensions: OpenGL error 1280 was pending"));
    e->Free();
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST(Extensions, TheAbstractClassCannotReadAList)
{
    EXPECT_THROW(TExtensions::ClassInfo().Create(), EAbstractError);
}

TEST(MemoryQueries, AnswerZeroWithoutTheExtensionAndLeaveNoError)
{
    ASSERT_TRUE(TKorvaneContext::IsContextAvailable());
    EXPECT_EQ(MemoryManagerClass, &TOpenGLMemoryManager::ClassInfo());
    if (TKorvaneContext::HasExtension("GL_NVX_gpu_memory_info")) GTEST_SKIP() << "the driver knows the NVX values";
    ASSERT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    EXPECT_EQ(TKorvaneMemoryManager::GetTotalMemory(), 0);
    EXPECT_EQ(TKorvaneMemoryManager::GetCurrentMemory(), 0);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    EXPECT_FALSE(TKorvaneContext::HasAnyErrors());
    EXPECT_THROW(TKorvaneMemoryManager::ClassInfo().GetPlatformTotalMemory(), EAbstractError);
}
