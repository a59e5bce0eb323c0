#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "console/screen.h"
#include "platform/network/boost_asio.h"
#include "platform/network/join_client.h"
#include "platform/network/message_decoder.h"
#include "platform/network/network_error.h"
#include "platform/network/screen_updates.h"
#include "platform/network/wire_format.h"
#include "server/host_server.h"

// The host and the joined terminal over real sockets on the loopback, with
// their limits shortened so that every wait is a fraction of a second. The
// peer that misbehaves is a TestPeer speaking the wire format byte by byte.
namespace skyrazor::network {
namespace {

using namespace std::chrono_literals;
using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

// How long anything that should happen at once may take, on a loaded machine.
constexpr milliseconds kPatience{2000};

HostOptions quickHost() {
  HostOptions options;
  options.address = "127.0.0.1";
  options.joinCode = "ROCKET";
  options.helloLimit = 200ms;
  options.heartbeatPeriod = 100ms;
  options.silenceLimit = 5000ms;  // the test peers answer pings only while they read
  options.behindLimit = 300ms;
  options.mostQueuedBytes = 16 * 1024;
  options.wrongCodeDelay = 200ms;
  return options;
}

JoinOptions joinOptions(std::uint16_t port, const std::string& code, Role role = Role::Pilot) {
  JoinOptions options;
  options.host = "127.0.0.1";
  options.port = port;
  options.role = role;
  options.joinCode = code;
  options.connectLimit = kPatience;
  options.answerLimit = kPatience;
  options.heartbeatPeriod = 100ms;
  return options;
}

milliseconds since(Clock::time_point start) {
  return std::chrono::duration_cast<milliseconds>(Clock::now() - start);
}

bool samePicture(const Screen& shown, const Screen& host) {
  if (shown.columns() != host.columns() || shown.rows() != host.rows() ||
      cursorOf(shown) != cursorOf(host)) {
    return false;
  }
  for (int row = 0; row < host.rows(); ++row) {
    for (int column = 0; column < host.columns(); ++column) {
      if (shown.cell(column, row).byte != host.cell(column, row).byte ||
          shown.cell(column, row).attribute != host.cell(column, row).attribute) {
        return false;
      }
    }
  }
  return true;
}

// The game's picture at frame `frame`: every cell differs from the frame
// before, so that each one sent is as large as a picture gets.
Screen frameScreen(int frame) {
  Screen screen(80, 25);
  for (int row = 0; row < 25; ++row) {
    for (int column = 0; column < 80; ++column) {
      screen.setCell(column, row,
                     Cell{static_cast<unsigned char>('A' + (frame + row + column) % 26),
                          static_cast<std::uint16_t>(1 + frame % 15)});
    }
  }
  screen.placeCursor(frame % 80, frame % 25);
  return screen;
}

// The news the host or a joined terminal gives from its thread, to wait on
// without spinning. The condition is checked outside the lock the news is
// given under, since checking it takes the host's or terminal's own lock.
class News {
 public:
  std::function<void()> waker() {
    return [this] {
      std::lock_guard lock(mutex_);
      count_ += 1;
      arrived_.notify_all();
    };
  }

  bool waitUntil(const std::function<bool()>& done, milliseconds limit) {
    const Clock::time_point deadline = Clock::now() + limit;
    for (;;) {
      std::uint64_t seen = 0;
      {
        std::lock_guard lock(mutex_);
        seen = count_;
      }
      if (done()) {
        return true;
      }
      std::unique_lock lock(mutex_);
      if (!arrived_.wait_until(lock, deadline, [&] { return count_ != seen; })) {
        lock.unlock();
        return done();
      }
    }
  }

