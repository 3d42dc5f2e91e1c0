// The process priority. Linux schedules threads, not processes: every thread of the process is
// set, the calling one first, so that a refusal leaves everything as it was.

#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "xPlatform.h"

namespace {

constexpr int HighNice = -10;

struct TSchedState {
  int Policy = SCHED_OTHER;
  int RealTime = 0;
  int Nice = 0;
};

TSchedState StateOf(pid_t thread) {
  TSchedState state;
  const int policy = sched_getscheduler(thread);
  if (policy >= 0) state.Policy = policy & ~SCHED_RESET_ON_FORK;
  sched_param param {};
  if (sched_getparam(thread, &param) == 0) state.RealTime = param.sched_priority;
  errno = 0;
  const int nice = getpriority(PRIO_PROCESS, static_cast<id_t>(thread));
  if (errno == 0) state.Nice = nice;
  return state;
}

// Normal is the priority the process started with (a user's "nice" or "chrt" included).
const TSchedState& StartState() {
  static const TSchedState start = StateOf(0);
  return start;
}

bool SetPolicy(pid_t thread, int policy, int realTime) {
  const TSchedState now = StateOf(thread);
  if (now.Policy == policy && now.RealTime == realTime) return true;
  const sched_param param{realTime};
  return sched_setscheduler(thread, policy, &param) == 0;
}

bool SetNice(pid_t thread, int nice) {
  if (StateOf(thread).Nice == nice) return true;
  return setpriority(PRIO_PROCESS, static_cast<id_t>(thread), nice) == 0;
}

// The nice value goes first where it is the part that needs privilege.
bool Apply(pid_t thread, int level) {
  const TSchedState& start = StartState();
  switch (level) {
    case 0: return SetPolicy(thread, SCHED_IDLE, 0);
    case 1: return SetNice(thread, start.Nice) && SetPolicy(thread, start.Policy, start.RealTime);
    case 2: return SetNice(thread, HighNice) && SetPolicy(thread, SCHED_OTHER, 0);
    case 3: return SetPolicy(thread, SCHED_RR, sched_get_priority_min(SCHED_RR));
    default: return false;
  }
}

}  // namespace

bool SetProcessPriority(int level) {
  if (level < 0 || level > 3) return false;
  StartState();
  const pid_t self = gettid();
  if (!Apply(self, level)) return false;
  std::error_code failed;
  for (std::filesystem::directory_iterator it("/proc/self/task", failed), end; !failed && it != end;
       it.increment(failed)) {
    const std::string name = it->path().filename().string();
    const pid_t thread = static_cast<pid_t>(std::strtol(name.c_str(), nullptr, 10));
    if (thread > 0 && thread != self) Apply(thread, level);  // threads ending meanwhile do not matter
  }
  return true;
}
