#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/command_line.h"

namespace skyrazor {
namespace {

using Mode = CommandLine::Mode;

CommandLine parse(std::vector<std::string> arguments) {
  return parseCommandLine(arguments);
}

TEST(CommandLineTest, ScriptAloneTakesTheDefaults) {
  EXPECT_EQ(parse({}).mode, Mode::Play);
  CommandLine commandLine = parse({"--script", "duel.script"});
  ASSERT_EQ(commandLine.mode, Mode::Scripted);
  const ScriptedRunOptions& options = commandLine.scripted;
  EXPECT_EQ(options.scriptPath, "duel.script");
  EXPECT_EQ(options.columns, 80);
  EXPECT_EQ(options.rows, 25);
  EXPECT_FALSE(options.dumps.reads || options.dumps.sleeps || options.dumps.frames ||
               options.dumps.colors);
  EXPECT_EQ(options.limitMs, 3600000);
}

TEST(CommandLineTest, EveryScriptedOptionInAnyOrder) {
  CommandLine commandLine = parse({"--colors", "--limit", "0", "--script", "-", "--dump-frames",
                                   "--size", "40x12", "--dump-sleeps", "--dump-reads"});
  ASSERT_EQ(commandLine.mode, Mode::Scripted);
  const ScriptedRunOptions& options = commandLine.scripted;
  EXPECT_EQ(options.scriptPath, "-");
  EXPECT_EQ(options.columns, 40);
  EXPECT_EQ(options.rows, 12);
  EXPECT_TRUE(options.dumps.reads && options.dumps.sleeps && options.dumps.frames &&
              options.dumps.colors);
  EXPECT_EQ(options.limitMs, 0);
}

TEST(CommandLineTest, SizeAndLimitRanges) {
  CommandLine smallest = parse({"--script", "s", "--size", "1x1000", "--limit", "99999999999"});
  ASSERT_EQ(smallest.mode, Mode::Scripted);
  EXPECT_EQ(smallest.scripted.columns, 1);
  EXPECT_EQ(smallest.scripted.rows, 1000);
  EXPECT_EQ(smallest.scripted.limitMs, 99999999999);

  for (const char* bad : {"0x25", "80x0", "1001x25", "80x1001", "-80x25", "80", "80x", "x25",
                          "80X25", "80x25x2", "80 x25", ""}) {
    CommandLine commandLine = parse({"--script", "s", "--size", bad});
    EXPECT_EQ(commandLine.error, "--size needs COLSxROWS, each from 1 to 1000, e.g. 80x25") << bad;
  }
  for (const char* bad : {"-1", "1.5", "10ms", "", "99999999999999999999999"}) {
    CommandLine commandLine = parse({"--script", "s", "--limit", bad});
    EXPECT_EQ(commandLine.error, "--limit needs a whole number of milliseconds, 0 or more") << bad;
  }
}

TEST(CommandLineTest, RecordAndReplay) {
  CommandLine record = parse({"--record", "run.script"});
  EXPECT_EQ(record.mode, Mode::Play);
  EXPECT_EQ(record.recordPath, "run.script");

  CommandLine replay = parse({"--speed", "2.5", "--replay", "run.script"});
  ASSERT_EQ(replay.mode, Mode::Replay);
  EXPECT_EQ(replay.replay.scriptPath, "run.script");
  EXPECT_DOUBLE_EQ(replay.replay.speed, 2.5);
  EXPECT_DOUBLE_EQ(parse({"--replay", "run.script"}).replay.speed, 1.0);
  // Standard input is the keyboard that stops a replay.
  EXPECT_EQ(parse({"--replay", "-"}).error,
            "--replay cannot read standard input (-), the keyboard that stops it");

  for (const std::vector<std::string>& wrong : std::vector<std::vector<std::string>>{
           {"--record"},
           {"--replay"},
           {"--replay", "a", "--speed", "0"},
           {"--replay", "a", "--speed", "-1"},
           {"--replay", "a", "--speed", "fast"},
           {"--replay", "a", "--speed", "101"},
           {"--speed", "2"},
           {"--record", "a", "--script", "b"},
           {"--record", "a", "--replay", "b"},
           {"--script", "a", "--replay", "b"},
           {"--replay", "a", "--size", "40x12"},
       }) {
    EXPECT_EQ(parse(wrong).mode, Mode::Error) << wrong[0] << " " << wrong.back();
  }
}

TEST(CommandLineTest, MistakesAreErrors) {
  for (std::vector<std::string> arguments : std::vector<std::vector<std::string>>{
           {"--script"},
           {"--script", "s", "--size"},
           {"--script", "s", "--limit"},
           {"duel.script"},
           {"--size=80x25", "--script", "s"},
       }) {
    EXPECT_EQ(parse(arguments).mode, Mode::Error) << arguments[0];
  }
  EXPECT_EQ(parse({"--script", "s", "--dump-all"}).error,
            "unknown argument '--dump-all' (try --help)");
  EXPECT_EQ(parse({"--\x1b]0;owned\x07"}).error,
            "unknown argument '--\\x1b]0;owned\\x07' (try --help)");
  // The dump options mean nothing without a script.
  for (const char* option : {"--dump-reads", "--dump-sleeps", "--dump-frames", "--colors"}) {
    EXPECT_EQ(parse({option}).error, "--size, --limit, --dump-* and --colors go with --script");
  }
}

TEST(CommandLineTest, NetworkGameEndpointsAndCodes) {
  struct Endpoint {
    std::vector<std::string> arguments;
    Mode mode;
    std::string address;
    std::uint16_t port;
  };
  for (const Endpoint& good : std::vector<Endpoint>{
           {{"--host", "5151"}, Mode::Host, "", 5151},
           {{"--host", "127.0.0.1:1"}, Mode::Host, "127.0.0.1", 1},
           {{"--host", "[::1]:65535"}, Mode::Host, "::1", 65535},
           {{"--join", "localhost:5151", "--code", "k7qf9m"}, Mode::Join, "localhost", 5151},
           {{"--watch", "[0:0:0:0:0:0:0:1]:80"}, Mode::Watch, "0:0:0:0:0:0:0:1", 80},
       }) {
    CommandLine commandLine = parse(good.arguments);
    EXPECT_EQ(commandLine.mode, good.mode) << good.arguments[1];
    EXPECT_EQ(commandLine.network.address, good.address);
    EXPECT_EQ(commandLine.network.port, good.port);
  }
  EXPECT_EQ(parse({"--host", "1", "--code", "K7QF9M", "--record", "r"}).recordPath, "r");

  for (const char* bad : {"0", "65536", "-1", "+5", "port", "::1:5151", "[::1]", "[]:5", ":5"}) {
    EXPECT_EQ(parse({"--host", bad}).error, "--host needs [ADDRESS:]PORT, e.g. 5151 or [::1]:5151")
        << bad;
  }
  EXPECT_EQ(parse({"--join", "5151"}).error,
            "--join needs HOST:PORT, e.g. 127.0.0.1:5151 or [::1]:5151");
  for (const char* bad : {"", "seventeen-letters", "A B", "ab;c", "12345678901234567"}) {
    EXPECT_EQ(parse({"--join", "127.0.0.1:1", "--code", bad}).error,
              "--code needs 1 to 16 letters and digits")
        << bad;
  }
  EXPECT_EQ(parse({"--code", "A"}).error, "--code goes with --host, --join or --watch");
  EXPECT_EQ(parse({"--join", "127.0.0.1:1", "--record", "r"}).error,
            "--record goes with playing on the terminal or --host, not with --join");
  EXPECT_EQ(parse({"--host", "1", "--watch", "127.0.0.1:1"}).error,
            "--watch does not go with --host");
  EXPECT_EQ(parse({"--script", "s", "--host", "1"}).error, "--host does not go with --script");
}

TEST(CommandLineTest, ServerAndRooms) {
  const CommandLine serve = parse({"--serve", "[::1]:5151", "--record-dir", "rooms",
                                   "--max-per-address", "200", "--max-rooms", "3000"});
  EXPECT_EQ(serve.mode, Mode::Serve);
  EXPECT_EQ(serve.network.address, "::1");
  EXPECT_EQ(serve.serve.recordDirectory, "rooms");
  EXPECT_EQ(serve.serve.mostPerAddress, 200u);
  EXPECT_EQ(serve.serve.mostRooms, 3000u);
  EXPECT_EQ(parse({"--watch", "127.0.0.1:1", "--room", "Friday_2"}).network.roomName, "Friday_2");

  EXPECT_EQ(parse({"--serve", "x"}).error, "--serve needs [ADDRESS:]PORT, e.g. 5151 or [::1]:5151");
  for (const char* bad : {"", "two words", "slash/room", "a-name-longer-than-thirty-two-chars"}) {
    EXPECT_EQ(parse({"--join", "127.0.0.1:1", "--room", bad}).error,
              "--room needs 1 to 32 letters, digits, '-' or '_'")
        << bad;
  }
  EXPECT_EQ(parse({"--serve", "1", "--max-rooms", "0"}).error,
            "--max-rooms needs a whole number from 1 to 1000000");
  EXPECT_EQ(parse({"--serve", "1", "--room", "a"}).error,
            "--room and --new-room go with --join or --watch");
  EXPECT_EQ(parse({"--join", "127.0.0.1:1", "--record-dir", "d"}).error,
            "--record-dir, --max-per-address, --max-rooms, --ssh-socket, --web-origin and "
            "--trust-proxy go with --serve");
  EXPECT_EQ(parse({"--serve", "1", "--web-origin", "https://play.example.org/path"}).error,
            "--web-origin needs an origin such as https://play.example.org");
  EXPECT_EQ(parse({"--serve", "1", "--trust-proxy", "proxy.example.org"}).error,
            "--trust-proxy needs the proxy's IPv4 or IPv6 address");
  const CommandLine proxied = parse(
      {"--serve", "1", "--web-origin", "https://play.example.org", "--trust-proxy", "127.0.0.1"});
  EXPECT_EQ(proxied.serve.webOrigin, "https://play.example.org");
  EXPECT_EQ(proxied.serve.trustedProxy, "127.0.0.1");
  // Without an address, the server serves on the sockets systemd passed;
  // only --metrics-from may be given more than once.
  const CommandLine activated =
      parse({"--serve", "--metrics-from", "192.0.2.7", "--metrics-from", "2001:db8::7"});
  EXPECT_EQ(activated.mode, Mode::Serve);
  EXPECT_TRUE(activated.serve.passedSockets);
  EXPECT_EQ(activated.serve.metricsFrom, (std::vector<std::string>{"192.0.2.7", "2001:db8::7"}));
  EXPECT_TRUE(parse({"--serve"}).serve.passedSockets);
  EXPECT_FALSE(parse({"--serve", "1"}).serve.passedSockets);
  EXPECT_EQ(parse({"--serve", "1", "--metrics-from", "prometheus.example.org"}).error,
            "--metrics-from needs an IPv4 or IPv6 address");
  EXPECT_EQ(parse({"--host", "1", "--metrics-from", "127.0.0.1"}).error,
            "--metrics-from goes with --serve");
  EXPECT_EQ(parse({"--host"}).error, "--host needs [ADDRESS:]PORT, e.g. 5151 or [::1]:5151");
  EXPECT_EQ(parse({"--join", "127.0.0.1:1", "--room", "a", "--code", "B"}).error,
            "--code is a host's, --room and --new-room a server's: give one of them");

  // A new room is opened only when asked for by name; joining never opens one.
  const CommandLine opening = parse({"--join", "127.0.0.1:1", "--new-room", "Friday"});
  EXPECT_TRUE(opening.network.newRoom);
  EXPECT_EQ(opening.network.roomName, "Friday");
  EXPECT_FALSE(parse({"--join", "127.0.0.1:1", "--room", "Friday"}).network.newRoom);
  EXPECT_EQ(parse({"--watch", "127.0.0.1:1", "--new-room", "x"}).error,
            "--new-room goes with --join: a new room has nothing to watch yet");
  EXPECT_EQ(parse({"--join", "127.0.0.1:1", "--room", "x", "--new-room", "y"}).error,
            "--room joins a room, --new-room opens one: give one of them");

  // The ssh entrance joins on the server's local socket and says where its
  // player is; nobody else may.
  const CommandLine entrance =
      parse({"--join", "/run/skyrazor/ssh.sock", "--from", "127.0.0.5", "--room", "x"});
  EXPECT_EQ(entrance.mode, Mode::Join);
  EXPECT_EQ(entrance.network.localSocket, "/run/skyrazor/ssh.sock");
  EXPECT_EQ(entrance.network.playerAddress, "127.0.0.5");
  EXPECT_EQ(parse({"--join", "127.0.0.1:1", "--from", "127.0.0.5"}).error,
            "--from goes with --join or --watch at a server's local socket (a path)");
  EXPECT_EQ(parse({"--join", "/s", "--from", "somewhere"}).error,
            "--from needs the player's IPv4 or IPv6 address");
  EXPECT_EQ(parse({"--serve", "1", "--ssh-socket", "/run/s"}).serve.sshSocket, "/run/s");
  EXPECT_EQ(parse({"--serve", "1", "--ssh-socket", "relative"}).error,
            "--ssh-socket needs a path from the root, e.g. /run/skyrazor/ssh.sock");
}

TEST(CommandLineTest, HelpAndVersionGoAlone) {
  EXPECT_EQ(parse({"--help"}).mode, Mode::Help);
  EXPECT_EQ(parse({"-h"}).mode, Mode::Help);
  EXPECT_EQ(parse({"--version"}).mode, Mode::Version);
  EXPECT_EQ(parse({"--help", "extra"}).error, "--help goes alone, without other arguments");
  EXPECT_EQ(parse({"--script", "s", "-h"}).error, "-h goes alone, without other arguments");
  EXPECT_EQ(parse({"--version", "--help"}).error, "--version goes alone, without other arguments");
}

TEST(CommandLineTest, AnOptionGivenTwiceIsAnError) {
  struct Twice {
    std::vector<std::string> arguments;
    std::string option;
  };
  for (const Twice& twice : std::vector<Twice>{
           {{"--script", "a", "--script", "b"}, "--script"},
           {{"--record", "a", "--record", "b"}, "--record"},
           {{"--replay", "a", "--replay", "b"}, "--replay"},
           {{"--replay", "a", "--speed", "2", "--speed", "3"}, "--speed"},
           {{"--script", "s", "--size", "80x25", "--size", "40x12"}, "--size"},
           {{"--script", "s", "--limit", "0", "--limit", "5"}, "--limit"},
           {{"--script", "s", "--dump-reads", "--colors", "--dump-reads"}, "--dump-reads"},
       }) {
    EXPECT_EQ(parse(twice.arguments).error, twice.option + " given twice");
  }
  // A value that happens to be spelled like an option is no second option.
  EXPECT_EQ(parse({"--script", "--script"}).scripted.scriptPath, "--script");
}

}  // namespace
}  // namespace skyrazor
