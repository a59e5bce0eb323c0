#include "platform/service/service_manager.h"

#if defined(SKYRAZOR_SYSTEMD)
#include <sys/socket.h>
#include <systemd/sd-daemon.h>

#include <cstdint>
#endif

namespace skyrazor::service {

#if defined(SKYRAZOR_SYSTEMD)

PassedSockets listeningSocketsPassed() {
  PassedSockets sockets;
  // The variables are unset, so that nothing the server starts believes the
  // sockets are its own.
  const int passed = sd_listen_fds(1);
  for (int descriptor = SD_LISTEN_FDS_START; descriptor < SD_LISTEN_FDS_START + passed;
       ++descriptor) {
    if (sd_is_socket_inet(descriptor, AF_UNSPEC, SOCK_STREAM, 1, 0) > 0) {
      sockets.network.push_back(descriptor);
    } else if (sd_is_socket_unix(descriptor, SOCK_STREAM, 1, nullptr, 0) > 0) {
      sockets.local.push_back(descriptor);
    }
  }
  return sockets;
}

void tellReady(const std::string& status) {
  sd_notifyf(0, "READY=1\nSTATUS=%s", status.c_str());
}

void tellStopping() {
  sd_notify(0, "STOPPING=1\nSTATUS=stopping");
}

void tellWatchdog() {
  sd_notify(0, "WATCHDOG=1");
}

std::optional<std::chrono::microseconds> watchdogPeriod() {
  std::uint64_t microseconds = 0;
  if (sd_watchdog_enabled(0, &microseconds) <= 0 || microseconds == 0) {
    return std::nullopt;
  }
  return std::chrono::microseconds(microseconds);
}

#else

PassedSockets listeningSocketsPassed() {
  return {};
}

void tellReady(const std::string&) {}

void tellStopping() {}

void tellWatchdog() {}

std::optional<std::chrono::microseconds> watchdogPeriod() {
  return std::nullopt;
}

#endif

}  // namespace skyrazor::service
