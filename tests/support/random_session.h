#pragma once

// Random whole sessions of the game, written as scripts for a scripted run:
// a few passes of the program loop, each with a title key, a main-menu
// choice (after stray keys now and then) and whatever that choice asks for —
// the arcade menu and garbled or cut-short passwords, names of every length
// up to 100 000 bytes, computer levels and option values at their extremes
// or out of range, the gallery's pages — and battles fought with a random
// stream of keys: the pilots' letters, capitals, digits, control bytes and
// bytes above 0x7F. The same seed always gives the same session.

#include <cstdint>
#include <random>
#include <string>
#include <string_view>

#include "platform/scripted/scripted_platform.h"

namespace skyrazor::testing {

struct RandomSession {
  std::string script;  // the text of a script
  int columns = 80;
  int rows = 25;
  DumpOptions dumps;
  std::int64_t limitMs = 0;

  // The command line that replays the session with the real program.
  std::string replayArguments(const std::string& scriptPath) const {
    return "--script " + scriptPath + " " + optionArguments();
  }

  // The options of that command line that follow the script's path.
  std::string optionArguments() const {
    std::string arguments = "--size " + std::to_string(columns) + "x" + std::to_string(rows) +
                            " --limit " + std::to_string(limitMs);
    if (dumps.reads) {
      arguments += " --dump-reads";
    }
    if (dumps.sleeps) {
      arguments += " --dump-sleeps";
    }
    if (dumps.frames) {
      arguments += " --dump-frames";
    }
    if (dumps.colors) {
      arguments += " --colors";
    }
    return arguments;
  }
};

class RandomSessionWriter {
 public:
  static constexpr std::size_t kHugeNameBytes = 100000;

  // `mayUseTwoKeyboards`: now and then a session of the two-keyboard game,
  // pilot 2 typing and flying at the second keyboard, or for a while at the
  // first with nobody at the second.
  explicit RandomSessionWriter(std::uint64_t seed, bool mayUseTwoKeyboards = false)
      : dice_(seed), mayUseTwoKeyboards_(mayUseTwoKeyboards) {}

  RandomSession write() {
    RandomSession session;
    pickScreen(session);
    // Dumps of every sleep or frame are costly on a large screen: now and then.
    session.dumps = {chance(20), chance(4), chance(3), chance(20)};
    session.limitMs = pick({0, 0, 200, 1000, 5000});
    if (chance(80)) {
      line("clock " + std::to_string(below(4000000000u)));
    }
    if (mayUseTwoKeyboards_ && chance(30)) {
      line("keyboards 2");
      twoKeyboards_ = true;
    }
    const int passes = 1 + static_cast<int>(below(4));
    for (int pass = 0; pass < passes && !lastPass_; ++pass) {
      writePass();
    }
    if (chance(30)) {
      wait(below(8000));
    }
    if (hugeName_) {
      session.limitMs = 0;
    }
    session.script = std::move(script_);
    return session;
  }

 private:
  // --- Dice ------------------------------------------------------------------
  std::uint32_t below(std::uint32_t bound) {
    return std::uniform_int_distribution<std::uint32_t>(0, bound - 1)(dice_);
  }
  bool chance(int percent) { return below(100) < static_cast<std::uint32_t>(percent); }
  template <typename T>
  T pick(std::initializer_list<T> choices) {
    return *(choices.begin() + below(static_cast<std::uint32_t>(choices.size())));
  }
  unsigned char anyByte() { return static_cast<unsigned char>(below(256)); }

  // --- Script lines ------------------------------------------------------------
  void line(const std::string& text) {
    script_ += text;
    script_ += '\n';
  }
  static std::string escaped(std::string_view bytes) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string text;
    for (char character : bytes) {
      auto byte = static_cast<unsigned char>(character);
      if (byte > ' ' && byte < 0x7F && byte != '\\') {
        text += character;
      } else {
        text += "\\x";
        text += kHex[byte >> 4];
        text += kHex[byte & 0x0F];
      }
    }
    return text;
  }
  void keys(std::string_view bytes) { line("key " + escaped(bytes)); }
  void typed(std::string_view bytes) { line("type " + escaped(bytes)); }
  void wait(std::uint32_t ms) { line("wait " + std::to_string(ms)); }

