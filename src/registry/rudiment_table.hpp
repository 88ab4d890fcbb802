// The fifteen procedural rudiments with their registry rows, in registry order.
#pragma once

#include <array>

#include "catalogue/catalogue.hpp"
#include "rudiments/drum_rudiments.hpp"
#include "rudiments/motion_rudiments.hpp"

namespace kinetra {

inline constexpr std::array<CatalogueRow, 15> kRudimentRows{{
    {{"bounce", "One-beat vertical bounce", kBouncePeriodPips, 1}, &bounce},
    {{"sway", "Two-beat side-to-side sway", kSwayPeriodPips, 1}, &sway},
    {{"circle", "One-beat circular orbit", kCirclePeriodPips, 2}, &circle},
    {{"figure_eight", "Two-beat figure eight", kFigureEightPeriodPips, 2}, &figure_eight},
    {{"step_touch", "Two-beat side step with a small lift", kStepTouchPeriodPips, 2}, &step_touch},
    {{"box_step", "Four-beat softened square path", kBoxStepPeriodPips, 2}, &box_step},
    {{"helix", "Four-beat double-turn helix", kHelixPeriodPips, 3}, &helix},
    {{"tamsel_background", "Tamsel/Brevin four-beat accented background drift",
      kTamselBackgroundPeriodPips, 2}, &tamsel_background},
    {{"single_stroke_roll", "Alternating R/L strokes with smooth attack and decay",
      kSingleStrokeRollPeriodPips, 2}, &single_stroke_roll},
    {{"double_stroke_roll", "RRLL strokes with a softer second motion",
      kDoubleStrokeRollPeriodPips, 2}, &double_stroke_roll},
    {{"multiple_bounce_roll", "Decaying same-hand bounce clusters",
      kMultipleBounceRollPeriodPips, 2}, &multiple_bounce_roll},
    {{"single_paradiddle", "RLRR LRLL with accented lead strokes",
      kSingleParadiddlePeriodPips, 2}, &single_paradiddle},
    {{"flam", "Grace motion flowing into an opposite-hand primary motion",
      kFlamPeriodPips, 2}, &flam},
    {{"drag", "Two grace motions flowing into an opposite-hand primary motion",
      kDragPeriodPips, 2}, &drag},
    {{"five_stroke_roll", "Two diddles resolving to an accented fifth motion",
      kFiveStrokeRollPeriodPips, 2}, &five_stroke_roll},
}};

}  // namespace kinetra
