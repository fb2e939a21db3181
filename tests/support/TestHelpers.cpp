#include "TestHelpers.h"

#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <locale>

#include <unistd.h>

namespace korvane::test {

TempFolder::TempFolder()
{
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    FFolder = std::filesystem::temp_directory_path() /
              ("korvane-" + std::to_string(::getpid()) + "-" + (info ? info->test_suite_name() : "") + "-" +
               (info ? info->name() : "none"));
    std::filesystem::remove_all(FFolder);
    std::filesystem::create_directories(FFolder);
}

TempFolder::~TempFolder()
{
    std::error_code ignored;
    std::filesystem::remove_all(FFolder, ignored);
}

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

std::string RunCommand(const std::string& ACommand)
{
    std::string out;
    if (FILE* p = popen(ACommand.c_str(), "r")) {
        char buffer[512];
        while (fgets(buffer, sizeof(buffer), p)) out += buffer;
        pclose(p);
    }
    return out;
}

int NumberAfter(const std::string& AText, const std::string& ALabel)
{
    const size_t at = AText.find(ALabel);
    return at == std::string::npos ? -1 : std::atoi(AText.c_str() + at + ALabel.size());
}

::testing::AssertionResult NearPoint(const TPoint3D& A, const TPoint3D& B, float Tol)
{
    if (std::fabs(A.X - B.X) > Tol || std::fabs(A.Y - B.Y) > Tol || std::fabs(A.Z - B.Z) > Tol)
        return ::testing::AssertionFailure()
               << "(" << A.X << ", " << A.Y << ", " << A.Z << ") vs (" << B.X << ", " << B.Y << ", " << B.Z << ")";
    return ::testing::AssertionSuccess();
}

} // namespace korvane::test
