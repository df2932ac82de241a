#include "support/process.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

namespace {

[[noreturn]] void child_exec(const Launch& launch, int in, int out, int err) {
  if (launch.newSession)
    setsid();
  dup2(in, 0);
  if (launch.stdoutMode == Launch::STDOUT_PIPE) {
    dup2(out, 1);
  } else if (launch.stdoutMode == Launch::STDOUT_FULL) {
    int full = open("/dev/full", O_WRONLY);
    dup2(full, 1);
  } else if (launch.stdoutMode == Launch::STDOUT_BROKEN) {
    // Made here, so that no other process ever holds its reading end.
    int broken[2];
    if (pipe(broken) != 0)
      _exit(124);
    dup2(broken[1], 1);
    close(broken[0]);
    signal(SIGPIPE, SIG_DFL);
  } else {
    close(1);
  }
  dup2(err, 2);
  for (int fd = 3; fd < 1024; ++fd)
    close(fd);
  if (!launch.cwd.empty() && chdir(launch.cwd.c_str()) != 0)
    _exit(126);
  for (const std::string& e : launch.env)
    putenv(const_cast<char*>(e.c_str()));
  if (launch.maxDescriptors) {
    struct rlimit limit = {static_cast<rlim_t>(launch.maxDescriptors), static_cast<rlim_t>(launch.maxDescriptors)};
    setrlimit(RLIMIT_NOFILE, &limit);
  }
  if (launch.uid && (setgroups(0, nullptr) != 0 || setgid(launch.gid) != 0 || setuid(launch.uid) != 0))
    _exit(125);
  std::vector<char*> argv;
  for (const std::string& a : launch.argv)
    argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  execv(argv[0], argv.data());
  _exit(127);
}

double now() {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

}  // namespace

Running start_process(const Launch& launch) {
  int in[2], out[2], err[2];
  if (pipe(in) || pipe(out) || pipe(err))
    abort();
  if (launch.stdoutPipeSize && fcntl(out[0], F_SETPIPE_SZ, launch.stdoutPipeSize) < 0)
    abort();
  pid_t pid = fork();
  if (pid == 0)
    child_exec(launch, in[0], out[1], err[1]);
  close(in[0]);
  close(out[1]);
  close(err[1]);
  signal(SIGPIPE, SIG_IGN);
  if (!launch.input.empty() && write(in[1], launch.input.data(), launch.input.size()) < 0) {
  }
  close(in[1]);
  Running running;
  running.pid = pid;
  running.out = out[0];
  running.err = err[0];
  return running;
}

Result finish_process(Running& running) {
  Result result;
  struct pollfd fds[2] = {{running.out, POLLIN, 0}, {running.err, POLLIN, 0}};
  std::string* sinks[2] = {&result.out, &result.err};
  double deadline = now() + 100;   // a hung command fails the test, not CI
  for (int open = 2; open > 0;) {
    if (poll(fds, 2, 1000) < 0)
      break;
    if (now() > deadline) {
      kill(running.pid, SIGKILL);
      break;
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP)))
        continue;
      char buffer[65536];
      ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        sinks[i]->append(buffer, static_cast<size_t>(n));
      } else {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      }
    }
  }
  for (auto& f : fds)
    if (f.fd >= 0)
      close(f.fd);
  int status = 0;
  waitpid(running.pid, &status, 0);
  running.pid = -1;
  if (WIFEXITED(status))
    result.status = WEXITSTATUS(status);
  else if (WIFSIGNALED(status))
    result.signal = WTERMSIG(status);
  return result;
}

Result run_process(const Launch& launch) {
  Running running = start_process(launch);
  return finish_process(running);
}

static Holder start_reading_process(const std::vector<std::string>& argv, uid_t uid,
                                    const std::vector<std::string>& env = {}) {
  int in[2], out[2];
  if (pipe(in) || pipe(out))
    abort();
  pid_t pid = fork();
  if (pid == 0) {
    dup2(in[0], 0);
    dup2(out[1], 1);
    for (int fd = 3; fd < 1024; ++fd)
      close(fd);
    if (uid && (setgroups(0, nullptr) != 0 || setgid(uid) != 0 || setuid(uid) != 0))
      _exit(125);
    for (const std::string& e : env)
      putenv(const_cast<char*>(e.c_str()));
    std::vector<char*> args;
    for (const std::string& a : argv)
      args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  // Wait for "ready": from then on the files are held. A Windows holder
  // ends the line with "\r\n".
  std::string said;
  char c;
  while (said.find("ready\n") == std::string::npos && said.find("ready\r\n") == std::string::npos &&
         read(out[0], &c, 1) == 1)
    said += c;
  close(out[0]);
  Holder holder;
  holder.pid = pid;
  holder.input = in[1];
  return holder;
}

Holder start_holder(const std::vector<std::string>& files, uid_t uid) {
  std::vector<std::string> argv = {HOLD_PATH};
  argv.insert(argv.end(), files.begin(), files.end());
  return start_reading_process(argv, uid);
}

Holder start_holder_command(const std::vector<std::string>& argv, const std::vector<std::string>& env) {
  return start_reading_process(argv, 0, env);
}

Holder start_plain_opener(const std::string& file) {
  // The shell opens the file on descriptor 3 and keeps it while cat waits on
  // standard input.
  return start_reading_process({"/bin/sh", "-c", "exec 3<\"$0\"; echo ready; exec cat >/dev/null", file}, 0);
}

int stop_holder(Holder& holder) {
  if (holder.pid < 0)
    return -1;
  close(holder.input);
  int status = 0;
  waitpid(holder.pid, &status, 0);
  holder.pid = -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string make_scratch_dir() {
  char templ[] = "/tmp/dravolin-test-XXXXXX";
  if (!mkdtemp(templ))
    abort();
  // Readable by the unprivileged user of the lock-path cases.
  chmod(templ, 0755);
  return templ;
}

void remove_tree(const std::string& dir) {
  std::string command = "rm -rf '" + dir + "'";
  if (system(command.c_str()) != 0)
    abort();
}

void make_file(const std::string& path, const std::string& content) {
  std::ofstream(path, std::ios::binary) << content;
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}
