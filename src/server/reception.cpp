#include "server/reception.h"

#include <algorithm>
#include <array>

#include "server/room.h"

namespace skyrazor::network {
namespace {

// Wrong guesses from one address are remembered this long, for this many
// addresses at most.
constexpr std::chrono::seconds kWrongGuessMemory{60};
constexpr std::size_t kMostRememberedAddresses = 1024;
// Past this many wrong guesses within the memory, an address is refused at
// once until it has kept quiet for a while.
constexpr int kMostWrongGuesses = 10;

}  // namespace

bool startsHttpRequest(unsigned char firstByte) {
  return firstByte >= 'A' && firstByte <= 'Z';
}

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

// A connection whose first byte is awaited waits as one whose hello is:
// bounded in time, and counted with the waiting ones from its address. Past
// those limits it is admitted at once, to be turned away readably.
void Reception::take(Accepted accepted) {
  const std::string sorter = guesserOf(accepted.address);
  const bool fromProxy =
      !options_.trustedProxy.empty() && accepted.address == options_.trustedProxy;
  const bool roomToSort =
      countWaiting() < options_.mostWaiting &&
      (fromProxy ||
       (countWaitingFrom(sorter) < options_.mostWaitingPerAddress &&
        (options_.mostPerAddress == 0 || connectionsFrom(sorter) < options_.mostPerAddress)));
  if (!onRequest_ || accepted.local || !roomToSort) {
    admit(std::move(accepted));
    return;
  }
  sorting_ += 1;
  sortingFrom_[sorter] += 1;
  sortOut(std::make_shared<Accepted>(std::move(accepted)), sorter);
}

void Reception::sortOut(const std::shared_ptr<Accepted>& accepted, const std::string& sorter) {
  auto timer = std::make_shared<asio::steady_timer>(io_, options_.helloLimit);
  timer->async_wait([this, accepted](const boost::system::error_code& error) {
    if (!error) {
      logEvent(accepted->address + " dropped before its answer (sent no hello in time)");
      boost::system::error_code ignored;
      accepted->socket.close(ignored);
    }
  });
  accepted->socket.async_wait(
      asio::socket_base::wait_read,
      [this, accepted, timer, sorter](const boost::system::error_code& error) {
        timer->cancel();
        doneSorting(sorter);
        std::array<unsigned char, 1> first{};
        boost::system::error_code peekError;
        if (!error) {
          accepted->socket.receive(asio::buffer(first), asio::socket_base::message_peek, peekError);
        }
        if (error || peekError) {
          boost::system::error_code ignored;
          accepted->socket.close(ignored);
        } else if (startsHttpRequest(first[0])) {
          onRequest_(std::move(*accepted));
        } else {
          admit(std::move(*accepted));
        }
      });
}

void Reception::doneSorting(const std::string& sorter) {
  sorting_ -= 1;
  if (auto found = sortingFrom_.find(sorter); found != sortingFrom_.end() && --found->second == 0) {
    sortingFrom_.erase(found);
  }
}

void Reception::admit(Accepted accepted) {
  admit(std::make_shared<PeerConnection>(std::move(accepted.socket), std::move(accepted.address),
                                         options_.mostQueuedBytes),
        accepted.local);
}

// A browser's seat is a terminal like any other once its WebSocket is open:
// its hello is awaited, and it counts against its address's limits.
void Reception::takeWebSocket(std::unique_ptr<WebSocketStream> webSocket, std::string address) {
  admit(std::make_shared<PeerConnection>(std::move(webSocket), std::move(address),
                                         options_.mostQueuedBytes),
        false);
}

void Reception::admit(const std::shared_ptr<PeerConnection>& connection, bool local) {
  auto peer = std::make_shared<Peer>(connection, io_.get_executor());
  peer->local = local;
  if (options_.counters != nullptr) {
    connection->countSentBytesIn(options_.counters->sentBytes);
  }
  waiting_.push_back(peer);
  std::weak_ptr<Peer> weak = peer;
  connection->start({
      [this, weak](Message& message) {
        if (auto peer = weak.lock()) {
          peer->home ? peer->home->onMessage(peer, message) : onMessage(peer, message);
        }
      },
      [this, weak](const std::string& why) {
        if (auto peer = weak.lock()) {
          onClosed(peer, why);
        }
      },
      [weak] {
        if (auto peer = weak.lock(); peer && peer->home) {
          peer->home->onDrained(*peer);
        }
      },
      [weak] {
        if (auto peer = weak.lock(); peer && peer->home) {
          peer->home->onSilent(peer);
        }
      },
  });
  // A connection from this machine's ssh entrance counts as its player once
  // its hello says where the player is.
  if (!peer->local && !countFrom(peer, guesserOf(connection->address()))) {
    return;
  }
  if (countWaiting() > options_.mostWaiting) {
    refuse(peer,
           Refusal{RefusalReason::TooManyConnections,
                   "Too many terminals are joining at once; try again shortly"},
           RefusalKind::TooManyWaiting);
  } else {
    awaitHello(peer);
  }
}

// Counts the peer against its address's limits; refuses it (and says false)
// when that address has as many terminals as it may, or as many waiting.
bool Reception::countFrom(const std::shared_ptr<Peer>& peer, const std::string& limitAddress) {
  peer->limitAddress = limitAddress;
  ++connectionsFrom_[limitAddress];
  if (options_.mostPerAddress != 0 && connectionsFrom(limitAddress) > options_.mostPerAddress) {
    refuse(peer,
           Refusal{RefusalReason::TooManyConnections,
                   "Too many terminals from your address (at most " +
                       std::to_string(options_.mostPerAddress) + " at a time)"},
           RefusalKind::PerAddressLimit);
    return false;
  }
  if (options_.mostWaitingPerAddress != 0 &&
      countWaitingFrom(limitAddress) > options_.mostWaitingPerAddress) {
    refuse(peer,
           Refusal{RefusalReason::TooManyConnections,
                   "Too many terminals from your address are joining at once; try again "
                   "shortly"},
           RefusalKind::PerAddressLimit);
    return false;
  }
  return true;
}

void Reception::awaitHello(const std::shared_ptr<Peer>& peer) {
  peer->helloTimer.expires_after(options_.helloLimit);
  std::weak_ptr<PeerConnection> connection = peer->connection;
  peer->helloTimer.async_wait([connection](const boost::system::error_code& error) {
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
  if (peer->limitAddress.empty() && !countFrom(peer, guesserOf(peer->connection->address()))) {
    return;
  }
  answerDelay(peer->limitAddress, Guess::Wrong);  // counts as a wrong guess
  refuse(peer, Refusal{RefusalReason::MalformedHello, "That was not a Skyrazor hello"});
}

void Reception::onHello(const std::shared_ptr<Peer>& peer, const Hello& hello) {
  if (!isServedVersion(hello.version)) {
    refuse(peer, versionRefusal(hello.version));
    return;
  }
  peer->version = hello.version;
  if (!hello.playerAddress.empty() && !takePlayerAddress(peer, hello.playerAddress)) {
    return;
  }
  if (peer->limitAddress.empty() && !countFrom(peer, guesserOf(peer->connection->address()))) {
    return;
  }
  const Guess guess = isRight_(hello);
  if (guess != Guess::None && tooManyWrongGuesses(peer->limitAddress)) {
    refuse(peer,
           Refusal{RefusalReason::TooManyConnections,
                   "Too many wrong guesses from your address; try again in a minute"},
           RefusalKind::TooManyWrongGuesses);
    return;
  }
  const std::chrono::milliseconds delay = answerDelay(peer->limitAddress, guess);
  if (delay.count() == 0) {
    answer(peer, hello);
    return;
  }
  peer->helloTimer.cancel();
  peer->helloTimer.expires_after(delay);
  std::weak_ptr<Peer> weak = peer;
  peer->helloTimer.async_wait([this, weak, hello](const boost::system::error_code& error) {
    if (auto peer = weak.lock(); !error && peer && peer->connection->isOpen()) {
      answer(peer, hello);
    }
  });
}

// Only the server's own ssh entrance, on its local socket, may say where a
// player is; from anywhere else that would let a stranger pass for anybody.
// The player then counts against their own address's limits, not against
// the server's machine that every ssh player comes from. False when refused.
bool Reception::takePlayerAddress(const std::shared_ptr<Peer>& peer,
                                  const std::string& playerAddress) {
  if (!peer->local) {
    refuse(peer, Refusal{RefusalReason::MalformedHello,
                         "Only the server's own ssh entrance says where a player is"});
    return false;
  }
  boost::system::error_code error;
  const asio::ip::address address = asio::ip::make_address(playerAddress, error);
  if (error) {
    refuse(peer, Refusal{RefusalReason::MalformedHello, "That is not a player's address"});
    return false;
  }
  peer->connection->setAddress(address.to_string() + " (ssh)");
  return countFrom(peer, guesserOf(address.to_string()));
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
  if (auto found = connectionsFrom_.find(peer->limitAddress);
      !peer->limitAddress.empty() && found != connectionsFrom_.end()) {
    if (--found->second == 0) {
      connectionsFrom_.erase(found);
    }
  }
  if (peer->home != nullptr) {
    peer->home->onClosed(peer, why);
    return;
  }
  waiting_.remove(peer);
  if (peer->seat != Seat::Leaving) {
    logEvent(peer->connection->address() + " dropped before its answer (" + why + ")");
  }
}

// The first wrong guess from an address is refused at once. After it, every
// guess from that address within a minute is answered only after a while,
// a right one's as well as a wrong one's (a terminal that gave up waiting
// would otherwise know its guess was wrong): first after wrongGuessDelay,
// and after each further wrong guess twice as long, so that codes and room
// names cannot be tried quickly. A right guess forgets the address's wrong
// ones; a hello that guesses nothing is neither held back nor counted.
std::chrono::milliseconds Reception::answerDelay(const std::string& guesser, Guess guess) {
  if (guess == Guess::None) {
    return std::chrono::milliseconds{0};
  }
  const SteadyTime now = std::chrono::steady_clock::now();
  forgetOldGuesses(now);
  auto found = wrongGuesses_.find(guesser);
  std::chrono::milliseconds delay{0};
  if (found != wrongGuesses_.end()) {
    delay = std::min<std::chrono::milliseconds>(
        options_.wrongGuessDelay * (1 << std::min(found->second.count - 1, 10)),
        kLongestHeldAnswer);
  }
  if (guess == Guess::FreeName) {
    return delay;
  }
  if (guess == Guess::Right) {
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
  refuse(peer, refusal, refusalKindOf(refusal.reason));
}

void Reception::refuse(const std::shared_ptr<Peer>& peer, const Refusal& refusal,
                       RefusalKind kind) {
  if (options_.counters != nullptr) {
    options_.counters->refused(kind);
  }
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

// Those whose first byte is awaited wait too.
std::size_t Reception::countWaiting() const {
  return sorting_ + static_cast<std::size_t>(std::count_if(
                        waiting_.begin(), waiting_.end(), [](const std::shared_ptr<Peer>& peer) {
                          return peer->seat == Seat::Waiting && peer->connection->isOpen();
                        }));
}

std::size_t Reception::countWaitingFrom(const std::string& limitAddress) const {
  return sortingFrom(limitAddress) +
         static_cast<std::size_t>(std::count_if(
             waiting_.begin(), waiting_.end(), [&limitAddress](const std::shared_ptr<Peer>& peer) {
               return peer->seat == Seat::Waiting && peer->connection->isOpen() &&
                      peer->limitAddress == limitAddress;
             }));
}

std::size_t Reception::sortingFrom(const std::string& limitAddress) const {
  const auto found = sortingFrom_.find(limitAddress);
  return found == sortingFrom_.end() ? 0 : found->second;
}

// Every connection from the address: admitted ones, and those whose first
// byte is awaited.
std::size_t Reception::connectionsFrom(const std::string& limitAddress) const {
  const auto found = connectionsFrom_.find(limitAddress);
  return sortingFrom(limitAddress) + (found == connectionsFrom_.end() ? 0 : found->second);
}

void Reception::logEvent(const std::string& line) const {
  if (log_) {
    log_(line);
  }
}

}  // namespace skyrazor::network
