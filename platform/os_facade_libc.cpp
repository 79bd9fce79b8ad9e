/* os_facade_libc.cpp -- the OS facade on the receiver: each call is libc's.
 *
 * Linked into the receiver's plug-in files; plug-ins for the simulator leave
 * these unresolved. The receiver's C library is older than the toolchain's:
 * where a newer library moved a function to a new symbol version (status
 * queries, loader), the plug-in binds the version the receiver's generation
 * provides, so the firmware can load it. */
#include "os_facade.h"

#include <dlfcn.h>
#include <poll.h>
#include <pthread.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/shm.h>
#include <sys/syscall.h>
#include <unistd.h>

#if defined(__mips__) && defined(__GLIBC__)
/* Status queries through the versioned entry points of the receiver's
 * generation; 3 is the MIPS layout of struct stat64 that these report. */
extern "C" int __xstat64(int version, const char *path, struct stat64 *st);
extern "C" int __lxstat64(int version, const char *path, struct stat64 *st);
__asm__(".symver __xstat64,__xstat64@GLIBC_2.2");
__asm__(".symver __lxstat64,__lxstat64@GLIBC_2.2");
__asm__(".symver dlopen,dlopen@GLIBC_2.2");
__asm__(".symver dlsym,dlsym@GLIBC_2.0");
__asm__(".symver dlerror,dlerror@GLIBC_2.0");
__asm__(".symver dlclose,dlclose@GLIBC_2.0");
__asm__(".symver dladdr,dladdr@GLIBC_2.0");
__asm__(".symver pthread_create,pthread_create@GLIBC_2.2");
__asm__(".symver pthread_join,pthread_join@GLIBC_2.0");
#define STAT64_LAYOUT 3

int OS_Lstat64(const char *path, struct stat64 *st) { return __lxstat64(STAT64_LAYOUT, path, st); }
int OS_Stat64(const char *path, struct stat64 *st) { return __xstat64(STAT64_LAYOUT, path, st); }
#else
int OS_Lstat64(const char *path, struct stat64 *st) { return lstat64(path, st); }
int OS_Stat64(const char *path, struct stat64 *st) { return stat64(path, st); }
#endif

FILE *OS_Fopen64(const char *path, const char *mode) { return fopen64(path, mode); }
int OS_Fclose(FILE *f) { return fclose(f); }
size_t OS_Fread(void *buf, size_t size, size_t count, FILE *f) { return fread(buf, size, count, f); }
size_t OS_Fwrite(const void *buf, size_t size, size_t count, FILE *f) { return fwrite(buf, size, count, f); }
char *OS_Fgets(char *buf, int size, FILE *f) { return fgets(buf, size, f); }
int OS_Fseeko64(FILE *f, off64_t offset, int whence) { return fseeko64(f, offset, whence); }
off64_t OS_Ftello64(FILE *f) { return ftello64(f); }
int OS_Fflush(FILE *f) { return fflush(f); }
int OS_Fsync(FILE *f) { return fsync(fileno(f)); }
/* The receiver's plug-ins run on the firmware's one thread: the sync is
 * done at its start, and its poll has nothing left to wait for. */
int OS_SyncStart(FILE *f) { return fflush(f) == 0 ? fsync(fileno(f)) : -1; }
int OS_SyncPoll(FILE *f)
{
  (void)f;
  return 0;
}

int OS_Mkdir(const char *path, mode_t mode) { return mkdir(path, mode); }
int OS_Link(const char *existing, const char *link) { return ::link(existing, link); }
int OS_Unlink(const char *path) { return unlink(path); }
int OS_Remove(const char *path) { return remove(path); }
int OS_Rename(const char *from, const char *to) { return rename(from, to); }
int OS_Utime(const char *path, const struct utimbuf *times) { return utime(path, times); }

int OS_SyncDir(const char *path)
{
  int fd = open(path, O_RDONLY | O_DIRECTORY);
  if (fd < 0) return -1;
  int rc = fsync(fd);
  int error = errno;
  close(fd);
  if (rc != 0 && OS_SyncDirErrorIsDone(error)) return 0;
  errno = error;
  return rc;
}

int OS_Open(const char *path, int flags) { return open(path, flags); }
ssize_t OS_Read(int fd, void *buf, size_t count) { return read(fd, buf, count); }
ssize_t OS_Write(int fd, const void *buf, size_t count) { return write(fd, buf, count); }
off64_t OS_Lseek64(int fd, off64_t offset, int whence) { return lseek64(fd, offset, whence); }
int OS_Close(int fd) { return close(fd); }

int OS_ThreadStart(tOS_Thread *thread, void *(*run)(void *), void *arg)
{
  pthread_t t;
  int rc = pthread_create(&t, nullptr, run, arg);
  if (rc == 0) *thread = (tOS_Thread)t;
  return rc;
}
int OS_ThreadJoin(tOS_Thread thread) { return pthread_join((pthread_t)thread, nullptr); }
int OS_Pipe(int fds[2]) { return pipe(fds); }
int OS_Poll(int fd, int timeoutMs)
{
  struct pollfd p;
  p.fd = fd;
  p.events = POLLIN;
  p.revents = 0;
  int rc;
  do rc = poll(&p, 1, timeoutMs);
  while (rc < 0 && errno == EINTR);
  return rc < 0 ? -1 : rc > 0 ? 1 : 0;
}

