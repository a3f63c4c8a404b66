// The model table.
#include "base/models.h"

#include <iterator>

namespace {

using D = DensityVariant;
using F = ModelFamily;
using L = LabelLanguage;
using P = Placement;
using W = ReadyWait;

// clang-format off
constexpr ModelFacts kModels[] = {
  // number  family      language     ready wait              density               anti  track first mode  prod  flush placement           limit lzo    filler idle   paper  feed   pause  end    endidle  version
  {21,      F::Thermal, L::None,     W::PaperTwice,          D::SpecialDrained,    true, false, false, false, false, false, P::OnSheet,          0,    false, true,  false, true,  false, false, false, false},
  {22,      F::Thermal, L::None,     W::None,                D::NoSpecial,         false, false, false, false, false, true, P::WidenToPaper,     0,    true,  true,  false, false, false, true,  false, false},
  {23,      F::Thermal, L::None,     W::None,                D::NoSpecial,         false, true, false, true,  false, true,  P::WidenToPaper,     0,    true,  true,  false, false, false, true,  false, false},
  {302,     F::Thermal, L::None,     W::PaperAndCover,       D::NoSpecial,         false, true, false, true,  false, true,  P::FitToPaper,       0,    true,  true,  true,  false, false, false, false, false},
  {400,     F::Thermal, L::None,     W::None,                D::SpecialUndrained,  false, false, false, false, false, true, P::None,             1280, true,  true,  false, false, false, false, true,  false},
  {831,     F::Thermal, L::None,     W::SheetGoneAndReady,   D::SpecialDrained,    true, false, false, false, false, false, P::OnSheet,          0,    false, true,  false, true,  false, false, false, true},
  {64519,   F::Thermal, L::None,     W::IdleThenReadyTwice,  D::SpecialUndrained,  false, true, true,  false, true,  false, P::ContinuousLength, 0,    false, false, false, false, true,  false, false, true,  0x010005},
  {590314,  F::Thermal, L::None,     W::PaperTwice,          D::SpecialDrained,    true, false, false, false, false, false, P::BelowTopMargin,   0,    false, true,  false, true,  false, false, false, false},
  {613207,  F::Thermal, L::None,     W::PaperTwice,          D::SpecialDrained,    true, false, false, false, false, false, P::PageLength,       0,    true,  true,  false, true,  false, false, false, false},
  {0,       F::Label,   L::Dymo},
  {16,      F::Label,   L::EplLine},
  {17,      F::Label,   L::EplPage},
  {18,      F::Label,   L::Zpl},
  {19,      F::Label,   L::Cpcl},
  {20,      F::Label,   L::PrintRows},
  {32,      F::Label,   L::Pcl},
};
// clang-format on

constexpr ModelFacts kOther = {-1, F::Other, L::None};

}  // namespace

const ModelFacts &modelFacts(int model) {
  for (const ModelFacts &facts : kModels)
    if (facts.number == model) return facts;
  return kOther;
}
