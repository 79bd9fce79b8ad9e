// OsFacade.cpp -- the OS facade (OS_* of os_facade.h) on the simulator host.
//
// Receiver paths go through the sandbox mapping; status queries report the
// receiver's device numbers. "/proc/uptime" is virtual, "/dev/pts/N" are the
// run's console terminals, shared memory is an in-process table and the
// loader hides the symbols this firmware lacks. Write faults and vanished
// shares fail as on the receiver; streams not opened here are refused.
#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <thread>

#include "Fatal.h"
#include "os_facade.h"
#include "ReceiverImpl.h"
#include "ReceiverLock.h"

using sim::LiveOrWarn;
using sim::Receiver;
using sim::StreamInfo;

// ---------------------------------------------------------------- helpers

static Receiver::Impl *PathCall(const char *call, const char *path)
{
  if (path == nullptr) {
    errno = EFAULT;
    return nullptr;
  }
  Receiver::Impl *im = LiveOrWarn(call);
  if (!im) errno = ENOENT;
  return im;
}

// A call on a mount that stopped answering waits until it answers again, as
// the kernel's SMB client holds the caller. A thread of the plug-in's own
// lets go of the simulator meanwhile; the firmware's thread itself is held
// for the rest of the silence: on the virtual clock that time passes at
// once and counts as the event's.
static void AwaitShare(Receiver::Impl *im, int mount)
{
  double end = im->fs.SilentUntil(mount, im->clock.Ticks());
  if (end < 0) return;
  if (sim::OnFirmwareThread()) {
    const double now = im->clock.Seconds();
    const auto ticks = static_cast<uint32_t>((end - now) * 100 + 0.999);
    im->clock.Advance(ticks);
    if (im->clock.mode() == sim::ClockMode::Virtual) im->blockedMs += ticks * 10.0;
    im->silentMs += ticks * 10.0;
    return;
  }
  sim::FacadeEntry *entry = sim::CurrentFacadeEntry();
  if (!entry) return;
  sim::AwaitBegin(end);
  while (im->fs.SilentUntil(mount, im->clock.Ticks()) >= 0)
    entry->Released([] { std::this_thread::sleep_for(std::chrono::microseconds(500)); });
  sim::AwaitEnd(end);
}

// A receiver path resolved, once its mount answers.
static sim::HostFs::Resolved Where(Receiver::Impl *im, const char *path)
{
  sim::HostFs::Resolved where = im->Resolve(path);
  AwaitShare(im, where.mount);
  // the mount may have gone while the call waited
  return where.mount >= 0 ? im->Resolve(path) : where;
}

static bool IsStandard(FILE *f) { return f == stdin || f == stdout || f == stderr; }

// The stream's record; null (errno set) for unknown streams and streams
// on a share that has vanished.
static StreamInfo *Stream(FILE *f, const char *call, bool *standard)
{
  *standard = false;
  Receiver::Impl *im = sim::LiveImpl();
  if (im) ++im->calls[call];
  if (f && IsStandard(f)) {
    *standard = true;
    return nullptr;
  }
  if (!im || !f || im->streams.find(f) == im->streams.end()) {
    sim::PluginError(call, "not a stream opened through OS_Fopen64 (or closed already); ignored");
    errno = EBADF;
    return nullptr;
  }
  StreamInfo &info = im->streams.find(f)->second;
  AwaitShare(im, info.mount);
  if (im->MountGone(info.mount)) {
    errno = EIO;
    return nullptr;
  }
  return &info;
}

static bool IsUptime(const std::string &path) { return path == "/proc/uptime"; }

static int TerminalNumber(const std::string &path)
{
  static const char prefix[] = "/dev/pts/";
  if (path.compare(0, sizeof prefix - 1, prefix) != 0) return -1;
  std::string n = path.substr(sizeof prefix - 1);
  if (n.empty() || n.size() > 2 || n.find_first_not_of("0123456789") != std::string::npos) return -1;
  int pts = std::stoi(n);
  return pts <= 19 ? pts : -1;
}

// Before bytes go into a stream under the power-cut model: the buffer is
// written out first, so the change starts where the file ends or the stream
// stands.
static void BeforeStreamWrite(sim::PowerModel *power, FILE *f, bool append, uint64_t length)
{
  std::fflush(f);
  struct stat64 st;
  off64_t at = append && fstat64(fileno(f), &st) == 0 ? st.st_size : ftello64(f);
  power->BeforeWrite(fileno(f), at, length);
}

