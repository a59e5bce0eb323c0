// Whole runs of the real program, played from the scripts in tests/scripts.
//
// Each NAME.script is played with `skyrazor --script NAME.script`, followed by
// the extra arguments in NAME.args when that file exists (words separated by
// blanks or line ends). Standard output must equal NAME.expected byte for
// byte. The exit status must be the number in NAME.status (0 without one),
// and standard error must equal NAME.stderr (empty without one).
//
// A new case is three files dropped into tests/scripts; rebuilding the tests
// picks it up.

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "support/run_program.h"

namespace skyrazor {
namespace {

namespace fs = std::filesystem;

fs::path scriptsDirectory() {
  return fs::path(SKYRAZOR_TEST_DATA_DIR) / "scripts";
}

std::optional<std::string> readFile(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    return std::nullopt;
  }
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// Where a run's output is kept; the process id keeps test runs of different
// builds apart.
fs::path outputPath(const std::string& tag, const char* extension) {
  return fs::path(::testing::TempDir()) /
         ("skyrazor_" + std::to_string(testing::currentProcessId()) + "_" + tag + extension);
}

struct RunResult {
  int status = -1;
  std::string out;
  std::string err;
};

// Runs the program with `arguments`, standard input from `inputPath` (or
// empty), and collects what it prints.
RunResult runProgram(const std::vector<std::string>& arguments, const std::string& tag,
                     const fs::path& inputPath = testing::emptyInput()) {
  fs::path outPath = outputPath(tag, ".stdout");
  fs::path errPath = outputPath(tag, ".stderr");

  std::vector<std::string> argv = {SKYRAZOR_BINARY};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  testing::ProgramExit finished = testing::runProgram(argv, inputPath, outPath, errPath);

  RunResult result;
  if (!finished.started) {
    ADD_FAILURE() << "cannot start " << argv[0] << ": " << finished.error;
    return result;
  }
  result.status = finished.status;
  result.out = readFile(outPath).value_or("");
  result.err = readFile(errPath).value_or("");
  fs::remove(outPath);
  fs::remove(errPath);
  return result;
}

// Where two outputs first part: the line number and both lines there.
std::string describeDifference(const std::string& expected, const std::string& actual) {
  std::istringstream want(expected);
  std::istringstream got(actual);
  std::string wantLine;
  std::string gotLine;
  for (int line = 1;; ++line) {
    bool haveWant = static_cast<bool>(std::getline(want, wantLine));
    bool haveGot = static_cast<bool>(std::getline(got, gotLine));
    if (!haveWant && !haveGot) {
      return "outputs differ only in their last line end";
    }
    if (!haveWant || !haveGot || wantLine != gotLine) {
      return "output differs at line " + std::to_string(line) +
             "\n  expected: " + (haveWant ? "\"" + wantLine + "\"" : "(end)") +
             "\n  actual:   " + (haveGot ? "\"" + gotLine + "\"" : "(end)");
    }
  }
}

std::vector<std::string> scriptNames() {
  std::vector<std::string> names;
  std::error_code error;
  for (const fs::directory_entry& entry : fs::directory_iterator(scriptsDirectory(), error)) {
    if (entry.path().extension() == ".script") {
      names.push_back(entry.path().stem().string());
    }
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string testNameFor(const ::testing::TestParamInfo<std::string>& info) {
  std::string name = info.param;
  for (char& character : name) {
    if (!std::isalnum(static_cast<unsigned char>(character))) {
      character = '_';
    }
  }
  return name;
}

class ScriptedRunTest : public ::testing::TestWithParam<std::string> {};

TEST_P(ScriptedRunTest, PrintsTheExpectedDumps) {
  const std::string& name = GetParam();
  fs::path base = scriptsDirectory() / name;

  std::vector<std::string> arguments = {"--script", base.string() + ".script"};
  if (std::optional<std::string> extra = readFile(base.string() + ".args")) {
    std::istringstream words(*extra);
    for (std::string word; words >> word;) {
      arguments.push_back(word);
    }
  }
  std::optional<std::string> expected = readFile(base.string() + ".expected");
  ASSERT_TRUE(expected.has_value()) << "missing " << base.string() << ".expected";
  int expectedStatus = std::atoi(readFile(base.string() + ".status").value_or("0").c_str());
  std::string expectedErr = readFile(base.string() + ".stderr").value_or("");

  RunResult result = runProgram(arguments, "scripted_run_" + name);
  EXPECT_EQ(result.status, expectedStatus);
  EXPECT_EQ(result.err, expectedErr);
  if (result.out != *expected) {
    fs::path kept = outputPath("scripted_run_" + name, ".stdout");
    std::ofstream(kept, std::ios::binary) << result.out;
    ADD_FAILURE() << describeDifference(*expected, result.out) << "\n  the whole output is in "
                  << kept.string();
  }
}

INSTANTIATE_TEST_SUITE_P(Scripts, ScriptedRunTest, ::testing::ValuesIn(scriptNames()), testNameFor);

TEST(ScriptedRunFromStandardInputTest, DashReadsTheScriptFromStandardInput) {
  fs::path base = scriptsDirectory() / "menu_ignores_other_keys";
  RunResult fromFile =
      runProgram({"--script", base.string() + ".script", "--dump-reads"}, "stdin_reference");
  RunResult fromInput =
      runProgram({"--script", "-", "--dump-reads"}, "stdin_run", base.string() + ".script");
  EXPECT_EQ(fromInput.status, 0);
  EXPECT_EQ(fromInput.err, "");
  EXPECT_FALSE(fromInput.out.empty());
  EXPECT_EQ(fromInput.out, fromFile.out);
}

TEST(ScriptedRunErrorsTest, UnreadableScriptIsOneLineAndStatusTwo) {
  struct Unreadable {
    std::string path;
    std::string shown;  // as the message quotes it
  };
  const std::string directory = scriptsDirectory().string();
  for (const Unreadable& unreadable :
       {Unreadable{"/nonexistent/skyrazor.script", "/nonexistent/skyrazor.script"},
        Unreadable{directory, directory},
        Unreadable{"/nonexistent/\x1b[2J.script", "/nonexistent/\\x1b[2J.script"}}) {
    RunResult result = runProgram({"--script", unreadable.path}, "unreadable_script");
    EXPECT_EQ(result.status, 2) << unreadable.shown;
    EXPECT_EQ(result.out, "") << unreadable.shown;
    EXPECT_EQ(result.err, "skyrazor: cannot read script '" + unreadable.shown + "'\n");
  }
}

}  // namespace
}  // namespace skyrazor
