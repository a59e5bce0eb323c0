#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "console/screen.h"
#include "console/seam.h"
#include "platform/live/inbox_key_source.h"
#include "platform/live/key_clock.h"
#include "platform/network/wire_format.h"
#include "server/metrics.h"
#include "server/peer_home.h"
#include "server/server_counters.h"

namespace skyrazor::network {

enum class Seat;

struct RoomOptions {
  // Empty: the host's one game, whose first keyboard is the host's own. Else a
  // server's room, whose first keyboard belongs to a joined terminal too.
  std::string name;
  std::size_t mostWatchers = 32;
  std::chrono::milliseconds silenceLimit{5000};
  // A terminal whose output has stayed over its bound this long is let go.
  std::chrono::milliseconds behindLimit{5000};
  std::size_t mostQueuedBytes = 64 * 1024;
  // Shown in the server's lobby, and offered by quick match; a room opened
  // by its name, or as a private one, is joined only by its name.
  bool listed = false;
  // The server's counts, which its game's frame periods go to; none at a
  // host. The server outlives its rooms.
  ServerCounters* counters = nullptr;
};

// The room's terminals as its game sees them, for the host's status line.
struct RoomStatus {
  bool pilotJoined = false;
  std::string pilotAddress;
  int pilotRoundTripMicroseconds = -1;  // -1 until measured
  int watchers = 0;
  std::uint64_t changes = 0;  // counts every change, so a reader can tell
};

// What a duel's terminals sent since the game last asked, per ship (0 the
// left, 1 the right): their pilots' keys and their checksums, in the order
// they came. gone[ship]: its terminal left, or was let go, and sends no more.
struct DuelNews {
  std::array<std::vector<FrameKeys>, 2> keys;
  std::array<std::vector<FrameChecksums>, 2> checksums;
  std::array<bool, 2> gone{};
};

// The pilots' terminals of a duel, as the game's thread reaches them: a
// server room's, or the host's one game's (see Room for what each does).
class DuelTerminals {
 public:
  virtual ~DuelTerminals() = default;
  virtual bool beginDuel(std::uint16_t correctionFrames, std::uint32_t frame,
                         const std::string& state) = 0;
  virtual void sendFrameKeys(int ship, const FrameKeys& keys) = 0;
  virtual void sendRepair(int ship, const BattleRepair& repair) = 0;
  virtual void endDuel(std::uint32_t frames) = 0;
  virtual DuelNews takeDuelNews() = 0;
};

// One game's terminals: who sits where, the picture each is sent, their keys
// for the game's keyboards and their heartbeat. Its connections live on the
// network's thread; the game's thread hands it every picture it presents and
// takes the joined keyboards' keys from it, under one lock. Nothing else from
// the wire reaches the game.
//
// At a host, the joined terminals are pilot 2 (the newest to ask takes the
// seat) and watchers. In a server's room the first terminal is the room's
// host (the game's first keyboard), the next pilot 2, later ones watch; when
// the host leaves, pilot 2 (else the longest-joined watcher) moves up, and a
// free pilot's seat goes to the longest-joined watcher that joined to play.
// Nobody's ship changes hands during a two-person match, though: pilot 2
// keeps the right ship to its end, a host's left ship goes to the
// longest-joined watcher (or the next terminal to come) until then, or flies
// on with no keys, and the usual moves up wait for the match to be over.
class Room final : public SeatInbox, public PeerHome, public DuelTerminals {
 public:
  // One line for the server's log, without its time.
  using EventLog = std::function<void(const std::string&)>;

  Room(RoomOptions options, EventLog log);
  Room(const Room&) = delete;
  Room& operator=(const Room&) = delete;

  const std::string& name() const { return options_.name; }
  bool atServer() const { return !options_.name.empty(); }
  bool listed() const { return options_.listed; }
  std::chrono::steady_clock::time_point openedAt() const { return openedAt_; }
  // Safe from any thread.
  ServerCounters* counters() const { return options_.counters; }

  // --- On the network's thread.
  // Seats a peer whose hello passed, or says why not.
  std::optional<Refusal> seat(const std::shared_ptr<Peer>& peer, Role asked);
  void onMessage(const std::shared_ptr<Peer>& peer, Message& message) override;
  void onClosed(const std::shared_ptr<Peer>& peer, const std::string& why) override;
  // Its output has all been written: one that skipped pictures catches up.
  void onDrained(Peer& peer) override;
  // Nothing heard from it for the silence limit: it is let go.
  void onSilent(const std::shared_ptr<Peer>& peer) override;
  // Pings every terminal, and lets go of any that fell behind.
  void beatHeart();
  // Sends every terminal a last goodbye.
  void sayGoodbye(const std::string& reason, const std::string& why);
  // Sends every terminal the newest picture the game published.
  void sendPicture();
  // Terminals still connected, goodbyes on their way out included.
  bool isEmpty() const { return peers_.empty(); }
  // Terminals seated now.
  std::size_t terminals() const;
  // Adds the room's seated terminals and browsers to `seats`.
  void countSeats(SeatCounts& seats) const;
  // Since when pilot 2's seat has been free; none while it is taken.
  std::optional<std::chrono::steady_clock::time_point> pilotSeatFreeSince() const {
    return pilotSeatFreeSince_;
  }
  // The room's row in a lobby: what its game is doing, as it last told, and
  // who sits in it.
  ListedRoom listing(std::chrono::steady_clock::time_point now) const;
  // Called once its last terminal has left (a server closes the room then).
  void onEmptied(std::function<void()> emptied) { emptied_ = std::move(emptied); }
  // `post` runs a function on the network's thread; publish uses it.
  void onPublished(std::function<void(std::function<void()>)> post) { post_ = std::move(post); }

