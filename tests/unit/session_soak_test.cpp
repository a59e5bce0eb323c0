// Soak: a few hundred random whole sessions of the game (tests/support/
// random_session.h), some of them at two keyboards, each played as a scripted
// run on a screen from 1x1 to 300x100, with the battle's promises checked
// after every frame and a watch for read loops that spin. Run under the sanitizers by `make test`,
// where a sanitizer report ends the process and names the session that caused it.
//
// Every session follows from the soak's seed and its number, so a failure
// reproduces: the script is written to a file and the command line that
// replays it is printed. To rerun a stretch of sessions, set
// SKYRAZOR_SOAK_SEED, SKYRAZOR_SOAK_FIRST and SKYRAZOR_SOAK_SESSIONS and run
// skyrazor_tests --gtest_filter='SessionSoak*'.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <streambuf>
#include <string>
#include <thread>
#include <variant>

#include "console/console.h"
#include "platform/scripted/script.h"
#include "platform/scripted/scripted_platform.h"
#include "shell/game.h"
#include "shell/game_session.h"
#include "support/random_session.h"
#include "support/watchful_platform.h"

#if defined(__SANITIZE_ADDRESS__) && __has_include(<sanitizer/common_interface_defs.h>)
#include <sanitizer/common_interface_defs.h>
#define SKYRAZOR_HAVE_DEATH_CALLBACK 1
#endif

namespace skyrazor {
namespace {

using testing::RandomSession;
using testing::RandomSessionWriter;
using testing::WatchAlarm;
using testing::WatchfulPlatform;

constexpr std::uint64_t kDefaultSeed = 20240917;
constexpr std::uint64_t kDefaultSessions = 300;
// Battle frames per session at most; a session at speed 10 with ships that
// never die would otherwise run as long as its script allows.
constexpr std::int64_t kFrameCapPerSession = 1500;
// Far beyond what any session needs, even under the sanitizers.
constexpr auto kSessionTimeLimit = std::chrono::seconds(60);

std::uint64_t environmentNumber(const char* name, std::uint64_t fallback) {
  const char* text = std::getenv(name);
  return text != nullptr && *text != '\0' ? std::strtoull(text, nullptr, 0) : fallback;
}

// The session being played, for the last words of a process that dies in it.
std::atomic<std::uint64_t> currentSeed{0};
std::atomic<std::uint64_t> currentSession{0};

void nameTheSession(const char* how) {
  std::fprintf(stderr,
               "\nsoak: %s in session %llu of seed %llu; rerun it with SKYRAZOR_SOAK_SEED=%llu "
               "SKYRAZOR_SOAK_FIRST=%llu SKYRAZOR_SOAK_SESSIONS=1\n",
               how, static_cast<unsigned long long>(currentSession.load()),
               static_cast<unsigned long long>(currentSeed.load()),
               static_cast<unsigned long long>(currentSeed.load()),
               static_cast<unsigned long long>(currentSession.load()));
}

// Ends the process, naming the session, when one session takes far too
// long: a loop that spins without ever calling the console.
class SessionWatchdog {
 public:
  SessionWatchdog() : thread_([this] { watch(); }) {}
  ~SessionWatchdog() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
    }
    changed_.notify_one();
    thread_.join();
  }
  void sessionStarted() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ++generation_;
    }
    changed_.notify_one();
  }

 private:
  void watch() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stopping_) {
      const std::uint64_t seen = generation_;
      if (!changed_.wait_for(lock, kSessionTimeLimit,
                             [&] { return stopping_ || generation_ != seen; })) {
        nameTheSession("no end after 60 s");
        std::abort();
      }
    }
  }

  std::mutex mutex_;
  std::condition_variable changed_;
  std::uint64_t generation_ = 0;
  bool stopping_ = false;
  std::thread thread_;
};

// Swallows the dumps, which are still made so that their code runs too.
class DiscardingBuffer : public std::streambuf {
 protected:
  int_type overflow(int_type character) override { return character; }
  std::streamsize xsputn(const char*, std::streamsize count) override { return count; }
};

struct SessionResult {
  std::string problem;  // empty when the session kept every promise
  std::int64_t frames = 0;
  std::int64_t virtualMs = 0;
};

