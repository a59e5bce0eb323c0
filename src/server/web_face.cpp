#include "server/web_face.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <random>
#include <string_view>
#include <utility>

#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>

#include "console/cp437.h"
#include "platform/network/join_code.h"
#include "server/room.h"
#include "server/web/web_page.h"

namespace skyrazor::network {
namespace {

namespace beast = boost::beast;
namespace http = beast::http;

// How long a closing connection may take to read our answer.
constexpr std::chrono::milliseconds kLingerLimit{1000};

constexpr std::string_view kNoncePlaceholder = "{{NONCE}}";

// A fresh nonce for each page sent: the only script and style the page may
// run are the ones that carry it.
std::string freshNonce() {
  static constexpr char kDigits[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::random_device device;
  std::string nonce;
  for (int index = 0; index < 22; ++index) {
    nonce += kDigits[device() % 64];
  }
  return nonce;
}

std::string pageWithNonce(const std::string& nonce) {
  std::string page(webPage());
  for (std::size_t at = page.find(kNoncePlaceholder); at != std::string::npos;
       at = page.find(kNoncePlaceholder, at + nonce.size())) {
    page.replace(at, kNoncePlaceholder.size(), nonce);
  }
  return page;
}

// The page's addresses: the lobby, and a room's seat to watch or to take.
bool isPagePath(std::string_view path) {
  if (path == "/") {
    return true;
  }
  if (path.size() < 4 || path[0] != '/' || (path[1] != 'w' && path[1] != 'r') || path[2] != '/') {
    return false;
  }
  return !normalRoomName(std::string(path.substr(3))).empty();
}

void appendUtf8(std::string& out, char32_t code) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

// A JSON string of code-page bytes: each byte's glyph in UTF-8, with what
// JSON must escape escaped.
std::string jsonText(std::string_view bytes) {
  std::string out = "\"";
  for (char character : bytes) {
    const auto byte = static_cast<unsigned char>(character);
    if (byte == '"' || byte == '\\') {
      out += '\\';
      out += static_cast<char>(byte);
    } else if (byte < 0x20 || byte == 0x7F) {
      std::array<char, 8> escaped{};
      std::snprintf(escaped.data(), escaped.size(), "\\u%04x", byte);
      out += escaped.data();
    } else {
      appendUtf8(out, cp437ToUnicode(byte));
    }
  }
  return out + "\"";
}

const char* activityName(RoomActivity activity) {
  switch (activity) {
    case RoomActivity::TwoPersonBattle:
      return "two-person battle";
    case RoomActivity::ComputerBattle:
      return "computer battle";
    case RoomActivity::ArcadeRun:
      return "arcade run";
    case RoomActivity::Menus:
      break;
  }
  return "menus";
}

void addSecurityHeaders(http::response<http::string_body>& response) {
  response.set("X-Content-Type-Options", "nosniff");
  response.set("X-Frame-Options", "DENY");
  response.set("Referrer-Policy", "no-referrer");
  response.set(http::field::cache_control, "no-store");
}

}  // namespace

bool mayReadMetrics(const std::string& address, const std::vector<std::string>& allowed) {
  boost::system::error_code error;
  const asio::ip::address parsed = asio::ip::make_address(address, error);
  if (error) {
    return false;
  }
  if (parsed.is_loopback()) {
    return true;
  }
  return std::any_of(allowed.begin(), allowed.end(), [&parsed](const std::string& one) {
    boost::system::error_code wrong;
    const asio::ip::address other = asio::ip::make_address(one, wrong);
    return !wrong && other == parsed;
  });
}

std::string roomsJson(const std::vector<ListedRoom>& rooms) {
  std::string json = "[";
  for (const ListedRoom& room : rooms) {
    if (json.size() > 1) {
      json += ",";
    }
    std::string pilots;
    for (const std::string* pilot : {&room.leftPilot, &room.rightPilot}) {
      if (!pilot->empty()) {
        pilots += (pilots.empty() ? "" : ",") + jsonText(*pilot);
      }
    }
    const bool inBattle = room.activity == RoomActivity::TwoPersonBattle ||
                          room.activity == RoomActivity::ComputerBattle;
    json += "{\"name\":" + jsonText(room.name) + ",\"activity\":\"" + activityName(room.activity) +
            "\",\"pilots\":[" + pilots + "]";
    if (inBattle) {
      json += ",\"hitPoints\":[" + std::to_string(room.leftHitPoints) + "," +
              std::to_string(room.rightHitPoints) + "]";
    }
    if (room.activity == RoomActivity::ComputerBattle) {
      json += ",\"computerLevel\":" + std::to_string(room.computerLevel);
    }
    if (room.activity == RoomActivity::ArcadeRun) {
      json += ",\"arcadeWins\":" + std::to_string(room.arcadeWins);
    }
    json += std::string(",\"pilot2Free\":") + (room.pilot2Free ? "true" : "false") +
            ",\"watchers\":" + std::to_string(room.watchers) +
            ",\"openSeconds\":" + std::to_string(room.openSeconds) + "}";
  }
  return json + "]";
}

// One request and its answer, on a connection of its own.
class WebFace::Exchange : public std::enable_shared_from_this<Exchange> {
 public:
  Exchange(WebFace& face, Accepted accepted, std::string limitAddress)
      : face_(face),
        socket_(std::move(accepted.socket)),
        address_(std::move(accepted.address)),
        limitAddress_(std::move(limitAddress)),
        timer_(socket_.get_executor()) {}

