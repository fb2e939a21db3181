#include "Korvane.Utils.Dialogs.h"

#include <utility>

#include "Platform.Log.h"

namespace korvane {

namespace {
TLoggingForm::TOpenProc& OpenProc()
{
    static TLoggingForm::TOpenProc proc;
    return proc;
}
} // namespace

void TLoggingForm::Open(const std::string& ATitle, const std::string& AMessage, bool AReuse)
{
    if (const TOpenProc& proc = OpenProc()) {
        proc(ATitle, AMessage, AReuse);
        return;
    }
    Log::d("%s\r\n%s", ATitle, AMessage);
}

TLoggingForm::TOpenProc TLoggingForm::SetOpenProc(TOpenProc AProc)
{
    return std::exchange(OpenProc(), std::move(AProc));
}

} // namespace korvane