// ---------------------------------------------------------------- status

static int StatCall(const char *call, const char *path, struct stat64 *st, bool follow)
{
  Receiver::Impl *im = PathCall(call, path);
  if (!im) return -1;
  if (!st) {
    errno = EFAULT;
    return -1;
  }
  sim::HostFs::Resolved where = Where(im, path);
  int rc = follow ? stat64(where.host.c_str(), st) : lstat64(where.host.c_str(), st);
  if (rc != 0) return rc;
  // The receiver's device; the inode stays the host's. Where the path
  // passes a symbolic link (the file itself, when followed, or a folder on
  // the way) the file lives where the link leads, and the kernel reports
  // that place's device: a link into a mount is on the mount's device.
  st->st_dev = where.dev;
  std::error_code ec;
  std::filesystem::path real = follow
                                   ? std::filesystem::canonical(where.host, ec)
                                   : std::filesystem::canonical(where.host.parent_path(), ec) / where.host.filename();
  if (!ec && real != where.host.lexically_normal()) st->st_dev = im->fs.DeviceOfHost(real, im->clock.Ticks());
  return rc;
}

extern "C" int OS_Lstat64(const char *path, struct stat64 *st)
{
  sim::FacadeEntry entry;
  return StatCall("OS_Lstat64", path, st, false);
}
extern "C" int OS_Stat64(const char *path, struct stat64 *st)
{
  sim::FacadeEntry entry;
  return StatCall("OS_Stat64", path, st, true);
}

// ---------------------------------------------------------------- streams

static FILE *OpenUptime(Receiver::Impl *im, const char *mode)
{
  if (mode[0] != 'r' || std::strchr(mode, '+')) {
    errno = EACCES;
    return nullptr;
  }
  // the kernel's decimal point, whatever the plug-in's locale
  char text[64];
  const double up = im->clock.Uptime();
  char *end = std::to_chars(text, text + 30, up, std::chars_format::fixed, 2).ptr;
  *end++ = ' ';
  end = std::to_chars(end, end + 30, up * 0.9, std::chars_format::fixed, 2).ptr;
  *end++ = '\n';
  *end = '\0';
  const int n = static_cast<int>(end - text);
  auto memory = std::make_unique<char[]>(n + 1);
  std::memcpy(memory.get(), text, n + 1);
  FILE *f = fmemopen(memory.get(), n, "r");
  if (!f) return nullptr;
  StreamInfo &info = im->streams[f];
  info.receiverPath = "/proc/uptime";
  info.memory = std::move(memory);
  return f;
}

extern "C" FILE *OS_Fopen64(const char *path, const char *mode)
{
  sim::FacadeEntry entry;
  Receiver::Impl *im = PathCall("OS_Fopen64", path);
  if (!im) return nullptr;
  if (!mode) {
    errno = EINVAL;
    return nullptr;
  }
  sim::HostFs::Resolved where = Where(im, path);
  if (IsUptime(where.receiverPath)) return OpenUptime(im, mode);
  // a name made or a file cut to nothing are changes for the power-cut model
  const bool writing = std::strpbrk(mode, "wa+") != nullptr;
  struct stat64 before;
  const bool existed = lstat64(where.host.c_str(), &before) == 0;
  sim::PowerModel *power = nullptr;
  if (im->power && writing && (!existed || (mode[0] == 'w' && S_ISREG(before.st_mode)))) {
    power = im->ChangeComing();
    if (existed) power->BeforeTruncate(where.host);
  }
  FILE *f = fopen64(where.host.c_str(), mode);
  if (!f) return nullptr;
  if (power && !existed) power->Created(where.host, false);
  StreamInfo &info = im->streams[f];
  info.receiverPath = where.receiverPath;
  info.mount = where.mount;
  info.append = mode[0] == 'a';
  return f;
}

extern "C" int OS_Fclose(FILE *f)
{
  sim::FacadeEntry entry;
  Receiver::Impl *im = sim::LiveImpl();
  if (f && IsStandard(f)) {  // the simulator's own console stays open
    sim::PluginError("OS_Fclose", "closing a standard stream; ignored");
    errno = EBADF;
    return EOF;
  }
  if (!im || !f || im->streams.find(f) == im->streams.end()) {
    sim::PluginError("OS_Fclose", "not a stream opened through OS_Fopen64 (or closed already); ignored");
    errno = EBADF;
    return EOF;
  }
  // Out of the table before the stream is freed; the node keeps a virtual
  // file's text alive until the close is done.
  auto node = im->streams.extract(f);
  if (node.mapped().sync.valid()) node.mapped().sync.wait();  // its descriptor goes with the stream
  bool gone = im->MountGone(node.mapped().mount);
  int rc = std::fclose(f);
  if (gone) {
    errno = EIO;
    return EOF;
  }
  return rc;
}

