// PowerCut.cpp -- the power-cut model: a journal of unsynced changes and the
// cut that keeps a prefix of each file's and folder's changes (PowerCut.h).
//
// Changes are recorded before they are made (bytes: what they overwrite;
// names: where a removed file waits), so the cut can undo them newest first
// on the host files themselves.
#include "PowerCut.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <system_error>

namespace fs = std::filesystem;

namespace sim {

PowerModel::PowerModel(uint64_t seed, std::vector<fs::path> atticHomes) : rng_(seed), homes_(std::move(atticHomes)) {}

PowerModel::~PowerModel()
{
  for (auto &[stream, fd] : fds_) close(fd);
  std::error_code ec;
  for (const fs::path &a : attics_) fs::remove_all(a, ec);
}

std::string PowerModel::FolderStream(const fs::path &path) { return "d:" + path.lexically_normal().string(); }

// The journal's name of the file open as `fd`; false when it has none.
static bool FileStream(int fd, std::string *stream)
{
  struct stat st;
  if (fstat(fd, &st) != 0) return false;
  *stream = "f:" + std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
  return true;
}

// A descriptor of our own on the file open as `fd`: the undo writes through
// it even after the file lost its name, and it keeps the inode from being
// reused within the run. Opened anew, so an append flag does not follow.
// Only files that are written get one.
int PowerModel::FileFd(int fd, std::string *stream)
{
  if (!FileStream(fd, stream)) return -1;
  auto it = fds_.find(*stream);
  if (it != fds_.end()) return it->second;
  std::string self = "/proc/self/fd/" + std::to_string(fd);
  int own = open(self.c_str(), O_RDWR | O_CLOEXEC);
  if (own < 0) return -1;
  fds_[*stream] = own;
  return own;
}

// Where a removed file waits: a folder beside the attic home that holds it,
// on the same file system, outside anything a plug-in lists.
fs::path PowerModel::AtticFor(const fs::path &path)
{
  const std::string p = path.lexically_normal().string();
  for (const fs::path &home : homes_) {
    const std::string h = home.lexically_normal().string();
    if (p.compare(0, h.size(), h) != 0 || (p.size() > h.size() && p[h.size()] != '/')) continue;
    fs::path attic = home.parent_path() / (".power-attic-" + home.filename().string());
    std::error_code ec;
    fs::create_directories(attic, ec);
    if (std::find(attics_.begin(), attics_.end(), attic) == attics_.end()) attics_.push_back(attic);
    return attic / std::to_string(++atticNames_);
  }
  return {};
}

void PowerModel::Record(Change change)
{
  ++counted_;
  journal_.push_back(std::move(change));
}

void PowerModel::BeforeWrite(int fd, off64_t offset, uint64_t length)
{
  Change c;
  c.kind = Kind::Write;
  c.stream = "";
  c.fd = FileFd(fd, &c.stream);
  if (c.fd < 0) return;
  struct stat st;
  if (fstat(c.fd, &st) != 0) return;
  c.offset = offset;
  c.length = length;
  c.oldSize = st.st_size;
  if (offset < st.st_size) {
    uint64_t overlap = std::min<uint64_t>(length, static_cast<uint64_t>(st.st_size - offset));
    c.oldBytes.resize(overlap);
    ssize_t n = pread(c.fd, c.oldBytes.data(), overlap, offset);
    c.oldBytes.resize(n > 0 ? static_cast<size_t>(n) : 0);
  }
  Record(std::move(c));
}

void PowerModel::BeforeTruncate(const fs::path &file)
{
  int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return;
  struct stat st;
  if (fstat(fd, &st) == 0 && st.st_size > 0) BeforeWrite(fd, 0, static_cast<uint64_t>(st.st_size));
  close(fd);
}

void PowerModel::Created(const fs::path &path, bool folder)
{
  Change c;
  c.kind = Kind::Create;
  c.stream = FolderStream(path.parent_path());
  c.path = path;
  c.folder = folder;
  Record(std::move(c));
}

int PowerModel::Remove(const fs::path &path)
{
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return -1;
  Change c;
  c.kind = Kind::Remove;
  c.stream = FolderStream(path.parent_path());
  c.path = path;
  c.folder = S_ISDIR(st.st_mode);
  if (c.folder) {
    if (rmdir(path.c_str()) != 0) return -1;  // not empty: nothing changed
  } else {
    c.attic = AtticFor(path);
    if (c.attic.empty() || rename(path.c_str(), c.attic.c_str()) != 0) {
      // another file system: the bytes wait in memory
      c.attic.clear();
      std::ifstream in(path, std::ios::binary);
      c.keptBytes.assign(std::istreambuf_iterator<char>(in), {});
      if (unlink(path.c_str()) != 0) return -1;
    }
  }
  Record(std::move(c));
  return 0;
}

int PowerModel::Rename(const fs::path &from, const fs::path &to)
{
  Change c;
  c.kind = Kind::Rename;
  c.stream = FolderStream(to.parent_path());
  c.otherFolder = FolderStream(from.parent_path());
  c.path = to;
  c.from = from;
  struct stat st;
  if (lstat(to.c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) {
    c.attic = AtticFor(to);
    if (!c.attic.empty() && link(to.c_str(), c.attic.c_str()) != 0) c.attic.clear();
  }
  if (rename(from.c_str(), to.c_str()) != 0) {
    int error = errno;
    if (!c.attic.empty()) unlink(c.attic.c_str());
    errno = error;
    return -1;
  }
  Record(std::move(c));
  return 0;
}

void PowerModel::SyncedFile(int fd)
{
  std::string stream;
  if (!FileStream(fd, &stream)) return;
  for (Change &c : journal_)
    if (c.stream == stream) c.certain = true;
}

void PowerModel::SyncedFolder(const fs::path &folder)
{
  const std::string stream = FolderStream(folder);
  for (Change &c : journal_)
    if (c.stream == stream || c.otherFolder == stream) c.certain = true;
}

// Undoes one change; a torn write keeps its first keepBytes bytes.
void PowerModel::Undo(const Change &c, uint64_t keepBytes)
{
  std::error_code ec;
  switch (c.kind) {
    case Kind::Write: {
      std::string torn(keepBytes, '\0');
      if (keepBytes > 0) {
        ssize_t n = pread(c.fd, torn.data(), keepBytes, c.offset);
        torn.resize(n > 0 ? static_cast<size_t>(n) : 0);
      }
      if (!c.oldBytes.empty() && pwrite(c.fd, c.oldBytes.data(), c.oldBytes.size(), c.offset) < 0) break;
      if (ftruncate(c.fd, c.oldSize) != 0) break;
      if (!torn.empty() && pwrite(c.fd, torn.data(), torn.size(), c.offset) < 0) break;
      break;
    }
    case Kind::Create:
      if (c.folder) fs::remove_all(c.path, ec);
      else unlink(c.path.c_str());
      break;
    case Kind::Remove:
      if (c.folder) {
        mkdir(c.path.c_str(), 0755);
      } else if (!c.attic.empty()) {
        rename(c.attic.c_str(), c.path.c_str());
      } else {
        std::ofstream(c.path, std::ios::binary) << c.keptBytes;
      }
      break;
    case Kind::Rename:
      if (rename(c.path.c_str(), c.from.c_str()) == 0 && !c.attic.empty()) rename(c.attic.c_str(), c.path.c_str());
      break;
  }
}

std::string PowerModel::Cut()
{
  // how many of each stream's unsynced changes survive, and how much of the
  // first one that does not (a write torn at a byte)
  std::map<std::string, std::vector<size_t>> unsynced;
  for (size_t i = 0; i < journal_.size(); ++i)
    if (!journal_[i].certain) unsynced[journal_[i].stream].push_back(i);
  std::vector<bool> keep(journal_.size(), true);
  std::vector<uint64_t> tornKeep(journal_.size(), 0);
  size_t lost = 0, pending = 0;
  for (auto &[stream, changes] : unsynced) {
    pending += changes.size();
    size_t survive = std::uniform_int_distribution<size_t>(0, changes.size())(rng_);
    for (size_t k = survive; k < changes.size(); ++k) {
      keep[changes[k]] = false;
      ++lost;
    }
    if (survive < changes.size()) {
      const Change &first = journal_[changes[survive]];
      if (first.kind == Kind::Write && first.length > 1)
        tornKeep[changes[survive]] = std::uniform_int_distribution<uint64_t>(0, first.length - 1)(rng_);
    }
  }
  for (size_t i = journal_.size(); i-- > 0;)
    if (!keep[i]) Undo(journal_[i], tornKeep[i]);
  char line[200];
  std::snprintf(line, sizeof line, "%zu of %llu changes were not synced, %zu of them lost", pending,
                static_cast<unsigned long long>(counted_), lost);
  return line;
}

}  // namespace sim