  // --- The screen ----------------------------------------------------------------
  void pickScreen(RandomSession& session) {
    switch (below(6)) {
      case 0:
        session.columns = 1;
        session.rows = 1;
        break;
      case 1:
        session.columns = 300;
        session.rows = 100;
        break;
      case 2:
        session.columns = 80;
        session.rows = 25;
        break;
      case 3:  // narrower or lower than the arena
        session.columns = 1 + static_cast<int>(below(45));
        session.rows = 1 + static_cast<int>(below(14));
        break;
      default:
        session.columns = 1 + static_cast<int>(below(300));
        session.rows = 1 + static_cast<int>(below(100));
        break;
    }
  }

  // --- Keys and typed text ---------------------------------------------------------
  // A key at a menu or a page: mostly printable, sometimes anything.
  unsigned char strayKey() {
    return chance(70) ? static_cast<unsigned char>(' ' + below(95)) : anyByte();
  }

  unsigned char battleKey() {
    static constexpr std::string_view kCommands = "eswaplok";
    static constexpr std::string_view kCapitals = "ESWAPLOKXQ";
    switch (below(10)) {
      case 0:
        return static_cast<unsigned char>(kCapitals[below(kCapitals.size())]);
      case 1:
        return static_cast<unsigned char>('0' + below(10));
      case 2:
        return chance(50) ? static_cast<unsigned char>(below(32)) : 0x7F;
      case 3:
        return static_cast<unsigned char>(0x80 + below(128));
      default:
        return static_cast<unsigned char>(kCommands[below(kCommands.size())]);
    }
  }

  std::string name() {
    if (!hugeName_ && chance(2)) {
      // A name too long for any screen, printed whole at every step of the
      // countdown and in every frame: the rest of the session is kept short.
      lastPass_ = true;
      hugeName_ = true;
      return std::string(kHugeNameBytes, static_cast<char>('A' + below(26)));
    }
    std::string text;
    const std::uint32_t length = 1 + below(chance(10) ? 200 : 12);
    for (std::uint32_t i = 0; i < length; ++i) {
      unsigned char byte = chance(90) ? static_cast<unsigned char>('a' + below(26)) : anyByte();
      if (byte == ' ' || byte == '\t' || byte == '\n' || byte == '\r' || byte == '\v' ||
          byte == '\f') {
        byte = 'x';
      }
      text += static_cast<char>(byte);
    }
    return text;
  }

  // A line of anything but a line end.
  std::string garbageLine(std::uint32_t longest) {
    std::string text;
    const std::uint32_t length = below(longest + 1);
    for (std::uint32_t i = 0; i < length; ++i) {
      unsigned char byte = anyByte();
      text += static_cast<char>(byte == '\n' ? ' ' : byte);
    }
    return text;
  }

  // A number answer: mostly `wanted`, sometimes out of range or not a number first.
  void numberAnswer(std::int64_t wanted) {
    while (chance(25)) {
      switch (below(3)) {
        case 0:
          typed(std::to_string(static_cast<std::int64_t>(below(2000000)) - 1000000));
          break;
        case 1:
          typed(pick<std::string_view>(
              {"99999999999", "-2147483649", "+", "-", "2147483648", "-2147483648", "0x10"}));
          break;
        default:
          typed(garbageLine(20));
          break;
      }
    }
    typed(std::to_string(wanted));
  }

  // --- One pass of the program loop ---------------------------------------------------
  void writePass() {
    wait(below(300));
    keys(std::string(1, static_cast<char>(strayKey())));  // the title
    while (chance(15)) {
      keys(std::string(1, static_cast<char>(strayKey())));  // at the menu: mostly ignored
    }
    switch (below(20)) {
      case 0:
      case 1:
      case 2:
      case 3:
        keys("1");
        writeArcade();
        break;
      case 4:
      case 5:
      case 6:
      case 7:
        keys("2");
        typed(name());
        numberAnswer(1 + below(4));
        writeBattle();
        break;
      case 8:
      case 9:
      case 10:
      case 11:
      case 12:
        keys("3");
        if (twoKeyboards_ && chance(30)) {
          // Nobody at the second keyboard (or someone back) from this match on.
          secondAway_ = !secondAway_;
          line(secondAway_ ? "keyboard2 away" : "keyboard2 here");
        }
        writeTwoNames();
        writeBattle();
        break;
      case 13:
      case 14:
      case 15:
      case 16:
        keys("4");
        writeOptions();
        break;
      default:
        keys("5");
        writeGallery();
        break;
    }
  }

