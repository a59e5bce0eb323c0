#include "app/network_status.h"

#include <cstdio>

namespace skyrazor {

std::string roundTripText(int microseconds) {
  if (microseconds < 0) {
    return "round trip -";
  }
  char text[40];
  std::snprintf(text, sizeof text, "round trip %d.%d ms", microseconds / 1000,
                microseconds % 1000 / 100);
  return text;
}

std::string watchersText(int watchers) {
  if (watchers == 0) {
    return "";
  }
  return " - " + std::to_string(watchers) + (watchers == 1 ? " watcher" : " watchers");
}

std::string endpointText(const std::string& address, std::uint16_t port) {
  const bool ipv6 = address.find(':') != std::string::npos;
  return (ipv6 ? "[" + address + "]" : address) + ":" + std::to_string(port);
}

}  // namespace skyrazor
