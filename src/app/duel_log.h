#pragma once

#include <string>
#include <utility>

#include "rollback/predicted_battle.h"

namespace skyrazor {

// Where a pilot's terminal notes its duels (--duel-log): a line for each
// duel's figures and for anything amiss, each with its time. Nothing is
// noted without a file; a file that cannot be written is told once the
// terminal is given back, when the log goes.
class DuelLog {
 public:
  explicit DuelLog(std::string path) : path_(std::move(path)) {}
  ~DuelLog();
  DuelLog(const DuelLog&) = delete;
  DuelLog& operator=(const DuelLog&) = delete;
  void note(const std::string& line);
  // A duel's figures as this terminal saw them.
  void figures(const DuelFigures& figures);

 private:
  std::string path_;
  bool failed_ = false;
};

}  // namespace skyrazor