  void writeTwoNames() {
    if (twoKeyboards_ && !secondAway_) {
      // What pilot 1 types past the name waits on the first keyboard.
      typed(chance(30) ? name() + " " + name() : name());
      line("type2 " + escaped(name()));
      return;
    }
    if (chance(50)) {
      typed(name() + " " + name());
    } else {
      typed(name());
      typed(name());
    }
  }

  void writeArcade() {
    while (chance(20)) {
      keys(std::string(1, static_cast<char>(strayKey())));
    }
    switch (below(3)) {
      case 0:
        keys("1");
        writePassword();
        break;
      case 1:
        keys("2");
        typed(name());
        break;
      default:
        keys("3");  // Continue: offered only once a run has a name
        if (chance(50)) {
          keys("2");
          typed(name());
        }
        break;
    }
    writeBattle();
    if (!lastPass_ && chance(30)) {
      wait(10000);  // a password shown after every third scored battle
      keys(std::string(1, static_cast<char>(strayKey())));
    }
  }

  void writePassword() {
    static constexpr std::string_view kLetters = "ABCDEFGHIJ";
    std::string letters;
    switch (below(4)) {
      case 0:  // garbage
        typed(garbageLine(30));
        break;
      case 1: {  // cut short: fewer than eleven letters, the name on later lines
        const std::uint32_t count = below(11);
        for (std::uint32_t i = 0; i < count; ++i) {
          letters += kLetters[below(kLetters.size())];
        }
        typed(letters);
        if (chance(50)) {
          lastPass_ = true;  // the input may end inside the password
          return;
        }
        typed(name());
        break;
      }
      default:  // well formed, with letters that may or may not make a password
        for (int i = 0; i < 11; ++i) {
          letters +=
              chance(90) ? kLetters[below(kLetters.size())] : static_cast<char>('K' + below(16));
        }
        typed(letters + (chance(50) ? "" : " ") + name());
        break;
    }
  }

  void writeOptions() {
    const std::int64_t speed = pick<std::int64_t>({10, 10, 100, 50, 10 + below(91)});
    numberAnswer(speed);
    for (int pilot = 0; pilot < 2; ++pilot) {
      numberAnswer(pick<std::int64_t>({50, 50, 1, 3, 1 + below(50)}));  // hit points
    }
    for (int pilot = 0; pilot < 2; ++pilot) {
      numberAnswer(pick<std::int64_t>({1000, 1000, 10, 100, 10 + below(991)}));  // shields
    }
    for (int pilot = 0; pilot < 2; ++pilot) {
      numberAnswer(pick<std::int64_t>({10, 10, 0, 1, below(11)}));  // regeneration
    }
    for (int pilot = 0; pilot < 2; ++pilot) {
      numberAnswer(pick<std::int64_t>({120, 120, 3, 12, 3 + below(118)}));  // weapon strength
    }
    for (int pilot = 0; pilot < 2; ++pilot) {
      numberAnswer(pick<std::int64_t>({39, 9, 19, 29}));  // ammo limit
    }
  }

  void writeGallery() {
    const std::uint32_t pages = below(9);
    for (std::uint32_t page = 0; page < pages; ++page) {
      wait(below(500));
      keys(std::string(1, static_cast<char>(strayKey())));
    }
  }

  // The countdown, a stream of battle keys, and the result screen's wait.
  void writeBattle() {
    if (hugeName_ && chance(50)) {
      wait(below(6300));  // the input ends during the countdown
      return;
    }
    wait(6300);
    const std::uint32_t battleMs = hugeName_ ? below(300) : lastPass_ ? below(1500) : below(8000);
    std::uint32_t spent = 0;
    while (spent < battleMs) {
      std::string burst;
      const std::uint32_t count = chance(10) ? 1 + below(20) : 1;
      for (std::uint32_t i = 0; i < count; ++i) {
        burst += static_cast<char>(battleKey());
      }
      if (twoKeyboards_ && !secondAway_ && chance(50)) {
        line("key2 " + escaped(burst));
      } else {
        keys(burst);
      }
      const std::uint32_t gap = below(150);
      wait(gap);
      spent += gap + 1;
    }
    if (!lastPass_) {
      wait(5000 + below(1000));
    }
  }

  std::mt19937_64 dice_;
  bool mayUseTwoKeyboards_;
  bool twoKeyboards_ = false;
  bool secondAway_ = false;  // nobody at the second keyboard (`keyboard2 away`)
  std::string script_;
  bool lastPass_ = false;
  bool hugeName_ = false;
};

}  // namespace skyrazor::testing
