#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace skyrazor::network {

// Seats taken in rooms, by what the terminal is and where it sits.
struct SeatCounts {
  std::size_t terminalPilots = 0;
  std::size_t terminalWatchers = 0;
  std::size_t browserPilots = 0;
  std::size_t browserWatchers = 0;
};

// The server process's own use of the machine, where the system tells it.
struct ProcessFigures {
  double cpuSeconds = 0.0;
  std::uint64_t residentBytes = 0;
  double startTimeSeconds = 0.0;  // since the Unix epoch
};

// Everything /metrics shows, as plain figures.
struct MetricFigures {
  std::size_t rooms = 0;
  std::size_t lobbyVisitors = 0;
  SeatCounts seats;
  std::vector<std::pair<std::string, std::uint64_t>> refusals;  // by reason label
  // Battle frame periods: each bucket's upper bound in seconds and its count
  // (not cumulative), then the +Inf bucket's count.
  std::vector<double> frameBounds;
  std::vector<std::uint64_t> frameCounts;
  double frameSumSeconds = 0.0;
  std::uint64_t sentBytes = 0;
  std::uint64_t duels = 0;
  std::uint64_t duelRepairs = 0;
  std::optional<ProcessFigures> process;
};

// The figures in Prometheus's text exposition format 0.0.4.
std::string metricsText(const MetricFigures& figures);

// Read from /proc on Linux; none elsewhere.
std::optional<ProcessFigures> readProcessFigures();

}  // namespace skyrazor::network
