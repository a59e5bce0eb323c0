#include "shell/game_session.h"

#include <memory>

#include "shell/program_loop.h"

namespace skyrazor {

int playGameSession(const GameSeams& seams, const std::function<void(Game&)>& beforePlay) {
  Console console(seams.screen, seams.display, seams.firstKeyboard, seams.secondKeyboard,
                  seams.clock);
  // The game's records are large enough (two projectile rings) to keep off
  // the stack of whoever plays it.
  auto game = std::make_unique<Game>(console);
  game->handOver = seams.handOver;
  if (beforePlay) {
    beforePlay(*game);
  }
  try {
    runProgramLoop(*game);
  } catch (const SessionEnded& ended) {
    return ended.exitStatus;
  }
}

}  // namespace skyrazor
