#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

#include <boost/beast/core.hpp>
#include <boost/beast/websocket.hpp>
#include "console/screen.h"
#include "console/seam.h"

#include "platform/network/boost_asio.h"
#include "platform/network/join_client.h"
#include "platform/network/listener.h"
#include "platform/network/message_decoder.h"
#include "server/game_server.h"
#include "server/metrics.h"
#include "server/web_face.h"

// A server of rooms over the loopback, each room's game a small stand-in
// that shows what its first keyboard typed; the terminals are JoinClients.
namespace skyrazor::network {
namespace {

using namespace std::chrono_literals;

constexpr std::chrono::milliseconds kPatience{3000};

// Shows the first keyboard's keys on the top row, until the room ends it;
// from a key '[' to a key ']' it plays a two-person match, pilot 2's
// keyboard read all along. A key '{' begins a duel (shown as '+' when it
// began, '-' when it could not), '}' ends it after two frames.
std::string showTypedKeys(Room& room) {
  Screen screen(80, 25);
  room.publish(screen, false);
  std::string shown;
  try {
    for (;;) {
      InboxKeySource& keys = room.firstKeys();
      std::string typed;
      keys.takeTyped(typed, keys.waitForInput());
      for (char key : typed) {
        if (key == '[' || key == ']') {
          room.expectKeys(key == '[');
          // What a lobby is told of it, with a name no row could show as it is.
          room.tellFacts(key == ']' ? GameFacts{}
                                    : GameFacts{GameFacts::Activity::TwoPersonBattle,
                                                "Ann\x1b[2Jis-a-long-name", "Bob", 3, 2, 0, 0});
        }
        if (key == '{') {
          key = room.beginDuel(8, 0, "state") ? '+' : '-';
        } else if (key == '}') {
          room.endDuel(2);
        }
        screen.setCell(static_cast<int>(shown.size() % 80), 0,
                       Cell{static_cast<unsigned char>(key), 7});
        shown += key;
      }
      room.publish(screen, false);
    }
  } catch (const SessionEnded&) {
  }
  return "showed " + std::to_string(shown.size()) + " keys";
}

// The server on a thread of its own, its log kept for the test to read.
class RunningServer {
 public:
  explicit RunningServer(ServerOptions options)
      : server_(std::move(options), showTypedKeys, [this](const std::string& line) { log(line); }),
        thread_([this] { server_.serveUntilStopped(); }) {}
  ~RunningServer() { stop(); }

  std::uint16_t port() const { return server_.port(); }
  void stop() {
    if (thread_.joinable()) {
      server_.stop();
      thread_.join();
    }
  }
  bool logged(const std::string& text) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, kPatience, [&] {
      for (const std::string& line : lines_) {
        if (line.find(text) != std::string::npos) {
          return true;
        }
      }
      return false;
    });
  }

 private:
  void log(const std::string& line) {
    std::lock_guard lock(mutex_);
    lines_.push_back(line);
    changed_.notify_all();
  }

  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::string> lines_;
  GameServer server_;
  std::thread thread_;
};

ServerOptions quickServer() {
  ServerOptions options;
  options.address = "127.0.0.1";
  options.heartbeatPeriod = 100ms;
  return options;
}

std::unique_ptr<JoinClient> join(std::uint16_t port, const std::string& room,
                                 Role role = Role::Pilot, RoomWanted wanted = RoomWanted::Named) {
  JoinOptions options;
  options.host = "127.0.0.1";
  options.port = port;
  options.role = role;
  options.roomName = room;
  options.roomWanted = wanted;
  options.connectLimit = kPatience;
  options.answerLimit = kPatience;
  return std::make_unique<JoinClient>(options);
}

// Waits, without spinning, until the client's state satisfies `done`.
bool awaitState(JoinClient& client, const std::function<bool(const JoinState&)>& done) {
  std::mutex mutex;
  std::condition_variable news;
  client.onNews([&] { news.notify_all(); });
  std::unique_lock lock(mutex);
  const bool reached = news.wait_for(lock, kPatience, [&] { return done(client.state()); });
  client.onNews({});
  return reached;
}

bool shows(JoinClient& client, const std::string& text) {
  Screen picture(80, 25);
  return awaitState(client, [&](const JoinState&) {
    client.takePicture(picture);
    std::string row;
    for (int column = 0; column < 80; ++column) {
      row += static_cast<char>(picture.cell(column, 0).byte);
    }
    return row.find(text) != std::string::npos;
  });
}

