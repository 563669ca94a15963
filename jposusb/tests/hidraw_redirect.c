/* Test-only LD_PRELOAD library: the hidraw paths of the Linux bridge,
   /sys/class/hidraw... and /dev/hidraw..., are looked up under the folder
   in HIDRAW_ROOT instead. A /dev/hidrawN there that is a socket stands for
   the device: opening it connects to the simulated device, which keeps
   each report a message of its own. */
#define _GNU_SOURCE
#include <dirent.h>
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdarg.h>
#include <stdlib.h>
#include <stdio.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

static int Redirected(const char* path, char* out, size_t size) {
  const char* root = getenv("HIDRAW_ROOT");
  if (root == NULL || path == NULL) return 0;
  if (strncmp(path, "/sys/class/hidraw", 17) != 0 &&
      strncmp(path, "/dev/hidraw", 11) != 0) {
    return 0;
  }
  snprintf(out, size, "%s%s", root, path);
  return 1;
}

static int ConnectDevice(const char* path, int flags) {
  struct stat info;
  if (stat(path, &info) != 0 || !S_ISSOCK(info.st_mode)) return -2;
  int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  struct sockaddr_un address;
  memset(&address, 0, sizeof address);
  address.sun_family = AF_UNIX;
  strncpy(address.sun_path, path, sizeof address.sun_path - 1);
  if (connect(fd, (struct sockaddr*)&address, sizeof address) != 0) {
    int saved = errno;
    close(fd);
    errno = saved;
    return -1;
  }
  if (flags & O_NONBLOCK) fcntl(fd, F_SETFL, O_NONBLOCK);
  return fd;
}

static int OpenRedirected(const char* path, int flags, mode_t mode,
                          int (*real)(const char*, int, ...)) {
  char target[PATH_MAX];
  if (!Redirected(path, target, sizeof target)) {
    return real(path, flags, mode);
  }
  int fd = ConnectDevice(target, flags);
  if (fd != -2) return fd;
  return real(target, flags, mode);
}

int open(const char* path, int flags, ...) {
  static int (*real)(const char*, int, ...);
  if (!real) real = dlsym(RTLD_NEXT, "open");
  mode_t mode = 0;
  if (flags & O_CREAT) {
    va_list args;
    va_start(args, flags);
    mode = va_arg(args, mode_t);
    va_end(args);
  }
  return OpenRedirected(path, flags, mode, real);
}

int open64(const char* path, int flags, ...) {
  static int (*real)(const char*, int, ...);
  if (!real) real = dlsym(RTLD_NEXT, "open64");
  mode_t mode = 0;
  if (flags & O_CREAT) {
    va_list args;
    va_start(args, flags);
    mode = va_arg(args, mode_t);
    va_end(args);
  }
  return OpenRedirected(path, flags, mode, real);
}

DIR* opendir(const char* path) {
  static DIR* (*real)(const char*);
  if (!real) real = dlsym(RTLD_NEXT, "opendir");
  char target[PATH_MAX];
  return real(Redirected(path, target, sizeof target) ? target : path);
}
