#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

extern char** environ;

namespace kor::test {

// A program (korserver) running as a child process with its standard output
// and error on one pipe, for tests that drive it from outside. A child still
// running when the object goes is killed.
class TServerProcess {
 public:
  // How long ReadLine and Wait wait before they call the program hung.
  static constexpr int kWaitBoundMs = 20000;

  TServerProcess(const std::string& program, const std::vector<std::string>& args) {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) return;
    Output = ends[0];
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, ends[1], 1);
    posix_spawn_file_actions_adddup2(&actions, ends[1], 2);
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    if (posix_spawn(&Pid, program.c_str(), &actions, nullptr, argv.data(), environ) != 0) Pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(ends[1]);
  }
  ~TServerProcess() {
    if (Pid > 0) {
      kill(Pid, SIGKILL);
      waitpid(Pid, nullptr, 0);
    }
    if (Output >= 0) close(Output);
  }
  TServerProcess(const TServerProcess&) = delete;
  TServerProcess& operator=(const TServerProcess&) = delete;

  bool Started() const { return Pid > 0; }

  // The program's next output line, without its end; empty when it ends or
  // stays silent too long.
  std::string ReadLine() {
    std::string line;
    for (;;) {
      pollfd entry{Output, POLLIN, 0};
      char c;
      if (poll(&entry, 1, kWaitBoundMs) != 1 || read(Output, &c, 1) != 1 || c == '\n') return line;
      line += c;
    }
  }

  void Signal(int signal) { kill(Pid, signal); }

  // Its exit code once it ends by itself, or -1 when it was killed by a
  // signal or did not end in time.
  int Wait() {
    int status = 0;
    for (int waited = 0; waited < kWaitBoundMs; waited += 10) {
      if (waitpid(Pid, &status, WNOHANG) == Pid) {
        Pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      }
      usleep(10000);
    }
    return -1;
  }

  // Asks it to stop (SIGTERM) and waits; its exit code.
  int Stop() {
    Signal(SIGTERM);
    return Wait();
  }

 private:
  pid_t Pid = -1;
  int Output = -1;
};

}  // namespace kor::test
