// The include layering of the sources: the platform layer stands below the
// framework and includes none of its headers; only the OpenGL units, the
// internal GL helpers and the EGL platform unit include the GL loader.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {
const fs::path SourceDir = KORVANE_SOURCE_DIR;

// The headers a source file includes, as written between the quotes or brackets.
std::vector<std::string> IncludesOf(const fs::path& AFile)
{
    std::vector<std::string> result;
    std::ifstream in(AFile);
    std::string line;
    while (std::getline(in, line)) {
        size_t i = line.find_first_not_of(" \t");
        if (i == std::string::npos || line[i] != '#') continue;
        i = line.find_first_not_of(" \t", i + 1);
        if (i == std::string::npos || line.compare(i, 7, "include") != 0) continue;
        const size_t open = line.find_first_of("<\"", i + 7);
        if (open == std::string::npos) continue;
        const size_t close = line.find(line[open] == '<' ? '>' : '"', open + 1);
        if (close != std::string::npos) result.push_back(line.substr(open + 1, close - open - 1));
    }
    return result;
}

bool StartsWith(const std::string& AText, const std::string& APrefix) { return AText.rfind(APrefix, 0) == 0; }
bool EndsWith(const std::string& AText, const std::string& ASuffix)
{
    return AText.size() >= ASuffix.size() && AText.compare(AText.size() - ASuffix.size(), ASuffix.size(), ASuffix) == 0;
}

std::vector<fs::path> SourcesUnder(const fs::path& AFolder)
{
    std::vector<fs::path> result;
    for (const auto& entry : fs::recursive_directory_iterator(AFolder)) {
        const auto ext = entry.path().extension();
        if (entry.is_regular_file() && (ext == ".h" || ext == ".cpp")) result.push_back(entry.path());
    }
    return result;
}

bool MayIncludeEpoxy(const std::string& AName)
{
    return EndsWith(AName, ".OpenGL.cpp") || (StartsWith(AName, "Korvane.Context.GLES") && EndsWith(AName, ".cpp")) ||
           AName == "Korvane.GL.Internal.h" || AName == "Korvane.GL.Internal.cpp" || AName == "Platform.EGL.h" ||
           AName == "Platform.EGL.cpp";
}
} // namespace

TEST(IncludeLayering, ThePlatformLayerIncludesNoFrameworkHeader)
{
    const auto files = SourcesUnder(SourceDir / "platform");
    ASSERT_GT(files.size(), 10u) << "no sources found under " << SourceDir;
    for (const auto& file : files)
        for (const auto& header : IncludesOf(file))
            EXPECT_FALSE(StartsWith(header, "Korvane.")) << file.filename().string() << " includes " << header;
}

TEST(IncludeLayering, OnlyTheOpenGLUnitsIncludeTheGLLoader)
{
    std::set<std::string> including;
    for (const auto& file : SourcesUnder(SourceDir))
        for (const auto& header : IncludesOf(file))
            if (StartsWith(header, "epoxy/")) including.insert(file.filename().string());
    // The scan sees the units that must include it.
    EXPECT_TRUE(including.count("Platform.EGL.cpp"));
    EXPECT_TRUE(including.count("Korvane.GL.Internal.cpp"));
    EXPECT_TRUE(including.count("Korvane.Context.Buffers.OpenGL.cpp"));
    for (const auto& name : including) EXPECT_TRUE(MayIncludeEpoxy(name)) << name << " includes epoxy";
    // The OpenGL units' headers stay free of it, so that users of the
    // framework's headers need no GL headers.
    EXPECT_FALSE(including.count("Korvane.Context.Buffers.OpenGL.h"));
}
