#pragma once
// Captures the debug log for the lifetime of the object.

#include <mutex>
#include <string>
#include <vector>

#include "Platform.Log.h"

namespace korvane::test {

class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    std::vector<std::string> Lines() const;
    bool Contains(const std::string& text) const;

private:
    mutable std::mutex FMutex;
    std::vector<std::string> FLines;
    Log::TSink FPrevious;
};

} // namespace korvane::test
