#include "Korvane.Controller.Kinds.h"

#include "Platform.ClassRegistry.h"

namespace korvane {

KORVANE_IMPLEMENT_CLASS(TKorvaneRenderPassSMStoreDepth, "Korvane.Controller.Kinds")
KORVANE_IMPLEMENT_CLASS(TKorvaneRenderPassVSMStoreDepth, "Korvane.Controller.Kinds")
KORVANE_IMPLEMENT_CLASS(TKorvaneRenderPassVSMBlur, "Korvane.Controller.Kinds")
KORVANE_IMPLEMENT_CLASS(TKorvaneRenderPassReflection, "Korvane.Controller.Kinds")
KORVANE_IMPLEMENT_CLASS(TKorvaneRenderPassRefraction, "Korvane.Controller.Kinds")
KORVANE_IMPLEMENT_CLASS(TKorvaneRenderPassCustomDepth, "Korvane.Controller.Kinds")
KORVANE_IMPLEMENT_CLASS(TKorvaneRenderPassEnvironment, "Korvane.Controller.Kinds")

} // namespace korvane
