#include "platform/scripted/recorded_session.h"

namespace skyrazor {

RecordedClock::RecordedClock(Clock& clock, ScriptRecorder& recorder, int keyboards)
    : clock_(clock), recorder_(recorder) {
  recorder_.start(clock_.nowMs(), keyboards);
}

void RecordedClock::sleep(int milliseconds) {
  recorder_.waitBegins(clock_.nowMs());
  clock_.sleep(milliseconds);
}

RecordedKeyboard::RecordedKeyboard(Keyboard& keyboard, Clock& clock, ScriptRecorder& recorder,
                                   KeyboardSeat seat)
    : keyboard_(keyboard), clock_(clock), recorder_(recorder), seat_(seat) {}

unsigned char RecordedKeyboard::readKey() {
  recorder_.waitBegins(clock_.nowMs());
  unsigned char key = keyboard_.readKey();
  recorder_.key(key, clock_.nowMs(), seat_);
  return key;
}

unsigned char RecordedKeyboard::takeWaitingKey() {
  unsigned char key = keyboard_.takeWaitingKey();
  recorder_.key(key, clock_.nowMs(), seat_);
  return key;
}

std::string RecordedKeyboard::pullLine() {
  recorder_.waitBegins(clock_.nowMs());
  std::string line = keyboard_.pullLine();
  recorder_.line(line, clock_.nowMs(), seat_);
  return line;
}

bool RecordedKeyboard::attended() {
  const bool attended = keyboard_.attended();
  if (seat_ == KeyboardSeat::Second) {
    recorder_.secondKeyboardAttended(attended, clock_.nowMs());
  }
  return attended;
}

}  // namespace skyrazor