TEST(GameServer, SeatsARoomsTerminalsInTurnAndHandsTheFirstKeyboardOn) {
  RunningServer server(quickServer());
  auto host = join(server.port(), "");
  const JoinState hosting = host->awaitAnswer();
  ASSERT_EQ(hosting.phase, JoinState::Phase::Joined);
  EXPECT_EQ(hosting.seat, Role::RoomHost);
  ASSERT_EQ(hosting.roomName.size(), 6u);
  const std::string room = hosting.roomName;

  auto pilot = join(server.port(), room);
  EXPECT_EQ(pilot->awaitAnswer().seat, Role::Pilot);
  auto watcher = join(server.port(), room, Role::Watcher);
  EXPECT_EQ(watcher->awaitAnswer().seat, Role::Watcher);
  // Everyone in the room is told who else sits in it, the host included.
  const RoomSeats pilotAndOneWatcher{true, 1};
  EXPECT_TRUE(awaitState(
      *host, [&](const JoinState& state) { return state.roomSeats == pilotAndOneWatcher; }));
  EXPECT_TRUE(awaitState(
      *watcher, [&](const JoinState& state) { return state.roomSeats == pilotAndOneWatcher; }));
  // Another room is a game of its own: its keys show in it alone.
  auto other = join(server.port(), "Other-Room", Role::Pilot, RoomWanted::NewNamed);
  EXPECT_EQ(other->awaitAnswer().roomName, "other-room");
  other->sendKeys("elsewhere");
  EXPECT_TRUE(shows(*other, "elsewhere"));

  host->sendKeys("ab");
  EXPECT_TRUE(shows(*watcher, "ab"));
  host.reset();
  EXPECT_TRUE(
      awaitState(*pilot, [](const JoinState& state) { return state.seat == Role::RoomHost; }));
  pilot->sendKeys("cd");
  EXPECT_TRUE(shows(*watcher, "abcd"));
  EXPECT_TRUE(server.logged("room " + room + ": 127.0.0.1 moved up to host"));
  EXPECT_TRUE(awaitState(*watcher, [](const JoinState& state) {
    return state.roomSeats == RoomSeats{false, 1};  // the watcher asked only to watch
  }));

  // A watcher asks only for rooms that are there.
  auto lost = join(server.port(), "nowhere", Role::Watcher);
  const JoinState refused = lost->awaitAnswer();
  EXPECT_EQ(refused.phase, JoinState::Phase::Ended);
  EXPECT_NE(refused.endReason.find("There is no room nowhere"), std::string::npos);

  // The last terminal out closes the room, and its game ends.
  pilot.reset();
  watcher.reset();
  EXPECT_TRUE(server.logged("room " + room + " closed (showed 4 keys)"));
}

// When the room's host leaves mid-match, nobody's ship changes hands: pilot 2
// flies the right ship on, a watcher stands in for the left one, and pilot 2
// moves up only once the match is over.
TEST(GameServer, KeepsEveryShipInItsHandsUntilTheMatchIsOver) {
  RunningServer server(quickServer());
  auto host = join(server.port(), "duel", Role::Pilot, RoomWanted::NewNamed);
  ASSERT_EQ(host->awaitAnswer().seat, Role::RoomHost);
  auto pilot = join(server.port(), "duel");
  ASSERT_EQ(pilot->awaitAnswer().seat, Role::Pilot);
  auto watcher = join(server.port(), "duel");
  ASSERT_EQ(watcher->awaitAnswer().seat, Role::Watcher);
  host->sendKeys("[");
  ASSERT_TRUE(shows(*watcher, "["));

  host.reset();
  EXPECT_TRUE(
      awaitState(*watcher, [](const JoinState& state) { return state.seat == Role::RoomHost; }));
  EXPECT_EQ(pilot->state().seat, Role::Pilot);
  watcher->sendKeys("x]");
  EXPECT_TRUE(shows(*pilot, "[x]"));
  EXPECT_TRUE(
      awaitState(*pilot, [](const JoinState& state) { return state.seat == Role::RoomHost; }));
  EXPECT_TRUE(
      awaitState(*watcher, [](const JoinState& state) { return state.seat == Role::Pilot; }));
}

