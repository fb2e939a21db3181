#include "Platform.Log.h"

#include <cstdio>
#include <mutex>

namespace korvane {

namespace {
std::mutex& LogMutex()
{
    static std::mutex m;
    return m;
}
Log::TSink& CurrentSink()
{
    static Log::TSink sink;
    return sink;
}
} // namespace

void Log::d(std::string_view line)
{
    std::lock_guard<std::mutex> lock(LogMutex());
    const std::string text(line);
    if (CurrentSink()) CurrentSink()(text);
    else std::fprintf(stderr, "%s\n", text.c_str());
}

Log::TSink Log::SetSink(TSink sink)
{
    std::lock_guard<std::mutex> lock(LogMutex());
    TSink old = std::move(CurrentSink());
    CurrentSink() = std::move(sink);
    return old;
}

} // namespace korvane
