// skyrazor_write_sessions COUNT FIRST_SEED DIR
//
// Writes COUNT random whole sessions (random_session.h) for tools/compare-outputs,
// which plays each with two builds of the game and compares what they print.
// Session N (from 0) follows from the seed FIRST_SEED + N and goes to
// DIR/NNNN.script, with DIR/NNNN.args holding, on one line, the options that
// follow `--script DIR/NNNN.script` on the command line: the same pair of files
// as a case in tests/scripts.
//
// Every dump is on, colours too, so that any change in what the game draws
// shows. The screens keep the writer's whole range, 1x1 to 300x100: dumps of
// every frame in colour make 300 sessions print about 2 GB, which the two
// builds play side by side in under a minute on two cores.

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <system_error>

#include "support/random_session.h"

namespace {

bool parseNumber(std::string_view text, std::uint64_t& number) {
  const char* end = text.data() + text.size();
  auto [stop, error] = std::from_chars(text.data(), end, number);
  return error == std::errc() && stop == end && !text.empty();
}

std::string sessionName(std::uint64_t number) {
  char name[32];
  std::snprintf(name, sizeof name, "%04llu", static_cast<unsigned long long>(number));
  return name;
}

bool writeFile(const std::filesystem::path& path, const std::string& text) {
  std::ofstream file(path, std::ios::binary);
  file << text;
  return static_cast<bool>(file.flush());
}

}  // namespace

int main(int argc, char** argv) {
  std::uint64_t count = 0;
  std::uint64_t firstSeed = 0;
  if (argc != 4 || !parseNumber(argv[1], count) || !parseNumber(argv[2], firstSeed)) {
    std::fprintf(stderr, "usage: skyrazor_write_sessions COUNT FIRST_SEED DIR\n");
    return 2;
  }
  const std::filesystem::path directory = argv[3];
  std::error_code error;
  std::filesystem::create_directories(directory, error);
  if (error) {
    std::fprintf(stderr, "skyrazor_write_sessions: cannot make %s: %s\n", argv[3],
                 error.message().c_str());
    return 1;
  }
  for (std::uint64_t number = 0; number < count; ++number) {
    skyrazor::testing::RandomSession session =
        skyrazor::testing::RandomSessionWriter(firstSeed + number).write();
    session.dumps = {true, true, true, true};
    const std::filesystem::path base = directory / sessionName(number);
    if (!writeFile(base.string() + ".script", session.script) ||
        !writeFile(base.string() + ".args", session.optionArguments() + "\n")) {
      std::fprintf(stderr, "skyrazor_write_sessions: cannot write %s\n", base.string().c_str());
      return 1;
    }
  }
  return 0;
}
