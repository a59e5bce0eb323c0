#include "battle/frame_loop.h"

#include <string_view>

#include "battle/computer_pilot.h"
#include "battle/controls.h"
#include "battle/dustwall.h"
#include "battle/flight.h"
#include "battle/frame_counters.h"
#include "battle/meetings.h"
#include "console/colors.h"

namespace skyrazor {
namespace {

// Columns 3..40: the arena's interior width.
constexpr std::string_view kBlankArenaRow = "                                      ";

// How each pilot shows up: its colour, the row of its status line, the tail
// of that line and the ship marker. The tails are wide enough to wipe out
// what a longer line of the previous frame left behind.
struct PilotLook {
  int color;
  std::int32_t statusRow;
  std::string_view statusTail;
  char marker;
};

constexpr PilotLook kPilotOneLook{color::kPilotOne, 1, ")        ", '>'};
constexpr PilotLook kPilotTwoLook{color::kPilotTwo, 13, ")                               ", '<'};

bool bothShipsFlying(const Duel& duel) {
  return duel.pilots[0].ship.hp > 0 && duel.pilots[1].ship.hp > 0;
}

void pause(Console& console, const BattleSettings& settings) {
  console.gotoXY(1, 1);
  console.setTextColor(color::kText);
  console.sleep(settings.gameSpeed);
}

// The single-line border on columns 2..41 and rows 2..12 (the frame takes
// 0-based console cells), in the pause's white, then the interior wiped clean.
void drawEmptyArena(Console& console) {
  console.drawFrame(1, 1, 40, 11, 0);
  for (std::int32_t row = arena::kTopRow; row <= arena::kBottomRow; ++row) {
    console.gotoXY(3, row);
    console.print(kBlankArenaRow);
  }
}

void drawPilot(Console& console, const PilotLook& look, std::string_view name,
               const ShipState& ship) {
  console.setTextColor(look.color);
  console.gotoXY(2, look.statusRow);
  console.print(name, ": Shields(", ship.shields, ") HP(", ship.hp, ") Weaptype(", ship.weaponType,
                look.statusTail);
  console.gotoXY(ship.col, ship.row);
  console.print(look.marker);
}

}  // namespace

void runBattleFrame(Console& console, Random& random, BattleSettings& settings, Duel& duel) {
  pause(console, settings);
  drawEmptyArena(console);
  drawPilot(console, kPilotOneLook, settings.name1, duel.left().ship);
  runPilotOnePhase(console, settings, duel);
  drawPilot(console, kPilotTwoLook, settings.name2, duel.right().ship);
  if (settings.kiLevel != 0) {
    chooseComputerKey(random, settings, duel);
  }
  runPilotTwoPhase(console, settings, duel);
  applyDustWalls(duel);
  flyProjectiles(console, random, duel.left(), Side::Left, duel.right());
  flyProjectiles(console, random, duel.right(), Side::Right, duel.left());
  drawDustWalls(console, random, duel);
  resolveProjectileMeetings(console, random, duel);
  advanceFrameCounters(console, duel);
}

void runBattle(Console& console, Random& random, BattleSettings& settings, Duel& duel,
               const std::function<void()>& frameDone) {
  // The end test comes before every frame, the first included, so a battle
  // ends at the start of the frame after a ship lost its last hit point.
  for (int frameNumber = 1; bothShipsFlying(duel); ++frameNumber) {
    runBattleFrame(console, random, settings, duel);
    if (frameDone) {
      frameDone();
    }
    console.frameEnded(frameNumber);
  }
}

}  // namespace skyrazor