  const std::string& limitAddress() const { return limitAddress_; }

  void start() {
    parser_.header_limit(static_cast<std::uint32_t>(face_.options_.mostHeaderBytes));
    timer_.expires_after(face_.options_.requestLimit);
    timer_.async_wait([self = shared_from_this()](const boost::system::error_code& error) {
      if (!error) {
        self->close();
      }
    });
    http::async_read(socket_, buffer_, parser_,
                     [self = shared_from_this()](const boost::system::error_code& error,
                                                 std::size_t) { self->onRequest(error); });
  }

  void close() {
    boost::system::error_code ignored;
    timer_.cancel();
    socket_.close(ignored);
    if (webSocket_) {
      beast::get_lowest_layer(*webSocket_).close(ignored);
    }
    if (!done_) {
      done_ = true;
      face_.finished(*this);
    }
  }

 private:
  void onRequest(const boost::system::error_code& error) {
    if (error == http::error::header_limit) {
      answer(http::status::request_header_fields_too_large, "text/plain", "Headers too large\n");
    } else if (error == asio::error::operation_aborted || error == http::error::end_of_stream ||
               error == asio::error::eof) {
      close();
    } else if (error) {
      answer(http::status::bad_request, "text/plain", "Bad request\n");
    } else {
      route(parser_.get());
    }
  }

  // Behind the reverse proxy it was told to trust, a browser is where the
  // proxy says (the last address of X-Forwarded-For, the one the proxy
  // added); from anywhere else, the header is the browser's own word and
  // counts for nothing.
  void believeProxy(const http::request<http::empty_body>& request) {
    if (face_.options_.trustedProxy.empty() || address_ != face_.options_.trustedProxy) {
      return;
    }
    const auto header = request.find("X-Forwarded-For");
    if (header == request.end()) {
      return;
    }
    // Whoever it forwards is not the proxy's machine, even when it names
    // nobody readable.
    forwarded_ = true;
    const std::string forwarded(header->value());
    std::string last = forwarded.substr(forwarded.rfind(',') + 1);
    last.erase(0, last.find_first_not_of(' '));
    last.erase(last.find_last_not_of(' ') + 1);
    if (isIpAddress(last)) {
      address_ = last;
      forwardedAddress_ = true;
    }
  }

  // The metrics tell how busy the server is and how it runs: for this
  // machine's own scraper and the addresses the server was told of. Behind
  // the trusted proxy it is the forwarded address that counts, or everyone
  // who comes through a proxy on this machine would read them.
  void answerMetrics() {
    const bool allowed =
        (!forwarded_ || forwardedAddress_) && mayReadMetrics(address_, face_.options_.metricsFrom);
    if (!allowed || !face_.metrics_) {
      answer(http::status::forbidden, "text/plain", "Metrics are not for your address\n");
      return;
    }
    answer(http::status::ok, "text/plain; version=0.0.4; charset=utf-8", face_.metrics_());
  }

  void route(const http::request<http::empty_body>& request) {
    believeProxy(request);
    const std::string_view target(request.target().data(), request.target().size());
    const bool known =
        target == "/rooms.json" || target == "/ws" || target == "/metrics" || isPagePath(target);
    if (!known) {
      answer(http::status::not_found, "text/plain", "Not found\n");
    } else if (request.method() != http::verb::get) {
      answer(http::status::method_not_allowed, "text/plain", "Only GET\n");
    } else if (target == "/ws") {
      openWebSocket(request);
    } else if (target == "/metrics") {
      answerMetrics();
    } else if (target == "/rooms.json") {
      answer(http::status::ok, "application/json", roomsJson(face_.listing_()));
    } else {
      const std::string nonce = freshNonce();
      answer(http::status::ok, "text/html; charset=utf-8", pageWithNonce(nonce),
             "default-src 'none'; script-src 'nonce-" + nonce + "'; style-src 'nonce-" + nonce +
                 "'; connect-src 'self'; img-src 'self'; base-uri 'none'; form-action 'none'; "
                 "frame-ancestors 'none'");
    }
  }

