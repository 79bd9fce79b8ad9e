// HostPrograms.cpp -- host programs and ports for tests and benchmarks.
#include "HostPrograms.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <sstream>

extern char **environ;

std::string FindProgram(const std::string &name)
{
  std::vector<std::string> folders;
  const char *path = std::getenv("PATH");
  std::stringstream in(path != nullptr ? path : "");
  for (std::string f; std::getline(in, f, ':');)
    if (!f.empty()) folders.push_back(f);
  for (const char *f : {"/usr/local/sbin", "/usr/sbin", "/sbin", "/usr/bin", "/bin"}) folders.push_back(f);
  for (const std::string &f : folders) {
    std::filesystem::path p = std::filesystem::path(f) / name;
    if (access(p.c_str(), X_OK) == 0) return p.string();
  }
  return "";
}

pid_t StartProgram(const std::vector<std::string> &argv, const std::filesystem::path &outFile,
                   const std::filesystem::path &errFile)
{
  std::vector<std::string> words = argv;
  if (!words.empty() && words[0].find('/') == std::string::npos) words[0] = FindProgram(words[0]);
  if (words.empty() || words[0].empty()) return -1;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  const std::string out = outFile.empty() ? "/dev/null" : outFile.string();
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  if (errFile.empty()) posix_spawn_file_actions_adddup2(&actions, 1, 2);
  else if (errFile == "-")
    ;  // the caller's own standard error
  else posix_spawn_file_actions_addopen(&actions, 2, errFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  std::vector<char *> args;
  for (std::string &w : words) args.push_back(w.data());
  args.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

int FreeLoopbackPort()
{
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return 0;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  int port = 0;
  if (bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len) == 0)
    port = ntohs(a.sin_port);
  close(fd);
  return port;
}
