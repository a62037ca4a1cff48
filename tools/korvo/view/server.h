// The HTTP server of `korvo view`: 127.0.0.1 only, every request carrying the session's token
// as its first path segment, the Host and Origin of this server only, GET and HEAD only, at
// most MaxConcurrentRequests requests at work at once, bodies of entries sent in pieces.
#pragma once

#include <memory>
#include <string>

#include "catalog.h"

namespace korvo::tool {

// Requests served at once; further connections wait for a free worker.
constexpr int MaxConcurrentRequests = 4;
// Seconds a connection may take to send a request or to take a piece of the reply.
constexpr int ViewSocketTimeout = 10;

class ViewServer {
 public:
  ViewServer(const Catalog& catalog, std::string token);
  ~ViewServer();
  ViewServer(const ViewServer&) = delete;
  ViewServer& operator=(const ViewServer&) = delete;

  // Binds 127.0.0.1:port (0: a free port the system picks). False when it cannot.
  bool Bind(int port);
  int Port() const { return port_; }
  // The page's address: http://127.0.0.1:<port>/<token>/
  std::string Url() const;
  // Serves until Stop. False when serving failed.
  bool Run();
  // Ends Run; may be called from another thread.
  void Stop();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
  int port_ = 0;
};

// A new session token: 32 hexadecimal digits from the system's random source. False when the
// source gives nothing.
bool NewSessionToken(std::string& token);

}  // namespace korvo::tool
