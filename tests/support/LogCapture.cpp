#include "LogCapture.h"

namespace korvane::test {

LogCapture::LogCapture()
{
    FPrevious = Log::SetSink([this](const std::string& line) {
        std::lock_guard<std::mutex> lock(FMutex);
        FLines.push_back(line);
    });
}

LogCapture::~LogCapture() { Log::SetSink(std::move(FPrevious)); }

std::vector<std::string> LogCapture::Lines() const
{
    std::lock_guard<std::mutex> lock(FMutex);
    return FLines;
}

bool LogCapture::Contains(const std::string& text) const
{
    std::lock_guard<std::mutex> lock(FMutex);
    for (const auto& l : FLines)
        if (l.find(text) != std::string::npos) return true;
    return false;
}

} // namespace korvane::test
