// Status: the cause of a failed core operation. It carries a code, the operating system's error
// number where the system refused something, and the file the operation was working on. Core
// operations return it; the exports reduce it to the bool or null results of the C interface,
// and the korvo tool prints Message().
#pragma once

#include <cstdint>
#include <string>
#include <utility>

namespace korvo {

enum class StatusCode : uint8_t {
  Ok = 0,
  InvalidArgument,  // a null or malformed argument
  NotFound,         // no such file, entry or name
  IoError,          // the system refused a read, write, flush, truncate or rename
  Corrupt,          // the bytes do not form a valid archive, entry or image
  TooLarge,         // beyond a limit of the format or of the library
  Locked,           // the file is in use by another mount or edit
  NoMemory,         // an allocation failed
  Unsupported,      // a valid but unsupported variant
  Interrupted,      // stopped on request (a signal, a callback)
};

// A short lower-case phrase for a code: "not found", "corrupt data", ...
const char* StatusCodeText(StatusCode code);

class [[nodiscard]] Status {
 public:
  Status() = default;
  explicit Status(StatusCode code, std::string file = std::string(), int systemError = 0,
                  std::string detail = std::string())
      : code_(code),
        systemError_(systemError),
        file_(std::move(file)),
        detail_(std::move(detail)) {}

  static Status Ok() { return Status(); }
  // The failure of a system call: the code with the error number the system gave.
  static Status System(StatusCode code, std::string file, int systemError,
                       std::string detail = std::string()) {
    return Status(code, std::move(file), systemError, std::move(detail));
  }

  bool ok() const { return code_ == StatusCode::Ok; }
  StatusCode code() const { return code_; }
  int systemError() const { return systemError_; }
  const std::string& file() const { return file_; }
  const std::string& detail() const { return detail_; }

  // "<file>: <detail or code text>[: <system error text>]", or "ok". Without a detail, a system
  // error stands alone: "<file>: <system error text>".
  std::string Message() const;
  // The message without its file: "<detail or code text>[: <system error text>]".
  std::string Cause() const;

 private:
  StatusCode code_ = StatusCode::Ok;
  int systemError_ = 0;
  std::string file_;
  std::string detail_;
};

}  // namespace korvo