  // --- On the game's thread.
  // A server room's first keyboard: the room host's keys, and the room's
  // waits. Closing it ends the game at its next wait.
  InboxKeySource& firstKeys() { return firstKeys_; }
  // `wake` is called from the network's thread when keys or news arrive,
  // under the room's lock: it must only wake, not call back into the room.
  void onNews(std::function<void()> wake);
  // The picture as the game presents it; the cursor shows on the joined
  // terminals only with `cursorShown`.
  void publish(const Screen& screen, bool cursorShown);
  // Pilot 2's keys, as the second seat's inbox.
  void takeTyped(std::string& bytes) override;
  void expectKeys(bool expected) override;
  // Whether pilot 2 is seated: until then the room's host plays both pilots.
  bool seated() const override;
  RoomStatus status() const;
  // What the game is doing, for the lobby's row (once onPublished is set).
  void tellFacts(const GameFacts& facts);

  // --- The duel: a two-person battle whose pilots both sit at terminals
  // that play it themselves (version kFirstDuelVersion or later, not a
  // browser). Also on the game's thread; what goes out is handed to the
  // network's thread, as pictures are.
  // Whether both ships' terminals can play a duel now: at a host, pilot 2's
  // (the left ship is the host's own keyboard); at a server, the first
  // keyboard's (the room host, or whoever stands in for it) and pilot 2's.
  // If so, each is sent its BattleStart (ship 0 the first keyboard's, 1 pilot
  // 2's), they are the duel's terminals until endDuel, and the answer is
  // true; else nothing is sent. A duel under way is forgotten first, unended.
  bool beginDuel(std::uint16_t correctionFrames, std::uint32_t frame,
                 const std::string& state) override;
  // Keys for the terminal flying `ship` (0 or 1): at a host, its own pilot's
  // keys for pilot 2. A server passes each duel terminal's keys on to the
  // other by itself, at once.
  void sendFrameKeys(int ship, const FrameKeys& keys) override;
  void sendRepair(int ship, const BattleRepair& repair) override;
  // Sends the duel's terminals (those still here) its BattleOver, and
  // forgets the duel: what they still send of it is dropped.
  void endDuel(std::uint32_t frames) override;
  // What the duel's terminals sent since the last call.
  DuelNews takeDuelNews() override;

 private:
  void seatAt(const std::shared_ptr<Peer>& peer, Seat seat);
  void moveUp(const std::shared_ptr<Peer>& peer, Seat seat);
  void fillFreeSeats();
  bool shipsHeld() const;
  void afterTwoPersonMatch();
  void unseat(const std::shared_ptr<Peer>& peer, const std::string& why);
  void onPilotKeys(const Keys& keys);
  void onPong(const Peer& peer, const Pong& pong);
  void updatePeer(Peer& peer);
  void changeStatus(const std::function<void(RoomStatus&)>& change);
  void noteSeats();
  void tellSeats(Peer& peer);
  std::shared_ptr<Peer> seatedAt(Seat seat) const;
  std::size_t countSeated(Seat seat) const;
  void logEvent(const std::string& line) const;
  void noteDuelSeats();
  std::shared_ptr<Peer> duelSeatHolder(int ship) const;
  void startDuel(const BattleStart& start);
  void finishDuel(std::uint32_t frames);
  void sendToDuel(int ship, const Message& message);
  void onFrameKeys(const std::shared_ptr<Peer>& peer, const FrameKeys& keys);
  void onFrameChecksums(const std::shared_ptr<Peer>& peer, const FrameChecksums& checksums);
  bool inDuel(const std::shared_ptr<Peer>& peer, const char* what);
  bool queueDuelNews(int ship, const Message& message);
  void leaveDuel(Peer& peer);
  void markDuelGone(int ship);

  RoomOptions options_;
  EventLog log_;
  std::function<void()> emptied_;
  std::function<void(std::function<void()>)> post_;
  std::list<std::shared_ptr<Peer>> peers_;  // in the order they joined
  Screen picture_{80, 25};                  // the newest picture, on the network's thread
  InboxKeySource firstKeys_;
  RoomSeats seats_;  // who sits in a server's room, as its terminals are told
  std::chrono::steady_clock::time_point openedAt_;
  std::optional<std::chrono::steady_clock::time_point> pilotSeatFreeSince_;
  GameFacts facts_;                                 // as the game last told them
  std::array<std::shared_ptr<Peer>, 2> duelPeers_;  // the duel's terminals, by ship
  std::uint16_t duelCorrectionFrames_ = 1;          // of the duel under way

  mutable std::mutex shared_;  // guards everything below
  Screen publishedPicture_{80, 25};
  bool picturePosted_ = false;
  std::string pilotKeys_;
  bool keysExpected_ = false;
  RoomStatus status_;
  std::function<void()> wake_;
  // Which ships' seats hold a terminal that can play a duel, as the network's
  // thread last saw them.
  std::array<bool, 2> duelSeatsReady_{};
  bool duelUnderWay_ = false;  // as the game sees it: begun and not yet ended
  DuelNews duelNews_;
  // Battle frames of keys, and of checksums, each ship's terminal sent that
  // the game has not taken yet.
  std::array<std::size_t, 2> untakenKeyFrames_{};
  std::array<std::size_t, 2> untakenChecksumFrames_{};
};

// Who an address is, for limits and for slowing down guesses: an IPv4
// address, or an IPv6 address's /64 network, which one machine may hold all
// of (a fresh address for every guess would otherwise count as a stranger).
std::string guesserOf(const std::string& address);

}  // namespace skyrazor::network
