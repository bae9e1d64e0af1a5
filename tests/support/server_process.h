#pragma once

// Runs qovixd (or another server that takes --bind and --port and prints
// "NAME listening on ADDRESS:PORT (tcp, udp)") as a child process for
// end-to-end tests and benchmarks: on a free loopback port, waiting for its
// ready line, and never outliving its owner.
//
//   ServerProcess server({"--library", probePath});
//   RpcClient client(Transport::Tcp, server.port(), program, version);
//   ...
//   EXPECT_EQ(server.stop(SIGTERM), 0);

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

class ServerProcess {
 public:
  // Starts `executable` (qovixd by default) with `--bind 127.0.0.1 --port 0`
  // followed by `arguments`, and waits for the ready line. qovixd keeps its
  // repository in memory unless `arguments` name a `--store`. Throws
  // std::runtime_error, with what the server wrote to stderr, when it exits
  // or stays silent instead. `leading` arguments go before all others: a
  // wrapper's own (`sh -c SCRIPT NAME`).
  explicit ServerProcess(std::vector<std::string> arguments = {},
                         std::string executable = QOVIXD_PATH,
                         std::vector<std::string> leading = {});
  // Kills the server if it still runs.
  ~ServerProcess();
  ServerProcess(const ServerProcess&) = delete;
  ServerProcess& operator=(const ServerProcess&) = delete;

  std::uint16_t port() const { return port_; }
  pid_t pid() const { return pid_; }
  const std::string& readyLine() const { return readyLine_; }

  // Sends `signal` and waits for the exit; returns the exit status, or -1
  // when the server did not exit in time (it is then killed) or died by a
  // signal.
  int stop(int signal, std::chrono::milliseconds timeout = std::chrono::seconds(10));

  // Everything the server has written to stderr so far.
  std::string standardError() const;

 private:
  pid_t pid_ = -1;
  std::uint16_t port_ = 0;
  std::string readyLine_;
  std::string stderrPath_;
};

// qovixd with `arguments`, whose files may grow to `kib` KiB (RLIMIT_FSIZE,
// as a quota or a full disk would have it).
ServerProcess fileSizeLimitedServer(std::vector<std::string> arguments, int kib);

// Runs a program to completion with a time limit; for command-line tests.
struct ProgramRun {
  int status;  // exit status, or -1 when it timed out or died by a signal
  std::string out;
  std::string err;
};
ProgramRun runProgram(const std::string& executable, const std::vector<std::string>& arguments,
                      std::chrono::milliseconds timeout = std::chrono::seconds(10));
