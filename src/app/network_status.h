#pragma once

#include <cstdint>
#include <string>

namespace skyrazor {

// How the network game's state reads on the player's screen, alike at the
// host and at a joined terminal.

// "round trip 0.3 ms", or "round trip -" until it is measured (-1).
std::string roundTripText(int microseconds);

// " - 2 watchers", or nothing when nobody watches.
std::string watchersText(int watchers);

// "ADDRESS:PORT", an IPv6 address in brackets ("[::1]:5151").
std::string endpointText(const std::string& address, std::uint16_t port);

// Stops a server or client (anything with onNews) waking the terminal before
// the terminal goes: declared after the terminal, it is gone before it.
template <typename NewsSource>
class NewsStop {
 public:
  explicit NewsStop(NewsSource& source) : source_(source) {}
  ~NewsStop() { source_.onNews(nullptr); }
  NewsStop(const NewsStop&) = delete;
  NewsStop& operator=(const NewsStop&) = delete;

 private:
  NewsSource& source_;
};

}  // namespace skyrazor
