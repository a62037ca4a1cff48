// An Env for tests that asks a decision function about every call that changes the disk, and
// fails the call (or tears a write, as a crash in the middle of it would) when told to.
#pragma once

#include <cstdint>
#include <functional>

#include "platform/env.h"

namespace korvo {

enum class WriteCall : uint8_t {
  Create,         // CreateNew
  Write,          // Write
  Truncate,       // Truncate
  Sync,           // Sync
  WriteBack,      // StartWriteBack
  Rename,         // ReplaceFile
  Remove,         // RemoveFile
  SyncDirectory,  // SyncDirectoryOf
};

struct FaultDecision {
  int error = 0;      // 0: go ahead; otherwise fail the call with this error number
  bool tear = false;  // a failed Write still writes the first half of its bytes
};

class FaultInjectionEnv : public platform::EnvWrapper {
 public:
  using Decide = std::function<FaultDecision(WriteCall call)>;
  explicit FaultInjectionEnv(Decide decide, platform::Env* target = platform::Env::Default());

  Status CreateNew(const char* path, platform::File& file) override;
  Status Write(platform::File& file, const void* buffer, uint32_t count) override;
  Status Truncate(platform::File& file, int64_t length) override;
  Status Sync(platform::File& file) override;
  Status StartWriteBack(platform::File& file) override;
  Status ReplaceFile(const char* from, const char* to) override;
  Status RemoveFile(const char* path) override;
  Status SyncDirectoryOf(const char* path) override;

 private:
  // The error number the call must fail with, 0 when it goes ahead; tear (when given) says
  // whether a failed write still puts down half of its bytes.
  int Refused(WriteCall call, bool* tear = nullptr);

  Decide decide_;
};

}  // namespace korvo
