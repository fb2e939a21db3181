#pragma once
// Shared by the fuzz targets: a check that stops the run with a report, so
// that a broken property counts as a crash the fuzzer keeps.

#include <cstdio>
#include <cstdlib>
#include <string>

namespace korvane::fuzz {

[[noreturn]] inline void Fail(const char* what, const std::string& detail = {})
{
    std::fprintf(stderr, "fuzz check failed: %s\n%s\n", what, detail.c_str());
    std::abort();
}

inline void Check(bool condition, const char* what, const std::string& detail = {})
{
    if (!condition) Fail(what, detail);
}

} // namespace korvane::fuzz
