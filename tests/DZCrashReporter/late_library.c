// A library the crash reporter's tests load only after their image list was filled: a thread waits in
// dz_late_wait until a byte arrives on its pipe.

#include <stdatomic.h>
#include <unistd.h>

int dz_late_wait(int fd, atomic_int* running) {
  atomic_fetch_add(running, 1);
  char c = 0;
  const ssize_t n = read(fd, &c, 1);
  return n == 1 ? c : -1;
}
