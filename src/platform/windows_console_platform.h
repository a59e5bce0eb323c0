#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "console/screen.h"
#include "console/seam.h"
#include "platform/script_recorder.h"

namespace skyrazor {

// The Windows console window. Taking it over saves the console's input mode
// and cursor; the destructor gives them back as they were, whichever way the
// session ended (Ctrl-C, Ctrl-Break, the window closed, the end of input), and
// leaves the last picture with the cursor below it.
//
// The screen model keeps the game's own size; the window is a view onto it,
// whatever size the player gives it. Each present sends only the cells that
// changed since the last one; Ctrl-L sends them all again. Keys are read one at a time without
// echo; typed lines are edited and echoed into the screen model by the same line editor as on a
// terminal. Ctrl-Z at a key read ends the session as the end of input. Given a recorder, the keys
// the game takes are recorded as a script.
class WindowsConsolePlatform final : public Display, public Keyboard, public Clock {
 public:
  // The console of the standard input and output handles.
  explicit WindowsConsolePlatform(Screen& screen, ScriptRecorder* recorder = nullptr);
  // The console input and screen buffer given as handles (HANDLE).
  WindowsConsolePlatform(Screen& screen, void* input, void* output,
                         ScriptRecorder* recorder = nullptr);
  ~WindowsConsolePlatform() override;
  WindowsConsolePlatform(const WindowsConsolePlatform&) = delete;
  WindowsConsolePlatform& operator=(const WindowsConsolePlatform&) = delete;

  void present() override;
  // Tells the player something on the window's notice row, without touching
  // the game's picture.
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
