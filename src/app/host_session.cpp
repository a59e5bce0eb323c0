#include <iostream>
#include <limits>
#include <memory>

#include "app/duel_log.h"
#include "app/live_platform.h"
#include "app/network_sessions.h"
#include "app/network_status.h"
#include "app/recording_news.h"
#include "console/screen.h"
#include "platform/live/live_keyboard.h"
#include "platform/network/join_code.h"
#include "platform/network/network_error.h"
#include "platform/scripted/recorded_session.h"
#include "server/duel_referee.h"
#include "server/host_server.h"
#include "shell/game_session.h"

namespace skyrazor {
namespace {

using network::HostServer;
using network::HostStatus;

// The host's terminal: the backend's keys and time, with the network game's
// status line kept up to date at every wait, and the cursor's state noted
// for the joined terminals.
class HostTerminal final : public KeySource {
 public:
  HostTerminal(LivePlatform& terminal, const HostServer& server, std::string howToJoin)
      : terminal_(terminal), server_(server), howToJoin_(std::move(howToJoin)) {
    showStatus();
  }

  bool typing() const { return typing_; }

  std::int64_t wallMs() override { return terminal_.wallMs(); }
  void waitUntil(std::int64_t deadlineMs) override {
    terminal_.waitUntil(deadlineMs);
    showStatus();
  }
  bool waitForInput() override {
    bool typed = terminal_.waitForInput();
    showStatus();
    return typed;
  }
  void wake() override { terminal_.wake(); }
  void takeTyped(std::string& bytes, bool afterWait) override {
    terminal_.takeTyped(bytes, afterWait);
  }
  void checkEnded() override { terminal_.checkEnded(); }
  void typingLine(bool typing) override {
    typing_ = typing;
    terminal_.typingLine(typing);
  }

 private:
  // Until pilot 2 is in, how to join shows even over the picture; a change
  // of seats after that is brought up over it for a few seconds.
  void showStatus() {
    HostStatus status = server_.status();
    if (shownChanges_ == status.changes) {
      return;
    }
    const bool firstShown = shownChanges_ == std::numeric_limits<std::uint64_t>::max();
    const bool seatsChanged = status.pilotJoined != shownSeats_.pilotJoined ||
                              status.pilotAddress != shownSeats_.pilotAddress ||
                              status.watchers != shownSeats_.watchers;
    shownChanges_ = status.changes;
    shownSeats_ = status;
    if (status.pilotJoined) {
      terminal_.showStatus("Pilot 2 at " + status.pilotAddress + " - " +
                               roundTripText(status.pilotRoundTripMicroseconds) +
                               watchersText(status.watchers),
                           false);
    } else {
      terminal_.showStatus(howToJoin_ + watchersText(status.watchers), true);
    }
    if (seatsChanged && !firstShown) {
      terminal_.bringUpStatus();
    }
  }

  LivePlatform& terminal_;
  const HostServer& server_;
  std::string howToJoin_;
  bool typing_ = false;
  // None yet: the first status read is always shown.
  std::uint64_t shownChanges_ = std::numeric_limits<std::uint64_t>::max();
  HostStatus shownSeats_;  // who sat where when the status was last shown
};

// Every picture the game presents goes to the joined terminals too.
class JoinedDisplays final : public Display {
 public:
  JoinedDisplays(HostServer& server, const Screen& screen, const HostTerminal& terminal)
      : server_(server), screen_(screen), terminal_(terminal) {}
  void present() override { server_.publish(screen_, terminal_.typing()); }

