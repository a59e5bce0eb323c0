#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/network/boost_asio.h"
#include "platform/network/listener.h"
#include "platform/network/wire_format.h"
#include "server/server_counters.h"

namespace skyrazor::network {

struct WebFaceOptions {
  // Besides the server's own address (as the browser's Host names it), the
  // one origin whose pages may open a seat: a public name behind a proxy.
  std::string webOrigin;
  // The reverse proxy whose X-Forwarded-For is believed; empty: none.
  std::string trustedProxy;
  // Besides this machine's own (loopback) addresses, the addresses /metrics
  // answers; a browser behind the trusted proxy counts as the address it
  // forwards.
  std::vector<std::string> metricsFrom;
  // Where refused browsers are counted; none: nowhere.
  ServerCounters* counters = nullptr;
  // A request must be read whole within this.
  std::chrono::milliseconds requestLimit{5000};
  std::size_t mostHeaderBytes = 8 * 1024;
  // Requests being read or answered at once, in all and from one address.
  std::size_t mostRequests = 64;
  std::size_t mostRequestsPerAddress = 8;
};

// The server's face to browsers, on the port terminals use: a request's
// first bytes tell it from a terminal's hello. It answers only GET of its
// own few addresses (the page, for the lobby and for a room's seat, the
// listed rooms as JSON, and the metrics for this machine and the addresses
// it was told of), each on a connection of its own that closes after
// the answer, and opens the page's WebSocket (/ws) for the server's own
// pages only, handing it on to be seated as a terminal is; bounded in size,
// time and number. All on the network's thread.
class WebFace {
 public:
  // The listed rooms, oldest first, as the lobby has them.
  using Listing = std::function<const std::vector<ListedRoom>&()>;
  // Seats a browser whose WebSocket is open, as a terminal.
  using Seater = std::function<void(std::unique_ptr<WebSocketStream>, std::string address)>;
  // The server's metrics, as /metrics shows them.
  using Metrics = std::function<std::string()>;

  WebFace(WebFaceOptions options, Listing listing, Seater seat, Metrics metrics = {});
  WebFace(const WebFace&) = delete;
  WebFace& operator=(const WebFace&) = delete;
  ~WebFace();

  // A connection whose first byte starts an HTTP request.
  void take(Accepted accepted);
  // Lets every request under way go.
  void closeAll();

 private:
  class Exchange;
  void finished(const Exchange& exchange);
  void countRefusal(RefusalKind kind);

  WebFaceOptions options_;
  Listing listing_;
  Seater seat_;
  Metrics metrics_;
  std::map<const Exchange*, std::shared_ptr<Exchange>> exchanges_;
  std::map<std::string, std::size_t> requestsFrom_;
};

// The listed rooms as /rooms.json gives them: an array of objects, each
// with at least name, pilots, pilot2Free, watchers and openSeconds; pilots'
// names turned from the code page into UTF-8 and escaped.
std::string roomsJson(const std::vector<ListedRoom>& rooms);

// Whether /metrics answers a browser at `address`: this machine's own
// loopback addresses, or one of `allowed` (written either way, IPv6 short
// or long).
bool mayReadMetrics(const std::string& address, const std::vector<std::string>& allowed);

}  // namespace skyrazor::network
