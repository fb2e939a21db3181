#pragma once
// The debug log: non-fatal problems and informational lines go here. By default
// lines go to standard error; tests install a sink to capture them.

#include <functional>
#include <string>
#include <string_view>

#include "Platform.SysUtils.h"

namespace korvane {

class Log {
public:
    using TSink = std::function<void(const std::string& line)>;

    static void d(std::string_view line);
    template <typename... Args>
    static void d(std::string_view fmt, const Args&... args)
    {
        d(std::string_view(Format(fmt, args...)));
    }

    // Installs a sink and returns the previous one; an empty sink restores standard error.
    static TSink SetSink(TSink sink);
};

} // namespace korvane
