#include "support/fault_env.h"

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

int FaultInjectionEnv::Refused(WriteCall call, bool* tear) {
  FaultDecision decision = decide_(call);
  if (decision.error != 0 && tear != nullptr) *tear = decision.tear;
  return decision.error;
}

Status FaultInjectionEnv::CreateNew(const char* path, platform::File& file) {
  if (path != nullptr) {
    if (int error = Refused(WriteCall::Create)) {
      (void)file.Close();
      return platform::OpenStatus(path, error);
    }
  }
  return EnvWrapper::CreateNew(path, file);
}

Status FaultInjectionEnv::Write(platform::File& file, const void* buffer, uint32_t count) {
  bool tear = false;
  if (int error = Refused(WriteCall::Write, &tear)) {
    if (tear && count > 1) (void)EnvWrapper::Write(file, buffer, count / 2);
    return Status::System(StatusCode::IoError, file.Path(), error);
  }
  return EnvWrapper::Write(file, buffer, count);
}

Status FaultInjectionEnv::Truncate(platform::File& file, int64_t length) {
  if (int error = Refused(WriteCall::Truncate)) {
    return Status::System(StatusCode::IoError, file.Path(), error);
  }
  return EnvWrapper::Truncate(file, length);
}

Status FaultInjectionEnv::Sync(platform::File& file) {
  if (int error = Refused(WriteCall::Sync)) {
    return Status::System(StatusCode::IoError, file.Path(), error);
  }
  return EnvWrapper::Sync(file);
}

Status FaultInjectionEnv::StartWriteBack(platform::File& file) {
  int error = Refused(WriteCall::WriteBack);
  return error != 0 ? Status::System(StatusCode::IoError, file.Path(), error)
                    : EnvWrapper::StartWriteBack(file);
}

Status FaultInjectionEnv::ReplaceFile(const char* from, const char* to) {
  if (from != nullptr && to != nullptr) {
    if (int error = Refused(WriteCall::Rename))
      return Status::System(StatusCode::IoError, to, error);
  }
  return EnvWrapper::ReplaceFile(from, to);
}

Status FaultInjectionEnv::RemoveFile(const char* path) {
  if (path != nullptr) {
    if (int error = Refused(WriteCall::Remove)) return platform::OpenStatus(path, error);
  }
  return EnvWrapper::RemoveFile(path);
}

Status FaultInjectionEnv::SyncDirectoryOf(const char* path) {
  if (path != nullptr) {
    if (int error = Refused(WriteCall::SyncDirectory)) {
      return Status::System(StatusCode::IoError, DirectoryOf(path), error);
    }
  }
  return EnvWrapper::SyncDirectoryOf(path);
}

}  // namespace korvo
