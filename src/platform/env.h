// Env: what the writers need from their surroundings, behind one interface. Every call that
// changes something on disk (create, write, truncate, sync, write-back, rename, remove,
// directory sync, and the opening of an archive for an edit) and the debugger output of the
// authoring side go through it. Env::Default() is the real system; a caller may pass an
// EnvWrapper of its own that changes some calls and forwards the rest (tests fail or stop a
// chosen call with one; the korvo tool silences the debugger messages with one).
//
// The file calls keep the contract of the File methods and free functions they stand for
// (files.h): a Status that names the file and carries the system's error.
#pragma once

#include <cstdint>

#include "common/status.h"
#include "platform/files.h"
#include "platform/process.h"

namespace korvo::platform {

class Env {
 public:
  virtual ~Env() = default;

  // The real file system and the debugger output channel. Lives as long as the program.
  static Env* Default() {
    static Env real;
    return &real;
  }

  virtual Status CreateNew(const char* path, File& file) { return platform::CreateNew(path, file); }
  virtual Status OpenForEdit(const char* path, File& file) {
    return platform::OpenForEdit(path, file);
  }
  virtual Status Write(File& file, const void* buffer, uint32_t count) {
    return file.Write(buffer, count);
  }
  virtual Status Truncate(File& file, int64_t length) { return file.Truncate(length); }
  virtual Status Sync(File& file) { return file.Sync(); }
  virtual Status StartWriteBack(File& file) { return file.StartWriteBack(); }
  virtual Status ReplaceFile(const char* from, const char* to) {
    return platform::ReplaceFile(from, to);
  }
  virtual Status RemoveFile(const char* path) { return platform::RemoveFile(path); }
  virtual Status SyncDirectoryOf(const char* path) { return platform::SyncDirectoryOf(path); }
  // One of the authoring side's fixed failure messages.
  virtual void DebugMessage(const char* message) { DebugOutput(message); }
};

// An Env that forwards every call to another one; a subclass overrides what it changes.
class EnvWrapper : public Env {
 public:
  explicit EnvWrapper(Env* target) : target_(target) {}
  Env* target() const { return target_; }

  Status CreateNew(const char* path, File& file) override { return target_->CreateNew(path, file); }
  Status OpenForEdit(const char* path, File& file) override {
    return target_->OpenForEdit(path, file);
  }
  Status Write(File& file, const void* buffer, uint32_t count) override {
    return target_->Write(file, buffer, count);
  }
  Status Truncate(File& file, int64_t length) override { return target_->Truncate(file, length); }
  Status Sync(File& file) override { return target_->Sync(file); }
  Status StartWriteBack(File& file) override { return target_->StartWriteBack(file); }
  Status ReplaceFile(const char* from, const char* to) override {
    return target_->ReplaceFile(from, to);
  }
  Status RemoveFile(const char* path) override { return target_->RemoveFile(path); }
  Status SyncDirectoryOf(const char* path) override { return target_->SyncDirectoryOf(path); }
  void DebugMessage(const char* message) override { target_->DebugMessage(message); }

 private:
  Env* target_;
};

}  // namespace korvo::platform
