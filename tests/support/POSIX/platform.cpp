#include "../platform.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <time.h>
#include <sys/wait.h>

#include <cstdio>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include "tvnLib/echo.h"

bool EchoReachesStderr() { return true; }

void EchoToStderrInThisProcess() { EchoCreate("test", nullptr, nullptr); }

namespace {

rlimit g_savedLimit;

// Lowers the process's descriptor limit to `limit` until RestoreOpenFiles.
bool LimitDescriptors(rlim_t limit) {
  if (getrlimit(RLIMIT_NOFILE, &g_savedLimit) != 0) return false;
  rlimit lowered = g_savedLimit;
  lowered.rlim_cur = limit;
  return setrlimit(RLIMIT_NOFILE, &lowered) == 0;
}

// A socket option's value, -1 when it cannot be read.
template <typename Value>
int OptionOf(intptr_t s, int level, int name) {
  Value value = 0;
  socklen_t length = sizeof value;
  return getsockopt(static_cast<int>(s), level, name, &value, &length) == 0 ? static_cast<int>(value) : -1;
}

}  // namespace

bool RefuseNewDescriptors() {
  // The lowest free descriptor becomes the limit: no new one can be had.
  const int probe = open("/dev/null", O_RDONLY);
  if (probe < 0) return false;
  close(probe);
  return LimitDescriptors(static_cast<rlim_t>(probe));
}

void RestoreOpenFiles() { setrlimit(RLIMIT_NOFILE, &g_savedLimit); }

// poll() fails with EINVAL when it is given more descriptors than the limit.
bool FailSocketWaits() { return LimitDescriptors(0); }

void RestoreSocketWaits() { RestoreOpenFiles(); }

int MulticastTtlOf(intptr_t s) { return OptionOf<unsigned char>(s, IPPROTO_IP, IP_MULTICAST_TTL); }

int ReceiveBufferOf(intptr_t s) { return OptionOf<int>(s, SOL_SOCKET, SO_RCVBUF); }

void EndThisProcessNow(int code) { _exit(code); }

double ProcessCpuMs() {
  timespec now;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

int64_t ResidentBytes() {
  FILE* f = std::fopen("/proc/self/statm", "r");
  if (f == nullptr) return -1;
  long pages = 0, resident = 0;
  const int read = std::fscanf(f, "%ld %ld", &pages, &resident);
  std::fclose(f);
  return read == 2 ? static_cast<int64_t>(resident) * sysconf(_SC_PAGESIZE) : -1;
}

int OpenDescriptors() {
  DIR* dir = opendir("/proc/self/fd");
  if (dir == nullptr) return -1;
  int entries = 0;
  while (readdir(dir) != nullptr) ++entries;
  closedir(dir);
  return entries - 3;  // ".", ".." and the folder's own descriptor
}

int ThreadCount() {
  FILE* f = std::fopen("/proc/self/status", "r");
  if (f == nullptr) return -1;
  char line[256];
  int threads = -1;
  while (std::fgets(line, sizeof line, f) != nullptr)
    if (std::sscanf(line, "Threads: %d", &threads) == 1) break;
  std::fclose(f);
  return threads;
}

int RunProgram(const std::string& program, const std::string& arguments, int timeoutMs) {
  const pid_t child = fork();
  if (child < 0) return -1;
  if (child == 0) {
    execl("/bin/sh", "sh", "-c", ("exec '" + program + "' " + arguments).c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  for (int waited = 0;; waited += 5) {
    int status = 0;
    if (waitpid(child, &status, WNOHANG) == child) return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    if (waited >= timeoutMs) {
      kill(child, SIGKILL);
      waitpid(child, &status, 0);
      return -2;
    }
    usleep(5000);
  }
}
