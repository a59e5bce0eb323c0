#include "app/duel_log.h"

#include <chrono>
#include <ctime>
#include <fstream>
#include <iostream>

namespace skyrazor {
namespace {

std::string timeNow() {
  const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  std::tm parts{};
#ifdef _WIN32
  gmtime_s(&parts, &now);
#else
  gmtime_r(&now, &parts);
#endif
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
  return text;
}

}  // namespace

void DuelLog::note(const std::string& line) {
  if (path_.empty() || failed_) {
    return;
  }
  std::ofstream file(path_, std::ios::app | std::ios::binary);
  file << timeNow() << " " << line << "\n";
  if (!file.flush()) {
    failed_ = true;
    std::cerr << "skyrazor: cannot write the duel log\n";
  }
}

void DuelLog::figures(const DuelFigures& figures) {
  note(duelFiguresLine(figures));
}

}  // namespace skyrazor
