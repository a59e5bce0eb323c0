#include "platform/scripted_platform.h"

namespace skyrazor {

ScriptedPlatform::ScriptedPlatform(Screen& screen, Script script, DumpOptions dumps,
                                   std::int64_t limitMs, std::ostream& out)
    : screen_(screen),
      script_(std::move(script)),
      dumps_(dumps),
      limitMs_(limitMs),
      out_(out),
      clockMs_(script_.startMs) {}

void ScriptedPlatform::frameEnded(int) {}
unsigned char ScriptedPlatform::readKey() { throw SessionEnded{}; }
bool ScriptedPlatform::keyWaiting() { return false; }
unsigned char ScriptedPlatform::takeWaitingKey() { throw SessionEnded{}; }
std::string ScriptedPlatform::pullLine() { throw SessionEnded{}; }
void ScriptedPlatform::sleep(int milliseconds) { clockMs_ += milliseconds; }
std::int64_t ScriptedPlatform::nowSeconds() { return clockMs_ / 1000; }
void ScriptedPlatform::dumpEnd() {}
void ScriptedPlatform::dump(std::string_view) {}

std::variant<Script, ScriptError> parseScript(std::string_view) { return Script{}; }

}  // namespace skyrazor
