// A seam for tests: every call of the platform layer that changes something on disk asks this
// hook first. Tests use it to fail the k-th such call, or to stop there as a crash would. In
// every other program the hook is null and the check is one untaken branch beside a system call.
#pragma once

#include <cerrno>
#include <cstdint>

namespace korvo::platform {

enum class WriteCall : uint8_t {
  Create,         // CreateNew
  Write,          // File::Write
  Truncate,       // File::Truncate
  Sync,           // File::Sync
  Rename,         // ReplaceFile
  Remove,         // RemoveFile
  SyncDirectory,  // SyncDirectoryOf
};

struct FaultDecision {
  int error = 0;      // 0: go ahead; otherwise fail the call with this error number
  bool tear = false;  // a failed Write still writes the first half of its bytes
};

using FaultHook = FaultDecision (*)(WriteCall call);

// Null except while a test has set it.
extern FaultHook g_faultHook;

// Asks the fault hook about a call that changes the disk. True when the call must fail; errno
// then holds the error, and tear says whether a write still puts down half of its bytes.
inline bool Refused(WriteCall call, bool* tear = nullptr) {
  FaultHook hook = g_faultHook;
  if (hook == nullptr) return false;
  FaultDecision decision = hook(call);
  if (decision.error == 0) return false;
  if (tear != nullptr) *tear = decision.tear;
  errno = decision.error;
  return true;
}

}  // namespace korvo::platform
