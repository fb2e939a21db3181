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
    // AFolder with one path delimiter at its end.
    static std::string IncludeTrailingPathDelimiter(const std::string& AFolder);
};

} // namespace korvane
