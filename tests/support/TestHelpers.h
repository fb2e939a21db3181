#pragma once
// Small helpers shared by several test programs.

#include <gtest/gtest.h>

#include <string>

#include "Platform.Math3D.h"

namespace korvane::test {

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

// Component-wise comparison of two points with a tolerance.
::testing::AssertionResult NearPoint(const TPoint3D& A, const TPoint3D& B, float Tol = 1e-5f);

} // namespace korvane::test
