#include "Platform.IOUtils.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <random>

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

std::string TPath::GetRandomFileName()
{
    static constexpr char Letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    static std::mutex lock;
    static std::mt19937_64 engine{std::random_device{}()};
    std::uniform_int_distribution<int> pick(0, int(sizeof(Letters)) - 2);
    std::string name(12, '.');
    std::lock_guard guard(lock);
    for (size_t i = 0; i < name.size(); ++i)
        if (i != 8) name[i] = Letters[pick(engine)];
    return name;
}

} // namespace korvane