 private:
  std::mutex mutex_;
  std::condition_variable arrived_;
  std::uint64_t count_ = 0;
};

// A terminal of the tests' own on one connection, run on the test's thread:
// it sends what it is told, bytes or messages, and reads only when asked,
// answering the host's pings as it reads (unless told not to) and keeping
// the picture the host's screen messages leave it with.
class TestPeer {
 public:
  // A small receive buffer makes a peer that stops reading fall behind soon.
  // `from`, when given, is the loopback address the peer comes from.
  explicit TestPeer(std::uint16_t port, const std::string& address = "127.0.0.1",
                    int receiveBufferBytes = 0, const std::string& from = "")
      : socket_(io_) {
    const asio::ip::tcp::endpoint host(asio::ip::make_address(address), port);
    socket_.open(host.protocol());
    if (receiveBufferBytes > 0) {
      socket_.set_option(asio::socket_base::receive_buffer_size(receiveBufferBytes));
    }
    if (!from.empty()) {
      socket_.bind(asio::ip::tcp::endpoint(asio::ip::make_address(from), 0));
    }
    socket_.connect(host);
  }

  void sendBytes(std::string_view bytes) {
    boost::system::error_code ignored;  // a host that has closed is found when reading
    asio::write(socket_, asio::buffer(bytes.data(), bytes.size()), ignored);
  }

  void send(const Message& message) {
    std::string frame;
    ASSERT_TRUE(encodeMessage(message, frame));
    sendBytes(frame);
  }

  void sayHello(const std::string& code, Role role = Role::Pilot) {
    send(Hello{kProtocolVersion, role, code, "", RoomWanted::Named, ""});
  }

  // Says hello and takes the welcome and the whole screen after it.
  void join(const std::string& code, Role role = Role::Pilot) {
    sayHello(code, role);
    const std::optional<Welcome> welcome = receiveAs<Welcome>();
    ASSERT_TRUE(welcome);
    EXPECT_EQ(welcome->role, role);
    ASSERT_TRUE(receiveAs<WholeScreen>());
  }

  // The next message other than a ping, or nothing when none came within
  // `limit` or the connection closed.
  std::optional<Message> receive(milliseconds limit = kPatience) {
    const Clock::time_point deadline = Clock::now() + limit;
    for (;;) {
      while (std::optional<Message> message = decoded()) {
        if (const Ping* ping = std::get_if<Ping>(&*message)) {
          if (answersPings) {
            send(Pong{ping->timestamp});
          }
          continue;
        }
        takeNote(*message);
        return message;
      }
      if (closed_ || !readSome(deadline)) {
        return std::nullopt;
      }
    }
  }

  template <typename Kind>
  std::optional<Kind> receiveAs(milliseconds limit = kPatience) {
    std::optional<Message> message = receive(limit);
    if (!message) {
      ADD_FAILURE() << (closed_ ? "closed" : "nothing came") << " instead of message type "
                    << Message(Kind{}).index() + 1;
      return std::nullopt;
    }
    if (!std::holds_alternative<Kind>(*message)) {
      ADD_FAILURE() << "message type " << message->index() + 1 << " instead of "
                    << Message(Kind{}).index() + 1;
      return std::nullopt;
    }
    return std::get<Kind>(std::move(*message));
  }

  // Reads (and drops) whatever comes until the host closes the connection.
  bool closedWithin(milliseconds limit) {
    const Clock::time_point deadline = Clock::now() + limit;
    while (!closed_ && Clock::now() < deadline) {
      receive(std::chrono::duration_cast<milliseconds>(deadline - Clock::now()));
    }
    return closed_;
  }

  // A ping and its pong: everything sent before it has been read by the host.
  bool roundTrip() {
    const std::uint64_t token = ++pingsSent_;
    send(Ping{token});
    while (std::optional<Message> message = receive()) {
      if (const Pong* pong = std::get_if<Pong>(&*message); pong && pong->timestamp == token) {
        return true;
      }
    }
    return false;
  }

  bool readUntilShowing(const Screen& host, milliseconds limit = kPatience) {
    const Clock::time_point deadline = Clock::now() + limit;
    while (!samePicture(shown_, host)) {
      if (Clock::now() >= deadline ||
          !receive(std::chrono::duration_cast<milliseconds>(deadline - Clock::now()))) {
        return false;
      }
    }
    return true;
  }

  bool answersPings = true;
  int wholeScreens() const { return wholeScreens_; }
  bool welcomed() const { return welcomed_; }
  const std::optional<std::string>& goodbye() const { return goodbye_; }

