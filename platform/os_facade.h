/* os_facade.h -- the plug-ins' only door to the operating system.
 *
 * Files outside the disk API ("/mnt/hd", shares, "/proc/uptime", the terminals
 * "/dev/pts/N"), System V shared memory and the dynamic loader are reached
 * through these wrappers only. On the receiver each is the libc call of the
 * same name (os_facade_libc.cpp); the simulator maps them into its sandbox,
 * with the receiver's device numbers, its console and injected faults. */
#ifndef FERROX_PLATFORM_OS_FACADE_H
#define FERROX_PLATFORM_OS_FACADE_H

#include <errno.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <utime.h>

#include "tap_types.h"

#ifdef __cplusplus
extern "C" {
#endif

/* status queries: 0 on success, -1 on failure */
int OS_Lstat64(const char *path, struct stat64 *st); /* does not follow links */
int OS_Stat64(const char *path, struct stat64 *st);  /* follows links */

/* large-file streams */
FILE *OS_Fopen64(const char *path, const char *mode);
int OS_Fclose(FILE *f);
size_t OS_Fread(void *buf, size_t size, size_t count, FILE *f);
size_t OS_Fwrite(const void *buf, size_t size, size_t count, FILE *f);
char *OS_Fgets(char *buf, int size, FILE *f);
int OS_Fseeko64(FILE *f, off64_t offset, int whence);
off64_t OS_Ftello64(FILE *f);
int OS_Fflush(FILE *f);
int OS_Fsync(FILE *f); /* flushes the stream's data to stable storage */
/* OS_Fsync without waiting for it: OS_SyncStart writes the stream's buffer
 * into the kernel and sets the sync going (0, or -1 with errno, EINVAL and
 * the like where the file system cannot sync); OS_SyncPoll then says 1 while
 * it runs, 0 once the data and metadata are on stable storage, -1 with errno
 * when that failed. Where the system cannot sync in the background, the
 * start does the whole sync and the first poll reports 0. Closing the
 * stream waits for a sync still running. */
int OS_SyncStart(FILE *f);
int OS_SyncPoll(FILE *f);
/* Writes the stream's buffer into the kernel, then starts the write-back of
 * the bytes offset..offset+length to the disk; with wait set it first waits
 * until they are on the disk. 0, or -1 where the system cannot (the caller's
 * later OS_Fsync then does all the work). */
int OS_WriteBack(FILE *f, off64_t offset, off64_t length, int wait);
/* Copies up to length bytes of `in` from inOffset to `out` at outOffset
 * inside the kernel, without passing them through the caller's memory; the
 * streams' own positions stay where they are (out's buffer is written into
 * the kernel first). The count copied, 0 at the end of in, or -1 with errno:
 * ENOSYS, EXDEV, EINVAL, EBADF, EOPNOTSUPP where the system or the file
 * systems cannot (out opened for appending among them; the caller reads and
 * writes instead), anything else for a failed write (ENOSPC, EIO). */
ssize_t OS_CopyRange(FILE *in, off64_t inOffset, FILE *out, off64_t outOffset, size_t length);

/* names */
int OS_Mkdir(const char *path, mode_t mode);
int OS_Link(const char *existing, const char *link);
int OS_Unlink(const char *path);
int OS_Remove(const char *path);
int OS_Rename(const char *from, const char *to);
int OS_Utime(const char *path, const struct utimbuf *times);
/* Brings a folder's names (files made, removed or renamed in it) onto stable
 * storage, as OS_Fsync does a file's bytes: a name is certain to survive a
 * power cut only after this. 0, or -1 with errno; a sync refused with an
 * error of OS_SyncDirErrorIsDone counts as done. */
int OS_SyncDir(const char *path);
/* A folder's sync that failed so is done: the file system keeps no such
 * data (EINVAL), or is read-only and has nothing to write (EROFS). */
static inline bool OS_SyncDirErrorIsDone(int error) { return error == EINVAL || error == EROFS; }

/* descriptors (the pseudo-terminals, font files) */
int OS_Open(const char *path, int flags);
ssize_t OS_Read(int fd, void *buf, size_t count);
ssize_t OS_Write(int fd, const void *buf, size_t count);
off64_t OS_Lseek64(int fd, off64_t offset, int whence);
int OS_Close(int fd);

/* A thread of the plug-in's own, for calls that may block in the kernel
 * (a share whose server stopped answering), and the pipe and poll the two
 * threads hand work over with. OS_ThreadStart: 0, or an error number.
 * OS_Poll: 1 once fd can be read, 0 when it could not within timeoutMs
 * (0 only looks), -1 with errno. On the simulator the firmware's thread
 * lets the plug-in's other threads into the simulator only while it polls
 * and between two idle rounds, as on the receiver the firmware's state is
 * its own thread's. OS_PinModule keeps the plug-in's code loaded after the
 * firmware unloads it (for a thread that cannot be ended): 0, or -1. */
typedef unsigned long tOS_Thread;
int OS_ThreadStart(tOS_Thread *thread, void *(*run)(void *), void *arg);
int OS_ThreadJoin(tOS_Thread thread);
int OS_Pipe(int fds[2]);
int OS_Poll(int fd, int timeoutMs);
int OS_PinModule(const void *address);

/* System V shared memory (plug-in start parameters) */
int OS_Shmget(key_t key, size_t size, int flags);
void *OS_Shmat(int id, const void *addr, int flags);
int OS_Shmdt(const void *addr);
int OS_Shmctl(int id, int command, struct shmid_ds *buf);

/* the dynamic loader (firmware symbols) */
void *OS_Dlopen(const char *file, int flags);
void *OS_Dlsym(void *handle, const char *name);
char *OS_Dlerror(void);
int OS_Dlclose(void *handle);

#ifdef __cplusplus
}
#endif

#endif
