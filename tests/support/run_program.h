#pragma once

// Starts a program with its standard streams on files and waits for it: the
// way the end-to-end tests run the game, on POSIX systems and on Windows.

#include <filesystem>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

extern char** environ;
#endif

namespace skyrazor::testing {

struct ProgramExit {
  bool started = false;
  int status = -1;    // the exit status; 128 + the signal for a signal's end
  std::string error;  // why it did not start
};

inline int currentProcessId() {
#ifdef _WIN32
  return static_cast<int>(GetCurrentProcessId());
#else
  return static_cast<int>(getpid());
#endif
}

// The file that reads as empty input.
inline std::filesystem::path emptyInput() {
#ifdef _WIN32
  return "NUL";
#else
  return "/dev/null";
#endif
}

#ifdef _WIN32

inline std::wstring wide(const std::string& text) {
  int length =
      MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring converted(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), converted.data(),
                      length);
  return converted;
}

// One argument quoted so that the C runtime's command-line parsing gives it
// back unchanged: backslashes double only where a quote follows them.
inline std::wstring quotedArgument(const std::wstring& argument) {
  std::wstring quoted = L"\"";
  std::size_t backslashes = 0;
  for (wchar_t character : argument) {
    if (character == L'\\') {
      ++backslashes;
      continue;
    }
    quoted.append(character == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    quoted += character;
  }
  quoted.append(backslashes * 2, L'\\');
  return quoted + L"\"";
}

inline HANDLE openInherited(const std::filesystem::path& path, bool forWriting) {
  SECURITY_ATTRIBUTES inherited{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  return CreateFileW(path.wstring().c_str(), forWriting ? GENERIC_WRITE : GENERIC_READ,
                     FILE_SHARE_READ | FILE_SHARE_WRITE, &inherited,
                     forWriting ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

inline ProgramExit runProgram(const std::vector<std::string>& argv,
                              const std::filesystem::path& inputPath,
                              const std::filesystem::path& outPath,
                              const std::filesystem::path& errPath) {
  ProgramExit result;
  std::wstring commandLine;
  for (const std::string& argument : argv) {
    commandLine += (commandLine.empty() ? L"" : L" ") + quotedArgument(wide(argument));
  }
  HANDLE input = openInherited(inputPath, false);
  HANDLE output = openInherited(outPath, true);
  HANDLE errors = openInherited(errPath, true);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = input;
  startup.hStdOutput = output;
  startup.hStdError = errors;
  PROCESS_INFORMATION process{};
  if (CreateProcessW(wide(argv.front()).c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0,
                     nullptr, nullptr, &startup, &process)) {
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD status = 0;
    GetExitCodeProcess(process.hProcess, &status);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    result.started = true;
    result.status = static_cast<int>(status);
  } else {
    result.error = "CreateProcess failed with error " + std::to_string(GetLastError());
  }
  for (HANDLE handle : {input, output, errors}) {
    if (handle != INVALID_HANDLE_VALUE) {
      CloseHandle(handle);
    }
  }
  return result;
}

#else

inline ProgramExit runProgram(const std::vector<std::string>& argv,
                              const std::filesystem::path& inputPath,
                              const std::filesystem::path& outPath,
                              const std::filesystem::path& errPath) {
  std::vector<std::string> arguments = argv;
  std::vector<char*> argvPointers;
  for (std::string& argument : arguments) {
    argvPointers.push_back(argument.data());
  }
  argvPointers.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, inputPath.c_str(), O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outPath.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errPath.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  pid_t pid = 0;
  int spawnError =
      posix_spawn(&pid, arguments[0].c_str(), &actions, nullptr, argvPointers.data(), environ);
  posix_spawn_file_actions_destroy(&actions);

  ProgramExit result;
  if (spawnError != 0) {
    result.error = std::strerror(spawnError);
    return result;
  }
  int waitStatus = 0;
  while (waitpid(pid, &waitStatus, 0) < 0 && errno == EINTR) {
  }
  result.started = true;
  result.status = WIFEXITED(waitStatus) ? WEXITSTATUS(waitStatus) : 128 + WTERMSIG(waitStatus);
  return result;
}

#endif

}  // namespace skyrazor::testing
