#include "shell/game_facts.h"

namespace skyrazor {
namespace {

// A run is under way once it has a name: typed for a new run, or carried on
// by Continue or a password. Before that the arcade menu is just a menu.
bool inNamedArcadeRun(const ShellState& shell) {
  return shell.arcadeMode == 1 && !shell.arcadeName.empty();
}

GameFacts::Activity battleActivity(const ShellState& shell) {
  if (shell.arcadeMode == 1) {
    return GameFacts::Activity::ArcadeRun;
  }
  return shell.kiLevel != 0 ? GameFacts::Activity::ComputerBattle
                            : GameFacts::Activity::TwoPersonBattle;
}

GameFacts factsOutsideBattle(const Game& game) {
  const ShellState& shell = game.shell;
  GameFacts facts;
  if (inNamedArcadeRun(shell)) {
    facts.activity = GameFacts::Activity::ArcadeRun;
    facts.leftPilot = shell.arcadeName;
    facts.arcadeWins = shell.wins;
  }
  return facts;
}

GameFacts factsInBattle(const Game& game) {
  const ShellState& shell = game.shell;
  GameFacts facts;
  facts.activity = battleActivity(shell);
  facts.leftPilot = shell.name1;
  facts.rightPilot = shell.name2;
  facts.leftHitPoints = game.duel.pilots[0].ship.hp;
  facts.rightHitPoints = game.duel.pilots[1].ship.hp;
  facts.computerLevel = shell.kiLevel;
  if (shell.arcadeMode == 1) {
    facts.arcadeWins = shell.wins;
  }
  return facts;
}

}  // namespace

void tellFactsOutsideBattle(Game& game) {
  game.console.tellFacts(factsOutsideBattle(game));
}

void tellFactsInBattle(Game& game) {
  game.console.tellFacts(factsInBattle(game));
}

}  // namespace skyrazor
