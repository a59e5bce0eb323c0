#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <variant>
#include <vector>

#include "platform/network/boost_asio.h"
#include "platform/network/join_client.h"
#include "platform/network/wire_format.h"

// The joined terminal against a stand-in on the loopback that answers its
// hello as each case says: what the player is told, and how long the
// terminal waits for an answer.
namespace skyrazor::network {
namespace {

using namespace std::chrono_literals;
using std::chrono::milliseconds;

constexpr milliseconds kPatience{3000};

// Takes one connection, reads the hello, and after `hold` sends `answer`;
// with `vanish`, the connection then drops as if the host were killed,
// else at the next thing the terminal sends (its goodbye, say).
class StandIn {
 public:
  StandIn(const std::vector<Message>& answer, milliseconds hold, bool vanish)
      : acceptor_(io_, {asio::ip::make_address("127.0.0.1"), 0}),
        socket_(io_),
        timer_(io_),
        hold_(hold),
        vanish_(vanish) {
    for (const Message& message : answer) {
      EXPECT_TRUE(encodeMessage(message, bytes_));
    }
    acceptor_.async_accept(socket_, [this](const boost::system::error_code& error) {
      if (!error) {
        socket_.async_read_some(asio::buffer(read_), [this](const boost::system::error_code& error,
                                                            std::size_t) { onHello(error); });
      }
    });
    thread_ = std::thread([this] { io_.run(); });
  }
  ~StandIn() {
    io_.stop();
    thread_.join();
  }
  StandIn(const StandIn&) = delete;
  StandIn& operator=(const StandIn&) = delete;

  std::uint16_t port() const { return acceptor_.local_endpoint().port(); }

 private:
  void onHello(const boost::system::error_code& error) {
    if (error) {
      return;
    }
    timer_.expires_after(hold_);
    timer_.async_wait([this](const boost::system::error_code& error) {
      if (!error) {
        asio::async_write(socket_, asio::buffer(bytes_),
                          [this](const boost::system::error_code&, std::size_t) { onAnswered(); });
      }
    });
  }

  void onAnswered() {
    if (vanish_) {
      hangUp();
      return;
    }
    socket_.async_read_some(asio::buffer(read_),
                            [this](const boost::system::error_code&, std::size_t) { hangUp(); });
  }

  void hangUp() {
    boost::system::error_code ignored;
    socket_.close(ignored);
  }

  asio::io_context io_;
  asio::ip::tcp::acceptor acceptor_;
  asio::ip::tcp::socket socket_;
  asio::steady_timer timer_;
  std::array<char, 512> read_{};
  std::string bytes_;
  milliseconds hold_;
  bool vanish_;
  std::thread thread_;
};

JoinOptions joinOptions(std::uint16_t port, const std::string& room = "") {
  JoinOptions options;
  options.host = "127.0.0.1";
  options.port = port;
  options.roomName = room;
  options.connectLimit = kPatience;
  return options;
}

// Waits, without spinning, until the client has ended.
JoinState ended(JoinClient& client) {
  std::mutex mutex;
  std::condition_variable news;
  client.onNews([&] { news.notify_all(); });
  std::unique_lock lock(mutex);
  news.wait_for(lock, kPatience, [&] { return client.state().phase == JoinState::Phase::Ended; });
  client.onNews({});
  return client.state();
}

// After wrong codes a host holds even a right one's answer back, and a slow
// link adds its round trip on top: here a host that holds answers 400 ms
// at most, answering after 700 ms.
TEST(JoinClient, WaitsForAnAnswerHeldBackPlusTheLinksRoundTrip) {
  StandIn host({Welcome{Role::Pilot, 80, 25, ""}}, 700ms, false);
  JoinOptions options = joinOptions(host.port());
  options.answerLimit = 400ms;
  JoinClient client(options);
  const JoinState answer = client.awaitAnswer();
  EXPECT_EQ(answer.phase, JoinState::Phase::Joined) << answer.endReason;
}

// A terminal at a server says "server"; one that cannot tell yet names the
// address it was given.
TEST(JoinClient, NamesTheHostOrTheServerAsItKnowsIt) {
  struct Case {
    const char* what;
    std::string room;  // asked for by name
    Message answer;
    bool vanish;
    std::string told;
  };
  const std::vector<Case> cases{
      {"welcomed into a room, then the server killed", "", Welcome{Role::RoomHost, 80, 25, "duel"},
       true, "lost the connection to the server ("},
      {"welcomed at a host, then the host killed", "", Welcome{Role::Pilot, 80, 25, ""}, true,
       "lost the connection to the host ("},
      {"a room's game over", "", Goodbye{std::string(kGameEndedReason)}, false,
       "the room's game has ended"},
      {"refused for want of rooms", "",
       Refusal{RefusalReason::TooManyRooms, "The server has as many rooms as it takes"}, false,
       "the server refused: The server has as many rooms as it takes"},
      {"refused when a room was asked for", "duel",
       Refusal{RefusalReason::TooManyConnections, "Too many terminals"}, false,
       "the server refused: Too many terminals"},
      {"refused before it could tell", "",
       Refusal{RefusalReason::TooManyConnections, "Too many terminals"}, false,
       "127.0.0.1:PORT refused: Too many terminals"},
  };
  for (const Case& each : cases) {
    SCOPED_TRACE(each.what);
    std::vector<Message> answer{each.answer};
    if (std::holds_alternative<Goodbye>(each.answer)) {
      answer.insert(answer.begin(), Welcome{Role::Pilot, 80, 25, "duel"});
    }
    StandIn host(answer, 0ms, each.vanish);
    JoinClient client(joinOptions(host.port(), each.room));
    std::string told = each.told;
    if (const std::size_t port = told.find("PORT"); port != std::string::npos) {
      told.replace(port, 4, std::to_string(host.port()));
    }
    EXPECT_EQ(ended(client).endReason.substr(0, told.size()), told);
  }
}

}  // namespace
}  // namespace skyrazor::network
