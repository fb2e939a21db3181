#include "TestHelpers.h"

#include <clocale>
#include <cmath>
#include <locale>

namespace korvane::test {

CommaDecimalLocale::CommaDecimalLocale()
{
    FOld = std::setlocale(LC_ALL, nullptr);
    FActive = std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr;
    if (FActive) std::locale::global(std::locale("de_DE.UTF-8"));
}

CommaDecimalLocale::~CommaDecimalLocale()
{
    std::setlocale(LC_ALL, FOld.c_str());
    std::locale::global(std::locale::classic());
}

::testing::AssertionResult NearPoint(const TPoint3D& A, const TPoint3D& B, float Tol)
{
    if (std::fabs(A.X - B.X) > Tol || std::fabs(A.Y - B.Y) > Tol || std::fabs(A.Z - B.Z) > Tol)
        return ::testing::AssertionFailure()
               << "(" << A.X << ", " << A.Y << ", " << A.Z << ") vs (" << B.X << ", " << B.Y << ", " << B.Z << ")";
    return ::testing::AssertionSuccess();
}

} // namespace korvane::test
