#pragma once
// Small helpers shared by several test programs.

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <utility>

#include "Platform.Classes.h"
#include "Platform.Math3D.h"
#include "Platform.SysUtils.h"

namespace korvane::test {

// Frees an object through Free() when its owner goes, also when an assertion
// ends a test early.
template <typename T>
using Owned = TOwned<T>;

// The message of the exception of class E that f raises; "(no exception)"
// when it raises none.
template <typename E = Exception, typename F>
std::string MessageOf(F&& f)
{
    try {
        std::forward<F>(f)();
    } catch (const E& e) {
        return e.Message();
    }
    return "(no exception)";
}

// A folder of its own under the temporary folder for the lifetime of the
// object, named after the running test; removed with everything in it.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::filesystem::path& Folder() const { return FFolder; }
    // The full name of a file in the folder.
    std::string Path(const std::string& AName) const { return (FFolder / AName).string(); }

private:
    std::filesystem::path FFolder;
};

// Switches the process to the comma-decimal "de_DE.UTF-8" locale for its
// lifetime, so tests can prove that numbers ignore the process locale.
class CommaDecimalLocale {
public:
    CommaDecimalLocale();
    ~CommaDecimalLocale();
    CommaDecimalLocale(const CommaDecimalLocale&) = delete;
    CommaDecimalLocale& operator=(const CommaDecimalLocale&) = delete;
    bool Active() const { return FActive; }

private:
    std::string FOld;
    bool FActive = false;
};

// What a shell command writes to its standard output; empty when it cannot
// be started.
std::string RunCommand(const std::string& ACommand);

// The whole number that follows the first ALabel in AText (such as
// "Width: " in what xwininfo prints); -1 when ALabel is not there.
int NumberAfter(const std::string& AText, const std::string& ALabel);

// Component-wise comparison of two points with a tolerance.
::testing::AssertionResult NearPoint(const TPoint3D& A, const TPoint3D& B, float Tol = 1e-5f);

} // namespace korvane::test
