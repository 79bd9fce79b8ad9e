// JobFileFuzz.cpp -- fuzz target over job files: any bytes dropped into the
// job folder are searched for and taken over as the copy service does.
//
// Whatever the text, the service must not crash, must keep its folders and
// names terminated inside their buffers, must list only plain file names
// below the job's source folder, and must leave every job file either in
// force, in the fail folder or passed over in the job folder. No recording
// is ever touched by taking a job over.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "Ferrox.h"
#include "FuzzReceiver.h"
#include "IniStore.h"
#include "LogTrace.h"
#include "PathTypes.h"

namespace {

namespace fs = std::filesystem;

constexpr const char *kJobs = "/mnt/hd/ProgramFiles/Settings/Ferrox/JobFiles";
constexpr const char *kFail = "/mnt/hd/ProgramFiles/Settings/Ferrox/JobFail";
constexpr const char *kFilme = "/mnt/hd/DataFiles/Filme";

void Check(bool ok, const char *what)
{
  if (ok) return;
  fprintf(stderr, "JobFileFuzz: %s\n", what);
  abort();
}

template <size_t N>
bool Terminated(const char (&text)[N])
{
  return memchr(text, 0, N) != nullptr;
}

// A source folder with a recording, so that whole-folder jobs find work.
void PrepareDisk(sim::Receiver &rx)
{
  // as the service's start does: the trace is kept but not printed
  CallTraceInit();
  CallTraceEnable(false);
  fs::create_directories(rx.HostPath(kJobs));
  fs::create_directories(rx.HostPath(kFilme));
  std::ofstream(rx.HostPath(std::string(kFilme) + "/A.rec"), std::ios::binary) << "rec";
}

void ResetService()
{
  FileNameJob[0] = '\0';
  NrOfJobFilesSkipped = 0;
  JobFilesSkippedFull = false;
  CleanupMemory();
  strcpy(STapfsRoot, "/mnt/hd");
  strcpy(MoveDir, "/mnt/hd/DataFiles/MoveToNAS");
  strcpy(ShareDir, "/mnt/hd/DataFiles/NAS-Share");
  move = 0;
}

// The job's "SDIR" as the INI store reads it from the job folder.
std::string JobSourceDir()
{
  static char sdir[2048];
  HDD_TAP_PushDir();
  HDD_ChangeDir("/ProgramFiles/Settings/Ferrox/JobFiles");
  INIOpenFile("Fuzz.frx", nullptr);
  INIGetString("SDIR", sdir, "", sizeof sdir);
  INICloseFile();
  HDD_TAP_PopDir();
  return sdir;
}

void CheckTakenOver(sim::Receiver &rx)
{
  // Nothing but the job's own folder is read: a one-file job's root and
  // folder give back SDIR, a whole-folder job lists SDIR on the internal disk.
  std::string sdir = JobSourceDir();
  bool oneFile = std::string(STapfsRoot) + MoveDir == sdir;
  bool wholeFolder = MoveDir == sdir && strcmp(STapfsRoot, "/mnt/hd") == 0;
  Check(oneFile || wholeFolder, "job folders do not give back SDIR");
  if (!wholeFolder)
    Check(NrOfFilesToProcess == 1 && strcmp(FilesToProcess[0].Folder, MoveDir) == 0,
          "one-file job with another folder");
  for (int i = 0; wholeFolder && i < NrOfFilesToProcess; i++)
    Check(std::string(FilesToProcess[i].Folder).rfind(sdir.substr(7), 0) == 0, "whole-folder entry outside SDIR");
  Check(NrOfFilesToProcess >= 1 && NrOfFilesToProcess <= MAX_FILES_TO_PROCESS, "job without a list");
  for (int i = 0; i < NrOfFilesToProcess; i++) {
    const tFileToProcess &e = FilesToProcess[i];
    Check(e.FileName != nullptr && e.Folder != nullptr, "entry without names");
    Check(e.FileName[0] != '\0' && strchr(e.FileName, '/') == nullptr, "entry name with a folder");
    Check(strcmp(e.FileName, ".") != 0 && strcmp(e.FileName, "..") != 0, "entry name . or ..");
    Check(strstr(e.Folder, "/../") == nullptr, "entry folder leaves the source");
  }
  Check(move == 0 || move == 1, "move flag not 0 or 1");
  Check(fs::exists(rx.HostPath(std::string(kJobs) + "/Fuzz.frx")), "job in force but its file gone");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
  sim::Receiver &rx = FuzzReceiver();
  static bool prepared = false;
  if (!prepared) PrepareDisk(rx);
  prepared = true;
  ResetService();
  std::ofstream(rx.HostPath(std::string(kJobs) + "/Fuzz.frx"), std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char *>(data), static_cast<std::streamsize>(size));

  Check(ScanForNextJobFile() == 1 && strcmp(FileNameJob, "Fuzz.frx") == 0, "job file not found");
  int taken = LoadJob();
  Check(INIBuffer == nullptr, "job text still held");
  Check(Terminated(MoveDir) && Terminated(ShareDir) && Terminated(STapfsRoot), "unterminated folder");
  bool inJobs = fs::exists(rx.HostPath(std::string(kJobs) + "/Fuzz.frx"));
  bool inFail = fs::exists(rx.HostPath(std::string(kFail) + "/Fuzz.frx"));
  if (taken) CheckTakenOver(rx);
  else Check(inFail != inJobs && (inFail || NrOfJobFilesSkipped == 1), "refused job left nowhere");
  Check(fs::exists(rx.HostPath(std::string(kFilme) + "/A.rec")), "a recording was touched");

  CleanupMemory();
  std::error_code ec;
  fs::remove(rx.HostPath(std::string(kJobs) + "/Fuzz.frx"), ec);
  fs::remove(rx.HostPath(std::string(kFail) + "/Fuzz.frx"), ec);
  fs::remove(rx.HostPath("/mnt/hd/ProgramFiles/Settings/Ferrox/Ferrox.log"), ec);
  return 0;
}
