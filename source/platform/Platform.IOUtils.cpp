#include "Platform.IOUtils.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <mutex>

namespace korvane {

namespace {
std::mutex GLock;
std::string GPublicPath;

std::string HomeFolder()
{
    if (const char* home = std::getenv("HOME"); home && *home) return home;
    if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir) return pw->pw_dir;
    return {};
}
} // namespace

std::string TPath::GetPublicPath()
{
    {
        std::lock_guard<std::mutex> lock(GLock);
        if (!GPublicPath.empty()) return GPublicPath;
    }
    std::error_code ec;
    if (const std::string home = HomeFolder(); !home.empty()) {
        const std::filesystem::path pub = std::filesystem::path(home) / "Public";
        if (std::filesystem::is_directory(pub, ec)) return pub.string();
    }
    const auto temp = std::filesystem::temp_directory_path(ec);
    return ec ? std::string("/tmp") : temp.string();
}

void TPath::SetPublicPath(const std::string& AFolder)
{
    std::lock_guard<std::mutex> lock(GLock);
    GPublicPath = AFolder;
}

std::string TPath::IncludeTrailingPathDelimiter(const std::string& AFolder)
{
    if (!AFolder.empty() && AFolder.back() == '/') return AFolder;
    return AFolder + '/';
}

} // namespace korvane
