#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "console/screen.h"
#include "console/seam.h"
#include "platform/live/key_clock.h"

namespace skyrazor {

// The real terminal, through ncurses. Taking it over saves the terminal's
// state; the destructor gives it back exactly as it was, whichever way the
// session ended (Ctrl-C, SIGTERM, SIGHUP, end of input).
//
// The screen model keeps its own size (the game's 80x25); the window is a view
// onto it, whatever size the player gives it (see WindowView). Each present
// sends only the cells that changed since the last one, in one update; Ctrl-L
// sends them all again, and Ctrl-G brings the status up (see bringUpStatus);
// the game never sees either key. As a KeySource it gives the keys typed and
// the wall clock; a LiveKeyboard over it is the game's keyboard and clock.
class TerminalPlatform final : public Display, public KeySource {
 public:
  // The key that ends the input at a key read.
  static constexpr unsigned char kEndOfInputKey = KeyClock::kCtrlD;

  explicit TerminalPlatform(Screen& screen);
  ~TerminalPlatform() override;
  TerminalPlatform(const TerminalPlatform&) = delete;
  TerminalPlatform& operator=(const TerminalPlatform&) = delete;

  void present() override;
  // Tells the player something on the window's notice row, for a while,
  // without touching the game's picture.
  void showNews(const std::string& news);
  // A standing line about the session on the notice row (see WindowView).
  void showStatus(const std::string& status, bool overPicture);
  // Shows the status over the picture's bottom row for a few seconds, where
  // the window has no row below the picture: when seats change, or when the
  // player asks with Ctrl-G.
  void bringUpStatus();
  // Whether Up, Down, Page Up and Page Down arrive as the navigation bytes
  // (platform/live/navigation_keys.h) rather than not at all. Off at first:
  // only a list to move through asks for them.
  void passNavigationKeys(bool pass);

  std::int64_t wallMs() override;
  void waitUntil(std::int64_t deadlineMs) override;
  bool waitForInput() override;
  void wake() override;
  void takeTyped(std::string& bytes, bool afterWait) override;
  void checkEnded() override;
  void typingLine(bool typing) override;

 private:
  class Session;
  std::unique_ptr<Session> session_;
};

}  // namespace skyrazor
