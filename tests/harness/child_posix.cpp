// Child processes on POSIX: fork and exec (of /proc/self/exe for a scenario), with one pipe per
// standard stream, read with poll until both reach end of file.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <map>

#include "tests/harness/child.h"

extern char** environ;

namespace child_internal {
namespace {

int64_t nowMillis() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// The environment of the child: ours, with the extra entries replacing those
// of the same name.
std::vector<std::string> childEnvironment(const std::vector<std::string>& extra) {
  std::map<std::string, std::string> byName;
  std::vector<std::string> order;
  auto add = [&](const std::string& entry) {
    std::string name = entry.substr(0, entry.find('='));
    if (byName.find(name) == byName.end()) order.push_back(name);
    byName[name] = entry;
  };
  for (char** e = environ; *e != nullptr; e++) add(*e);
  for (const std::string& entry : extra) add(entry);
  std::vector<std::string> env;
  env.reserve(order.size());
  for (const std::string& name : order) env.push_back(byName[name]);
  return env;
}

void closeBoth(int fds[2]) {
  if (fds[0] >= 0) close(fds[0]);
  if (fds[1] >= 0) close(fds[1]);
}

}  // namespace

std::string selfExecutable() {
  char path[4096];
  ssize_t n = readlink("/proc/self/exe", path, sizeof(path) - 1);
  if (n <= 0) return std::string();
  path[n] = '\0';
  return path;
}

void prepareChildStreams() {}

ChildResult spawn(const std::vector<std::string>& args, const ChildOptions& options) {
  ChildResult result;
  std::vector<std::string> env = childEnvironment(options.extraEnv);
  std::vector<char*> argv;
  argv.reserve(args.size() + 1);
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  const char* cwd = options.cwd.empty() ? nullptr : options.cwd.c_str();
  std::vector<char*> envp;
  envp.reserve(env.size() + 1);
  for (std::string& entry : env) envp.push_back(const_cast<char*>(entry.c_str()));
  envp.push_back(nullptr);

  int outPipe[2] = {-1, -1};
  int errPipe[2] = {-1, -1};
  if (pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(errPipe, O_CLOEXEC) != 0) {
    closeBoth(outPipe);
    closeBoth(errPipe);
    return result;
  }
  pid_t pid = fork();
  if (pid < 0) {
    closeBoth(outPipe);
    closeBoth(errPipe);
    return result;
  }
  if (pid == 0) {
    // Only async-signal-safe calls from here to exec.
    dup2(outPipe[1], STDOUT_FILENO);
    dup2(errPipe[1], STDERR_FILENO);
    if (cwd != nullptr && chdir(cwd) != 0) _exit(126);
    execve(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  result.started = true;
  close(outPipe[1]);
  close(errPipe[1]);

  int64_t start = nowMillis();
  bool exited = false;
  int status = 0;
  pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
  std::string* sinks[2] = {&result.out, &result.err};
  int open = 2;
  while (open > 0 || !exited) {
    int64_t elapsed = nowMillis() - start;
    if (!exited && !result.killed) {
      bool dueKill = options.killAfterMillis > 0 && elapsed >= options.killAfterMillis;
      bool hung = options.timeoutMillis > 0 && elapsed >= options.timeoutMillis;
      if (dueKill || hung) {
        kill(pid, SIGKILL);
        result.killed = true;
        result.timedOut = hung && !dueKill;
      }
    }
    if (open == 0) {
      // Both streams closed; wait for the child itself (a short sleep keeps
      // the kill-after clock running).
      pid_t done = waitpid(pid, &status, result.killed ? 0 : WNOHANG);
      if (done == pid) {
        exited = true;
      } else {
        usleep(5000);
      }
      continue;
    }
    int waitMillis = 50;
    int ready = poll(fds, 2, waitMillis);
    if (ready < 0 && errno != EINTR) break;
    for (int i = 0; i < 2; i++) {
      if (fds[i].fd < 0 || (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
      char buffer[65536];
      ssize_t n = read(fds[i].fd, buffer, sizeof(buffer));
      if (n > 0) {
        sinks[i]->append(buffer, static_cast<size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        close(fds[i].fd);
        fds[i].fd = -1;
        open--;
      }
    }
    if (!exited) {
      pid_t done = waitpid(pid, &status, WNOHANG);
      if (done == pid) exited = true;
    }
  }
  for (pollfd& fd : fds) {
    if (fd.fd >= 0) close(fd.fd);
  }
  if (!exited) waitpid(pid, &status, 0);
  if (WIFEXITED(status)) {
    result.exitCode = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    result.signal = WTERMSIG(status);
  }
  return result;
}

}  // namespace child_internal