 private:
  std::optional<Message> decoded() {
    pending_.erase(0, decoder_.feed(pending_));
    DecodeStep step = decoder_.next();
    if (auto* malformed = std::get_if<MalformedMessage>(&step)) {
      ADD_FAILURE() << "the host sent a malformed message: " << malformed->reason;
      closed_ = true;
    }
    if (auto* message = std::get_if<Message>(&step)) {
      return std::move(*message);
    }
    return std::nullopt;
  }

  void takeNote(const Message& message) {
    if (std::holds_alternative<Welcome>(message)) {
      welcomed_ = true;
    } else if (const auto* whole = std::get_if<WholeScreen>(&message)) {
      wholeScreens_ += 1;
      EXPECT_TRUE(applyWholeScreen(*whole, shown_));
    } else if (const auto* changes = std::get_if<ScreenChanges>(&message)) {
      EXPECT_TRUE(applyScreenChanges(*changes, shown_));
    } else if (const auto* goodbye = std::get_if<Goodbye>(&message)) {
      goodbye_ = goodbye->reason;
    }
  }

  // False when nothing came by the deadline or the connection closed.
  bool readSome(Clock::time_point deadline) {
    std::optional<boost::system::error_code> result;
    std::size_t count = 0;
    socket_.async_read_some(asio::buffer(buffer_),
                            [&](const boost::system::error_code& error, std::size_t byteCount) {
                              result = error;
                              count = byteCount;
                            });
    io_.restart();
    io_.run_until(deadline);
    if (!result) {
      socket_.cancel();
      io_.restart();
      io_.run();
    }
    if (*result == asio::error::operation_aborted) {
      return false;
    }
    if (*result) {
      closed_ = true;
      return false;
    }
    pending_.append(buffer_.data(), count);
    return true;
  }

