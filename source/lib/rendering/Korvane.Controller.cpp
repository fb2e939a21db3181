#include "Korvane.Controller.h"

#include "Platform.ClassRegistry.h"

namespace korvane {

KORVANE_IMPLEMENT_CLASS(TKorvaneController, "Korvane.Controller")
KORVANE_IMPLEMENT_CLASS(TKorvaneRenderPassController, "Korvane.Controller")

} // namespace korvane