std::vector<DuelMessage> awaitDuelMessages(JoinClient& client, std::size_t count) {
  std::vector<DuelMessage> received;
  awaitState(client, [&](const JoinState&) {
    client.takeDuelMessages(received);
    return received.size() >= count;
  });
  return received;
}

// Both pilots at terminals of the duel's version: each is handed the battle,
// each one's keys reach the other straight from the server's thread, and
// the room's picture comes back whole when the duel is over.
TEST(GameServer, PassesEachDuelTerminalsKeysOnToTheOther) {
  RunningServer server(quickServer());
  auto host = join(server.port(), "duel", Role::Pilot, RoomWanted::NewNamed);
  ASSERT_EQ(host->awaitAnswer().seat, Role::RoomHost);
  auto pilot = join(server.port(), "duel");
  ASSERT_EQ(pilot->awaitAnswer().seat, Role::Pilot);
  ASSERT_TRUE(awaitState(*host, [](const JoinState& state) {
    return state.roomSeats && state.roomSeats->pilotSeated;
  }));
  host->sendKeys("{");
  EXPECT_EQ(awaitDuelMessages(*host, 1), (std::vector<DuelMessage>{BattleStart{0, 8, 0, "state"}}));
  EXPECT_EQ(awaitDuelMessages(*pilot, 1),
            (std::vector<DuelMessage>{BattleStart{1, 8, 0, "state"}}));
  EXPECT_TRUE(server.logged("room duel: a duel began at frame 0"));

  const FrameKeys left{1, 20, {FrameKey{true, 'a'}}};
  const FrameKeys right{1, 35, {FrameKey{false, 0}, FrameKey{true, 'b'}}};
  host->sendFrameKeys(left);
  pilot->sendFrameKeys(right);
  pilot->sendChecksums(FrameChecksums{1, {7}});  // the game's, never passed on
  EXPECT_EQ(awaitDuelMessages(*pilot, 1), std::vector<DuelMessage>{left});
  EXPECT_EQ(awaitDuelMessages(*host, 1), std::vector<DuelMessage>{right});

  host->sendKeys("}");
  EXPECT_EQ(awaitDuelMessages(*host, 1), std::vector<DuelMessage>{BattleOver{2}});
  EXPECT_EQ(awaitDuelMessages(*pilot, 1), std::vector<DuelMessage>{BattleOver{2}});
  EXPECT_TRUE(server.logged("room duel: a duel ended after 2 frames"));
  // Sent no picture while its duel lasted, a pilot is sent the whole one after.
  EXPECT_TRUE(shows(*pilot, "+"));
  EXPECT_EQ(host->state().phase, JoinState::Phase::Joined);
  EXPECT_EQ(pilot->state().phase, JoinState::Phase::Joined);
}

// A room is joined only by its name; a new one is opened only under a free
// name, so that a mistyped name never seats a friend alone in an empty room.
TEST(GameServer, RefusesRoomsThatAreNotThereAndNamesThatAreTaken) {
  RunningServer server(quickServer());
  auto host = join(server.port(), "ttqn9y", Role::Pilot, RoomWanted::NewNamed);
  ASSERT_EQ(host->awaitAnswer().phase, JoinState::Phase::Joined);
  const JoinState mistyped = join(server.port(), "ttqn9v")->awaitAnswer();
  EXPECT_EQ(mistyped.phase, JoinState::Phase::Ended);
  EXPECT_EQ(mistyped.endReason, "the server refused: There is no room ttqn9v");
  const JoinState taken =
      join(server.port(), "TTQN9Y", Role::Pilot, RoomWanted::NewNamed)->awaitAnswer();
  EXPECT_EQ(taken.endReason,
            "the server refused: There is a room ttqn9y already; choose another name");
}

// What a lobby holds once the server has told it something.
LobbyListing awaitListing(JoinClient& lobby, const std::function<bool(const LobbyListing&)>& done) {
  LobbyListing listing;
  awaitState(lobby, [&](const JoinState&) {
    lobby.takeLobby(listing);
    return done(listing);
  });
  return listing;
}

