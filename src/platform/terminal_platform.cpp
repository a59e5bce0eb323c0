#include "platform/terminal_platform.h"

namespace skyrazor {

TerminalPlatform::TerminalPlatform(Screen& screen) : screen_(screen) {}
TerminalPlatform::~TerminalPlatform() = default;
void TerminalPlatform::present() {}
unsigned char TerminalPlatform::readKey() { throw SessionEnded{}; }
bool TerminalPlatform::keyWaiting() { return false; }
unsigned char TerminalPlatform::takeWaitingKey() { throw SessionEnded{}; }
std::string TerminalPlatform::pullLine() { throw SessionEnded{}; }
void TerminalPlatform::sleep(int) {}
std::int64_t TerminalPlatform::nowSeconds() { return 0; }

}  // namespace skyrazor
