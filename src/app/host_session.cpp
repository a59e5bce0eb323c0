#include <iostream>
#include <limits>
#include <memory>

#include "app/live_platform.h"
#include "app/network_sessions.h"
#include "app/network_status.h"
#include "app/recording_news.h"
#include "console/screen.h"
#include "platform/live/live_keyboard.h"
#include "platform/network/join_code.h"
#include "platform/network/network_error.h"
#include "platform/scripted/recorded_session.h"
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

std::string howToJoin(const network::HostOptions& options, std::uint16_t port) {
  const std::string address =
      options.address.empty() ? network::thisMachineAddress() : options.address;
  return "To join: skyrazor --join " + endpointText(address, port) + " --code " + options.joinCode;
}

int playHosted(HostServer& server, const std::string& joinLine, ScriptRecorder* recorder) {
  Screen screen(80, 25);
  LivePlatform terminal(screen);
  server.onNews([&terminal] { terminal.wake(); });
  NewsStop newsStop(server);
  HostTerminal source(terminal, server, joinLine);
  JoinedDisplays joined(server, screen, source);
  Displays displays;
  displays.add(terminal);
  displays.add(joined);
  LiveKeyboard keyboard(source, displays, screen, LivePlatform::kEndOfInputKey, &server);
  Keyboard& pilot2 = *keyboard.secondKeyboard();
  if (recorder == nullptr) {
    return playGameSession({screen, displays, keyboard, &pilot2, keyboard});
  }
  RecordedClock clock(keyboard, *recorder, 2);
  RecordedKeyboard first(keyboard, keyboard, *recorder, KeyboardSeat::First);
  RecordedKeyboard second(pilot2, keyboard, *recorder, KeyboardSeat::Second);
  RecordingNews news(*recorder, terminal);
  return playGameSession({screen, displays, first, &second, clock});
}

}  // namespace

int hostOnTerminal(const NetworkOptions& network, ScriptRecorder* recorder) {
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
    return playHosted(*server, howToJoin(options, server->port()), recorder);
  } catch (const TerminalUnavailable& unavailable) {
    std::cerr << "skyrazor: " << unavailable.what() << "\n";
    return 1;
  }
}

}  // namespace skyrazor
