/* floor "DIR/PATTERN": the least work that answers, for every regular file in
 * DIR whose name matches PATTERN, whether another process has it open. Per
 * file: stat, open read-only, take and drop a write lease, close. It prints
 * the command's per-file lines and summary, so that the two runs write the
 * same amount of output; it exists only to be timed against the command. */

#define _GNU_SOURCE
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

int main(int argc, char **argv) {
  if (argc != 2) {
    fputs("usage: floor \"DIR/PATTERN\"\n", stderr);
    return 2;
  }
  const char *slash = strrchr(argv[1], '/');
  const char *pattern = slash ? slash + 1 : argv[1];
  size_t prefixLength = slash ? (size_t)(slash - argv[1]) + 1 : 0;

  char path[4096];
  if (prefixLength >= sizeof path) {
    fputs("floor: directory name too long\n", stderr);
    return 2;
  }
  memcpy(path, argv[1], prefixLength);
  path[prefixLength] = 0;

  DIR *directory = opendir(prefixLength ? path : ".");
  if (!directory) {
    perror("floor: opendir");
    return 2;
  }

  int noUsers = 0, usersActive = 0;
  struct dirent *entry;
  while ((entry = readdir(directory)) != NULL) {
    if (entry->d_type == DT_DIR || fnmatch(pattern, entry->d_name, 0) != 0)
      continue;
    size_t nameLength = strlen(entry->d_name);
    if (prefixLength + nameLength >= sizeof path)
      continue;
    memcpy(path + prefixLength, entry->d_name, nameLength + 1);

    struct stat info;
    if (stat(path, &info) != 0 || !S_ISREG(info.st_mode))
      continue;
    /* O_NONBLOCK: an open that would wait on someone else's lease fails
     * instead, and that someone has the file. */
    int fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
      if (errno == EWOULDBLOCK) {
        printf("File %s has users active.\n", path);
        usersActive++;
      } else {
        fprintf(stderr, "floor: %s: %s\n", path, strerror(errno));
      }
      continue;
    }
    if (fcntl(fd, F_SETLEASE, F_WRLCK) == 0) {
      fcntl(fd, F_SETLEASE, F_UNLCK);
      printf("File %s has no users.\n", path);
      noUsers++;
    } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
      printf("File %s has users active.\n", path);
      usersActive++;
    } else {
      fprintf(stderr, "floor: %s: no lease: %s\n", path, strerror(errno));
    }
    close(fd);
  }
  closedir(directory);
  printf("\nFiles With No Users: %d\nFiles With Users Active: %d\n", noUsers, usersActive);
  return fflush(stdout) == 0 ? 0 : 1;
}