/* A second reference that the firmware's unload does not drop: the object
 * stays mapped for as long as the receiver runs. */
int OS_PinModule(const void *address)
{
  Dl_info info;
  if (dladdr(address, &info) == 0 || info.dli_fname == nullptr) return -1;
  return dlopen(info.dli_fname, RTLD_NOW | RTLD_NODELETE) != nullptr ? 0 : -1;
}

int OS_Shmget(key_t key, size_t size, int flags) { return shmget(key, size, flags); }
void *OS_Shmat(int id, const void *addr, int flags) { return shmat(id, addr, flags); }
int OS_Shmdt(const void *addr) { return shmdt(addr); }
int OS_Shmctl(int id, int command, struct shmid_ds *buf) { return shmctl(id, command, buf); }

void *OS_Dlopen(const char *file, int flags) { return dlopen(file, flags); }
void *OS_Dlsym(void *handle, const char *name) { return dlsym(handle, name); }
char *OS_Dlerror(void) { return dlerror(); }
int OS_Dlclose(void *handle) { return dlclose(handle); }

/* sync_file_range through the system call itself: the C library's wrapper
 * is younger than the receiver's library. On 32-bit MIPS the 64-bit
 * arguments travel in aligned register pairs after a padding word, which
 * makes seven words: more than the library's syscall() passes, so the call
 * is made here, the last three words on the stack as the kernel reads them. */
#define WRITE_BACK_WAIT_BEFORE 1
#define WRITE_BACK_WRITE 2
#define WRITE_BACK_WAIT_AFTER 4

#if defined(__mips__) && _MIPS_SIM == _ABIO32
static long MipsSyscall7(long number, long w0, long w1, long w2, long w3, long w4, long w5, long w6)
{
  register long v0 __asm__("$2") = number;
  register long a0 __asm__("$4") = w0;
  register long a1 __asm__("$5") = w1;
  register long a2 __asm__("$6") = w2;
  register long a3 __asm__("$7") = w3;
  __asm__ volatile(
      ".set noreorder\n\t"
      "addiu $sp, $sp, -32\n\t"
      "sw %5, 16($sp)\n\t"
      "sw %6, 20($sp)\n\t"
      "sw %7, 24($sp)\n\t"
      "syscall\n\t"
      "addiu $sp, $sp, 32\n\t"
      ".set reorder"
      : "+r"(v0), "+r"(a0), "+r"(a1), "+r"(a2), "+r"(a3)
      : "r"(w4), "r"(w5), "r"(w6)
      : "$1", "$3", "$8", "$9", "$10", "$11", "$12", "$13", "$14", "$15", "$24", "$25", "hi", "lo", "memory");
  if (a3 != 0) { /* the kernel's error flag; v0 holds the error number */
    errno = (int)v0;
    return -1;
  }
  return v0;
}
#endif

int OS_WriteBack(FILE *f, off64_t offset, off64_t length, int wait)
{
  if (fflush(f) != 0) return -1;
  unsigned int flags = wait ? WRITE_BACK_WAIT_BEFORE | WRITE_BACK_WRITE | WRITE_BACK_WAIT_AFTER : WRITE_BACK_WRITE;
#if defined(__mips__) && _MIPS_SIM == _ABIO32
  unsigned long long off = (unsigned long long)offset, len = (unsigned long long)length;
  return (int)MipsSyscall7(__NR_sync_file_range, fileno(f), 0, (long)(unsigned long)off,
                           (long)(unsigned long)(off >> 32), (long)(unsigned long)len, (long)(unsigned long)(len >> 32),
                           (long)flags);
#elif defined(__NR_sync_file_range)
  return (int)syscall(__NR_sync_file_range, fileno(f), offset, length, flags);
#else
  (void)offset;
  (void)length;
  (void)flags;
  return -1;
#endif
}

/* copy_file_range through the system call itself: the receiver's library
 * has no wrapper. On the receiver's 32-bit MIPS the call is not made: its
 * kernel predates it, and under the emulator the error number of a refused
 * call did not come back reliably, which would turn "cannot" into a failed
 * write; ENOSYS sends the engine to reading and writing at once. */
ssize_t OS_CopyRange(FILE *in, off64_t inOffset, FILE *out, off64_t outOffset, size_t length)
{
  if (fflush(out) != 0) return -1;
  long long inAt = (long long)inOffset, outAt = (long long)outOffset;
#if defined(__NR_copy_file_range) && !defined(__mips__)
  return (ssize_t)syscall(__NR_copy_file_range, fileno(in), &inAt, fileno(out), &outAt, length, 0u);
#else
  (void)in;
  (void)inAt;
  (void)outAt;
  (void)length;
  errno = ENOSYS;
  return -1;
#endif
}