 private:
  HostServer& server_;
  const Screen& screen_;
  const HostTerminal& terminal_;
};

// What the host's terminal shows: the game's picture, or in a duel the
// battle as the host's own pilot plays it, a little ahead of the game.
class HostView final : public Display {
 public:
  HostView(LivePlatform& terminal, const Screen& picture, Screen& shown)
      : terminal_(terminal), picture_(picture), shown_(shown) {}
  void present() override {
    if (!inDuel_) {
      shown_ = picture_;
      terminal_.present();
    }
  }
  void frameEnded(int frameNumber) override { terminal_.frameEnded(frameNumber); }
  void tellFacts(const GameFacts& facts) override { terminal_.tellFacts(facts); }
  void showDuel(const Screen& view) {
    inDuel_ = true;
    shown_ = view;
    terminal_.present();
  }
  void endDuel() {
    inDuel_ = false;
    present();
  }

 private:
  LivePlatform& terminal_;
  const Screen& picture_;
  Screen& shown_;
  bool inDuel_ = false;
};

// The host's own pilot in a duel: the keys typed at this terminal, one a
// frame, and the battle shown as they play it.
class TerminalPilot final : public network::HostPilot {
 public:
  TerminalPilot(LiveKeyboard& keyboard, HostView& view) : keyboard_(keyboard), view_(view) {}
  FrameKey takeKey() override {
    keyboard_.takeInTyped();
    if (!keyboard_.keyWaiting()) {
      return {};
    }
    return {true, keyboard_.takeWaitingKey()};
  }
  void show(const Screen& view) override { view_.showDuel(view); }
  void duelOver() override { view_.endDuel(); }

 private:
  LiveKeyboard& keyboard_;
  HostView& view_;
};

std::string howToJoin(const network::HostOptions& options, std::uint16_t port) {
  const std::string address =
      options.address.empty() ? network::thisMachineAddress() : options.address;
  return "To join: skyrazor --join " + endpointText(address, port) + " --code " + options.joinCode;
}

int playHosted(HostServer& server, const std::string& joinLine, ScriptRecorder* recorder,
               DuelLog& duelLog) {
  Screen screen(80, 25);
  Screen shown(80, 25);
  LivePlatform terminal(shown);
  server.onNews([&terminal] { terminal.wake(); });
  NewsStop newsStop(server);
  HostTerminal source(terminal, server, joinLine);
  HostView view(terminal, screen, shown);
  JoinedDisplays joined(server, screen, source);
  Displays displays;
  displays.add(view);
  displays.add(joined);
  LiveKeyboard keyboard(source, displays, screen, LivePlatform::kEndOfInputKey, &server);
  TerminalPilot pilot(keyboard, view);
  network::DuelReferee referee(server, source, keyboard, keyboard, *keyboard.secondKeyboard(),
                               &pilot, [&duelLog](const std::string& line) { duelLog.note(line); });
  if (recorder == nullptr) {
    return playGameSession({screen, displays, referee.firstKeyboard(), &referee.secondKeyboard(),
                            referee.clock(), &referee});
  }
  RecordedClock clock(referee.clock(), *recorder, 2);
  RecordedKeyboard first(referee.firstKeyboard(), clock, *recorder, KeyboardSeat::First);
  RecordedKeyboard second(referee.secondKeyboard(), clock, *recorder, KeyboardSeat::Second);
  RecordingNews news(*recorder, terminal);
  return playGameSession({screen, displays, first, &second, clock, &referee});
}

}  // namespace

int hostOnTerminal(const NetworkOptions& network, ScriptRecorder* recorder) {
  DuelLog duelLog(network.duelLog);
  network::HostOptions options;
  options.address = network.address;
  options.port = network.port;
  options.joinCode = network::normalJoinCode(network.joinCode.empty() ? network::drawJoinCode()
                                                                      : network.joinCode);
  std::unique_ptr<HostServer> server;
  try {
    server = std::make_unique<HostServer>(options);
  } catch (const network::NetworkError& error) {
    std::cerr << "skyrazor: " << error.what() << "\n";
    return 1;
  }
  try {
    return playHosted(*server, howToJoin(options, server->port()), recorder, duelLog);
  } catch (const TerminalUnavailable& unavailable) {
    std::cerr << "skyrazor: " << unavailable.what() << "\n";
    return 1;
  }
}

}  // namespace skyrazor