  asio::io_context io_;
  asio::ip::tcp::socket socket_;
  std::array<char, 8192> buffer_{};
  std::string pending_;
  MessageDecoder decoder_;
  bool closed_ = false;
  bool welcomed_ = false;
  std::optional<std::string> goodbye_;
  int wholeScreens_ = 0;
  std::uint64_t pingsSent_ = 0;
  Screen shown_{1, 1};
};

std::string keysTaken(HostServer& host) {
  std::string typed;
  host.takeTyped(typed);
  return typed;
}

TEST(HostServer, WelcomesTheRightCodeAndTurnsEverythingElseAwayReadably) {
  HostOptions options = quickHost();
  options.joinCode = "Rocket";
  HostServer host(options);

  {
    SCOPED_TRACE("the right code, in other letters");
    TestPeer pilot(host.port());
    pilot.sayHello("rOCKET");
    const std::optional<Welcome> welcome = pilot.receiveAs<Welcome>();
    ASSERT_TRUE(welcome);
    EXPECT_EQ(*welcome, (Welcome{Role::Pilot, 80, 25, ""}));
    const std::optional<WholeScreen> whole = pilot.receiveAs<WholeScreen>();
    ASSERT_TRUE(whole);
    EXPECT_EQ(whole->columns, 80);
    EXPECT_EQ(whole->rows, 25);
  }
  {
    SCOPED_TRACE("a wrong code, at once, then the same again only after the delay");
    for (const bool repeated : {false, true}) {
      TestPeer guesser(host.port());
      const Clock::time_point start = Clock::now();
      guesser.sayHello("ROCKEY");
      const std::optional<Refusal> refusal = guesser.receiveAs<Refusal>();
      const milliseconds waited = since(start);
      ASSERT_TRUE(refusal);
      EXPECT_EQ(refusal->reason, RefusalReason::WrongCode);
      EXPECT_EQ(refusal->text, "Wrong join code");
      if (repeated) {
        EXPECT_GE(waited, options.wrongCodeDelay);
      } else {
        EXPECT_LT(waited, options.wrongCodeDelay);
      }
      EXPECT_TRUE(guesser.closedWithin(kPatience));
    }
  }
  {
    SCOPED_TRACE("guesses sent one after the other, not waiting for the answer");
    TestPeer guesser(host.port());
    guesser.sayHello("ROCKEY");
    guesser.sayHello("ROCKET");
    EXPECT_TRUE(guesser.closedWithin(kPatience));
    EXPECT_FALSE(guesser.welcomed());
  }
  {
    SCOPED_TRACE("after three wrong codes, the right one waits as a fourth wrong one would");
    for (const bool waits : {true, false}) {
      TestPeer watcher(host.port());
      const Clock::time_point start = Clock::now();
      watcher.sayHello("ROCKET", Role::Watcher);
      ASSERT_TRUE(watcher.receiveAs<Welcome>());
      if (waits) {
        EXPECT_GE(since(start), options.wrongCodeDelay * 4);
      } else {
        EXPECT_LT(since(start), options.wrongCodeDelay);  // the wrong codes are forgotten
      }
    }
  }
  {
    SCOPED_TRACE("a room this host does not have");
    TestPeer lost(host.port());
    lost.send(Hello{kProtocolVersion, Role::Watcher, "ROCKET", "arena2", RoomWanted::Named, ""});
    const std::optional<Refusal> refusal = lost.receiveAs<Refusal>();
    ASSERT_TRUE(refusal);
    EXPECT_EQ(refusal->reason, RefusalReason::NoSuchRoom);
    EXPECT_TRUE(lost.closedWithin(kPatience));
  }
  {
    SCOPED_TRACE("a hello of another version, laid out as that version likes");
    TestPeer stranger(host.port());
    // Its magic and the next version, then fields this one never heard of.
    const std::string hello =
        std::string(kHelloMagic) + std::string{'\0', kProtocolVersion + 1} + "\x03more";
    stranger.sendBytes(std::string{'\0', '\0', '\0', static_cast<char>(1 + hello.size()), '\1'} +
                       hello);
    const std::optional<Refusal> refusal = stranger.receiveAs<Refusal>();
    ASSERT_TRUE(refusal);
    EXPECT_EQ(refusal->reason, RefusalReason::VersionMismatch);
    EXPECT_EQ(refusal->text, "This game speaks Skyrazor protocol 6, yours 7");
    EXPECT_TRUE(stranger.closedWithin(kPatience));
  }
  {
    SCOPED_TRACE("no hello in time");
    // The host's wait starts as it takes the connection, which may be before
    // the connect returns here.
    const Clock::time_point start = Clock::now();
    TestPeer mute(host.port());
    EXPECT_TRUE(mute.closedWithin(kPatience));
    EXPECT_GE(since(start), options.helloLimit);
    EXPECT_FALSE(mute.welcomed());
  }
  {
    SCOPED_TRACE("something other than a hello first");
    TestPeer impatient(host.port());
    impatient.send(Keys{"e"});
    const std::optional<Refusal> refusal = impatient.receiveAs<Refusal>();
    ASSERT_TRUE(refusal);
    EXPECT_EQ(refusal->reason, RefusalReason::MalformedHello);
    EXPECT_TRUE(impatient.closedWithin(kPatience));
  }
}

// A peer written from doc/protocol.md gets along with the host: the
// document's example hello, byte for byte, is welcomed.
TEST(HostServer, WelcomesTheHelloTheProtocolsDocumentShows) {
  std::ifstream document(SKYRAZOR_TEST_DATA_DIR "/../doc/protocol.md");
  ASSERT_TRUE(document);
  std::string line;
  while (std::getline(document, line) &&
         line.rfind("Example, a pilot with the join code", 0) != 0) {
  }
  std::getline(document, line);  // the blank line before the bytes
  ASSERT_TRUE(std::getline(document, line));
  std::istringstream hex(line);
  std::string bytes;
  for (unsigned value = 0; hex >> std::hex >> value;) {
    bytes += static_cast<char>(value);
  }
  ASSERT_GE(bytes.size(), 5u);

  HostOptions options = quickHost();
  options.joinCode = "ab";
  HostServer host(options);
  TestPeer peer(host.port());
  peer.sendBytes(bytes);
  EXPECT_TRUE(peer.receiveAs<Welcome>());
}

// Connections that never say hello fill the waiting seats only as far as one
// address may; a pilot from another address still joins.
TEST(HostServer, OneSilentAddressCannotKeepAnotherFromJoining) {
  HostOptions options = quickHost();
  options.helloLimit = 5000ms;
  HostServer host(options);
  std::vector<std::unique_ptr<TestPeer>> silent;
  for (int count = 0; count < 16; ++count) {
    silent.push_back(std::make_unique<TestPeer>(host.port()));
  }
  TestPeer pilot(host.port(), "127.0.0.1", 0, "127.0.0.2");
  pilot.join("ROCKET");
  EXPECT_TRUE(silent.back()->receiveAs<Refusal>());
}

// Each kind of garbage ends its own connection, well before any limit could,
// while the pilot flies on.
TEST(HostServer, GarbageEndsOnlyTheConnectionItCameOn) {
  News news;
  HostOptions options = quickHost();
  options.helloLimit = 5000ms;
  HostServer host(options);
  host.onNews(news.waker());
  host.expectKeys(true);
  const auto watchersAre = [&](int count) {
    return news.waitUntil([&] { return host.status().watchers == count; }, kPatience);
  };
  TestPeer pilot(host.port());
  pilot.join("ROCKET");
  const milliseconds soon{1000};

  {
    SCOPED_TRACE("random bytes");
    TestPeer noise(host.port());
    std::mt19937 random(20240611);
    std::string bytes(2000, '\0');
    for (char& byte : bytes) {
      byte = static_cast<char>(random());
    }
    noise.sendBytes(bytes);
    EXPECT_TRUE(noise.closedWithin(soon));
  }
  {
    SCOPED_TRACE("a length over the limit, from a watcher");
    TestPeer boaster(host.port());
    boaster.join("ROCKET", Role::Watcher);
    ASSERT_TRUE(watchersAre(1));
    boaster.sendBytes(std::string("\x00\x00\x40\x01", 4));  // 16385
    EXPECT_TRUE(boaster.closedWithin(soon));
    EXPECT_TRUE(watchersAre(0));
  }
  {
    SCOPED_TRACE("a message cut short, then gone");
    auto quitter = std::make_unique<TestPeer>(host.port());
    quitter->join("ROCKET", Role::Watcher);
    ASSERT_TRUE(watchersAre(1));
    std::string frame;
    ASSERT_TRUE(encodeMessage(Ping{1}, frame));
    quitter->sendBytes(std::string_view(frame).substr(0, frame.size() - 3));
    quitter.reset();
    EXPECT_TRUE(watchersAre(0));
  }

  for (int frame = 0; frame < 3; ++frame) {
    host.publish(frameScreen(frame), true);
    EXPECT_TRUE(pilot.readUntilShowing(frameScreen(frame)));
  }
  pilot.send(Keys{"es"});
  ASSERT_TRUE(pilot.roundTrip());
  EXPECT_EQ(keysTaken(host), "es");
  EXPECT_TRUE(host.status().pilotJoined);
}

TEST(HostServer, TakesKeysOnlyFromThePilotAndOnlyWhileTheGameExpectsThem) {
  HostServer host(quickHost());
  host.expectKeys(true);
  {
    SCOPED_TRACE("a watcher's keys");
    TestPeer watcher(host.port());
    watcher.join("ROCKET", Role::Watcher);
    watcher.send(Keys{"p"});
    EXPECT_TRUE(watcher.closedWithin(kPatience));
    EXPECT_EQ(keysTaken(host), "");
  }

  TestPeer first(host.port());
  first.join("ROCKET");
  host.expectKeys(false);
  first.send(Keys{"o"});
  ASSERT_TRUE(first.roundTrip());
  host.expectKeys(true);
  first.send(Keys{"l"});
  ASSERT_TRUE(first.roundTrip());
  EXPECT_EQ(keysTaken(host), "l");

  SCOPED_TRACE("a second pilot takes the seat");
  TestPeer second(host.port());
  second.join("ROCKET");
  EXPECT_TRUE(first.closedWithin(kPatience));
  EXPECT_EQ(first.goodbye(), "another terminal took pilot 2's seat");
  second.send(Keys{"k"});
  ASSERT_TRUE(second.roundTrip());
  EXPECT_EQ(keysTaken(host), "k");
  EXPECT_TRUE(host.status().pilotJoined);
}

// A watcher that reads nothing never makes publish() wait, and is let go;
// one that only fell behind for a while is sent a whole picture when it
// catches up; the others see every picture.
TEST(HostServer, AWatcherThatFallsBehindHoldsUpNeitherTheGameNorTheOthers) {
  News news;
  HostOptions options = quickHost();
  options.behindLimit = 1000ms;  // long enough for the lagging watcher to catch up in
  HostServer host(options);
  host.onNews(news.waker());
  auto stalled = std::make_unique<TestPeer>(host.port(), "127.0.0.1", 4096);
  stalled->sayHello("ROCKET", Role::Watcher);
  auto lagging = std::make_unique<TestPeer>(host.port());
  lagging->join("ROCKET", Role::Watcher);
  JoinClient keen(joinOptions(host.port(), "ROCKET", Role::Watcher));
  keen.onNews(news.waker());
  ASSERT_EQ(keen.awaitAnswer().phase, JoinState::Phase::Joined);
  ASSERT_TRUE(news.waitUntil([&] { return host.status().watchers == 3; }, kPatience));

  auto longestPublish = Clock::duration::zero();
  int frame = 0;
  const auto publishFrames = [&](int count) {
    for (const int last = frame + count; frame < last; ++frame) {
      const Screen screen = frameScreen(frame);
      const Clock::time_point before = Clock::now();
      host.publish(screen, true);
      longestPublish = std::max(longestPublish, Clock::now() - before);
      std::this_thread::sleep_for(1ms);
    }
  };
  const auto keenShows = [&](const Screen& host) {
    Screen shown(1, 1);
    return news.waitUntil([&] { return keen.takePicture(shown) && samePicture(shown, host); },
                          kPatience);
  };

  const Clock::time_point start = Clock::now();
  publishFrames(150);
  EXPECT_TRUE(keenShows(frameScreen(frame - 1)));
  EXPECT_TRUE(lagging->readUntilShowing(frameScreen(frame - 1)));
  EXPECT_GE(lagging->wholeScreens(), 2) << "caught up without a whole screen";
  lagging.reset();

  publishFrames(100);
  EXPECT_LT(longestPublish, 50ms);  // a few microseconds, unless this thread lost the processor
  EXPECT_TRUE(news.waitUntil([&] { return host.status().watchers == 1; }, kPatience));
  EXPECT_GE(since(start), options.behindLimit) << "the stalled watcher was let go too soon";
  EXPECT_TRUE(keenShows(frameScreen(frame - 1)));
  EXPECT_EQ(keen.state().phase, JoinState::Phase::Joined);
}

// A peer that reads but says nothing, as one whose network vanished looks.
TEST(HostServer, APeerThatFallsSilentIsClosed) {
  News news;
  HostOptions options = quickHost();
  options.silenceLimit = 300ms;
  options.heartbeatPeriod = 5000ms;  // silence is timed on its own, not on the next ping
  options.wrongCodeDelay = 500ms;
  HostServer host(options);
  host.onNews(news.waker());
  TestPeer pilot(host.port());
  pilot.answersPings = false;
  const Clock::time_point start = Clock::now();
  pilot.join("ROCKET");
  ASSERT_TRUE(host.status().pilotJoined);
  // The seat is free at the limit, before the goodbye has lingered out.
  EXPECT_TRUE(
      news.waitUntil([&] { return !host.status().pilotJoined; }, options.silenceLimit + 600ms));
  EXPECT_GE(since(start), options.silenceLimit);
  EXPECT_TRUE(pilot.closedWithin(kPatience));
  EXPECT_EQ(pilot.goodbye(), "no sign of life for a while");

  // Silence counts from the seat: a hello whose answer was held back after a
  // wrong guess has the whole limit after its welcome.
  TestPeer guesser(host.port());
  guesser.sayHello("ROCKEY");
  ASSERT_TRUE(guesser.receiveAs<Refusal>());
  TestPeer late(host.port());
  late.answersPings = false;
  late.join("ROCKET");
  const Clock::time_point welcomed = Clock::now();
  EXPECT_TRUE(news.waitUntil([&] { return !host.status().pilotJoined; }, kPatience));
  EXPECT_GE(since(welcomed), options.silenceLimit / 2);
}

JoinState awaitEnd(News& news, JoinClient& client) {
  news.waitUntil([&] { return client.state().phase == JoinState::Phase::Ended; }, kPatience);
  return client.state();
}

TEST(JoinClient, JoinsSeesThePictureSendsKeysAndHearsHowItEnded) {
  News news;
  auto host = std::make_unique<HostServer>(quickHost());
  host->onNews(news.waker());
  host->expectKeys(true);
  host->publish(frameScreen(7), true);
  {
    JoinClient client(joinOptions(host->port(), "rocket"));
    client.onNews(news.waker());
    ASSERT_EQ(client.awaitAnswer().phase, JoinState::Phase::Joined);
    Screen shown(1, 1);
    EXPECT_TRUE(news.waitUntil(
        [&] { return client.takePicture(shown) && samePicture(shown, frameScreen(7)); },
        kPatience));
    client.sendKeys("pilot 2");
    std::string typed;
    EXPECT_TRUE(news.waitUntil(
        [&] {
          host->takeTyped(typed);
          return typed.size() >= 7;
        },
        kPatience));
    EXPECT_EQ(typed, "pilot 2");
  }
  {
    JoinClient refused(joinOptions(host->port(), "ROCKER"));
    const JoinState state = refused.awaitAnswer();
    EXPECT_EQ(state.phase, JoinState::Phase::Ended);
    EXPECT_EQ(state.endReason, "the host refused: Wrong join code");
    EXPECT_FALSE(state.endedByHost);
  }
  {
    JoinClient client(joinOptions(host->port(), "ROCKET"));
    client.onNews(news.waker());
    ASSERT_EQ(client.awaitAnswer().phase, JoinState::Phase::Joined);
    host.reset();
    const JoinState state = awaitEnd(news, client);
    EXPECT_EQ(state.phase, JoinState::Phase::Ended);
    EXPECT_TRUE(state.endedByHost);
    EXPECT_EQ(state.endReason, "the host has ended the game");
  }
  {
    // A port bound but not listening turns every connection away.
    asio::io_context io;
    asio::ip::tcp::acceptor nobody(io);
    nobody.open(asio::ip::tcp::v4());
    nobody.bind({asio::ip::make_address("127.0.0.1"), 0});
    const Clock::time_point start = Clock::now();
    JoinClient client(joinOptions(nobody.local_endpoint().port(), "ROCKET"));
    const JoinState state = client.awaitAnswer();
    EXPECT_LT(since(start), kPatience / 2);
    EXPECT_EQ(state.phase, JoinState::Phase::Ended);
    EXPECT_NE(state.endReason.find("cannot reach 127.0.0.1 port"), std::string::npos)
        << state.endReason;
  }
}

std::vector<DuelMessage> awaitDuelMessages(News& news, JoinClient& client, std::size_t count) {
  std::vector<DuelMessage> received;
  news.waitUntil(
      [&] {
        client.takeDuelMessages(received);
        return received.size() >= count;
      },
      kPatience);
  return received;
}

// A pilot of the version before the duel plays as it always did and is
// never offered one. A pilot of the duel's version is handed the battle and
// trades keys with the game; keys that skip a frame let it go, and only it.
TEST(HostServer, PlaysADuelOnlyWithAPilotOfTheDuelsVersion) {
  News news;
  HostServer host(quickHost());
  host.onNews(news.waker());
  host.expectKeys(true);
  host.publish(frameScreen(1), true);
  {
    SCOPED_TRACE("a pilot of version 5");
    JoinOptions options = joinOptions(host.port(), "ROCKET");
    options.protocolVersion = kOldestServedVersion;
    JoinClient older(options);
    older.onNews(news.waker());
    ASSERT_EQ(older.awaitAnswer().phase, JoinState::Phase::Joined);
    ASSERT_TRUE(news.waitUntil([&] { return host.status().pilotJoined; }, kPatience));
    EXPECT_FALSE(host.beginDuel(8, 0, "state"));
    older.sendKeys("k");
    std::string typed;
    EXPECT_TRUE(news.waitUntil(
        [&] {
          host.takeTyped(typed);
          return !typed.empty();
        },
        kPatience));
    EXPECT_EQ(typed, "k");
    host.publish(frameScreen(2), true);
    Screen shown(1, 1);
    EXPECT_TRUE(news.waitUntil(
        [&] { return older.takePicture(shown) && samePicture(shown, frameScreen(2)); }, kPatience));
    std::vector<DuelMessage> none;
    older.takeDuelMessages(none);
    EXPECT_TRUE(none.empty());
  }

  JoinClient pilot(joinOptions(host.port(), "ROCKET"));
  pilot.onNews(news.waker());
  ASSERT_EQ(pilot.awaitAnswer().phase, JoinState::Phase::Joined);
  JoinClient watcher(joinOptions(host.port(), "ROCKET", Role::Watcher));
  ASSERT_EQ(watcher.awaitAnswer().phase, JoinState::Phase::Joined);
  // The seat is the new pilot's once the game hears of it.
  ASSERT_TRUE(news.waitUntil([&] { return host.beginDuel(8, 0, "state"); }, kPatience));
  EXPECT_EQ(awaitDuelMessages(news, pilot, 1),
            (std::vector<DuelMessage>{BattleStart{1, 8, 0, "state"}}));

  const FrameKeys hostsFirst{1, 0, {FrameKey{true, 'x'}}};
  const FrameKeys hostsNext{2, 0, {FrameKey{}, FrameKey{true, 'y'}}};
  host.sendFrameKeys(1, hostsFirst);
  host.sendFrameKeys(1, hostsNext);
  EXPECT_EQ(awaitDuelMessages(news, pilot, 2), (std::vector<DuelMessage>{hostsFirst, hostsNext}));

  const FrameKeys pilots{1, 12, {FrameKey{true, 'p'}, FrameKey{}}};
  pilot.sendFrameKeys(pilots);
  pilot.sendChecksums(FrameChecksums{1, {99}});
  DuelNews heard;
  const auto hear = [&] {
    DuelNews more = host.takeDuelNews();
    for (std::size_t ship = 0; ship < 2; ++ship) {
      heard.keys[ship].insert(heard.keys[ship].end(), more.keys[ship].begin(),
                              more.keys[ship].end());
      heard.checksums[ship].insert(heard.checksums[ship].end(), more.checksums[ship].begin(),
                                   more.checksums[ship].end());
      heard.gone[ship] = heard.gone[ship] || more.gone[ship];
    }
  };
  EXPECT_TRUE(news.waitUntil(
      [&] {
        hear();
        return !heard.checksums[1].empty();
      },
      kPatience));
  EXPECT_EQ(heard.keys[1], std::vector<FrameKeys>{pilots});
  EXPECT_EQ(heard.checksums[1], (std::vector<FrameChecksums>{FrameChecksums{1, {99}}}));

  {
    SCOPED_TRACE("a duel's keys from a terminal that plays none");
    TestPeer intruder(host.port());
    intruder.join("ROCKET", Role::Watcher);
    intruder.send(FrameKeys{1, 0, {FrameKey{}}});
    EXPECT_TRUE(intruder.closedWithin(kPatience));
  }
  pilot.sendFrameKeys(FrameKeys{5, 12, {FrameKey{}}});  // frames 3 and 4 skipped
  EXPECT_TRUE(news.waitUntil(
      [&] {
        hear();
        return heard.gone[1];
      },
      kPatience));
  EXPECT_FALSE(heard.gone[0]);
  EXPECT_EQ(heard.keys[1].size(), 1u);
  EXPECT_EQ(awaitEnd(news, pilot).phase, JoinState::Phase::Ended);
  EXPECT_EQ(watcher.state().phase, JoinState::Phase::Joined);
  host.endDuel(3);
}

TEST(JoinClient, JoinsOverIpv6Loopback) {
  News news;
  HostOptions options = quickHost();
  options.address = "::1";
  std::unique_ptr<HostServer> host;
  try {
    host = std::make_unique<HostServer>(options);
  } catch (const NetworkError& failure) {
    GTEST_SKIP() << "this machine cannot listen on ::1: " << failure.what();
  }
  JoinOptions join = joinOptions(host->port(), "ROCKET");
  join.host = "::1";
  JoinClient client(join);
  client.onNews(news.waker());
  ASSERT_EQ(client.awaitAnswer().phase, JoinState::Phase::Joined);
  EXPECT_TRUE(news.waitUntil([&] { return host->status().pilotAddress == "::1"; }, kPatience));
}

}  // namespace
}  // namespace skyrazor::network
