#include "Platform.Classes.h"

#include "Platform.SysUtils.h"

namespace korvane {

void TObject::Free()
{
    if (FDestroying) return;
    FDestroying = true;
    BeforeDestruction();
    delete this;
}

void TPersistent::Assign(const TPersistent* Source)
{
    if (Source) Source->AssignTo(this);
    else throw EConvertError("Cannot assign a nil to a " + ClassName());
}

void TPersistent::AssignTo(TPersistent* Dest) const
{
    throw EConvertError("Cannot assign a " + ClassName() + " to a " + (Dest ? Dest->ClassName() : std::string("nil")));
}

} // namespace korvane
