// Arbitrary typed lines for everything the game reads from line-buffered
// input: words, numbers, single characters, the arcade password, the
// options screen's eleven numbers and the names and level of match setup.
//
// The input's first line picks the reads, one byte each, taken in turn and
// over again until the typed lines (the rest of the input) run out, which
// ends the session as closed input does. What each read hands back is
// checked against what the game relies on; a check that fails aborts.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "shell/arcade_menu.h"
#include "shell/game.h"
#include "shell/match_setup.h"
#include "shell/options_screen.h"
#include "support/fake_platform.h"

namespace {

using namespace skyrazor;

void require(bool holds, const char* what) {
  if (!holds) {
    std::fprintf(stderr, "typed input: %s\n", what);
    std::abort();
  }
}

bool isWhitespace(char character) {
  return character == ' ' || character == '\t' || character == '\n' || character == '\v' ||
         character == '\f' || character == '\r';
}

bool within(std::int32_t value, std::int32_t lowest, std::int32_t highest) {
  return value >= lowest && value <= highest;
}

void readWord(Game& game) {
  const std::string word = game.console.readWord();
  require(!word.empty(), "an empty word");
  for (char character : word) {
    require(!isWhitespace(character), "whitespace inside a word");
  }
}

void readCharacter(Game& game) {
  require(!isWhitespace(game.console.readCharacter()), "a blank read as a character");
}

void enterPasswordScreen(Game& game) {
  if (!enterPassword(game)) {
    return;
  }
  const ShellState& shell = game.shell;
  require(within(shell.wins, 0, 999) && within(shell.losses, 0, 999),
          "a password restored a count beyond three letters");
  require(shell.rating == ratingFor(shell.wins, shell.losses),
          "a restored rating that does not follow from the counts");
  require(!shell.arcadeName.empty() && shell.name1 == shell.arcadeName,
          "a restored run without its name");
}

void fillOptions(Game& game) {
  runOptionsScreen(game);
  require(within(game.shell.gameSpeed, 10, 100), "a game speed outside 10..100");
  for (const Pilot& pilot : game.duel.pilots) {
    const PilotConfig& config = pilot.config;
    require(within(config.hpConfig, 1, 50) && within(config.shieldMax, 10, 1000) &&
                within(config.regenRate, 0, 10) && within(config.weaponStrength, 3, 120),
            "an option outside its range");
    require(config.ammoLimit == 9 || config.ammoLimit == 19 || config.ammoLimit == 29 ||
                config.ammoLimit == 39,
            "an ammo limit other than 9, 19, 29 or 39");
    require(pilot.ship.nextSlot == config.ammoLimit, "the next shot outside the new ring");
  }
}

void enterNames(Game& game, char menuKey) {
  game.shell.key = menuKey;
  game.shell.arcadeMode = 0;
  enterPilotNames(game);
  require(!game.shell.name1.empty() && !game.shell.name2.empty(), "a pilot without a name");
  if (menuKey == '2') {
    require(within(game.shell.kiLevel, 1, 4), "a computer level outside 1..4");
  }
}

void runRead(Game& game, unsigned char choice) {
  switch (choice % 7) {
    case 0:
      readWord(game);
      break;
    case 1:
      game.console.readNumber();
      break;
    case 2:
      readCharacter(game);
      break;
    case 3:
      enterPasswordScreen(game);
      break;
    case 4:
      fillOptions(game);
      break;
    case 5:
      enterNames(game, '2');
      break;
    default:
      enterNames(game, '3');
      break;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::size_t programEnd = input.find('\n');
  if (programEnd == std::string_view::npos || programEnd == 0) {
    return 0;
  }
  const std::string_view program = input.substr(0, programEnd);

  testing::FakeConsole fake;
  for (std::string_view rest = input.substr(programEnd + 1); !rest.empty();) {
    const std::size_t end = rest.find('\n');
    fake.platform.typedLines.emplace_back(rest.substr(0, end));
    rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
  }
  Game game(fake.console);
  try {
    // Every read takes typed input or pulls a line, so the lines run out.
    for (std::size_t next = 0;; next = (next + 1) % program.size()) {
      runRead(game, static_cast<unsigned char>(program[next]));
    }
  } catch (const SessionEnded&) {
  }
  return 0;
}
