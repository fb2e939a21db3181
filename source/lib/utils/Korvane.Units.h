#pragma once
// The program's start-up and shut-down.
//
// Every unit that sets class references, registers classes or fills tables at
// start-up does so from one ordered list, run once by InitializeUnits() before
// the program uses the framework, and undone in reverse by FinalizeUnits().
// Nothing registers itself from a static initialiser, so a program that links
// the library the ordinary way works as soon as it has called InitializeUnits().
//
// Call both on the main thread: InitializeUnits records its caller as the main
// thread. Repeated calls nest: only the outermost pair does the work.

namespace korvane {

void InitializeUnits();
void FinalizeUnits();

// True between the outermost InitializeUnits() and its FinalizeUnits().
bool UnitsInitialized();

// Names of the units in start-up order (for diagnostics and tests).
const char* const* UnitNames(int& ACount);

// Initialises on construction and finalises on destruction: the usual way for a
// main() to bracket its work.
struct TUnitsScope {
    TUnitsScope() { InitializeUnits(); }
    ~TUnitsScope() { FinalizeUnits(); }
    TUnitsScope(const TUnitsScope&) = delete;
    TUnitsScope& operator=(const TUnitsScope&) = delete;
};

} // namespace korvane