extern "C" size_t OS_Fread(void *buf, size_t size, size_t count, FILE *f)
{
  sim::FacadeEntry entry;
  bool standard;
  StreamInfo *s = Stream(f, "OS_Fread", &standard);
  if ((!s && !standard) || !buf) return 0;
  return std::fread(buf, size, count, f);
}

extern "C" size_t OS_Fwrite(const void *buf, size_t size, size_t count, FILE *f)
{
  sim::FacadeEntry entry;
  bool standard;
  StreamInfo *s = Stream(f, "OS_Fwrite", &standard);
  if ((!s && !standard) || !buf || size == 0) return 0;
  if (standard) return std::fwrite(buf, size, count, f);
  Receiver::Impl *im = sim::LiveImpl();
  const uint64_t want = static_cast<uint64_t>(size) * count;
  const uint64_t allowed = im->WriteAllowance(s->receiverPath, want);
  // Under the power-cut model every write reaches the file at once, in the
  // order made, so that the journal sees the bytes where they land.
  sim::PowerModel *power = im->power && allowed > 0 ? im->ChangeComing() : nullptr;
  if (power) BeforeStreamWrite(power, f, s->append, allowed);
  size_t whole = std::fwrite(buf, size, allowed / size, f);
  size_t part = allowed % size;
  if (part && whole == allowed / size)  // the disk fills up in the middle of an item
    part = std::fwrite(static_cast<const char *>(buf) + whole * size, 1, part, f);
  else part = 0;
  if (power) std::fflush(f);
  im->CountWritten(s->receiverPath, whole * size + part);
  if (allowed < want) errno = ENOSPC;
  return whole;
}

extern "C" char *OS_Fgets(char *buf, int size, FILE *f)
{
  sim::FacadeEntry entry;
  bool standard;
  StreamInfo *s = Stream(f, "OS_Fgets", &standard);
  if ((!s && !standard) || !buf || size <= 0) return nullptr;
  return std::fgets(buf, size, f);
}

extern "C" int OS_Fseeko64(FILE *f, off64_t offset, int whence)
{
  sim::FacadeEntry entry;
  bool standard;
  if (!Stream(f, "OS_Fseeko64", &standard) && !standard) return -1;
  return fseeko64(f, offset, whence);
}

extern "C" off64_t OS_Ftello64(FILE *f)
{
  sim::FacadeEntry entry;
  bool standard;
  if (!Stream(f, "OS_Ftello64", &standard) && !standard) return -1;
  return ftello64(f);
}

extern "C" int OS_Fflush(FILE *f)
{
  sim::FacadeEntry entry;
  bool standard;
  if (!Stream(f, "OS_Fflush", &standard) && !standard) return EOF;
  return std::fflush(f);
}

extern "C" int OS_Fsync(FILE *f)
{
  sim::FacadeEntry entry;
  bool standard;
  if (!Stream(f, "OS_Fsync", &standard) && !standard) return -1;
  if (std::fflush(f) != 0) return -1;
  const auto start = std::chrono::steady_clock::now();
  int rc = fsync(fileno(f));
  Receiver::Impl *im = sim::LiveImpl();
  if (im)
    im->callMs["OS_Fsync"] +=
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  if (rc == 0 && !standard && im && im->power) im->power->SyncedFile(fileno(f));
  return rc;
}

// On the real clock the sync runs on a thread of its own, so the plug-in's
// idle event does not wait for the disk; the stream stays open until the
// thread is done (OS_Fclose waits for it). One sync at a time per stream: a
// second start while one runs joins it. On the virtual clock the start does
// the whole sync, and the polls report it running for the configured ticks
// (syncTicks): how many ticks a sync spans must not depend on the host's
// disk there.
extern "C" int OS_SyncStart(FILE *f)
{
  sim::FacadeEntry entry;
  bool standard;
  StreamInfo *s = Stream(f, "OS_SyncStart", &standard);
  if (!s) {
    if (standard) errno = EINVAL;
    return -1;
  }
  if (std::fflush(f) != 0) return -1;
  if (s->sync.valid()) return 0;
  const int fd = fileno(f);
  auto sync = [fd] { return fsync(fd) == 0 ? 0 : errno; };
  Receiver::Impl *im = sim::LiveImpl();
  if (im && im->clock.mode() == sim::ClockMode::Real) {
    s->sync = std::async(std::launch::async, sync);
    return 0;
  }
  std::promise<int> done;
  done.set_value(sync());
  s->sync = done.get_future();
  s->syncUntil = im ? im->clock.Ticks() + im->config.syncTicks : 0;
  return 0;
}