// Strangers meet through quick match: the first opens a listed room, the
// next is seated in it as pilot 2, and a lobby lists it with what its game is
// doing; rooms opened by name or as private ones are never listed nor offered.
TEST(GameServer, QuickMatchSeatsStrangersTogetherInARoomTheLobbyLists) {
  RunningServer server(quickServer());
  auto hidden = join(server.port(), "secret", Role::Pilot, RoomWanted::NewNamed);
  ASSERT_EQ(hidden->awaitAnswer().seat, Role::RoomHost);
  auto unlisted = join(server.port(), "");
  ASSERT_EQ(unlisted->awaitAnswer().seat, Role::RoomHost);

  auto lobby = join(server.port(), "", Role::Lobby);
  ASSERT_EQ(lobby->awaitAnswer().seat, Role::Lobby);
  lobby->viewLobby(LobbyView{0, 10});
  auto first = join(server.port(), "", Role::Pilot, RoomWanted::QuickMatch);
  const JoinState opened = first->awaitAnswer();
  ASSERT_EQ(opened.seat, Role::RoomHost);
  auto second = join(server.port(), "", Role::Pilot, RoomWanted::QuickMatch);
  const JoinState met = second->awaitAnswer();
  EXPECT_EQ(met.seat, Role::Pilot);
  EXPECT_EQ(met.roomName, opened.roomName);
  auto third = join(server.port(), "", Role::Pilot, RoomWanted::QuickMatch);
  const JoinState waiting = third->awaitAnswer();
  EXPECT_EQ(waiting.seat, Role::RoomHost);
  EXPECT_NE(waiting.roomName, opened.roomName);

  first->sendKeys("[");
  LobbyListing listing = awaitListing(*lobby, [](const LobbyListing& shown) {
    return shown.listed == 2 && shown.rows.size() == 2 &&
           shown.rows.at(0).room.activity == RoomActivity::TwoPersonBattle;
  });
  ASSERT_EQ(listing.rows.size(), 2u);
  const ListedRoom& duel = listing.rows.at(0).room;
  EXPECT_EQ(duel.name, opened.roomName);
  EXPECT_EQ(duel.leftPilot, "Ann?[2Jis-a-long");
  EXPECT_EQ(duel.rightPilot, "Bob");
  EXPECT_EQ(duel.leftHitPoints, 3);
  EXPECT_FALSE(duel.pilot2Free);
  EXPECT_EQ(listing.rows.at(1).room.name, waiting.roomName);
  EXPECT_TRUE(listing.rows.at(1).room.pilot2Free);

  // The room that waits the longest is the next quick match's; a closed one
  // leaves the listing.
  auto fourth = join(server.port(), "", Role::Pilot, RoomWanted::QuickMatch);
  EXPECT_EQ(fourth->awaitAnswer().roomName, waiting.roomName);
  first.reset();
  second.reset();
  listing = awaitListing(*lobby, [](const LobbyListing& shown) { return shown.listed == 1; });
  ASSERT_EQ(listing.rows.size(), 1u);
  EXPECT_EQ(listing.rows.at(0).room.name, waiting.roomName);
  EXPECT_FALSE(listing.rows.at(0).room.pilot2Free);
}

// A browser's request on the server's port, answered and closed: the whole
// answer, headers and body.
std::string httpAnswer(std::uint16_t port, const std::string& request) {
  asio::io_context io;
  asio::ip::tcp::socket socket(io);
  socket.connect({asio::ip::make_address("127.0.0.1"), port});
  asio::write(socket, asio::buffer(request));
  std::string answer;
  boost::system::error_code error;
  asio::read(socket, asio::dynamic_buffer(answer), error);
  return answer;
}

std::string headerOf(const std::string& answer, const std::string& name) {
  const std::size_t at = answer.find("\r\n" + name + ": ");
  if (at == std::string::npos) {
    return "";
  }
  const std::size_t start = at + name.size() + 4;
  return answer.substr(start, answer.find("\r\n", start) - start);
}

