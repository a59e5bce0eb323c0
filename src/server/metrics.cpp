#include "server/metrics.h"

#include <array>
#include <charconv>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

#if defined(__linux__)
#include <unistd.h>
#endif

namespace skyrazor::network {
namespace {

// The shortest text that reads back as the same number, as Prometheus
// reads floats.
std::string numberText(double value) {
  std::array<char, 32> text{};
  const auto result = std::to_chars(text.data(), text.data() + text.size(), value);
  return std::string(text.data(), result.ptr);
}

class Exposition {
 public:
  void family(const char* name, const char* type, const char* help) {
    text_ += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " " + type + "\n";
  }
  void sample(const std::string& name, const std::string& labels, const std::string& value) {
    text_ += name + (labels.empty() ? "" : "{" + labels + "}") + " " + value + "\n";
  }
  void sample(const std::string& name, const std::string& labels, std::uint64_t value) {
    sample(name, labels, std::to_string(value));
  }
  std::string take() { return std::move(text_); }

 private:
  std::string text_;
};

void addSeats(Exposition& out, const SeatCounts& seats) {
  out.family("skyrazor_seats", "gauge",
             "Seats taken in rooms, by terminal or browser and by seat.");
  out.sample("skyrazor_seats", "kind=\"terminal\",seat=\"pilot\"", seats.terminalPilots);
  out.sample("skyrazor_seats", "kind=\"terminal\",seat=\"watcher\"", seats.terminalWatchers);
  out.sample("skyrazor_seats", "kind=\"browser\",seat=\"pilot\"", seats.browserPilots);
  out.sample("skyrazor_seats", "kind=\"browser\",seat=\"watcher\"", seats.browserWatchers);
}

void addFramePeriods(Exposition& out, const MetricFigures& figures) {
  const char* name = "skyrazor_room_frame_period_seconds";
  out.family(name, "histogram", "Time from one battle frame's end to the next's, in all rooms.");
  std::uint64_t cumulative = 0;
  for (std::size_t bucket = 0; bucket < figures.frameCounts.size(); ++bucket) {
    cumulative += figures.frameCounts[bucket];
    const std::string bound =
        bucket < figures.frameBounds.size() ? numberText(figures.frameBounds[bucket]) : "+Inf";
    out.sample(std::string(name) + "_bucket", "le=\"" + bound + "\"", cumulative);
  }
  out.sample(std::string(name) + "_sum", "", numberText(figures.frameSumSeconds));
  out.sample(std::string(name) + "_count", "", cumulative);
}

void addProcess(Exposition& out, const ProcessFigures& process) {
  out.family("process_cpu_seconds_total", "counter",
             "Total user and system CPU time spent in seconds.");
  out.sample("process_cpu_seconds_total", "", numberText(process.cpuSeconds));
  out.family("process_resident_memory_bytes", "gauge", "Resident memory size in bytes.");
  out.sample("process_resident_memory_bytes", "", process.residentBytes);
  out.family("process_start_time_seconds", "gauge",
             "Start time of the process since unix epoch in seconds.");
  out.sample("process_start_time_seconds", "", numberText(process.startTimeSeconds));
}

}  // namespace

std::string metricsText(const MetricFigures& figures) {
  Exposition out;
  out.family("skyrazor_rooms", "gauge", "Rooms open, each its own game.");
  out.sample("skyrazor_rooms", "", figures.rooms);
  addSeats(out, figures.seats);
  out.family("skyrazor_lobbies", "gauge",
             "Terminals and browsers looking at the lobby's list of rooms.");
  out.sample("skyrazor_lobbies", "", figures.lobbyVisitors);
  out.family("skyrazor_refusals_total", "counter",
             "Terminals and browsers turned away, by reason.");
  for (const auto& [reason, count] : figures.refusals) {
    out.sample("skyrazor_refusals_total", "reason=\"" + reason + "\"", count);
  }
  addFramePeriods(out, figures);
  out.family("skyrazor_sent_bytes_total", "counter",
             "Bytes sent to seated terminals and browsers.");
  out.sample("skyrazor_sent_bytes_total", "", figures.sentBytes);
  out.family("skyrazor_duels_total", "counter",
             "Two-person battles played at both pilots' own terminals.");
  out.sample("skyrazor_duels_total", "", figures.duels);
  out.family("skyrazor_duel_repairs_total", "counter",
             "Pilots' terminals found apart from their room's battle and repaired.");
  out.sample("skyrazor_duel_repairs_total", "", figures.duelRepairs);
  if (figures.process) {
    addProcess(out, *figures.process);
  }
  return out.take();
}

// /proc/self/stat's fields after the program's name (which may hold spaces
// and brackets, so it is skipped to its last ')'): utime and stime are the
// 12th and 13th, starttime the 20th, in clock ticks; the boot time is
// /proc/stat's btime.
std::optional<ProcessFigures> readProcessFigures() {
#if defined(__linux__)
  std::ifstream statFile("/proc/self/stat");
  std::ifstream memoryFile("/proc/self/statm");
  std::ifstream systemFile("/proc/stat");
  std::string stat((std::istreambuf_iterator<char>(statFile)), std::istreambuf_iterator<char>());
  const std::size_t nameEnd = stat.rfind(')');
  if (nameEnd == std::string::npos) {
    return std::nullopt;
  }
  std::istringstream fields(stat.substr(nameEnd + 2));
  std::array<std::string, 20> field;
  for (std::string& value : field) {
    fields >> value;
  }
  std::uint64_t pages = 0;
  std::uint64_t residentPages = 0;
  memoryFile >> pages >> residentPages;
  std::uint64_t bootTime = 0;
  for (std::string word; systemFile >> word;) {
    if (word == "btime") {
      systemFile >> bootTime;
      break;
    }
  }
  const double ticks = static_cast<double>(::sysconf(_SC_CLK_TCK));
  if (!fields || !memoryFile || ticks <= 0) {
    return std::nullopt;
  }
  ProcessFigures process;
  process.cpuSeconds = (std::stod(field[11]) + std::stod(field[12])) / ticks;
  process.residentBytes = residentPages * static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE));
  process.startTimeSeconds = static_cast<double>(bootTime) + std::stod(field[19]) / ticks;
  return process;
#else
  return std::nullopt;
#endif
}

}  // namespace skyrazor::network