SessionResult playSession(const RandomSession& session) {
  SessionResult result;
  std::variant<Script, ScriptError> parsed = parseScript(session.script);
  if (const ScriptError* error = std::get_if<ScriptError>(&parsed)) {
    result.problem = "the written script does not parse: line " + std::to_string(error->line) +
                     ": " + error->message;
    return result;
  }
  DiscardingBuffer discarded;
  std::ostream out(&discarded);
  Screen screen(session.columns, session.rows);
  ScriptedPlatform run(screen, std::move(std::get<Script>(parsed)), session.dumps, session.limitMs,
                       out);
  WatchfulPlatform watch(run, kFrameCapPerSession);
  try {
    playGameSession({screen, watch, watch, watch.secondKeyboard(), watch},
                    [&watch](Game& game) { watch.watch(game.duel); });
    run.dumpEnd();
  } catch (const WatchAlarm& alarm) {
    result.problem = alarm.what;
  }
  result.frames = watch.frames();
  result.virtualMs = run.elapsedMs();
  return result;
}

std::string keepScript(const RandomSession& session, std::uint64_t seed, std::uint64_t number) {
  std::filesystem::path path =
      std::filesystem::path(::testing::TempDir()) /
      ("skyrazor_soak_" + std::to_string(seed) + "_" + std::to_string(number) + ".script");
  std::ofstream(path, std::ios::binary) << session.script;
  return path.string();
}

std::uint64_t sessionSeed(std::uint64_t seed, std::uint64_t number) {
  return seed * 1000003u + number;
}

TEST(SessionSoak, RandomWholeSessionsKeepEveryPromise) {
  const std::uint64_t seed = environmentNumber("SKYRAZOR_SOAK_SEED", kDefaultSeed);
  const std::uint64_t first = environmentNumber("SKYRAZOR_SOAK_FIRST", 0);
  const std::uint64_t count = environmentNumber("SKYRAZOR_SOAK_SESSIONS", kDefaultSessions);
  currentSeed = seed;
#ifdef SKYRAZOR_HAVE_DEATH_CALLBACK
  __sanitizer_set_death_callback([] { nameTheSession("a sanitizer report"); });
#endif
  SessionWatchdog watchdog;
  std::int64_t frames = 0;
  std::int64_t virtualMs = 0;
  int failures = 0;
  const auto start = std::chrono::steady_clock::now();
  for (std::uint64_t number = first; number < first + count; ++number) {
    currentSession = number;
    watchdog.sessionStarted();
    const RandomSession session = RandomSessionWriter(sessionSeed(seed, number), true).write();
    const SessionResult result = playSession(session);
    frames += result.frames;
    virtualMs += result.virtualMs;
    if (!result.problem.empty() && ++failures <= 5) {
      const std::string path = keepScript(session, seed, number);
      ADD_FAILURE() << "session " << number << " of seed " << seed << ": " << result.problem
                    << "\n  replay: skyrazor " << session.replayArguments(path);
    }
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf(
      "soak: %llu sessions of seed %llu, %lld battle frames, %.0f s of game time, in %.1f s\n",
      static_cast<unsigned long long>(count), static_cast<unsigned long long>(seed),
      static_cast<long long>(frames), static_cast<double>(virtualMs) / 1000.0, seconds);
  EXPECT_EQ(failures, 0);
}

// The watch itself: the soak can only pass for the right reasons if it
// notices a loop that spins and a battle that breaks a promise.
struct WatchedRun {
  explicit WatchedRun(const char* scriptText)
      : run(screen, std::get<Script>(parseScript(scriptText)), DumpOptions{}, 0, out), watch(run) {
    watch.watch(duel);
  }
  DiscardingBuffer discarded;
  std::ostream out{&discarded};
  Screen screen{80, 25};
  ScriptedPlatform run;
  WatchfulPlatform watch;
  Duel duel;
};

TEST(SessionSoakWatch, APollThatNeverLetsTimePassIsASpin) {
  WatchedRun watched("wait 1000\nkey a\n");
  EXPECT_THROW(
      {
        for (;;) {
          watched.watch.keyWaiting();
        }
      },
      WatchAlarm);
}

TEST(SessionSoakWatch, FramesAndReadsThatMoveTimeAreNoSpin) {
  WatchedRun watched("wait 100000\nkey a\n");
  applyDefaultSet(watched.duel);
  rearmShips(watched.duel);
  for (int frame = 1; frame <= WatchfulPlatform::kSpinLimit / 2; ++frame) {
    watched.watch.keyWaiting();
    watched.watch.present();
    watched.watch.sleep(10);
    watched.watch.frameEnded(frame);
  }
  EXPECT_EQ(watched.watch.readKey(), 'a');
}

TEST(SessionSoakWatch, ABrokenPromiseAtAFrameEndRaisesTheAlarm) {
  WatchedRun watched("key a\n");
  applyDefaultSet(watched.duel);
  rearmShips(watched.duel);
  watched.watch.frameEnded(1);
  watched.duel.right().ship.row = 12;
  EXPECT_THROW(watched.watch.frameEnded(2), WatchAlarm);
}

}  // namespace
}  // namespace skyrazor
