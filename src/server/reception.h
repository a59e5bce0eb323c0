#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "platform/network/boost_asio.h"
#include "platform/network/listener.h"
#include "platform/network/wire_format.h"
#include "server/peer.h"
#include "server/server_counters.h"

namespace skyrazor::network {

struct ReceptionOptions {
  // Connections that have not yet been given a seat (their hello is awaited,
  // or a wrong guess's answer is being held back).
  std::size_t mostWaiting = 16;
  // Connections from one address at a time, seated ones included; 0: any.
  std::size_t mostPerAddress = 0;
  // Connections from one address waiting for their answer at a time, so that
  // one address cannot keep everybody else from joining.
  std::size_t mostWaitingPerAddress = 4;
  std::chrono::milliseconds helloLimit{5000};
  std::size_t mostQueuedBytes = 64 * 1024;
  // After a wrong guess (a wrong join code, a room that is not there, a
  // first message that is not a hello) from an address, its next guess is
  // answered after this long, and after each further one twice as long as
  // before.
  std::chrono::milliseconds wrongGuessDelay{1000};
  // A reverse proxy's address: every browser behind it comes from there, so
  // its connections are held only to the limits for everyone.
  std::string trustedProxy;
  // Where refusals and bytes sent are counted; none: nowhere.
  ServerCounters* counters = nullptr;
};

// What a hello stakes on a secret: a join code, or a room's name. Only
// guesses are slowed down after wrong ones; a hello that guesses nothing
// (one that opens a new room under a drawn name, or asks whether a code is
// needed) learns nothing of anybody's game and is answered at once. A new
// room under a chosen name that is free is a guess too (its answer tells
// whether that room is open), held back like one but neither wrong nor right.
enum class Guess { None, Right, Wrong, FreeName };

// Where every connection comes in: it waits for the hello, answers
// strangers of other versions readably, holds one address to its limits and
// slows down its guesses, and hands each hello that passes to its owner to
// be seated in a room. After that it passes the connection's messages to
// that room. All on the network's thread.
class Reception {
 public:
  using Judge = std::function<Guess(const Hello&)>;
  // Seats the peer in a room (nothing to answer), or says why not.
  using Seater = std::function<std::optional<Refusal>(const std::shared_ptr<Peer>&, const Hello&)>;
  using EventLog = std::function<void(const std::string&)>;

  Reception(asio::io_context& io, ReceptionOptions options, Judge isRight, Seater seat,
            EventLog log);

  void take(Accepted accepted);
  // A browser's WebSocket, its handshake done.
  void takeWebSocket(std::unique_ptr<WebSocketStream> webSocket, std::string address);
  // Browsers' requests come to the same port as terminals' hellos: with
  // this set, a connection over the network is first waited on for its
  // first byte, and one that begins an HTTP request goes to `onRequest`.
  void passRequestsTo(std::function<void(Accepted)> onRequest) {
    onRequest_ = std::move(onRequest);
  }
  // Says goodbye to every connection still waiting for its answer.
  void sayGoodbye(const std::string& reason);

 private:
  struct WrongGuesses {
    int count = 0;
    SteadyTime last;
  };

  void admit(Accepted accepted);
  void admit(const std::shared_ptr<PeerConnection>& connection, bool local);
  void sortOut(const std::shared_ptr<Accepted>& accepted, const std::string& sorter);
  void doneSorting(const std::string& sorter);
  void awaitHello(const std::shared_ptr<Peer>& peer);
  void onMessage(const std::shared_ptr<Peer>& peer, Message& message);
  void onHello(const std::shared_ptr<Peer>& peer, const Hello& hello);
  bool countFrom(const std::shared_ptr<Peer>& peer, const std::string& limitAddress);
  bool takePlayerAddress(const std::shared_ptr<Peer>& peer, const std::string& playerAddress);
  void answer(const std::shared_ptr<Peer>& peer, const Hello& hello);
  void onClosed(const std::shared_ptr<Peer>& peer, const std::string& why);
  std::chrono::milliseconds answerDelay(const std::string& guesser, Guess guess);
  void forgetOldGuesses(SteadyTime now);
  bool tooManyWrongGuesses(const std::string& guesser);
  void refuse(const std::shared_ptr<Peer>& peer, const Refusal& refusal);
  void refuse(const std::shared_ptr<Peer>& peer, const Refusal& refusal, RefusalKind kind);
  std::size_t countWaiting() const;
  std::size_t countWaitingFrom(const std::string& limitAddress) const;
  std::size_t sortingFrom(const std::string& limitAddress) const;
  std::size_t connectionsFrom(const std::string& limitAddress) const;
  void logEvent(const std::string& line) const;

  asio::io_context& io_;
  ReceptionOptions options_;
  Judge isRight_;
  Seater seat_;
  EventLog log_;
  std::list<std::shared_ptr<Peer>> waiting_;
  std::map<std::string, std::size_t> connectionsFrom_;
  std::map<std::string, WrongGuesses> wrongGuesses_;
  std::function<void(Accepted)> onRequest_;
  // Connections whose first byte is awaited: in all and by address.
  std::size_t sorting_ = 0;
  std::map<std::string, std::size_t> sortingFrom_;
};

// Whether a connection's first byte begins an HTTP request (a method's
// capital letter) rather than one of our frames, whose first byte, the top
// of a length of at most 16 KiB, is 0.
bool startsHttpRequest(unsigned char firstByte);

// The refusal of a hello of another version, naming both.
Refusal versionRefusal(std::uint16_t theirVersion);

}  // namespace skyrazor::network
