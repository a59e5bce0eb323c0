#include "app/command_line.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdlib>
#include <optional>
#include <set>
#include <string_view>

#include "platform/network/join_code.h"
#include "platform/scripted/printable_text.h"

namespace skyrazor {
namespace {

std::optional<std::int64_t> parseWhole(std::string_view text) {
  std::int64_t value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc{} || end != text.data() + text.size() || text.empty()) {
    return std::nullopt;
  }
  return value;
}

// A speed factor: a plain decimal number from 0.01 to 100.
std::optional<double> parseSpeed(const std::string& text) {
  if (text.empty() || text.find_first_not_of("0123456789.") != std::string::npos) {
    return std::nullopt;
  }
  char* end = nullptr;
  double value = std::strtod(text.c_str(), &end);
  if (end != text.c_str() + text.size() || value < 0.01 || value > 100) {
    return std::nullopt;
  }
  return value;
}

bool parseSize(std::string_view text, int& columns, int& rows) {
  std::size_t cross = text.find('x');
  if (cross == std::string_view::npos) {
    return false;
  }
  std::optional<std::int64_t> parsedColumns = parseWhole(text.substr(0, cross));
  std::optional<std::int64_t> parsedRows = parseWhole(text.substr(cross + 1));
  if (!parsedColumns || !parsedRows || *parsedColumns < 1 || *parsedColumns > 1000 ||
      *parsedRows < 1 || *parsedRows > 1000) {
    return false;
  }
  columns = static_cast<int>(*parsedColumns);
  rows = static_cast<int>(*parsedRows);
  return true;
}

// A port, 1 to 65535.
std::optional<std::uint16_t> parsePort(std::string_view text) {
  std::optional<std::int64_t> port = parseWhole(text);
  if (!port || *port < 1 || *port > 65535 || text.front() == '+' || text.front() == '-') {
    return std::nullopt;
  }
  return static_cast<std::uint16_t>(*port);
}

// "ADDRESS:PORT", "[IPV6]:PORT", or for a host's own side "PORT" alone.
bool parseEndpoint(std::string_view text, bool portAlone, NetworkOptions& network) {
  std::string_view address;
  std::string_view port = text;
  if (!text.empty() && text.front() == '[') {
    std::size_t close = text.find("]:");
    if (close == std::string_view::npos || close == 1) {
      return false;
    }
    address = text.substr(1, close - 1);
    port = text.substr(close + 2);
  } else if (std::size_t colon = text.rfind(':'); colon != std::string_view::npos) {
    address = text.substr(0, colon);
    port = text.substr(colon + 1);
    if (address.empty() || address.find(':') != std::string_view::npos) {
      return false;  // an IPv6 address goes in brackets
    }
  } else if (!portAlone) {
    return false;
  }
  std::optional<std::uint16_t> number = parsePort(port);
  if (!number) {
    return false;
  }
  network.address = std::string(address);
  network.port = *number;
  return true;
}

// A join code is read out and typed in: letters and digits only.
bool isJoinCode(const std::string& code) {
  return !code.empty() && code.size() <= 16 &&
         code.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789") ==
             std::string::npos;
}

bool isAddress(const std::string& text) {
  return network::isIpAddress(text);
}

// An origin as a browser sends it: a scheme, a host and maybe a port, no
// path; only printable bytes, since it is compared byte for byte.
bool isWebOrigin(const std::string& text) {
  const bool secure = text.rfind("https://", 0) == 0;
  if (!secure && text.rfind("http://", 0) != 0) {
    return false;
  }
  const std::string host = text.substr(secure ? 8 : 7);
  return !host.empty() && host.size() <= 253 &&
         std::all_of(host.begin(), host.end(), [](char character) {
           return std::isalnum(static_cast<unsigned char>(character)) || character == '.' ||
                  character == '-' || character == ':' || character == '[' || character == ']';
         });
}

CommandLine failure(std::string message) {
  CommandLine commandLine;
  commandLine.mode = CommandLine::Mode::Error;
  commandLine.error = std::move(message);
  return commandLine;
}

}  // namespace

