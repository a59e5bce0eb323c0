#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "console/screen.h"
#include "console/seam.h"
#include "platform/script_recorder.h"

namespace skyrazor {

// The real terminal, through ncurses. Taking it over saves the terminal's
// state; the destructor gives it back exactly as it was, whichever way the
// session ended (Ctrl-C, SIGTERM, SIGHUP, end of input).
//
// The screen model keeps its own size (the game's 80x25); the window is a view
// onto it, whatever size the player gives it (see WindowView). Each present
// sends only the cells that changed since the last one, in one update; Ctrl-L
// sends them all again. Given a recorder, the keys the game takes are
// recorded as a script.
class TerminalPlatform final : public Display, public Keyboard, public Clock {
 public:
  explicit TerminalPlatform(Screen& screen, ScriptRecorder* recorder = nullptr);
  ~TerminalPlatform() override;
  TerminalPlatform(const TerminalPlatform&) = delete;
  TerminalPlatform& operator=(const TerminalPlatform&) = delete;

  void present() override;
  // Tells the player something on the window's notice row, for a while,
  // without touching the game's picture.
  void showNews(const std::string& news);

  unsigned char readKey() override;
  bool keyWaiting() override;
  unsigned char takeWaitingKey() override;
  std::string pullLine() override;

  void sleep(int milliseconds) override;
  std::int64_t nowSeconds() override;

 private:
  class Session;
  std::unique_ptr<Session> session_;
};

}  // namespace skyrazor
