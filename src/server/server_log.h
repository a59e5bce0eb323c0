#pragma once

#include <mutex>
#include <string>

namespace skyrazor::network {

// A server's log: one line per event on standard error, each with the UTC
// time it happened. Rooms' games write to it from their own threads.
class ServerLog {
 public:
  void write(const std::string& line);

 private:
  std::mutex mutex_;
};

}  // namespace skyrazor::network
