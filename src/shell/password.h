#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace skyrazor {

// The arcade password carries a run from one session of the game to the
// next: five letters naming the rating band, three letters for the wins and
// three for the losses ('A' = 0 ... 'J' = 9), then the pilot's name, all
// written together.
constexpr int kPasswordLetterCount = 11;
constexpr std::int32_t kRatingBandCount = 8;

// The band 0..7 a rating lies in: below 200 is band 0, 1500 and above band 7.
std::int32_t ratingBand(std::int32_t rating);
// The five letters that open a password of `band`.
std::string_view bandPrefix(std::int32_t band);

// A count as three digit letters. Counts of 1000 and more come out as "JJJ".
std::string countLetters(std::int32_t count);
// The value a letter stands for in the count positions: 'B'..'J' are 1..9,
// anything else (also small letters and digits) is 0.
std::int32_t letterDigit(char letter);

// The password shown for a run: band prefix, wins, losses, then the name.
std::string makePassword(std::int32_t rating, std::int32_t wins, std::int32_t losses,
                         std::string_view name);

struct RestoredRun {
  std::int32_t wins = 0;
  std::int32_t losses = 0;
  std::int32_t rating = 0;
};

// Reads the eleven letters of a password. A prefix is good for its own band
// and every rating below it, never for a higher one; the top band's prefix
// only from 1500 up. Anything else is refused.
std::optional<RestoredRun> decodePassword(std::string_view letters);

}  // namespace skyrazor
