#include "common/status.h"

#include "platform/process.h"

namespace korvo {

const char* StatusCodeText(StatusCode code) {
  switch (code) {
    case StatusCode::Ok:
      return "ok";
    case StatusCode::InvalidArgument:
      return "invalid argument";
    case StatusCode::NotFound:
      return "not found";
    case StatusCode::IoError:
      return "input/output error";
    case StatusCode::Corrupt:
      return "corrupt data";
    case StatusCode::TooLarge:
      return "too large";
    case StatusCode::Locked:
      return "in use by another process";
    case StatusCode::NoMemory:
      return "out of memory";
    case StatusCode::Unsupported:
      return "unsupported";
    case StatusCode::Interrupted:
      return "interrupted";
  }
  return "unknown error";
}

std::string Status::Message() const {
  if (ok()) return "ok";
  return file_.empty() ? Cause() : file_ + ": " + Cause();
}

std::string Status::Cause() const {
  if (ok()) return "ok";
  // The system's own words say enough on their own: "<file>: No space left on device".
  if (detail_.empty() && systemError_ != 0) return platform::ErrorText(systemError_);
  std::string text = detail_.empty() ? StatusCodeText(code_) : detail_;
  if (systemError_ != 0) text += ": " + platform::ErrorText(systemError_);
  return text;
}

}  // namespace korvo