// The same port answers browsers: the page with a fresh nonce that only its
// own script and style carry, the listed rooms as JSON, and nothing else;
// terminals are seated as before.
TEST(GameServer, AnswersABrowsersRequestsOnTheTerminalsPort) {
  RunningServer server(quickServer());
  auto listed = join(server.port(), "", Role::Pilot, RoomWanted::NewListed);
  const std::string room = listed->awaitAnswer().roomName;
  ASSERT_FALSE(room.empty());

  const std::string page = httpAnswer(server.port(), "GET /w/" + room + " HTTP/1.1\r\n\r\n");
  EXPECT_EQ(page.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << page.substr(0, 200);
  const std::string policy = headerOf(page, "Content-Security-Policy");
  const std::size_t nonceAt = policy.find("'nonce-");
  ASSERT_NE(nonceAt, std::string::npos) << policy;
  const std::string nonce =
      policy.substr(nonceAt + 7, policy.find('\'', nonceAt + 7) - nonceAt - 7);
  EXPECT_NE(page.find("<script nonce=\"" + nonce + "\">"), std::string::npos);
  EXPECT_EQ(page.find("{{NONCE}}"), std::string::npos);
  EXPECT_EQ(headerOf(page, "X-Content-Type-Options"), "nosniff");
  EXPECT_NE(policy.find("frame-ancestors 'none'"), std::string::npos);
  const std::string again = httpAnswer(server.port(), "GET / HTTP/1.1\r\n\r\n");
  EXPECT_NE(headerOf(again, "Content-Security-Policy"), policy) << "a nonce used twice";

  const std::string rooms = httpAnswer(server.port(), "GET /rooms.json HTTP/1.1\r\n\r\n");
  EXPECT_EQ(headerOf(rooms, "Content-Type"), "application/json");
  EXPECT_NE(rooms.find("[{\"name\":\"" + room + "\",\"activity\":\"menus\",\"pilots\":[]"),
            std::string::npos)
      << rooms;
  EXPECT_NE(rooms.find("\"pilot2Free\":true,\"watchers\":0"), std::string::npos) << rooms;

  EXPECT_EQ(httpAnswer(server.port(), "POST / HTTP/1.1\r\nContent-Length: 0\r\n\r\n")
                .rfind("HTTP/1.1 405", 0),
            0u);
  EXPECT_EQ(httpAnswer(server.port(), "GET /etc/passwd HTTP/1.1\r\n\r\n").rfind("HTTP/1.1 404", 0),
            0u);
  EXPECT_EQ(httpAnswer(server.port(), "GET /w/no%20room HTTP/1.1\r\n\r\n").rfind("HTTP/1.1 404", 0),
            0u);
  EXPECT_EQ(httpAnswer(server.port(),
                       "GET / HTTP/1.1\r\nX-Padding: " + std::string(9000, 'x') + "\r\n\r\n")
                .rfind("HTTP/1.1 431", 0),
            0u);
  // Terminals still come in by the same door.
  auto pilot = join(server.port(), room);
  EXPECT_EQ(pilot->awaitAnswer().seat, Role::Pilot);
}

// A browser's WebSocket to the server, as its page opens it.
class BrowserSeat {
 public:
  BrowserSeat(std::uint16_t port, const std::string& origin, const std::string& forwardedFor = "")
      : webSocket_(io_) {
    webSocket_.next_layer().connect({asio::ip::make_address("127.0.0.1"), port});
    webSocket_.set_option(boost::beast::websocket::stream_base::decorator(
        [origin, forwardedFor](boost::beast::websocket::request_type& request) {
          request.set(boost::beast::http::field::origin, origin);
          if (!forwardedFor.empty()) {
            request.set("X-Forwarded-For", forwardedFor);
          }
        }));
    webSocket_.handshake("127.0.0.1:" + std::to_string(port), "/ws", error_);
    webSocket_.binary(true);
  }
  const boost::system::error_code& error() const { return error_; }
  void send(const Message& message) {
    std::string frame;
    ASSERT_TRUE(encodeMessage(message, frame));
    webSocket_.write(asio::buffer(frame));
  }
  void sendBytes(const std::string& bytes) { webSocket_.write(asio::buffer(bytes), error_); }
  // The next message, each WebSocket message read as one whole frame.
  std::optional<Message> receive() {
    boost::beast::flat_buffer buffer;
    webSocket_.read(buffer, error_);
    if (error_) {
      return std::nullopt;
    }
    MessageDecoder decoder;
    const auto data = buffer.cdata();
    const std::string_view bytes(static_cast<const char*>(data.data()), data.size());
    EXPECT_EQ(decoder.feed(bytes), bytes.size());
    DecodeStep step = decoder.next();
    if (auto* message = std::get_if<Message>(&step)) {
      return *message;
    }
    ADD_FAILURE() << "not one whole frame";
    return std::nullopt;
  }
  boost::beast::websocket::close_reason closeReason() const { return webSocket_.reason(); }

 private:
  asio::io_context io_;
  boost::beast::websocket::stream<asio::ip::tcp::socket> webSocket_;
  boost::system::error_code error_;
};

// A browser takes a seat through the page's WebSocket, one frame a message,
// as a terminal would; a page of another site may not, and a message over
// its bound closes that browser alone.
TEST(GameServer, SeatsABrowserFromItsOwnPagesWebSocketOnly) {
  RunningServer server(quickServer());
  const std::string ownOrigin = "http://127.0.0.1:" + std::to_string(server.port());
  auto host = join(server.port(), "duel", Role::Pilot, RoomWanted::NewNamed);
  ASSERT_EQ(host->awaitAnswer().seat, Role::RoomHost);

  BrowserSeat browser(server.port(), ownOrigin);
  ASSERT_FALSE(browser.error()) << browser.error().message();
  browser.send(Hello{kProtocolVersion, Role::Pilot, "", "duel", RoomWanted::Named, ""});
  std::optional<Message> welcome = browser.receive();
  ASSERT_TRUE(welcome && std::holds_alternative<Welcome>(*welcome));
  EXPECT_EQ(std::get<Welcome>(*welcome).role, Role::Pilot);
  EXPECT_TRUE(awaitState(*host, [](const JoinState& state) {
    return state.roomSeats && state.roomSeats->pilotSeated;
  }));
  for (int read = 0; read < 3; ++read) {
    std::optional<Message> next = browser.receive();
    ASSERT_TRUE(next);
    if (std::holds_alternative<WholeScreen>(*next)) {
      break;
    }
  }

  BrowserSeat stranger(server.port(), "http://elsewhere.invalid");
  EXPECT_TRUE(stranger.error()) << "a page of another site opened a seat";

  browser.sendBytes(std::string(2000, 'x'));
  while (browser.receive()) {
  }
  EXPECT_EQ(browser.closeReason().code, boost::beast::websocket::close_code::too_big);
  EXPECT_TRUE(awaitState(*host, [](const JoinState& state) {
    return state.roomSeats && !state.roomSeats->pilotSeated;
  }));
  EXPECT_EQ(host->state().phase, JoinState::Phase::Joined);

  // Behind a trusted proxy, a browser is where the proxy says, and a page at
  // the public origin given may open seats.
  ServerOptions proxied = quickServer();
  proxied.trustedProxy = "127.0.0.1";
  proxied.webOrigin = "https://play.example.org";
  RunningServer behindProxy(proxied);
  auto proxiedHost = join(behindProxy.port(), "duel", Role::Pilot, RoomWanted::NewNamed);
  ASSERT_EQ(proxiedHost->awaitAnswer().seat, Role::RoomHost);
  BrowserSeat forwarded(behindProxy.port(), "https://play.example.org", "127.0.0.7, 127.0.0.9");
  ASSERT_FALSE(forwarded.error()) << forwarded.error().message();
  forwarded.send(Hello{kProtocolVersion, Role::Pilot, "", "duel", RoomWanted::Named, ""});
  EXPECT_TRUE(forwarded.receive());
  EXPECT_TRUE(behindProxy.logged("room duel: 127.0.0.9 joined as pilot 2"));
}

// Wrong room names hold back further guesses from their address, never a
// new room; and a player who came in over ssh is held to their own address,
// which only the server's local socket may say.
TEST(GameServer, HoldsBackOnlyGuessesAndOnlyFromTheGuessersOwnAddress) {
  if (!Listener::hasLocalSockets()) {
    GTEST_SKIP() << "no ssh entrance on this system: it has no local sockets";
  }
  ServerOptions options = quickServer();
  options.wrongGuessDelay = 1ms;
  options.localSocket = ::testing::TempDir() + "skyrazor-ssh-" + std::to_string(::getpid());
  RunningServer server(options);
  auto overSsh = [&](const std::string& playerAddress, const std::string& room) {
    JoinOptions joining;
    joining.localSocket = options.localSocket;
    joining.playerAddress = playerAddress;
    joining.roomName = room;
    joining.connectLimit = kPatience;
    joining.answerLimit = kPatience;
    return std::make_unique<JoinClient>(joining);
  };
  for (int guess = 0; guess < 10; ++guess) {
    EXPECT_EQ(overSsh("127.0.0.9", "wrong")->awaitAnswer().phase, JoinState::Phase::Ended);
  }
  EXPECT_NE(overSsh("127.0.0.9", "wrong")->awaitAnswer().endReason.find("Too many wrong guesses"),
            std::string::npos);
  auto newRoom = overSsh("127.0.0.9", "");
  EXPECT_EQ(newRoom->awaitAnswer().phase, JoinState::Phase::Joined);
  auto fromHere = join(server.port(), newRoom->state().roomName);
  EXPECT_EQ(fromHere->awaitAnswer().seat, Role::Pilot);
  EXPECT_TRUE(server.logged("127.0.0.9 (ssh) joined as host"));

  JoinOptions pretending;
  pretending.host = "127.0.0.1";
  pretending.port = server.port();
  pretending.playerAddress = "127.0.0.8";
  pretending.connectLimit = kPatience;
  pretending.answerLimit = kPatience;
  EXPECT_NE(JoinClient(pretending)
                .awaitAnswer()
                .endReason.find("Only the server's own ssh entrance says where a player is"),
            std::string::npos);
}

TEST(GameServer, TellsARefusedTerminalWhichLimitItMet) {
  ServerOptions options = quickServer();
  options.mostRooms = 1;
  options.mostPerAddress = 2;
  RunningServer server(options);
  auto first = join(server.port(), "one", Role::Pilot, RoomWanted::NewNamed);
  ASSERT_EQ(first->awaitAnswer().phase, JoinState::Phase::Joined);
  auto second = join(server.port(), "two", Role::Pilot, RoomWanted::NewNamed);
  EXPECT_NE(second->awaitAnswer().endReason.find("as many rooms as it takes (1)"),
            std::string::npos);
  second.reset();
  auto pilot = join(server.port(), "one");
  ASSERT_EQ(pilot->awaitAnswer().phase, JoinState::Phase::Joined);
  auto third = join(server.port(), "one");
  EXPECT_NE(third->awaitAnswer().endReason.find("Too many terminals from your address (at most 2"),
            std::string::npos);
}

// /metrics answers this machine and the addresses it was told of; behind
// the trusted proxy, by the address the proxy forwards, never by the proxy's
// own. Its gauges and counters follow the server's rooms and refusals.
TEST(GameServer, AnswersMetricsOnlyToThisMachineAndThoseAllowed) {
  ServerOptions options = quickServer();
  options.trustedProxy = "127.0.0.1";
  options.metricsFrom = {"198.51.100.7"};
  RunningServer server(options);
  auto pilot = join(server.port(), "", Role::Pilot, RoomWanted::NewListed);
  ASSERT_EQ(pilot->awaitAnswer().phase, JoinState::Phase::Joined);
  auto stranger = join(server.port(), "nowhere");
  ASSERT_EQ(stranger->awaitAnswer().phase, JoinState::Phase::Ended);

  const auto metricsFor = [&server](const std::string& forwardedFor) {
    return httpAnswer(
        server.port(),
        "GET /metrics HTTP/1.1\r\n" +
            (forwardedFor.empty() ? std::string() : "X-Forwarded-For: " + forwardedFor + "\r\n") +
            "\r\n");
  };
  const std::string local = metricsFor("");
  ASSERT_EQ(local.rfind("HTTP/1.1 200", 0), 0u) << local.substr(0, 200);
  EXPECT_EQ(headerOf(local, "Content-Type"), "text/plain; version=0.0.4; charset=utf-8");
  EXPECT_NE(local.find("\nskyrazor_rooms 1\n"), std::string::npos) << local;
  EXPECT_NE(local.find("\nskyrazor_seats{kind=\"terminal\",seat=\"pilot\"} 1\n"),
            std::string::npos);
  EXPECT_NE(local.find("\nskyrazor_refusals_total{reason=\"no_such_room\"} 1\n"),
            std::string::npos);
  EXPECT_EQ(local.find("\nskyrazor_sent_bytes_total 0\n"), std::string::npos)
      << "the pilot's welcome went uncounted";
#if defined(__linux__)
  // The process's own figures come from /proc, which only Linux has.
  EXPECT_NE(local.find("\nprocess_resident_memory_bytes "), std::string::npos);
#endif

  EXPECT_EQ(metricsFor("203.0.113.9").rfind("HTTP/1.1 403", 0), 0u);
  EXPECT_EQ(metricsFor("198.51.100.7, 203.0.113.9").rfind("HTTP/1.1 403", 0), 0u);
  EXPECT_EQ(metricsFor("nobody").rfind("HTTP/1.1 403", 0), 0u);
  EXPECT_EQ(metricsFor("203.0.113.9, 198.51.100.7").rfind("HTTP/1.1 200", 0), 0u);
}

TEST(Metrics, AllowsThisMachineAndTheAddressesGivenWhicheverWayWritten) {
  struct Case {
    const char* address;
    std::vector<std::string> allowed;
    bool may;
  };
  const std::vector<Case> cases{
      {"127.0.0.1", {}, true},
      {"127.8.0.3", {}, true},
      {"::1", {}, true},
      {"2001:db8::1", {"192.0.2.1", "2001:0db8:0:0::1"}, true},
      {"2001:db8::2", {"2001:db8::1"}, false},
      {"203.0.113.9", {}, false},
      {"an unknown address", {"an unknown address"}, false},
  };
  for (const Case& each : cases) {
    EXPECT_EQ(mayReadMetrics(each.address, each.allowed), each.may) << each.address;
  }
}

// Every family has its HELP and TYPE first; a histogram's buckets add up,
// end at +Inf and agree with its count; the process's own figures are left
// out where the system does not tell them.
TEST(Metrics, WritesPrometheusTextFormat) {
  MetricFigures figures;
  figures.rooms = 3;
  figures.lobbyVisitors = 2;
  figures.seats.browserWatchers = 4;
  figures.refusals = {{"room_full", 5}, {"origin_refused", 0}};
  figures.frameBounds = {0.049, 0.051};
  figures.frameCounts = {1, 6, 2};
  figures.frameSumSeconds = 0.45;
  figures.sentBytes = 12345678901;
  const std::string text = metricsText(figures);
  EXPECT_NE(text.find("# HELP skyrazor_rooms "), std::string::npos);
  EXPECT_NE(text.find("\n# TYPE skyrazor_rooms gauge\nskyrazor_rooms 3\n"), std::string::npos)
      << text;
  EXPECT_NE(text.find("\nskyrazor_lobbies 2\n"), std::string::npos);
  EXPECT_NE(text.find("\nskyrazor_seats{kind=\"browser\",seat=\"watcher\"} 4\n"),
            std::string::npos);
  EXPECT_NE(text.find("# TYPE skyrazor_refusals_total counter\n"
                      "skyrazor_refusals_total{reason=\"room_full\"} 5\n"
                      "skyrazor_refusals_total{reason=\"origin_refused\"} 0\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("# TYPE skyrazor_room_frame_period_seconds histogram\n"
                      "skyrazor_room_frame_period_seconds_bucket{le=\"0.049\"} 1\n"
                      "skyrazor_room_frame_period_seconds_bucket{le=\"0.051\"} 7\n"
                      "skyrazor_room_frame_period_seconds_bucket{le=\"+Inf\"} 9\n"
                      "skyrazor_room_frame_period_seconds_sum 0.45\n"
                      "skyrazor_room_frame_period_seconds_count 9\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("\nskyrazor_sent_bytes_total 12345678901\n"), std::string::npos);
  EXPECT_EQ(text.find("process_"), std::string::npos);
  EXPECT_EQ(text.back(), '\n');

  figures.process = ProcessFigures{1.5, 4096, 1.7e9};
  const std::string withProcess = metricsText(figures);
  EXPECT_NE(withProcess.find("# TYPE process_cpu_seconds_total counter\n"
                             "process_cpu_seconds_total 1.5\n"),
            std::string::npos);
  EXPECT_NE(withProcess.find("\nprocess_resident_memory_bytes 4096\n"), std::string::npos);
}

TEST(GameServer, StoppingTellsEveryTerminalAndEndsEveryGame) {
  RunningServer server(quickServer());
  auto host = join(server.port(), "");
  auto watcher = join(server.port(), host->awaitAnswer().roomName, Role::Watcher);
  ASSERT_EQ(watcher->awaitAnswer().phase, JoinState::Phase::Joined);
  server.stop();
  for (JoinClient* client : {host.get(), watcher.get()}) {
    EXPECT_TRUE(awaitState(
        *client, [](const JoinState& state) { return state.phase == JoinState::Phase::Ended; }));
    EXPECT_TRUE(client->state().endedByHost);
    EXPECT_EQ(client->state().endReason, kServerStoppedReason);
  }
  EXPECT_TRUE(server.logged("closed (showed 0 keys)"));
}

}  // namespace
}  // namespace skyrazor::network