CommandLine parseCommandLine(const std::vector<std::string>& arguments) {
  CommandLine commandLine;
  bool scriptedOptionSeen = false;
  bool speedSeen = false;
  bool codeSeen = false;
  bool roomSeen = false;
  bool serverOptionSeen = false;
  bool metricsFromSeen = false;
  std::string modeOption;  // --script, --replay, --host, --join, --watch or --serve
  std::set<std::string> optionsSeen;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    // Given twice, an option's second value would quietly win over the first.
    // (Anything reached here a second time was taken as an option the first
    // time: an unknown argument has already ended the parse.)
    // --metrics-from alone names one more address each time.
    if (argument != "--metrics-from" && !optionsSeen.insert(argument).second) {
      return failure(argument + " given twice");
    }
    auto takeValue = [&](std::string& value) {
      if (i + 1 >= arguments.size()) {
        return false;
      }
      value = arguments[++i];
      return true;
    };
    std::string value;
    if (argument == "--help" || argument == "-h" || argument == "--version") {
      // Whatever else was asked for would go undone.
      if (arguments.size() > 1) {
        return failure(argument + " goes alone, without other arguments");
      }
      commandLine.mode =
          argument == "--version" ? CommandLine::Mode::Version : CommandLine::Mode::Help;
      return commandLine;
    } else if (argument == "--script") {
      if (commandLine.mode != CommandLine::Mode::Play) {
        return failure("--script does not go with " + modeOption);
      }
      if (!takeValue(commandLine.scripted.scriptPath)) {
        return failure("--script needs a file name (or - for standard input)");
      }
      commandLine.mode = CommandLine::Mode::Scripted;
      modeOption = argument;
    } else if (argument == "--record") {
      if (!takeValue(commandLine.recordPath)) {
        return failure("--record needs a file name");
      }
    } else if (argument == "--duel-log") {
      if (!takeValue(commandLine.network.duelLog)) {
        return failure("--duel-log needs a file name");
      }
    } else if (argument == "--replay") {
      if (commandLine.mode != CommandLine::Mode::Play) {
        return failure("--replay does not go with " + modeOption);
      }
      if (!takeValue(commandLine.replay.scriptPath)) {
        return failure("--replay needs a file name");
      }
      // A replay reads the keyboard, which stops it and answers its last
      // "press a key", so the keyboard cannot also be where the script comes from.
      if (commandLine.replay.scriptPath == "-") {
        return failure("--replay cannot read standard input (-), the keyboard that stops it");
      }
      commandLine.mode = CommandLine::Mode::Replay;
      modeOption = argument;
    } else if (argument == "--host" || argument == "--join" || argument == "--watch" ||
               argument == "--serve") {
      if (commandLine.mode != CommandLine::Mode::Play) {
        return failure(argument + " does not go with " + modeOption);
      }
      const bool listening = argument == "--host" || argument == "--serve";
      if (!listening && i + 1 < arguments.size() && arguments[i + 1].rfind('/', 0) == 0) {
        // A path: the server's local socket, as its ssh entrance joins.
        takeValue(commandLine.network.localSocket);
      } else if (argument == "--serve" &&
                 (i + 1 >= arguments.size() || arguments[i + 1].rfind("--", 0) == 0)) {
        // No address: systemd's sockets, when it passed any.
        commandLine.serve.passedSockets = true;
      } else if (!takeValue(value) || !parseEndpoint(value, listening, commandLine.network)) {
        return failure(listening
                           ? argument + " needs [ADDRESS:]PORT, e.g. 5151 or [::1]:5151"
                           : argument + " needs HOST:PORT, e.g. 127.0.0.1:5151 or [::1]:5151");
      }
      commandLine.mode = argument == "--host"    ? CommandLine::Mode::Host
                         : argument == "--serve" ? CommandLine::Mode::Serve
                         : argument == "--join"  ? CommandLine::Mode::Join
                                                 : CommandLine::Mode::Watch;
      modeOption = argument;
    } else if (argument == "--room" || argument == "--new-room") {
      if (roomSeen) {
        return failure("--room joins a room, --new-room opens one: give one of them");
      }
      roomSeen = true;
      commandLine.network.newRoom = argument == "--new-room";
      if (!takeValue(commandLine.network.roomName) ||
          network::normalRoomName(commandLine.network.roomName).empty()) {
        return failure(argument + " needs 1 to 32 letters, digits, '-' or '_'");
      }
    } else if (argument == "--from") {
      if (!takeValue(commandLine.network.playerAddress) ||
          !isAddress(commandLine.network.playerAddress)) {
        return failure("--from needs the player's IPv4 or IPv6 address");
      }
    } else if (argument == "--ssh-socket") {
      serverOptionSeen = true;
      if (!takeValue(commandLine.serve.sshSocket) ||
          commandLine.serve.sshSocket.rfind('/', 0) != 0) {
        return failure("--ssh-socket needs a path from the root, e.g. /run/skyrazor/ssh.sock");
      }
    } else if (argument == "--web-origin") {
      serverOptionSeen = true;
      if (!takeValue(commandLine.serve.webOrigin) || !isWebOrigin(commandLine.serve.webOrigin)) {
        return failure("--web-origin needs an origin such as https://play.example.org");
      }
    } else if (argument == "--trust-proxy") {
      serverOptionSeen = true;
      if (!takeValue(commandLine.serve.trustedProxy) ||
          !isAddress(commandLine.serve.trustedProxy)) {
        return failure("--trust-proxy needs the proxy's IPv4 or IPv6 address");
      }
    } else if (argument == "--metrics-from") {
      metricsFromSeen = true;
      commandLine.serve.metricsFrom.emplace_back();
      if (!takeValue(commandLine.serve.metricsFrom.back()) ||
          !isAddress(commandLine.serve.metricsFrom.back())) {
        return failure("--metrics-from needs an IPv4 or IPv6 address");
      }
    } else if (argument == "--record-dir") {
      serverOptionSeen = true;
      if (!takeValue(commandLine.serve.recordDirectory) ||
          commandLine.serve.recordDirectory.empty()) {
        return failure("--record-dir needs a directory");
      }
    } else if (argument == "--max-per-address" || argument == "--max-rooms") {
      serverOptionSeen = true;
      std::optional<std::int64_t> most;
      if (!takeValue(value) || !(most = parseWhole(value)) || *most < 1 || *most > 1000000) {
        return failure(argument + " needs a whole number from 1 to 1000000");
      }
      (argument == "--max-rooms" ? commandLine.serve.mostRooms : commandLine.serve.mostPerAddress) =
          static_cast<std::size_t>(*most);
    } else if (argument == "--code") {
      codeSeen = true;
      if (!takeValue(commandLine.network.joinCode) || !isJoinCode(commandLine.network.joinCode)) {
        return failure("--code needs 1 to 16 letters and digits");
      }
    } else if (argument == "--speed") {
      speedSeen = true;
      std::optional<double> speed;
      if (!takeValue(value) || !(speed = parseSpeed(value))) {
        return failure("--speed needs a number from 0.01 to 100, e.g. 2 or 0.5");
      }
      commandLine.replay.speed = *speed;
    } else if (argument == "--size") {
      scriptedOptionSeen = true;
      if (!takeValue(value) ||
          !parseSize(value, commandLine.scripted.columns, commandLine.scripted.rows)) {
        return failure("--size needs COLSxROWS, each from 1 to 1000, e.g. 80x25");
      }
    } else if (argument == "--limit") {
      scriptedOptionSeen = true;
      std::optional<std::int64_t> limit;
      if (!takeValue(value) || !(limit = parseWhole(value)) || *limit < 0) {
        return failure("--limit needs a whole number of milliseconds, 0 or more");
      }
      commandLine.scripted.limitMs = *limit;
    } else if (argument == "--dump-reads") {
      scriptedOptionSeen = true;
      commandLine.scripted.dumps.reads = true;
    } else if (argument == "--dump-sleeps") {
      scriptedOptionSeen = true;
      commandLine.scripted.dumps.sleeps = true;
    } else if (argument == "--dump-frames") {
      scriptedOptionSeen = true;
      commandLine.scripted.dumps.frames = true;
    } else if (argument == "--colors") {
      scriptedOptionSeen = true;
      commandLine.scripted.dumps.colors = true;
    } else {
      return failure("unknown argument '" + printableExcerpt(argument) + "' (try --help)");
    }
  }
  if (scriptedOptionSeen && commandLine.mode != CommandLine::Mode::Scripted) {
    return failure("--size, --limit, --dump-* and --colors go with --script");
  }
  if (speedSeen && commandLine.mode != CommandLine::Mode::Replay) {
    return failure("--speed goes with --replay");
  }
  if (!commandLine.recordPath.empty() && commandLine.mode != CommandLine::Mode::Play &&
      commandLine.mode != CommandLine::Mode::Host) {
    return failure("--record goes with playing on the terminal or --host, not with " + modeOption);
  }
  if (!commandLine.network.duelLog.empty() && commandLine.mode != CommandLine::Mode::Host &&
      commandLine.mode != CommandLine::Mode::Join) {
    return failure("--duel-log goes with --host or --join");
  }
  if (codeSeen && commandLine.mode != CommandLine::Mode::Host &&
      commandLine.mode != CommandLine::Mode::Join && commandLine.mode != CommandLine::Mode::Watch) {
    return failure("--code goes with --host, --join or --watch");
  }
  if (roomSeen && commandLine.mode != CommandLine::Mode::Join &&
      commandLine.mode != CommandLine::Mode::Watch) {
    return failure("--room and --new-room go with --join or --watch");
  }
  if (commandLine.network.newRoom && commandLine.mode != CommandLine::Mode::Join) {
    return failure("--new-room goes with --join: a new room has nothing to watch yet");
  }
  if (roomSeen && codeSeen) {
    return failure("--code is a host's, --room and --new-room a server's: give one of them");
  }
  if (!commandLine.network.playerAddress.empty() && commandLine.network.localSocket.empty()) {
    return failure("--from goes with --join or --watch at a server's local socket (a path)");
  }
  if (serverOptionSeen && commandLine.mode != CommandLine::Mode::Serve) {
    return failure(
        "--record-dir, --max-per-address, --max-rooms, --ssh-socket, --web-origin and "
        "--trust-proxy go with --serve");
  }
  if (metricsFromSeen && commandLine.mode != CommandLine::Mode::Serve) {
    return failure("--metrics-from goes with --serve");
  }
  return commandLine;
}

