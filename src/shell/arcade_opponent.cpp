#include "shell/arcade_opponent.h"

#include <array>

namespace skyrazor {
namespace {

constexpr std::array<std::string_view, kArcadeOpponentCount> kOpponentNames = {
    "MarcoPolo",
    "MontBlanco",
    "Garfield",
    "Nex",
    "Tox",
    "Box",
    "Chix",
    "Texas",
    "Lex",
    "Max",
    "Bibop",
    "Biber",
    "Baxter",
    "Dorky",
    "GG",
    "NiceTry",
    "Bloc",
    "TheVayne",
    "KennsteWayne?",
    "Neo",
    "DarthVader",
    "PizzaSpeziale",
    "Fort",
    "KillYou",
    "Jack",
    "Muha",
    "Mandy",
    "ThePayne",
    "Wayne",
    "Hermann",
    "Hawlabaka",
    "Howndowl",
    "JajaBiggs",
    "Zed",
    "Ohohohoho",
    "BoBoBo-Bo-Bo-BoBo",
    "Ikkarruss",
    "Zapnoid",
    "Orarorubbab",
    "Fitz",
    "Glimmerzod",
    "Quorbel",
    "NTDETECT",
    "Virus",
    "ErrorInNameSettings",
    "TheUnknownNoname",
    "KhorneBerzerk",
    "McDonalds",
    "Rux'O",
    "WarDog"};

// The level for each roll 0..9, one row per rating band.
using LevelByRoll = std::array<std::int32_t, 10>;
constexpr LevelByRoll kLevelsBelow100 = {1, 1, 1, 1, 1, 5, 5, 5, 7, 7};
constexpr LevelByRoll kLevelsFrom100 = {5, 2, 2, 2, 7, 7, 3, 3, 6, 6};
constexpr LevelByRoll kLevelsFrom500 = {8, 2, 2, 7, 7, 3, 3, 3, 7, 7};
constexpr LevelByRoll kLevelsFrom800 = {9, 3, 3, 3, 3, 3, 4, 4, 4, 4};
constexpr LevelByRoll kLevelsFrom1500 = {4, 4, 4, 4, 4, 4, 4, 4, 4, 4};

const LevelByRoll& levelsForRating(std::int32_t rating) {
  if (rating < 100) {
    return kLevelsBelow100;
  }
  if (rating < 500) {
    return kLevelsFrom100;
  }
  if (rating < 800) {
    return kLevelsFrom500;
  }
  if (rating < 1500) {
    return kLevelsFrom800;
  }
  return kLevelsFrom1500;
}

}  // namespace

std::string_view arcadeOpponentName(std::int32_t index) {
  return kOpponentNames[static_cast<std::size_t>(index)];
}

std::int32_t arcadeOpponentLevel(std::int32_t rating, std::int32_t roll) {
  return levelsForRating(rating)[static_cast<std::size_t>(roll)];
}

ArcadeOpponent drawArcadeOpponent(Random& random, std::int32_t rating) {
  ArcadeOpponent opponent;
  opponent.name = arcadeOpponentName(random.below(kArcadeOpponentCount));
  std::int32_t roll = random.below(10);
  opponent.kiLevel = arcadeOpponentLevel(rating, roll);
  return opponent;
}

}  // namespace skyrazor
