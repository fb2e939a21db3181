#pragma once
// Small utility windows of the framework. The log window shows a text that a
// designer needs to read, such as the compiler's message for a material whose
// shader does not build while it is being designed.
//
// The window itself is supplied by whoever owns the user interface: it installs
// the procedure that opens it. Without one the text goes to the debug log, so
// nothing is lost in programs without windows.

#include <functional>
#include <string>

namespace korvane {

class TLoggingForm {
public:
    using TOpenProc = std::function<void(const std::string& ATitle, const std::string& AMessage, bool AReuse)>;

    // Shows AMessage in a non-modal window titled ATitle; with AReuse an open
    // log window is reused.
    static void Open(const std::string& ATitle, const std::string& AMessage, bool AReuse);

    // Installs the procedure Open calls and returns the previous one; an empty
    // procedure restores the debug-log fallback.
    static TOpenProc SetOpenProc(TOpenProc AProc);
};

} // namespace korvane
