#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace skyrazor::service {

// What the server tells the service manager that started it (systemd), and
// the listening sockets it was handed. Everywhere else (started by hand, or
// on Windows) each of these is nothing at all.

// The listening stream sockets passed to this process (LISTEN_FDS), as
// descriptors now the caller's: the IPv4 and IPv6 ones the players come to,
// and local ones, the ssh entrance's (a socket unit of its own, which only
// the ssh players' account may open). None when none were passed; passed
// descriptors of any other kind are left alone and not counted.
struct PassedSockets {
  std::vector<int> network;
  std::vector<int> local;
};
PassedSockets listeningSocketsPassed();

// The server listens and serves; `status` is a line for `systemctl status`.
void tellReady(const std::string& status);
// The server is on its way out.
void tellStopping();
// The network thread is alive: the service manager's watchdog waits for this.
void tellWatchdog();
// How often tellWatchdog must come at the latest; none when no watchdog
// waits for it.
std::optional<std::chrono::microseconds> watchdogPeriod();

}  // namespace skyrazor::service
