#include "shell/password.h"

#include <array>

#include "shell/shell_state.h"

namespace skyrazor {
namespace {

constexpr std::array<std::string_view, kRatingBandCount> kBandPrefixes = {
    "CJBAF", "EHCJB", "GADIE", "BFJEH", "JDHCA", "DEFBG", "HIAGC", "FCEDJ",
};

// Where each band below the top one ends; the top band starts at the last.
constexpr std::array<std::int32_t, kRatingBandCount - 1> kBandUpperBounds = {
    200, 400, 600, 800, 1000, 1200, 1500,
};
constexpr std::int32_t kTopBand = kRatingBandCount - 1;
constexpr std::int32_t kTopBandStart = kBandUpperBounds[kTopBand - 1];

constexpr int kPrefixLength = 5;
constexpr std::array<std::int32_t, 3> kDigitWeights = {100, 10, 1};

// The largest digit 1..9 whose share still fits in what is left; 0 when none
// does. A count of 1000 or more thus takes 9 in every position.
std::int32_t largestFittingDigit(std::int32_t remaining, std::int32_t weight) {
  for (std::int32_t digit = 9; digit >= 1; --digit) {
    if (digit * weight <= remaining) {
      return digit;
    }
  }
  return 0;
}

std::int32_t countFromLetters(std::string_view letters) {
  std::int32_t count = 0;
  for (std::size_t position = 0; position < kDigitWeights.size(); ++position) {
    count += letterDigit(letters[position]) * kDigitWeights[position];
  }
  return count;
}

bool prefixFitsRating(std::int32_t band, std::int32_t rating) {
  if (band == kTopBand) {
    return rating >= kTopBandStart;
  }
  return rating < kBandUpperBounds[static_cast<std::size_t>(band)];
}

}  // namespace

std::int32_t ratingBand(std::int32_t rating) {
  for (std::int32_t band = 0; band < kTopBand; ++band) {
    if (rating < kBandUpperBounds[static_cast<std::size_t>(band)]) {
      return band;
    }
  }
  return kTopBand;
}

std::string_view bandPrefix(std::int32_t band) {
  return kBandPrefixes[static_cast<std::size_t>(band)];
}

std::string countLetters(std::int32_t count) {
  std::string letters;
  std::int32_t remaining = count;
  for (std::int32_t weight : kDigitWeights) {
    std::int32_t digit = largestFittingDigit(remaining, weight);
    letters += static_cast<char>('A' + digit);
    remaining -= digit * weight;
  }
  return letters;
}

std::int32_t letterDigit(char letter) {
  if (letter >= 'B' && letter <= 'J') {
    return letter - 'A';
  }
  return 0;
}

std::string makePassword(std::int32_t rating, std::int32_t wins, std::int32_t losses,
                         std::string_view name) {
  std::string password(bandPrefix(ratingBand(rating)));
  password += countLetters(wins);
  password += countLetters(losses);
  password += name;
  return password;
}

std::optional<RestoredRun> decodePassword(std::string_view letters) {
  if (letters.size() != kPasswordLetterCount) {
    return std::nullopt;
  }
  RestoredRun run;
  run.wins = countFromLetters(letters.substr(kPrefixLength, 3));
  run.losses = countFromLetters(letters.substr(kPrefixLength + 3, 3));
  run.rating = ratingFor(run.wins, run.losses);
  std::string_view prefix = letters.substr(0, kPrefixLength);
  for (std::int32_t band = 0; band < kRatingBandCount; ++band) {
    if (prefixFitsRating(band, run.rating) && prefix == bandPrefix(band)) {
      return run;
    }
  }
  return std::nullopt;
}

}  // namespace skyrazor
