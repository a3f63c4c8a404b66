// The model table: one row per model number, each fact named; a fact a row leaves out keeps the
// default of ModelFacts (off, none or zero).
#include "base/models.h"

namespace {

using D = DensityVariant;
using F = ModelFamily;
using L = LabelLanguage;
using P = Placement;
using W = ReadyWait;

constexpr ModelFacts kModels[] = {
    {.number = 21,
     .family = F::Thermal,
     .readyWait = W::PaperTwice,
     .density = D::SpecialDrained,
     .antiwrinkle = true,
     .placement = P::OnSheet,
     .filler = true,
     .paperResetAtPageEnd = true},
    {.number = 22,
     .family = F::Thermal,
     .density = D::NoSpecial,
     .flushAfterSetup = true,
     .placement = P::WidenToPaper,
     .envelopeB5Mm = 174,
     .compressed = true,
     .filler = true,
     .pauseBetweenPages = true},
    {.number = 23,
     .family = F::Thermal,
     .density = D::NoSpecial,
     .mediaTracking = true,
     .printMode = true,
     .flushAfterSetup = true,
     .placement = P::WidenToPaper,
     .envelopeB5Mm = 176,
     .compressed = true,
     .filler = true,
     .pauseBetweenPages = true},
    {.number = 302,
     .family = F::Thermal,
     .readyWait = W::PaperAndCover,
     .density = D::NoSpecial,
     .mediaTracking = true,
     .printMode = true,
     .flushAfterSetup = true,
     .placement = P::FitToPaper,
     .compressed = true,
     .filler = true,
     .idleWaitAfterPage = true},
    {.number = 400,
     .family = F::Thermal,
     .density = D::SpecialUndrained,
     .flushAfterSetup = true,
     .widthLimit = 1280,
     .compressed = true,
     .filler = true,
     .feedAtJobEnd = true},
    {.number = 831,
     .family = F::Thermal,
     .readyWait = W::SheetGoneAndReady,
     .density = D::SpecialDrained,
     .antiwrinkle = true,
     .placement = P::OnSheet,
     .filler = true,
     .paperResetAtPageEnd = true,
     .idleWaitAtJobEnd = true},
    {.number = 64519,
     .family = F::Thermal,
     .readyWait = W::IdleThenReadyTwice,
     .density = D::SpecialUndrained,
     .mediaTracking = true,
     .mediaTrackingFirst = true,
     .offsetsProductFirst = true,
     .placement = P::ContinuousLength,
     .feedAfterCustomPage = true,
     .idleWaitAtJobEnd = true,
     .firstVersionAskedIdle = 0x010005},
    {.number = 590314,
     .family = F::Thermal,
     .readyWait = W::PaperTwice,
     .density = D::SpecialDrained,
     .antiwrinkle = true,
     .placement = P::BelowTopMargin,
     .filler = true,
     .paperResetAtPageEnd = true},
    {.number = 613207,
     .family = F::Thermal,
     .readyWait = W::PaperTwice,
     .density = D::SpecialDrained,
     .antiwrinkle = true,
     .placement = P::PageLength,
     .compressed = true,
     .filler = true,
     .paperResetAtPageEnd = true},
    {.number = 0, .family = F::Label, .language = L::Dymo},
    {.number = 16, .family = F::Label, .language = L::EplLine},
    {.number = 17, .family = F::Label, .language = L::EplPage},
    {.number = 18, .family = F::Label, .language = L::Zpl},
    {.number = 19, .family = F::Label, .language = L::Cpcl},
    {.number = 20, .family = F::Label, .language = L::PrintRows},
    {.number = 32, .family = F::Label, .language = L::Pcl},
};

constexpr ModelFacts kOther = {.number = -1, .family = F::Other};

}  // namespace

std::span<const ModelFacts> modelTable() {
  return kModels;
}

const ModelFacts &modelFacts(int model) {
  for (const ModelFacts &facts : kModels)
    if (facts.number == model) return facts;
  return kOther;
}
