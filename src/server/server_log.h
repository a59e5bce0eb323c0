#pragma once

#include <mutex>
#include <string>

namespace skyrazor::network {

// The time now in UTC, as the logs stamp their lines: 2026-12-11T10:30:00Z.
std::string utcTimeStamp();

// A server's log: one line per event on standard error, each with the UTC
// time it happened. Rooms' games write to it from their own threads.
class ServerLog {
 public:
  void write(const std::string& line);

 private:
  std::mutex mutex_;
};

}  // namespace skyrazor::network
