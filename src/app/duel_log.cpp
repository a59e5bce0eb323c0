#include "app/duel_log.h"

#include <fstream>
#include <iostream>

#include "server/server_log.h"

namespace skyrazor {

void DuelLog::note(const std::string& line) {
  if (path_.empty() || failed_) {
    return;
  }
  std::ofstream file(path_, std::ios::app | std::ios::binary);
  file << network::utcTimeStamp() << " " << line << "\n";
  if (!file.flush()) {
    failed_ = true;
  }
}

DuelLog::~DuelLog() {
  if (failed_) {
    std::cerr << "skyrazor: cannot write the duel log '" << path_ << "'\n";
  }
}

void DuelLog::figures(const DuelFigures& figures) {
  note(duelFiguresLine(figures));
}

}  // namespace skyrazor
