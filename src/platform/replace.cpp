#include "platform/replace.h"

#include <cerrno>
#include <random>

namespace korvo::platform {

namespace {

// "<path><infix><8 hex digits>".
std::string TemporaryName(const std::string& path, const char* infix, std::mt19937& random) {
  static const char Digits[] = "0123456789abcdef";
  std::string name = path + infix;
  uint32_t value = random();
  for (int i = 0; i < 8; ++i) name += Digits[(value >> (28 - 4 * i)) & 15];
  return name;
}

void Report(Replacement::Step step, Replacement::Step* failed) {
  if (failed != nullptr) *failed = step;
}

}  // namespace

Status Replacement::Begin(Env* env, const ReplaceTarget& target, const char* infix, File& file,
                          Step* failed) {
  Abandon();
  env_ = env;
  target_ = target.path;
  std::mt19937 random(std::random_device{}());
  for (int attempt = 0;; ++attempt) {
    std::string name = TemporaryName(target_, infix, random);
    Status status = env_->CreateNew(name.c_str(), file);
    if (status.ok()) {
      temporary_ = name;
      break;
    }
    // Another file of that name: try a new one. Any other error is final.
    if (status.systemError() != EEXIST || attempt >= 16) {
      Report(Step::Create, failed);
      return status;
    }
  }
  Status status = ApplyTargetMode(file, target, temporary_.c_str());
  if (!status.ok()) {
    (void)file.Close();
    Abandon();
    Report(Step::Write, failed);
  }
  return status;
}

Status Replacement::Commit(File& file, const std::atomic<bool>* stop, Step* failed) {
  // The new file replaces the old one only once all of it is on the disk.
  Status status = env_->Sync(file);
  Status closed = file.Close();
  if (status.ok()) status = closed;
  if (status.ok() && stop != nullptr && stop->load()) status = Status(StatusCode::Interrupted);
  if (!status.ok()) {
    Abandon();
    Report(Step::Write, failed);
    return status;
  }
  status = env_->ReplaceFile(temporary_.c_str(), target_.c_str());
  if (!status.ok()) {
    Abandon();
    Report(Step::Rename, failed);
    return status;
  }
  temporary_.clear();
  status = env_->SyncDirectoryOf(target_.c_str());
  if (!status.ok()) Report(Step::SyncDirectory, failed);
  return status;
}

void Replacement::Abandon() {
  if (!temporary_.empty()) (void)env_->RemoveFile(temporary_.c_str());
  temporary_.clear();
}

}  // namespace korvo::platform
