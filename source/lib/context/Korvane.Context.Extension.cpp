#include "Korvane.Context.Extension.h"

#include <algorithm>

#include "Platform.SysUtils.h"
#include "Platform.Types3D.h"

namespace korvane {

const TExtensionsClass* ExtensionsClass = nullptr;

namespace {
bool LessText(const std::string& a, const std::string& b)
{
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) < std::tolower(static_cast<unsigned char>(y));
    });
}
} // namespace

TExtensions* TExtensionsClass::Create() const { return Construct<TExtensions>(); }

TClass TExtensions::StaticClass()
{
    // Class references live for the whole run: unit shut-downs still use them.
    static const auto& info = *new TClassInfo<TExtensions, TExtensionsClass>("Korvane.Context.Extension");
    return &info;
}

void TExtensions::ReadExtensions() { throw EAbstractError("Abstract Error: TExtensions.ReadExtensions"); }

void TExtensions::ParseExtensionList(const std::string& AText)
{
    try {
        size_t start = 0;
        while (start < AText.size()) {
            size_t blank = AText.find(' ', start);
            if (blank == std::string::npos) blank = AText.size();
            // An empty piece (two blanks in a row) names no extension.
            if (blank > start) FExtensions.push_back(AText.substr(start, blank - start));
            start = blank + 1;
        }
    } catch (...) {
        Sort();
        throw;
    }
    Sort();
}

void TExtensions::Sort()
{
    std::sort(FExtensions.begin(), FExtensions.end(), LessText);
    FExtensions.erase(std::unique(FExtensions.begin(), FExtensions.end(),
                                  [](const std::string& a, const std::string& b) { return SameText(a, b); }),
                      FExtensions.end());
}

bool TExtensions::Extension(const std::string& AName) const
{
    auto it = std::lower_bound(FExtensions.begin(), FExtensions.end(), AName, LessText);
    return it != FExtensions.end() && SameText(*it, AName);
}

} // namespace korvane
