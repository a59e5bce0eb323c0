#include "server/server_log.h"

#include <array>
#include <ctime>
#include <iostream>

namespace skyrazor::network {

std::string utcTimeStamp() {
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
#ifdef _WIN32
  gmtime_s(&utc, &now);
#else
  gmtime_r(&now, &utc);
#endif
  std::array<char, 32> stamp{};
  std::strftime(stamp.data(), stamp.size(), "%Y-%m-%dT%H:%M:%SZ", &utc);
  return stamp.data();
}

void ServerLog::write(const std::string& line) {
  const std::string stamp = utcTimeStamp();
  std::lock_guard lock(mutex_);
  std::cerr << stamp << ' ' << line << '\n' << std::flush;
}

}  // namespace skyrazor::network
