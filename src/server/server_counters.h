#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>

#include "platform/network/wire_format.h"

namespace skyrazor::network {

// Why a terminal or a browser was turned away, as the server's metrics count
// it: the reasons a refusal tells, with the crowded ones told apart, and the
// web face's own.
enum class RefusalKind : std::size_t {
  WrongCode,
  VersionMismatch,
  SeatTaken,
  RoomFull,
  TooManyConnections,
  PerAddressLimit,
  TooManyWaiting,
  TooManyWrongGuesses,
  BadHello,
  NoSuchRoom,
  TooManyRooms,
  RoomNameTaken,
  OriginRefused,
  TooManyRequests,
  Count
};

RefusalKind refusalKindOf(RefusalReason reason);
// The metrics' label for it, e.g. "room_full".
const char* refusalLabel(RefusalKind kind);

// Battle frame periods counted into a few buckets around the game's usual
// 50 ms, from every room's thread at once, with nothing but atomics.
class FramePeriodHistogram {
 public:
  // The buckets' upper bounds, in seconds; past the last, the +Inf bucket.
  static constexpr std::array<double, 10> kBounds{0.045, 0.049, 0.051, 0.053, 0.055,
                                                  0.06,  0.075, 0.1,   0.25,  1.0};

  void count(double seconds);
  // Periods in each bucket (not cumulative), the +Inf bucket last.
  std::array<std::uint64_t, kBounds.size() + 1> bucketCounts() const;
  double sumSeconds() const;

 private:
  std::array<std::atomic<std::uint64_t>, kBounds.size() + 1> buckets_{};
  std::atomic<std::uint64_t> sumMicroseconds_{0};
};

// What the server counts as it goes, for its metrics: refusals and bytes on
// the network thread, frame periods on the rooms' threads. Every figure is
// an atomic, so that counting never takes a lock.
struct ServerCounters {
  void refused(RefusalKind kind) {
    refusals[static_cast<std::size_t>(kind)].fetch_add(1, std::memory_order_relaxed);
  }

  std::array<std::atomic<std::uint64_t>, static_cast<std::size_t>(RefusalKind::Count)> refusals{};
  FramePeriodHistogram framePeriods;
  std::atomic<std::uint64_t> sentBytes{0};
  // Two-person battles played at both pilots' own terminals, and the times a
  // terminal drifted from the room's battle and was repaired (the goal: none).
  std::atomic<std::uint64_t> duels{0};
  std::atomic<std::uint64_t> duelRepairs{0};
};

}  // namespace skyrazor::network
