#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "Korvane.Context.GLES.Windows.h"
#include "LogCapture.h"

using namespace korvane;

namespace {
const char* const Registering = "Registering Korvane3D TContextOpenGLWindows context ...";
const char* const Registered = "Korvane3D TContextOpenGLWindows context registered";
} // namespace

TEST(ContextStartup, WindowsContextIsTheDefaultClass)
{
    const TContextClass& def = TContextManager::DefaultContextClass();
    EXPECT_EQ(&def, &TContextOpenGLWindows::ClassInfo());
    EXPECT_EQ(def.ClassName(), "TContextOpenGLWindows");
    EXPECT_TRUE(def.InheritsFrom(TKorvaneContext::StaticClass()));
    EXPECT_EQ(&TKorvaneContext::PlatformClass(), &TContextOpenGLWindows::ClassInfo());
}

// The start-up lines are written before any test can capture the log, so a fresh
// copy of the program is started and its standard error (the log's default
// sink) is read.
TEST(ContextStartup, StartupLogsTheRegistration)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    auto inOrder = ::testing::Truly([](const std::string& err) {
        const auto a = err.find(Registering), b = err.find(Registered);
        return a != std::string::npos && b != std::string::npos && a < b;
    });
    EXPECT_EXIT(
        {
            std::fflush(stderr);
            std::_Exit(0);
        },
        ::testing::ExitedWithCode(0), inOrder);
}

TEST(ContextStartup, RegisteringAgainKeepsTheDefaultAndLogsBothLines)
{
    test::LogCapture log;
    RegisterOpenGLWindowsContext();
    RegisterOpenGLWindowsContext();
    const auto lines = log.Lines();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], Registering);
    EXPECT_EQ(lines[1], Registered);
    EXPECT_EQ(&TContextManager::DefaultContextClass(), &TContextOpenGLWindows::ClassInfo());
    int count = 0;
    for (auto* c : TContextManager::RegisteredClasses()) count += c == &TContextOpenGLWindows::ClassInfo();
    EXPECT_EQ(count, 1);
}

TEST(ContextStartup, ContextUnitDefaults)
{
    EXPECT_FLOAT_EQ(DefaultNearPlane, 0.1f);
    EXPECT_FLOAT_EQ(DefaultFarPlane, 10000.0f);
    EXPECT_TRUE(RaiseShaderCompileErrors);
    EXPECT_EQ(ContextErrorHandler, nullptr);
}
