// Replacing a file atomically: the new file is written beside the one it replaces, under a
// random name created exclusively, given the old file's permission bits, flushed, closed and
// renamed over it; then the directory is flushed. A reader, or a crash, sees the old file or the
// whole new one, never a part. The archive builder and the korvo tool's file writer both work
// this way.
#pragma once

#include <atomic>
#include <string>

#include "common/status.h"
#include "platform/env.h"
#include "platform/files.h"

namespace korvo::platform {

class Replacement {
 public:
  // The step that failed, for a caller that words each one its own way.
  enum class Step { Create, Write, Rename, SyncDirectory };

  Replacement() = default;
  // Removes a temporary file that was not renamed.
  ~Replacement() { Abandon(); }
  Replacement(const Replacement&) = delete;
  Replacement& operator=(const Replacement&) = delete;

  // Creates "<target.path><infix><8 hex digits>" as file, trying other names while one is
  // taken, and gives it the permission bits of the file it replaces. target comes from
  // ResolveReplaceTarget or InspectReplaceTarget and is not written through.
  Status Begin(Env* env, const ReplaceTarget& target, const char* infix, File& file,
               Step* failed = nullptr);
  // Flushes and closes file, then (unless stop is set: Interrupted) renames it over the target
  // and flushes the directory. The temporary file is removed when the rename does not happen.
  Status Commit(File& file, const std::atomic<bool>* stop = nullptr, Step* failed = nullptr);
  // Removes the temporary file, if one is waiting (file must be closed already).
  void Abandon();

  // The temporary file's path; empty when none is waiting.
  const std::string& TemporaryPath() const { return temporary_; }

 private:
  Env* env_ = Env::Default();
  std::string temporary_;
  std::string target_;
};

}  // namespace korvo::platform
