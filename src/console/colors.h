#pragma once

namespace skyrazor::color {

// Console foreground colours the game uses.
constexpr int kEffects = 8;    // dark grey: dust, blasts, bursts, meeting marks
constexpr int kPilotOne = 10;  // bright green: the left ship and its shots
constexpr int kPilotTwo = 12;  // bright red: the right ship and its shots
constexpr int kText = 15;      // bright white: every text

}  // namespace skyrazor::color