extern "C" int OS_SyncPoll(FILE *f)
{
  sim::FacadeEntry entry;
  bool standard;
  StreamInfo *s = Stream(f, "OS_SyncPoll", &standard);
  if (!s) {
    if (standard) errno = EINVAL;
    return -1;
  }
  if (!s->sync.valid()) return 0;  // nothing started, or reported already
  Receiver::Impl *im = sim::LiveImpl();
  if (im && im->clock.mode() == sim::ClockMode::Virtual && im->clock.Ticks() < s->syncUntil) return 1;
  if (s->sync.wait_for(std::chrono::seconds(0)) != std::future_status::ready) return 1;
  const int error = s->sync.get();
  if (error == 0 && im && im->power) im->power->SyncedFile(fileno(f));
  if (error == 0) return 0;
  errno = error;
  return -1;
}

extern "C" int OS_WriteBack(FILE *f, off64_t offset, off64_t length, int wait)
{
  sim::FacadeEntry entry;
  bool standard;
  if (!Stream(f, "OS_WriteBack", &standard) || standard) return -1;
  if (std::fflush(f) != 0) return -1;
  unsigned int flags =
      wait ? SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER : SYNC_FILE_RANGE_WRITE;
  return sync_file_range(fileno(f), offset, length, flags);
}

// In the kernel between two of the plug-in's streams, with the same disk
// faults as OS_Fwrite: the bytes the destination may still take, then
// ENOSPC.
extern "C" ssize_t OS_CopyRange(FILE *in, off64_t inOffset, FILE *out, off64_t outOffset, size_t length)
{
  sim::FacadeEntry entry;
  bool standardIn, standardOut;
  StreamInfo *from = Stream(in, "OS_CopyRange", &standardIn);
  if (!from) {
    if (standardIn) errno = EBADF;
    return -1;
  }
  // at the end of the source the kernel moves nothing and touches no
  // destination, not even one on a share that went away
  struct stat64 st;
  if (fstat64(fileno(in), &st) == 0 && S_ISREG(st.st_mode) && inOffset >= st.st_size) return 0;
  StreamInfo *to = Stream(out, "OS_CopyRange", &standardOut);
  if (!to) {
    if (standardOut) errno = EBADF;
    return -1;
  }
  if (std::fflush(out) != 0) return -1;
  Receiver::Impl *im = sim::LiveImpl();
  const uint64_t allowed = im->WriteAllowance(to->receiverPath, length);
  if (allowed == 0 && length > 0) {
    errno = ENOSPC;
    return -1;
  }
  if (im->ChangeComing()) im->power->BeforeWrite(fileno(out), outOffset, allowed);
  loff_t inAt = inOffset, outAt = outOffset;
  ssize_t n = copy_file_range(fileno(in), &inAt, fileno(out), &outAt, static_cast<size_t>(allowed), 0);
  if (n > 0) im->CountWritten(to->receiverPath, static_cast<uint64_t>(n));
  return n;
}

// ---------------------------------------------------------------- names

// Both names on the same receiver device, as link and rename require.
static bool SameDevice(Receiver::Impl *im, const char *a, const char *b)
{
  return Where(im, a).dev == Where(im, b).dev;
}

extern "C" int OS_Mkdir(const char *path, mode_t mode)
{
  sim::FacadeEntry entry;
  Receiver::Impl *im = PathCall("OS_Mkdir", path);
  if (!im) return -1;
  std::filesystem::path host = Where(im, path).host;
  sim::PowerModel *power = im->ChangeComing();
  int rc = mkdir(host.c_str(), mode);
  if (rc == 0 && power) power->Created(host, true);
  return rc;
}

