#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "console/screen.h"
#include "console/seam.h"
#include "platform/live/key_clock.h"

namespace skyrazor {

// The Windows console window. Taking it over saves the console's input mode
// and cursor; the destructor gives them back as they were, whichever way the
// session ended (Ctrl-C, Ctrl-Break, the window closed, the end of input), and
// leaves the last picture with the cursor below it.
//
// The screen model keeps the game's own size; the window is a view onto it,
// whatever size the player gives it. Each present sends only the cells that
// changed since the last one; Ctrl-L sends them all again, and Ctrl-G brings
// the status up (see bringUpStatus); the game never sees either. Keys come one at a
// time without echo, as on a terminal; Ctrl-Z at a key read ends the session
// as the end of input. As a KeySource it gives the keys typed and the wall
// clock; a LiveKeyboard over it is the game's keyboard and clock, with the
// same line editing as on a terminal.
class WindowsConsolePlatform final : public Display, public KeySource {
 public:
  // The key that ends the input at a key read.
  static constexpr unsigned char kEndOfInputKey = KeyClock::kCtrlZ;

  // The console of the standard input and output handles.
  explicit WindowsConsolePlatform(Screen& screen);
  // The console input and screen buffer given as handles (HANDLE).
  WindowsConsolePlatform(Screen& screen, void* input, void* output);
  ~WindowsConsolePlatform() override;
  WindowsConsolePlatform(const WindowsConsolePlatform&) = delete;
  WindowsConsolePlatform& operator=(const WindowsConsolePlatform&) = delete;

  void present() override;
  // Tells the player something on the window's notice row, without touching
  // the game's picture.
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
