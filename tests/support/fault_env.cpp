#include "support/fault_env.h"

#include <cerrno>
#include <string>
#include <utility>

#include "platform/platform.h"

namespace korvo {

namespace {

// The directory that a directory sync of path flushes, as the system names it in a failure.
std::string DirectoryOf(const char* path) {
  std::string text(path);
  size_t slash = text.find_last_of(platform::PathSeparator);
  if (slash == std::string::npos) return ".";
  if (slash == 0) return text.substr(0, 1);
  return text.substr(0, slash);
}

}  // namespace

FaultInjectionEnv::FaultInjectionEnv(Decide decide, platform::Env* target)
    : EnvWrapper(target), decide_(std::move(decide)) {}

bool FaultInjectionEnv::Refused(WriteCall call, bool* tear) {
  FaultDecision decision = decide_(call);
  if (decision.error == 0) return false;
  if (tear != nullptr) *tear = decision.tear;
  errno = decision.error;
  return true;
}

Status FaultInjectionEnv::CreateNew(const char* path, platform::File& file) {
  if (path != nullptr && Refused(WriteCall::Create)) {
    file.Close();
    return platform::OpenStatus(path, errno);
  }
  return EnvWrapper::CreateNew(path, file);
}

int64_t FaultInjectionEnv::Write(platform::File& file, const void* buffer, uint32_t count) {
  bool tear = false;
  if (Refused(WriteCall::Write, &tear)) {
    int error = errno;
    if (tear && count > 1) (void)EnvWrapper::Write(file, buffer, count / 2);
    errno = error;
    return -1;
  }
  return EnvWrapper::Write(file, buffer, count);
}

bool FaultInjectionEnv::Truncate(platform::File& file, int64_t length) {
  if (Refused(WriteCall::Truncate)) return false;
  return EnvWrapper::Truncate(file, length);
}

bool FaultInjectionEnv::Sync(platform::File& file) {
  if (Refused(WriteCall::Sync)) return false;
  return EnvWrapper::Sync(file);
}

Status FaultInjectionEnv::ReplaceFile(const char* from, const char* to) {
  if (from != nullptr && to != nullptr && Refused(WriteCall::Rename)) {
    return Status::System(StatusCode::IoError, to, errno);
  }
  return EnvWrapper::ReplaceFile(from, to);
}

bool FaultInjectionEnv::RemoveFile(const char* path) {
  if (path != nullptr && Refused(WriteCall::Remove)) return false;
  return EnvWrapper::RemoveFile(path);
}

Status FaultInjectionEnv::SyncDirectoryOf(const char* path) {
  if (path != nullptr && Refused(WriteCall::SyncDirectory)) {
    return Status::System(StatusCode::IoError, DirectoryOf(path), errno);
  }
  return EnvWrapper::SyncDirectoryOf(path);
}

}  // namespace korvo