extern "C" int OS_Link(const char *existing, const char *link)
{
  sim::FacadeEntry entry;
  Receiver::Impl *im = PathCall("OS_Link", existing);
  if (!im || !PathCall("OS_Link", link)) return -1;
  if (!SameDevice(im, existing, link)) {
    errno = EXDEV;
    return -1;
  }
  std::filesystem::path host = Where(im, link).host;
  sim::PowerModel *power = im->ChangeComing();
  int rc = ::link(Where(im, existing).host.c_str(), host.c_str());
  if (rc == 0 && power) power->Created(host, false);
  return rc;
}

extern "C" int OS_Unlink(const char *path)
{
  sim::FacadeEntry entry;
  Receiver::Impl *im = PathCall("OS_Unlink", path);
  if (!im) return -1;
  std::filesystem::path host = Where(im, path).host;
  struct stat64 st;
  if (!im->power || lstat64(host.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return unlink(host.c_str());
  return im->ChangeComing()->Remove(host);
}

extern "C" int OS_Remove(const char *path)
{
  sim::FacadeEntry entry;
  Receiver::Impl *im = PathCall("OS_Remove", path);
  if (!im) return -1;
  sim::HostFs::Resolved where = Where(im, path);
  if (where.receiverPath == "/" || where.receiverPath == "/mnt/hd" || im->IsMountPoint(where.receiverPath)) {
    errno = EBUSY;
    return -1;
  }
  struct stat64 st;
  if (!im->power || lstat64(where.host.c_str(), &st) != 0) return std::remove(where.host.c_str());
  return im->ChangeComing()->Remove(where.host);
}

extern "C" int OS_Rename(const char *from, const char *to)
{
  sim::FacadeEntry entry;
  Receiver::Impl *im = PathCall("OS_Rename", from);
  if (!im || !PathCall("OS_Rename", to)) return -1;
  if (im->IsMountPoint(from) || im->IsMountPoint(to)) {
    errno = EBUSY;
    return -1;
  }
  if (!SameDevice(im, from, to)) {
    errno = EXDEV;
    return -1;
  }
  std::filesystem::path hostFrom = Where(im, from).host, hostTo = Where(im, to).host;
  struct stat64 st;
  if (!im->power || lstat64(hostFrom.c_str(), &st) != 0) return std::rename(hostFrom.c_str(), hostTo.c_str());
  return im->ChangeComing()->Rename(hostFrom, hostTo);
}

// A folder's names (made, removed, renamed) onto stable storage.
extern "C" int OS_SyncDir(const char *path)
{
  sim::FacadeEntry entry;
  Receiver::Impl *im = PathCall("OS_SyncDir", path);
  if (!im) return -1;
  sim::HostFs::Resolved where = Where(im, path);
  if (im->MountGone(where.mount)) {
    errno = EIO;
    return -1;
  }
  const auto start = std::chrono::steady_clock::now();
  int fd = open(where.host.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return -1;
  int rc = fsync(fd);
  int error = errno;
  close(fd);
  im->callMs["OS_SyncDir"] +=
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  if (rc != 0 && OS_SyncDirErrorIsDone(error)) rc = 0;
  if (rc == 0 && im->power) im->power->SyncedFolder(where.host);
  errno = error;
  return rc;
}

extern "C" int OS_Utime(const char *path, const struct utimbuf *times)
{
  sim::FacadeEntry entry;
  Receiver::Impl *im = PathCall("OS_Utime", path);
  return im ? utime(Where(im, path).host.c_str(), times) : -1;
}

// ---------------------------------------------------------------- descriptors

// A system call that may wait (a pipe between the plug-in's threads), made
// without holding the simulator; its errno survives the retaking.
template <class Call>
static auto Unheld(sim::FacadeEntry &entry, Call call)
{
  decltype(call()) rc{};
  int error = 0;
  entry.Released([&] {
    rc = call();
    error = errno;
  });
  errno = error;
  return rc;
}

extern "C" int OS_Open(const char *path, int flags)
{
  sim::FacadeEntry entry;
  Receiver::Impl *im = PathCall("OS_Open", path);
  if (!im) return -1;
  sim::HostFs::Resolved where = Where(im, path);
  int pts = TerminalNumber(where.receiverPath);
  if (pts >= 0 || where.receiverPath.rfind("/dev/pts/", 0) == 0) {
    const auto &open = im->config.openTerminals;
    if (pts < 0 || std::find(open.begin(), open.end(), pts) == open.end()) {
      errno = ENOENT;  // no such terminal in this run
      return -1;
    }
    int fd = im->nextTermFd++;
    im->termFds[fd] = pts;
    return fd;
  }
  return open(where.host.c_str(), flags, 0644);
}

extern "C" ssize_t OS_Write(int fd, const void *buf, size_t count)
{
  sim::FacadeEntry entry;
  Receiver::Impl *im = sim::LiveImpl();
  if (im && im->termFds.count(fd)) {
    if (!buf) {
      errno = EFAULT;
      return -1;
    }
    im->Echo(im->termFds[fd], buf, count);
    return static_cast<ssize_t>(count);
  }
  if (fd >= 100000) {
    errno = EBADF;
    return -1;
  }
  return Unheld(entry, [&] { return write(fd, buf, count); });
}

// Terminals are write-only; the simulator's own descriptors are not the
// plug-in's to read or move.
static bool PluginDescriptor(int fd, const char *call)
{
  Receiver::Impl *im = LiveOrWarn(call);
  if ((im && im->termFds.count(fd)) || fd >= 100000 || fd <= 2) {
    errno = EBADF;
    return false;
  }
  return true;
}

extern "C" ssize_t OS_Read(int fd, void *buf, size_t count)
{
  sim::FacadeEntry entry;
  if (!PluginDescriptor(fd, "OS_Read")) return -1;
  return Unheld(entry, [&] { return read(fd, buf, count); });
}

extern "C" off64_t OS_Lseek64(int fd, off64_t offset, int whence)
{
  sim::FacadeEntry entry;
  if (!PluginDescriptor(fd, "OS_Lseek64")) return -1;
  return lseek64(fd, offset, whence);
}

extern "C" int OS_Close(int fd)
{
  sim::FacadeEntry entry;
  Receiver::Impl *im = sim::LiveImpl();
  if (im && im->termFds.erase(fd)) return 0;
  if (fd >= 100000 || fd <= 2) {  // never let a plug-in close the simulator's own console
    errno = EBADF;
    return -1;
  }
  return close(fd);
}

// ---------------------------------------------------------------- threads

extern "C" int OS_ThreadStart(tOS_Thread *thread, void *(*run)(void *), void *arg)
{
  sim::FacadeEntry entry;
  Receiver::Impl *im = LiveOrWarn("OS_ThreadStart");
  if (!im || !thread || !run) return EINVAL;
  // the thread is counted while it runs, so that its code is not unmapped
  // under it when the receiver unloads the plug-in before the thread ended
  struct Start {
    void *(*run)(void *);
    void *arg;
  };
  auto *start = new Start{run, arg};
  sim::PluginThreadStarted(reinterpret_cast<const void *>(run));
  pthread_t t;
  int rc = pthread_create(
      &t, nullptr,
      [](void *p) -> void * {
        Start s = *static_cast<Start *>(p);
        delete static_cast<Start *>(p);
        void *result = s.run(s.arg);
        sim::PluginThreadEnded(reinterpret_cast<const void *>(s.run));
        return result;
      },
      start);
  if (rc == 0) {
    *thread = static_cast<tOS_Thread>(t);
  } else {
    sim::PluginThreadEnded(reinterpret_cast<const void *>(run));
    delete start;
  }
  return rc;
}

extern "C" int OS_ThreadJoin(tOS_Thread thread)
{
  sim::FacadeEntry entry;
  LiveOrWarn("OS_ThreadJoin");
  return Unheld(entry, [&] { return pthread_join(static_cast<pthread_t>(thread), nullptr); });
}

extern "C" int OS_Pipe(int fds[2])
{
  sim::FacadeEntry entry;
  Receiver::Impl *im = LiveOrWarn("OS_Pipe");
  if (!im || !fds) {
    errno = EFAULT;
    return -1;
  }
  return pipe(fds);
}

// The firmware's thread lets the plug-in's other threads in while it waits.
extern "C" int OS_Poll(int fd, int timeoutMs)
{
  sim::FacadeEntry entry;
  if (!PluginDescriptor(fd, "OS_Poll")) return -1;
  struct pollfd p = {fd, POLLIN, 0};
  int rc = Unheld(entry, [&] {
    int r;
    do r = poll(&p, 1, timeoutMs);
    while (r < 0 && errno == EINTR);
    return r;
  });
  return rc < 0 ? -1 : rc > 0 ? 1 : 0;
}

extern "C" int OS_PinModule(const void *address)
{
  sim::FacadeEntry entry;
  LiveOrWarn("OS_PinModule");
  Dl_info info;
  if (dladdr(address, &info) == 0 || info.dli_fname == nullptr) return -1;
  return dlopen(info.dli_fname, RTLD_NOW | RTLD_NODELETE) != nullptr ? 0 : -1;
}

// ---------------------------------------------------------------- shared memory

static sim::ShmSegment *SegmentById(Receiver::Impl *im, int id)
{
  for (auto &s : im->shm)
    if (s.id == id) return &s;
  return nullptr;
}

extern "C" int OS_Shmget(key_t key, size_t size, int flags)
{
  sim::FacadeEntry entry;
  Receiver::Impl *im = LiveOrWarn("OS_Shmget");
  if (!im) {
    errno = ENOSYS;
    return -1;
  }
  if (key != IPC_PRIVATE)
    for (auto &s : im->shm) {
      if (s.key != key || s.removed) continue;
      if ((flags & IPC_CREAT) && (flags & IPC_EXCL)) return errno = EEXIST, -1;
      if (size > s.size) return errno = EINVAL, -1;
      return s.id;
    }
  if (key != IPC_PRIVATE && !(flags & IPC_CREAT)) return errno = ENOENT, -1;
  if (size == 0 || size > (64u << 20)) return errno = EINVAL, -1;
  sim::ShmSegment seg{im->nextShmId++, key, std::make_unique<unsigned char[]>(size), size};
  std::memset(seg.data.get(), 0, size);
  im->shm.push_back(std::move(seg));
  return im->shm.back().id;
}

extern "C" void *OS_Shmat(int id, const void *addr, int flags)
{
  sim::FacadeEntry entry;
  Receiver::Impl *im = LiveOrWarn("OS_Shmat");
  sim::ShmSegment *s = im ? SegmentById(im, id) : nullptr;
  if (!s || s->removed) {
    errno = EINVAL;
    return reinterpret_cast<void *>(-1);
  }
  ++s->attached;
  return s->data.get();
}

extern "C" int OS_Shmdt(const void *addr)
{
  sim::FacadeEntry entry;
  Receiver::Impl *im = LiveOrWarn("OS_Shmdt");
  if (!im) return errno = EINVAL, -1;
  for (auto it = im->shm.begin(); it != im->shm.end(); ++it) {
    if (it->data.get() != addr || it->attached == 0) continue;
    if (--it->attached == 0 && it->removed) im->shm.erase(it);
    return 0;
  }
  return errno = EINVAL, -1;
}

extern "C" int OS_Shmctl(int id, int command, struct shmid_ds *buf)
{
  sim::FacadeEntry entry;
  Receiver::Impl *im = LiveOrWarn("OS_Shmctl");
  sim::ShmSegment *s = im ? SegmentById(im, id) : nullptr;
  if (!s) return errno = EINVAL, -1;
  if (command == IPC_RMID) {
    s->removed = true;
    if (s->attached == 0) im->shm.erase(im->shm.begin() + (s - im->shm.data()));
    return 0;
  }
  if (command == IPC_STAT && buf) {
    std::memset(buf, 0, sizeof *buf);
    buf->shm_segsz = s->size;
    buf->shm_nattch = static_cast<shmatt_t>(s->attached);
    buf->shm_perm.__key = s->key;
    return 0;
  }
  return errno = EINVAL, -1;
}

// ---------------------------------------------------------------- loader

extern "C" void *OS_Dlopen(const char *file, int flags) { return dlopen(file, flags); }

extern "C" void *OS_Dlsym(void *handle, const char *name)
{
  sim::FacadeEntry entry;
  Receiver::Impl *im = sim::LiveImpl();
  if (name == nullptr) return nullptr;
  if (im && im->missing.count(name)) {
    dlerror();  // the refusal is the only error to report
    im->dlError = std::string(name) + ": undefined symbol (this firmware does not export it)";
    return nullptr;
  }
  if (im) im->dlError.clear();
  return dlsym(handle, name);
}

extern "C" char *OS_Dlerror(void)
{
  sim::FacadeEntry entry;
  Receiver::Impl *im = sim::LiveImpl();
  if (im && !im->dlError.empty()) {
    im->dlErrorReturned = im->dlError;
    im->dlError.clear();
    return im->dlErrorReturned.data();
  }
  return dlerror();
}

extern "C" int OS_Dlclose(void *handle) { return handle ? dlclose(handle) : -1; }