const char* usageText() {
  return "Usage: skyrazor [--help | --version]\n"
         "       skyrazor [--record FILE]\n"
         "       skyrazor --host [ADDRESS:]PORT [--code CODE] [--record FILE] [--duel-log FILE]\n"
         "       skyrazor --join HOST:PORT [--code CODE | --room NAME | --new-room NAME]\n"
         "                [--duel-log FILE]\n"
         "       skyrazor --watch HOST:PORT [--code CODE | --room NAME]\n"
         "       skyrazor --join PATH --from ADDRESS [--room NAME | --new-room NAME]\n"
         "       skyrazor --serve [[ADDRESS:]PORT] [--record-dir DIR] [--max-per-address N]\n"
         "                [--max-rooms N] [--ssh-socket PATH] [--web-origin URL]\n"
         "                [--trust-proxy ADDRESS] [--metrics-from ADDRESS]...\n"
         "       skyrazor --replay FILE [--speed X]\n"
         "       skyrazor --script FILE [--size COLSxROWS] [--dump-reads] [--dump-sleeps]\n"
         "                [--dump-frames] [--colors] [--limit MS]\n"
         "\n"
         "A text-mode space duel for two ships in a framed arena.\n"
         "Without arguments the game plays in this terminal.\n"
         "\n"
         "Controls in battle:\n"
         "  pilot 1 (left):  e up, s down, w next weapon, a fire\n"
         "  pilot 2 (right): p up, l down, o next weapon, k fire\n"
         "Menus take single keys; names, levels and options are typed and ended with Enter.\n"
         "\n"
         "The game has no quit key: press Ctrl-C to leave it (Ctrl-D at a prompt also ends it;\n"
         "in a Windows console, Ctrl-Z). Ctrl-L paints the screen again; Ctrl-G shows a\n"
         "network game's status row for three seconds (over the picture's bottom row in a\n"
         "window of 25 rows). The picture is 80x25; a smaller window shows its top-left\n"
         "part and says so.\n"
         "\n"
         "Two terminals, one duel (over the network):\n"
         "  --host [ADDRESS:]PORT  play here and let another terminal join as pilot 2\n"
         "                     (without ADDRESS: on every address, IPv4 and IPv6); the\n"
         "                     screen shows how to join, with a join code. Until someone\n"
         "                     joins, two-person matches are played at this keyboard\n"
         "                     alone; one who joins is pilot 2 from the next match on\n"
         "  --join HOST:PORT   join a host as pilot 2: type pilot 2's name and fly the\n"
         "                     right ship in two-person battles, watch the rest\n"
         "  --watch HOST:PORT  watch a host's game\n"
         "  --code CODE        the join code (1 to 16 letters and digits); without it the\n"
         "                     host draws one and a joining terminal asks for it, three\n"
         "                     tries\n"
         "  --duel-log FILE    with --host or --join: add each duel's figures to FILE\n"
         "                     (frames, corrections, repairs)\n"
         "In a two-person battle between two terminals of this version, each terminal plays\n"
         "the battle itself: its own pilot's keys show at once, the other pilot's as soon\n"
         "as they arrive, and the host keeps the one battle both played.\n"
         "An IPv6 address goes in brackets: [::1]:5151. Ctrl-C or Ctrl-D leaves a joined\n"
         "game. The row below the picture (in a window of 26 rows or more) shows the\n"
         "connection and its round-trip time; in one of 25 rows, over the bottom row for\n"
         "three seconds when someone comes or goes, and on Ctrl-G.\n"
         "\n"
         "A server of many rooms, each its own game:\n"
         "  --serve [ADDRESS:]PORT  serve rooms without a terminal of its own until SIGINT or\n"
         "                     SIGTERM, one line per event on standard error; without\n"
         "                     ADDRESS:PORT, on the listening sockets systemd passed\n"
         "                     (socket activation)\n"
         "  --room NAME        with --join or --watch at a server: the room to join (1 to 32\n"
         "                     letters, digits, - or _); a room that is not there is refused\n"
         "  --new-room NAME    with --join: open a new private room of that name (refused\n"
         "                     when the name is taken). The first terminal in a room is\n"
         "                     its host (menus, prompts, the left ship), the second pilot\n"
         "                     2, later ones watch\n"
         "--join SERVER:PORT with neither opens the server's lobby, a list of its rooms:\n"
         "Up and Down choose one, Enter joins it, w watches it; q is a quick match, n a\n"
         "new room, p a private one (its name is on the status row, Ctrl-G), r joins a\n"
         "room by its name.\n"
         "  --record-dir DIR   with --serve: write each room's session to DIR as a script\n"
         "  --max-per-address N  terminals one address may have at once (default 16)\n"
         "  --max-rooms N      rooms at once (default 1000)\n"
         "  --ssh-socket PATH  also listen on a local socket for the ssh entrance\n"
         "                     (skyrazor-ssh-join --socket PATH), which alone may say where\n"
         "                     a player came from: --join PATH --from ADDRESS\n"
         "  --web-origin URL   pages at this origin (a public name behind a proxy, e.g.\n"
         "                     https://play.example.org) may open seats, besides the\n"
         "                     server's own\n"
         "  --trust-proxy ADDRESS  browsers coming through the reverse proxy at ADDRESS\n"
         "                     count as the address its X-Forwarded-For names\n"
         "  --metrics-from ADDRESS  besides this machine, ADDRESS may read the Prometheus\n"
         "                     metrics at /metrics (repeatable)\n"
         "\n"
         "Record and replay:\n"
         "  --record FILE      play as usual (or --host) and write the session to FILE as\n"
         "                     a script\n"
         "  --replay FILE      play a script on the terminal; any key stops it\n"
         "  --speed X          with --replay, X times as fast, 0.01..100 (default 1)\n"
         "\n"
         "Scripted runs play the game headless from a script of timed keys on a virtual\n"
         "clock and print exact screen dumps:\n"
         "  --script FILE      the script to play (- reads it from standard input)\n"
         "  --size COLSxROWS   size of the virtual screen, each 1..1000 (default 80x25)\n"
         "  --dump-reads       dump the screen at every key read and typed-line read\n"
         "  --dump-sleeps      dump the screen at every sleep\n"
         "  --dump-frames      dump the screen at the end of every battle frame\n"
         "  --colors           add the foreground colour of every cell to each dump\n"
         "  --limit MS         stop MS milliseconds after the script's end (default 3600000)\n"
         "A script with 'keyboards 2' plays at two keyboards: key2 and type2 are the second\n"
         "one's, which types pilot 2's name and flies the right ship. From a line\n"
         "'keyboard2 away' to a line 'keyboard2 here', nobody is at the second keyboard:\n"
         "two-person matches set up meanwhile are played at the first keyboard alone.\n"
         "A recording played with --script FILE --limit 0 ends where its session ended.\n"
         "\n"
         "Exit status: 0 when the game ends normally, 1 without a terminal or when the\n"
         "network game cannot start or is lost, 2 for a bad option or script, 128+N when\n"
         "signal N ended the game. See skyrazor(6).\n";
}

}  // namespace skyrazor
