/* measure OUT ERR PROGRAM [ARG...]: runs the program with standard input
 * from /dev/null, standard output to OUT and standard error to ERR, in a
 * session of its own and so without a terminal, and prints
 * "STATUS WALL_S CPU_S MAXRSS_KIB" once it has ended.
 *
 * CPU time and peak resident memory are those of the program's whole process
 * tree. A child's peak memory starts from that of the process that forked it,
 * so the forking is done here, by a process far smaller than anything it
 * measures, rather than by the script that drives the benchmark. */

#define _GNU_SOURCE
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

static double seconds(struct timeval t) { return (double)t.tv_sec + (double)t.tv_usec / 1e6; }

int main(int argc, char **argv) {
  if (argc < 4) {
    fputs("usage: measure OUT ERR PROGRAM [ARG...]\n", stderr);
    return 2;
  }
  int in = open("/dev/null", O_RDONLY | O_CLOEXEC);
  int out = open(argv[1], O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  int err = open(argv[2], O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (in < 0 || out < 0 || err < 0) {
    perror("measure");
    return 2;
  }

  struct timespec start, end;
  clock_gettime(CLOCK_MONOTONIC, &start);
  pid_t pid = fork();
  if (pid < 0) {
    perror("measure: fork");
    return 2;
  }
  if (pid == 0) {
    if (setsid() < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0)
      _exit(126);
    execvp(argv[3], argv + 3);
    _exit(127);
  }
  int status;
  struct rusage usage;
  if (wait4(pid, &status, 0, &usage) != pid) {
    perror("measure: wait4");
    return 2;
  }
  clock_gettime(CLOCK_MONOTONIC, &end);

  int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  double wall = (double)(end.tv_sec - start.tv_sec) + (double)(end.tv_nsec - start.tv_nsec) / 1e9;
  printf("%d %.6f %.6f %ld\n", code, wall, seconds(usage.ru_utime) + seconds(usage.ru_stime), usage.ru_maxrss);
  return 0;
}
