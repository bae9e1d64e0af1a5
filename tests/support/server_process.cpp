#include "tests/support/server_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

std::string makeTempFile(const char* prefix) {
  std::string path = std::string("/tmp/") + prefix + "XXXXXX";
  const int fd = mkstemp(path.data());
  if (fd < 0) throw std::runtime_error("cannot create a temporary file");
  close(fd);
  return path;
}

std::string readFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Starts `executable` with stdout into `stdoutFd` and stderr into the file
// `stderrPath`.
pid_t spawn(const std::string& executable, const std::vector<std::string>& arguments, int stdoutFd,
            const std::string& stderrPath) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(executable.c_str()));
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, stdoutFd, STDOUT_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, stderrPath.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0600);
  pid_t pid = -1;
  const int error = posix_spawn(&pid, executable.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (error != 0) throw std::runtime_error("cannot start " + executable);
  return pid;
}

// Waits for `pid` until `deadline`; returns the exit status, -1 for a death
// by signal, or nothing when it is still running.
std::optional<int> waitUntil(pid_t pid, Clock::time_point deadline) {
  for (;;) {
    int status = 0;
    const pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (Clock::now() >= deadline) return std::nullopt;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

int waitOrKill(pid_t pid, std::chrono::milliseconds timeout) {
  if (auto status = waitUntil(pid, Clock::now() + timeout)) return *status;
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  return -1;
}

// Reads one line from `fd` within `timeout`; empty when none came.
std::string readLine(int fd, std::chrono::milliseconds timeout) {
  std::string line;
  const auto deadline = Clock::now() + timeout;
  while (Clock::now() < deadline) {
    pollfd entry{fd, POLLIN, 0};
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (poll(&entry, 1, static_cast<int>(left.count()) + 1) <= 0) continue;
    char c = 0;
    if (read(fd, &c, 1) != 1) break;
    if (c == '\n') return line;
    line += c;
  }
  return {};
}

}  // namespace

ServerProcess::ServerProcess(std::vector<std::string> arguments, std::string executable,
                             std::vector<std::string> leading) {
  std::vector<std::string> all = std::move(leading);
  all.insert(all.end(), {"--bind", "127.0.0.1", "--port", "0"});
  all.insert(all.end(), arguments.begin(), arguments.end());
  const bool namesStore =
      std::find(arguments.begin(), arguments.end(), "--store") != arguments.end();
  if (executable == QOVIXD_PATH && !namesStore) {
    all.insert(all.end(), {"--store", "memory"});
  }
  stderrPath_ = makeTempFile("qovixd-stderr-");
  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("cannot create a pipe");
  try {
    pid_ = spawn(executable, all, out[1], stderrPath_);
  } catch (...) {
    close(out[0]);
    close(out[1]);
    throw;
  }
  close(out[1]);
  readyLine_ = readLine(out[0], std::chrono::seconds(20));
  close(out[0]);

  // "qovixd listening on ...", or the same from another server of this form.
  static const std::regex ready(
      R"([\w-]+ listening on (?:127\.0\.0\.1|\[::1\]):(\d+) \(tcp(?:, udp)?\))");
  std::smatch match;
  if (!std::regex_match(readyLine_, match, ready)) {
    stop(SIGKILL, std::chrono::seconds(5));
    throw std::runtime_error(executable + " did not become ready; stdout: '" + readyLine_ +
                             "'; stderr: " + standardError());
  }
  port_ = static_cast<std::uint16_t>(std::stoi(match[1]));
}

ServerProcess::~ServerProcess() {
  if (pid_ > 0) stop(SIGKILL, std::chrono::seconds(5));
  std::remove(stderrPath_.c_str());
}

int ServerProcess::stop(int signal, std::chrono::milliseconds timeout) {
  if (pid_ <= 0) return -1;
  kill(pid_, signal);
  const int status = waitOrKill(pid_, timeout);
  pid_ = -1;
  return status;
}

std::string ServerProcess::standardError() const { return readFile(stderrPath_); }

ProgramRun runProgram(const std::string& executable, const std::vector<std::string>& arguments,
                      std::chrono::milliseconds timeout) {
  const std::string outPath = makeTempFile("qovix-out-");
  const std::string errPath = makeTempFile("qovix-err-");
  const int outFd = open(outPath.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
  const pid_t pid = spawn(executable, arguments, outFd, errPath);
  close(outFd);
  ProgramRun run{waitOrKill(pid, timeout), readFile(outPath), readFile(errPath)};
  std::remove(outPath.c_str());
  std::remove(errPath.c_str());
  return run;
}

ServerProcess fileSizeLimitedServer(std::vector<std::string> arguments, int kib) {
  const std::string limited = std::string("ulimit -f ")
                                  .append(std::to_string(kib * 2))  // in 512-byte blocks
                                  .append("; exec ")
                                  .append(QOVIXD_PATH)
                                  .append(" \"$@\"");
  return ServerProcess(std::move(arguments), "/bin/sh", {"-c", limited, "qovixd"});
}
