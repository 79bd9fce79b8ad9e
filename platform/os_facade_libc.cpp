/* os_facade_libc.cpp -- the OS facade on the receiver: each call is libc's.
 *
 * Linked into the receiver's plug-in files; plug-ins for the simulator leave
 * these unresolved. The receiver's C library is older than the toolchain's:
 * where a newer library moved a function to a new symbol version (status
 * queries, loader), the plug-in binds the version the receiver's generation
 * provides, so the firmware can load it. */
#include "os_facade.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/shm.h>
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
size_t OS_Fwrite(const void *buf, size_t size, size_t count, FILE *f)
{
  return fwrite(buf, size, count, f);
}
char *OS_Fgets(char *buf, int size, FILE *f) { return fgets(buf, size, f); }
int OS_Fseeko64(FILE *f, off64_t offset, int whence) { return fseeko64(f, offset, whence); }
off64_t OS_Ftello64(FILE *f) { return ftello64(f); }
int OS_Fflush(FILE *f) { return fflush(f); }
int OS_Fsync(FILE *f) { return fsync(fileno(f)); }

int OS_Mkdir(const char *path, mode_t mode) { return mkdir(path, mode); }
int OS_Link(const char *existing, const char *link) { return ::link(existing, link); }
int OS_Unlink(const char *path) { return unlink(path); }
int OS_Remove(const char *path) { return remove(path); }
int OS_Rename(const char *from, const char *to) { return rename(from, to); }
int OS_Utime(const char *path, const struct utimbuf *times) { return utime(path, times); }

int OS_Open(const char *path, int flags) { return open(path, flags); }
ssize_t OS_Read(int fd, void *buf, size_t count) { return read(fd, buf, count); }
ssize_t OS_Write(int fd, const void *buf, size_t count) { return write(fd, buf, count); }
off64_t OS_Lseek64(int fd, off64_t offset, int whence) { return lseek64(fd, offset, whence); }
int OS_Close(int fd) { return close(fd); }

int OS_Shmget(key_t key, size_t size, int flags) { return shmget(key, size, flags); }
void *OS_Shmat(int id, const void *addr, int flags) { return shmat(id, addr, flags); }
int OS_Shmdt(const void *addr) { return shmdt(addr); }
int OS_Shmctl(int id, int command, struct shmid_ds *buf) { return shmctl(id, command, buf); }

void *OS_Dlopen(const char *file, int flags) { return dlopen(file, flags); }
void *OS_Dlsym(void *handle, const char *name) { return dlsym(handle, name); }
char *OS_Dlerror(void) { return dlerror(); }
int OS_Dlclose(void *handle) { return dlclose(handle); }
