#pragma once

#include <cstdint>

#include "console/screen.h"
#include "console/seam.h"

namespace skyrazor {

// The real terminal, through ncurses. Taking it over saves the terminal's
// state; the destructor (and every way out: Ctrl-C, SIGTERM, SIGHUP, end of
// input) gives it back exactly as it was.
class TerminalPlatform final : public Display, public Keyboard, public Clock {
 public:
  explicit TerminalPlatform(Screen& screen);
  ~TerminalPlatform() override;
  TerminalPlatform(const TerminalPlatform&) = delete;
  TerminalPlatform& operator=(const TerminalPlatform&) = delete;

  void present() override;

  unsigned char readKey() override;
  bool keyWaiting() override;
  unsigned char takeWaitingKey() override;
  std::string pullLine() override;

  void sleep(int milliseconds) override;
  std::int64_t nowSeconds() override;

 private:
  Screen& screen_;
};

}  // namespace skyrazor
