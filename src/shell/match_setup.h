#pragma once

#include <cstdint>
#include <string_view>

#include "shell/game.h"

namespace skyrazor {

// Everything between the menu choice and the first battle frame, on a
// cleared screen: the names, pilot 2's nature, both projectile pools emptied,
// the arcade opponent, the controls screen and the GET READY countdown.
void runMatchSetup(Game& game);

// Pilot 1's name (unless a continued arcade run already holds it), its copy
// as the arcade name, and pilot 2: a second person's name, or the computer
// level of the versus-computer menu. In arcade mode pilot 2 is left to the
// opponent draw.
void enterPilotNames(Game& game);

// The computer pilot's name for the versus-computer levels 1..4.
std::string_view computerPilotName(std::int32_t kiLevel);

}  // namespace skyrazor
