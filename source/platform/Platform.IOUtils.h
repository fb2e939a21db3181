#pragma once
// Folders of the platform.

#include <string>

namespace korvane {

class TPath {
public:
    // The platform's shared public folder: the folder set with SetPublicPath,
    // else the "Public" folder of the user's home when it exists, else the
    // folder for temporary files.
    static std::string GetPublicPath();
    // Makes AFolder the public folder (tests choose where diagnostic files go);
    // an empty text goes back to the platform's own.
    static void SetPublicPath(const std::string& AFolder);
    // A random name of eight letters or digits, a point and three more
    // ("k3v9x0qa.t2m"), for files that must not collide.
    static std::string GetRandomFileName();
    // AFolder with one path delimiter at its end.
    static std::string IncludeTrailingPathDelimiter(const std::string& AFolder);
};

} // namespace korvane