  // Only a page of this server's own (or of the origin it was told of) may
  // take a seat: another site's page would play with its visitor's address.
  bool fromOwnPage(const http::request<http::empty_body>& request) const {
    const std::string origin(request[http::field::origin]);
    const std::string host(request[http::field::host]);
    return !origin.empty() &&
           (origin == face_.options_.webOrigin ||
            (!host.empty() && (origin == "http://" + host || origin == "https://" + host)));
  }

  void openWebSocket(const http::request<http::empty_body>& request) {
    if (!beast::websocket::is_upgrade(request)) {
      answer(http::status::bad_request, "text/plain", "A WebSocket only\n");
      return;
    }
    if (!fromOwnPage(request)) {
      face_.countRefusal(RefusalKind::OriginRefused);
      answer(http::status::forbidden, "text/plain", "Not from this server's page\n");
      return;
    }
    webSocket_ = std::make_unique<WebSocketStream>(std::move(socket_));
    webSocket_->async_accept(request,
                             [self = shared_from_this()](const boost::system::error_code& error) {
                               self->timer_.cancel();
                               if (error) {
                                 self->close();
                                 return;
                               }
                               self->face_.seat_(std::move(self->webSocket_), self->address_);
                               self->close();
                             });
  }

  void answer(http::status status, const std::string& type, std::string body,
              const std::string& securityPolicy = "default-src 'none'; frame-ancestors 'none'") {
    response_.result(status);
    response_.version(11);
    response_.set(http::field::content_type, type);
    response_.set("Content-Security-Policy", securityPolicy);
    if (status == http::status::method_not_allowed) {
      response_.set(http::field::allow, "GET");
    }
    addSecurityHeaders(response_);
    response_.keep_alive(false);
    response_.body() = std::move(body);
    response_.prepare_payload();
    http::async_write(socket_, response_,
                      [self = shared_from_this()](const boost::system::error_code& error,
                                                  std::size_t) { self->linger(error); });
  }

  // The answer is out: our side is shut, and what the browser still sends
  // is read and dropped until it closes, so that closing never resets the
  // connection before the answer is read.
  void linger(const boost::system::error_code& error) {
    if (error) {
      close();
      return;
    }
    boost::system::error_code ignored;
    socket_.shutdown(asio::socket_base::shutdown_send, ignored);
    timer_.expires_after(kLingerLimit);
    drain();
  }

  void drain() {
    socket_.async_read_some(
        asio::buffer(dropped_),
        [self = shared_from_this()](const boost::system::error_code& error, std::size_t) {
          if (error) {
            self->close();
          } else {
            self->drain();
          }
        });
  }

  WebFace& face_;
  StreamSocket socket_;
  std::string address_;
  std::unique_ptr<WebSocketStream> webSocket_;  // once asked for, until seated
  std::string limitAddress_;
  asio::steady_timer timer_;
  beast::flat_buffer buffer_;
  http::request_parser<http::empty_body> parser_;
  http::response<http::string_body> response_;
  std::array<char, 512> dropped_{};
  bool done_ = false;
  bool forwarded_ = false;         // it came through the trusted proxy for someone
  bool forwardedAddress_ = false;  // and address_ is theirs
};

WebFace::WebFace(WebFaceOptions options, Listing listing, Seater seat, Metrics metrics)
    : options_(std::move(options)),
      listing_(std::move(listing)),
      seat_(std::move(seat)),
      metrics_(std::move(metrics)) {}

void WebFace::countRefusal(RefusalKind kind) {
  if (options_.counters != nullptr) {
    options_.counters->refused(kind);
  }
}

WebFace::~WebFace() {
  closeAll();
}

void WebFace::take(Accepted accepted) {
  const std::string limitAddress = guesserOf(accepted.address);
  // Every browser behind the trusted proxy comes from its address.
  const bool fromProxy =
      !options_.trustedProxy.empty() && accepted.address == options_.trustedProxy;
  if (exchanges_.size() >= options_.mostRequests ||
      (!fromProxy && requestsFrom_[limitAddress] >= options_.mostRequestsPerAddress)) {
    if (requestsFrom_[limitAddress] == 0) {
      requestsFrom_.erase(limitAddress);
    }
    countRefusal(RefusalKind::TooManyRequests);
    boost::system::error_code ignored;
    accepted.socket.close(ignored);
    return;
  }
  requestsFrom_[limitAddress] += 1;
  auto exchange = std::make_shared<Exchange>(*this, std::move(accepted), limitAddress);
  exchanges_.emplace(exchange.get(), exchange);
  exchange->start();
}

void WebFace::finished(const Exchange& exchange) {
  if (auto found = requestsFrom_.find(exchange.limitAddress());
      found != requestsFrom_.end() && --found->second == 0) {
    requestsFrom_.erase(found);
  }
  // Its handlers under way hold it until they have run.
  exchanges_.erase(&exchange);
}

void WebFace::closeAll() {
  const auto exchanges = exchanges_;
  for (const auto& [key, exchange] : exchanges) {
    exchange->close();
  }
}

}  // namespace skyrazor::network
