// PowerCut.h -- what a power cut leaves of the files a run changed (bottom side).
//
// The model promises what POSIX promises and nothing more:
//  - a file's bytes are those it had at its last completed sync (OS_Fsync, a
//    background sync whose poll said done), plus a prefix of the writes made
//    after it; the last write of that prefix may be torn at any byte;
//  - a name created, removed or renamed in a folder is certain to stay only
//    once the folder was synced (OS_SyncDir) after it; of a folder's changes
//    since its last sync, a prefix in their order survives (maybe none, maybe
//    all). A rename is one change: it survives whole or not at all, and a
//    sync of either of its folders makes it certain;
//  - the firmware's own disk calls (TAP_Hdd_*) write through: a file written
//    with them is synced when it is closed, and their folder changes
//    (create, delete) are certain at once.
// Every change is recorded before it is made, with what undoes it. The cut
// picks, from a seed, how much of each file's and folder's unsynced changes
// survive, undoes the rest newest first, and leaves the files as a receiver
// finds them when it is switched on again.
// Owns: the change journal, a descriptor per changed file, the attic folders
// that keep removed files until the cut or the end of the run.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace sim {

class PowerModel {
 public:
  // `attics`: the host folders under which removed files are kept (the
  // sandbox root and each mount's host folder); a file is kept beside the
  // first of them that holds it.
  PowerModel(uint64_t seed, std::vector<std::filesystem::path> atticHomes);
  ~PowerModel();  // removes the attics: what was removed stays removed
  PowerModel(const PowerModel &) = delete;
  PowerModel &operator=(const PowerModel &) = delete;

  // Changes of bytes: before `length` bytes are written at `offset` of the
  // open file `fd` (an append passes the file's size).
  void BeforeWrite(int fd, off64_t offset, uint64_t length);
  // Before an existing file is opened for writing anew (cut to 0 bytes).
  void BeforeTruncate(const std::filesystem::path &file);
  // Names: after a file or folder was created at `path`.
  void Created(const std::filesystem::path &path, bool folder);
  // Instead of removing `path` (a file, or an empty folder): keeps it aside
  // where the cut can bring it back; the result of the removal (0, -1).
  int Remove(const std::filesystem::path &path);
  // Instead of rename(from, to): keeps a file that `to` replaces aside.
  int Rename(const std::filesystem::path &from, const std::filesystem::path &to);

  // Syncs: every change of the file (or folder) so far is certain.
  void SyncedFile(int fd);
  void SyncedFolder(const std::filesystem::path &folder);
  // A file whose handle closes through the firmware's disk calls.
  void ClosedFirmwareFile(int fd) { SyncedFile(fd); }

  // Changes recorded so far, synced or not.
  uint64_t Changes() const { return counted_; }
  // The cut: undoes what did not survive; a line saying what it did.
  std::string Cut();

 private:
  enum class Kind { Write, Create, Remove, Rename };
  struct Change {
    Kind kind = Kind::Write;      // what was done
    std::string stream;           // the file ("f:dev:ino") or folder ("d:path") it belongs to
    std::string otherFolder;      // a rename's source folder: a sync of it also makes it certain
    int fd = -1;                  // Write: the file, opened for the undo
    off64_t offset = 0;           // Write: where the bytes went
    uint64_t length = 0;          // Write: how many
    off64_t oldSize = 0;          // Write: the file's size before
    std::string oldBytes;         // Write: the bytes it overwrote
    std::filesystem::path path;   // Create/Remove: the name; Rename: the new name
    std::filesystem::path from;   // Rename: the old name
    std::filesystem::path attic;  // Remove: where the file waits; Rename: the replaced file
    std::string keptBytes;        // Remove without an attic: the file's bytes
    bool folder = false;          // Create/Remove: a folder
    bool certain = false;         // synced: survives every cut
  };

  int FileFd(int fd, std::string *stream);  // our descriptor of the same file
  std::filesystem::path AtticFor(const std::filesystem::path &path);
  void Record(Change change);
  void Undo(const Change &c, uint64_t keepBytes);
  static std::string FolderStream(const std::filesystem::path &path);

  std::mt19937_64 rng_;
  std::vector<std::filesystem::path> homes_;   // where attics may go
  std::vector<std::filesystem::path> attics_;  // attics made so far
  std::map<std::string, int> fds_;             // file stream -> our descriptor
  std::vector<Change> journal_;                // in the order made
  uint64_t counted_ = 0;
  uint64_t atticNames_ = 0;
};

}  // namespace sim
