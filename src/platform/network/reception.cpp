#include "platform/network/reception.h"

#include <algorithm>

#include "platform/network/room.h"

namespace skyrazor::network {
namespace {

// Wrong guesses from one address are remembered this long, for this many
// addresses at most.
constexpr std::chrono::seconds kWrongGuessMemory{60};
constexpr std::size_t kMostRememberedAddresses = 1024;
// Below a joining terminal's own wait for its answer, so that a right guess
// is never lost to a wait the terminal gives up on.
constexpr std::chrono::milliseconds kLongestWrongGuessDelay{4000};
// Past this many wrong guesses within the memory, an address is refused at
// once until it has kept quiet for a while.
constexpr int kMostWrongGuesses = 10;

}  // namespace

Refusal versionRefusal(std::uint16_t theirVersion) {
  return Refusal{RefusalReason::VersionMismatch, "This game speaks Skyrazor protocol " +
                                                     std::to_string(kProtocolVersion) + ", yours " +
                                                     std::to_string(theirVersion)};
}

Reception::Reception(asio::io_context& io, ReceptionOptions options, Judge isRight, Seater seat,
                     EventLog log)
    : io_(io),
      options_(options),
      isRight_(std::move(isRight)),
      seat_(std::move(seat)),
      log_(std::move(log)) {}

void Reception::take(asio::ip::tcp::socket socket) {
  auto connection = std::make_shared<PeerConnection>(std::move(socket), options_.mostQueuedBytes);
  auto peer = std::make_shared<Peer>(connection, io_.get_executor());
  waiting_.push_back(peer);
  const std::size_t fromThere = ++connectionsFrom_[guesserOf(connection->address())];
  std::weak_ptr<Peer> weak = peer;
  connection->start({
      [this, weak](Message& message) {
        if (auto peer = weak.lock()) {
          peer->room ? peer->room->onMessage(peer, message) : onMessage(peer, message);
        }
      },
      [this, weak](const std::string& why) {
        if (auto peer = weak.lock()) {
          onClosed(peer, why);
        }
      },
      [weak] {
        if (auto peer = weak.lock(); peer && peer->room) {
          peer->room->onDrained(*peer);
        }
      },
      [weak] {
        if (auto peer = weak.lock(); peer && peer->room) {
          peer->room->onSilent(peer);
        }
      },
  });
  if (options_.mostPerAddress != 0 && fromThere > options_.mostPerAddress) {
    refuse(peer, Refusal{RefusalReason::TooManyConnections,
                         "Too many terminals from your address (at most " +
                             std::to_string(options_.mostPerAddress) + " at a time)"});
  } else if (countWaiting() > options_.mostWaiting) {
    refuse(peer, Refusal{RefusalReason::TooManyConnections,
                         "Too many terminals are joining at once; try again shortly"});
  } else {
    awaitHello(peer);
  }
}

void Reception::awaitHello(const std::shared_ptr<Peer>& peer) {
  peer->helloTimer.expires_after(options_.helloLimit);
  std::weak_ptr<PeerConnection> connection = peer->connection;
  peer->helloTimer.async_wait([connection](const asio::error_code& error) {
    if (auto open = connection.lock(); !error && open) {
      open->close("sent no hello in time");
    }
  });
}

void Reception::onMessage(const std::shared_ptr<Peer>& peer, Message& message) {
  // Anything before the answer, such as another guess while a wrong guess's
  // answer is held back, ends the connection.
  if (peer->heardFirst) {
    peer->connection->close("sent a message before its answer");
    return;
  }
  peer->heardFirst = true;
  if (const Hello* hello = std::get_if<Hello>(&message)) {
    onHello(peer, *hello);
    return;
  }
  const std::string guesser = guesserOf(peer->connection->address());
  answerDelay(guesser, false);  // counts as a wrong guess
  refuse(peer, Refusal{RefusalReason::MalformedHello, "That was not a Skyrazor hello"});
}

void Reception::onHello(const std::shared_ptr<Peer>& peer, const Hello& hello) {
  if (hello.version != kProtocolVersion) {
    refuse(peer, versionRefusal(hello.version));
    return;
  }
  const std::string guesser = guesserOf(peer->connection->address());
  if (tooManyWrongGuesses(guesser)) {
    refuse(peer, Refusal{RefusalReason::TooManyConnections,
                         "Too many wrong hellos from your address; try again in a minute"});
    return;
  }
  const std::chrono::milliseconds delay = answerDelay(guesser, isRight_(hello));
  if (delay.count() == 0) {
    answer(peer, hello);
    return;
  }
  peer->helloTimer.cancel();
  peer->helloTimer.expires_after(delay);
  std::weak_ptr<Peer> weak = peer;
  peer->helloTimer.async_wait([this, weak, hello](const asio::error_code& error) {
    if (auto peer = weak.lock(); !error && peer && peer->connection->isOpen()) {
      answer(peer, hello);
    }
  });
}

void Reception::answer(const std::shared_ptr<Peer>& peer, const Hello& hello) {
  peer->helloTimer.cancel();
  if (std::optional<Refusal> refusal = seat_(peer, hello)) {
    refuse(peer, *refusal);
    return;
  }
  waiting_.remove(peer);
}

void Reception::onClosed(const std::shared_ptr<Peer>& peer, const std::string& why) {
  peer->helloTimer.cancel();
  const std::string guesser = guesserOf(peer->connection->address());
  if (auto found = connectionsFrom_.find(guesser); found != connectionsFrom_.end()) {
    if (--found->second == 0) {
      connectionsFrom_.erase(found);
    }
  }
  if (peer->room != nullptr) {
    peer->room->onClosed(peer, why);
    return;
  }
  waiting_.remove(peer);
  if (peer->seat != Seat::Leaving) {
    logEvent(peer->connection->address() + " dropped before its answer (" + why + ")");
  }
}

// The first wrong guess from an address is refused at once. After it, every
// hello from that address within a minute is answered only after a while,
// a right one's as well as a wrong one's (a terminal that gave up waiting
// would otherwise know its guess was wrong): first after wrongGuessDelay,
// and after each further wrong guess twice as long, so that codes and room
// names cannot be tried quickly. A right guess forgets the address's wrong ones.
std::chrono::milliseconds Reception::answerDelay(const std::string& guesser, bool right) {
  const SteadyTime now = std::chrono::steady_clock::now();
  forgetOldGuesses(now);
  auto found = wrongGuesses_.find(guesser);
  std::chrono::milliseconds delay{0};
  if (found != wrongGuesses_.end()) {
    delay = std::min<std::chrono::milliseconds>(
        options_.wrongGuessDelay * (1 << std::min(found->second.count - 1, 10)),
        kLongestWrongGuessDelay);
  }
  if (right) {
    if (found != wrongGuesses_.end()) {
      wrongGuesses_.erase(found);
    }
    return delay;
  }
  if (wrongGuesses_.size() >= kMostRememberedAddresses && found == wrongGuesses_.end()) {
    wrongGuesses_.erase(std::min_element(
        wrongGuesses_.begin(), wrongGuesses_.end(),
        [](const auto& a, const auto& b) { return a.second.last < b.second.last; }));
  }
  WrongGuesses& guesses = wrongGuesses_[guesser];
  guesses.count += 1;
  guesses.last = now;
  return delay;
}

void Reception::forgetOldGuesses(SteadyTime now) {
  for (auto it = wrongGuesses_.begin(); it != wrongGuesses_.end();) {
    it = now - it->second.last > kWrongGuessMemory ? wrongGuesses_.erase(it) : std::next(it);
  }
}

bool Reception::tooManyWrongGuesses(const std::string& guesser) {
  forgetOldGuesses(std::chrono::steady_clock::now());
  auto found = wrongGuesses_.find(guesser);
  return found != wrongGuesses_.end() && found->second.count >= kMostWrongGuesses;
}

void Reception::refuse(const std::shared_ptr<Peer>& peer, const Refusal& refusal) {
  peer->helloTimer.cancel();
  peer->seat = Seat::Leaving;
  logEvent(peer->connection->address() + " refused: " + refusal.text);
  peer->connection->sendAndClose(refusal, "refused: " + refusal.text);
}

void Reception::sayGoodbye(const std::string& reason) {
  const std::list<std::shared_ptr<Peer>> waiting = waiting_;
  for (const std::shared_ptr<Peer>& peer : waiting) {
    peer->helloTimer.cancel();
    peer->seat = Seat::Leaving;
    peer->connection->sendAndClose(Goodbye{reason}, reason);
  }
}

std::size_t Reception::countWaiting() const {
  return static_cast<std::size_t>(
      std::count_if(waiting_.begin(), waiting_.end(), [](const std::shared_ptr<Peer>& peer) {
        return peer->seat == Seat::Waiting && peer->connection->isOpen();
      }));
}

void Reception::logEvent(const std::string& line) const {
  if (log_) {
    log_(line);
  }
}

}  // namespace skyrazor::network
