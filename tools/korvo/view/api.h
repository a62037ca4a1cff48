// The JSON API and the page of `korvo view`, apart from the HTTP server: a request path (the
// part after the token) and its query parameters in, a reply out. Every answer reads only the
// catalog; nothing here writes a file.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "catalog.h"

namespace korvo::tool {

// Most entries one listing returns.
constexpr size_t MaxListingLimit = 1000;
// Most bytes /head returns.
constexpr size_t MaxHeadBytes = 1u << 20;

struct ApiReply {
  int status = 200;
  std::string type = "application/json";
  // The body: text, or the bytes of an entry (sent in pieces).
  std::string body;
  std::shared_ptr<const EntryBytes> bytes;
  size_t bytesLength = 0;  // how many of bytes->data to send
  // For a download: the file name offered.
  std::string attachment;
};

// A query parameter's value, empty when absent.
using QueryParam = std::function<std::string(const char* name)>;

// The reply to GET <route>, route being the request path after "/<token>" ("/", "/app.js",
// "/api/entries", ...).
ApiReply HandleRoute(const Catalog& catalog, const std::string& route, const QueryParam& param);

// An error reply: {"error": cause} with the status.
ApiReply ErrorReply(int status, const std::string& cause);

}  // namespace korvo::tool
