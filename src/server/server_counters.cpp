#include "server/server_counters.h"

#include <algorithm>
#include <cmath>

namespace skyrazor::network {

RefusalKind refusalKindOf(RefusalReason reason) {
  switch (reason) {
    case RefusalReason::WrongCode:
      return RefusalKind::WrongCode;
    case RefusalReason::VersionMismatch:
      return RefusalKind::VersionMismatch;
    case RefusalReason::SeatTaken:
      return RefusalKind::SeatTaken;
    case RefusalReason::RoomFull:
      return RefusalKind::RoomFull;
    case RefusalReason::TooManyConnections:
      return RefusalKind::TooManyConnections;
    case RefusalReason::MalformedHello:
      return RefusalKind::BadHello;
    case RefusalReason::NoSuchRoom:
      return RefusalKind::NoSuchRoom;
    case RefusalReason::TooManyRooms:
      return RefusalKind::TooManyRooms;
    case RefusalReason::RoomNameTaken:
      return RefusalKind::RoomNameTaken;
  }
  return RefusalKind::BadHello;
}

const char* refusalLabel(RefusalKind kind) {
  static constexpr std::array<const char*, static_cast<std::size_t>(RefusalKind::Count)> kLabels{
      "wrong_code",       "version_mismatch",       "seat_taken",
      "room_full",        "too_many_connections",   "per_address_limit",
      "too_many_waiting", "too_many_wrong_guesses", "bad_hello",
      "no_such_room",     "too_many_rooms",         "room_name_taken",
      "origin_refused",   "too_many_requests"};
  return kLabels[static_cast<std::size_t>(kind)];
}

void FramePeriodHistogram::count(double seconds) {
  const auto bucket = static_cast<std::size_t>(
      std::lower_bound(kBounds.begin(), kBounds.end(), seconds) - kBounds.begin());
  buckets_[bucket].fetch_add(1, std::memory_order_relaxed);
  sumMicroseconds_.fetch_add(static_cast<std::uint64_t>(std::llround(seconds * 1e6)),
                             std::memory_order_relaxed);
}

std::array<std::uint64_t, FramePeriodHistogram::kBounds.size() + 1>
FramePeriodHistogram::bucketCounts() const {
  std::array<std::uint64_t, kBounds.size() + 1> counts{};
  for (std::size_t bucket = 0; bucket < counts.size(); ++bucket) {
    counts[bucket] = buckets_[bucket].load(std::memory_order_relaxed);
  }
  return counts;
}

double FramePeriodHistogram::sumSeconds() const {
  return static_cast<double>(sumMicroseconds_.load(std::memory_order_relaxed)) / 1e6;
}

}  // namespace skyrazor::network
