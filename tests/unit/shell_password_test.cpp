#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "shell/password.h"
#include "shell/shell_state.h"

namespace skyrazor {
namespace {

constexpr std::array<const char*, 8> kPrefixes = {
    "CJBAF", "EHCJB", "GADIE", "BFJEH", "JDHCA", "DEFBG", "HIAGC", "FCEDJ",
};

std::string lettersOf(const std::string& password) {
  return password.substr(0, kPasswordLetterCount);
}

void expectRoundTrip(std::int32_t wins, std::int32_t losses) {
  std::int32_t rating = ratingFor(wins, losses);
  std::string password = makePassword(rating, wins, losses, "Ace");
  std::optional<RestoredRun> run = decodePassword(lettersOf(password));
  ASSERT_TRUE(run.has_value()) << password;
  EXPECT_EQ(run->wins, wins) << password;
  EXPECT_EQ(run->losses, losses) << password;
  EXPECT_EQ(run->rating, rating) << password;
  EXPECT_EQ(password.substr(kPasswordLetterCount), "Ace");
}

// Every count 0..999 in both places, each against a spread of partners that
// walks the rating through all eight bands.
TEST(PasswordCodec, EveryRunOfUpTo999WinsAndLossesComesBack) {
  const std::vector<std::int32_t> partners = {0, 1, 9, 10, 99, 100, 101, 500, 999};
  bool bandSeen[kRatingBandCount] = {};
  for (std::int32_t count = 0; count <= 999; ++count) {
    for (std::int32_t partner : partners) {
      expectRoundTrip(count, partner);
      expectRoundTrip(partner, count);
      expectRoundTrip(count, (count * 7) % 1000);
      bandSeen[ratingBand(ratingFor(count, partner))] = true;
    }
  }
  for (std::int32_t band = 0; band < kRatingBandCount; ++band) {
    EXPECT_TRUE(bandSeen[band]) << "band " << band;
  }
}

TEST(PasswordCodec, LayoutIsPrefixWinsLossesNameWithNothingBetween) {
  EXPECT_EQ(makePassword(25, 0, 0, "Ace"), "CJBAFAAAAAAAce");
  EXPECT_EQ(makePassword(ratingFor(407, 12), 407, 12, "Zed"), "FCEDJEAHABCZed");
  EXPECT_EQ(makePassword(ratingFor(20, 1), 20, 1, "Rux'O"), "GADIEACAAABRux'O");
}

TEST(PasswordCodec, CountsOfAThousandAndMoreAreShownAs999) {
  EXPECT_EQ(countLetters(999), "JJJ");
  EXPECT_EQ(countLetters(1000), "JJJ");
  EXPECT_EQ(countLetters(123456), "JJJ");
  EXPECT_EQ(countLetters(0), "AAA");
  EXPECT_EQ(countLetters(90), "AJA");
  EXPECT_EQ(makePassword(ratingFor(1000, 0), 1000, 0, "Ace"), "FCEDJJJJAAAAce");
}

TEST(PasswordCodec, BandsFollowTheirOwnBoundaries) {
  const std::vector<std::pair<std::int32_t, std::int32_t>> bands = {
      {-37937, 0}, {-13, 0},  {199, 0},  {200, 1},  {399, 1},   {400, 2},
      {599, 2},    {600, 3},  {799, 3},  {800, 4},  {999, 4},   {1000, 5},
      {1199, 5},   {1200, 6}, {1499, 6}, {1500, 7}, {24975, 7},
  };
  for (const auto& [rating, band] : bands) {
    EXPECT_EQ(ratingBand(rating), band) << "rating " << rating;
  }
  for (std::int32_t band = 0; band < kRatingBandCount; ++band) {
    EXPECT_EQ(bandPrefix(band), kPrefixes[static_cast<std::size_t>(band)]);
  }
}

// A prefix vouches for its band and everything below; never for more.
TEST(PasswordCodec, LowerBandPrefixesAreAcceptedAndHigherRefused) {
  struct Case {
    std::string letters;
    bool accepted;
  };
  const std::vector<Case> cases = {
      {"CJBAFAAEAAA", true},                           // 125 with its own prefix
      {"BFJEHAAEAAA", true},                           // 125 under the 600..799 prefix: below 800
      {"HIAGCAAEAAA", true},                           // 125 under the 1200..1499 prefix
      {"FCEDJAAEAAA", false},                          // the top prefix needs 1500
      {"EHCJBAAAAAA", true},                           // 25 under the 200..399 prefix
      {"CJBAFABAAAA", false},                          // 275 is above band 0
      {"CJBAFAAGAAA", true},                           // 175
      {"CJBAFAAHAAA", false},                          // 200 opens band 1
      {"EHCJBAAHAAA", true},  {"HIAGCAFIAAA", true},   // 1475
      {"FCEDJAFIAAA", false}, {"HIAGCAFJAAA", false},  // 1500
      {"FCEDJAFJAAA", true},  {"FCEDJJJJAAA", true},   // 25000
      {"CJBAFAAAJJJ", true},                           // -37937
  };
  for (const Case& c : cases) {
    EXPECT_EQ(decodePassword(c.letters).has_value(), c.accepted) << c.letters;
  }
}

TEST(PasswordCodec, PrefixMustMatchExactlyCapitalsIncluded) {
  EXPECT_FALSE(decodePassword("cjbafAAAAAA").has_value());
  EXPECT_FALSE(decodePassword("CJBAGAAAAAA").has_value());
  EXPECT_FALSE(decodePassword("JBAFAAAAAAA").has_value());
  EXPECT_FALSE(decodePassword("CJBAFAAAAA").has_value());
}

// Only capital B..J carry a digit; anything else in a count position is 0.
TEST(PasswordCodec, OtherCharactersInCountPositionsCountAsZero) {
  std::optional<RestoredRun> run = decodePassword("CJBAFbAc?1E");
  ASSERT_TRUE(run.has_value());
  EXPECT_EQ(run->wins, 0);
  EXPECT_EQ(run->losses, 4);
  EXPECT_EQ(run->rating, ratingFor(0, 4));

  run = decodePassword("CJBAF9jKDBA");
  ASSERT_TRUE(run.has_value());
  EXPECT_EQ(run->wins, 0);
  EXPECT_EQ(run->losses, 310);

  EXPECT_EQ(letterDigit('A'), 0);
  EXPECT_EQ(letterDigit('J'), 9);
  EXPECT_EQ(letterDigit('K'), 0);
  EXPECT_EQ(letterDigit('b'), 0);
  EXPECT_EQ(letterDigit('5'), 0);
}

}  // namespace
}  // namespace skyrazor
