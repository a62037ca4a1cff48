#include "server.h"

#include <httplib.h>

#include <algorithm>

#include "api.h"
#include "platform/random.h"

namespace korvo::tool {

namespace {

// Pieces of an entry's bytes written at a time.
constexpr size_t StreamPiece = 64 * 1024;

// Equal texts, compared in time that does not depend on where they differ.
bool SameSecret(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  unsigned char difference = 0;
  for (size_t i = 0; i < a.size(); ++i) difference |= static_cast<unsigned char>(a[i] ^ b[i]);
  return difference == 0;
}

void Refuse(httplib::Response& res, int status, const std::string& cause) {
  res.status = status;
  res.set_content(cause + "\n", "text/plain; charset=utf-8");
}

}  // namespace

struct ViewServer::Impl {
  const Catalog& catalog;
  std::string token;
  httplib::Server server;

  Impl(const Catalog& c, std::string t) : catalog(c), token(std::move(t)) {}

  // The checks every request passes before any route: the Host of this server (a page of
  // another site that rebinds its name to 127.0.0.1 sends its own), no other site's Origin,
  // the token, GET or HEAD. Writes the refusal and returns false when one fails.
  bool Admit(const httplib::Request& req, httplib::Response& res, int port) const {
    const std::string portText = std::to_string(port);
    const std::string host = req.get_header_value("Host");
    if (host != "127.0.0.1:" + portText && host != "localhost:" + portText) {
      Refuse(res, 403, "forbidden: this server answers only to 127.0.0.1:" + portText);
      return false;
    }
    if (req.has_header("Origin")) {
      const std::string origin = req.get_header_value("Origin");
      if (origin != "http://127.0.0.1:" + portText && origin != "http://localhost:" + portText) {
        Refuse(res, 403, "forbidden: cross-origin request");
        return false;
      }
    }
    if (req.has_header("Sec-Fetch-Site")) {
      const std::string site = req.get_header_value("Sec-Fetch-Site");
      if (site != "same-origin" && site != "none") {
        Refuse(res, 403, "forbidden: cross-origin request");
        return false;
      }
    }
    const std::string& path = req.path;
    const std::string segment = path.size() > 1 ? path.substr(1, path.find('/', 1) - 1) : "";
    if (!SameSecret(segment, token)) {
      Refuse(res, 403, "forbidden: the address lacks this session's token");
      return false;
    }
    if (req.method != "GET" && req.method != "HEAD") {
      Refuse(res, 405, "method not allowed: this server is read-only");
      return false;
    }
    return true;
  }

  void Serve(const httplib::Request& req, httplib::Response& res) const {
    // The route is the path after "/<token>"; "/<token>" itself moves to "/<token>/", so that
    // the page's relative addresses carry the token.
    std::string route = req.path.substr(1 + token.size());
    if (route.empty()) {
      res.status = 301;
      res.set_header("Location", "/" + token + "/");
      return;
    }
    ApiReply reply = HandleRoute(catalog, route, [&req](const char* name) {
      return req.has_param(name) ? req.get_param_value(name) : std::string();
    });
    res.status = reply.status;
    if (!reply.attachment.empty()) {
      // Only characters that need no quoting in the header; the rest become '_'.
      std::string name = reply.attachment;
      for (char& c : name) {
        bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                     c == '.' || c == '-' || c == '_';
        if (!plain) c = '_';
      }
      if (name.empty() || name[0] == '.') name = "entry" + name;
      res.set_header("Content-Disposition", "attachment; filename=\"" + name + "\"");
    }
    if (!reply.bytes) {
      res.set_content(reply.body, reply.type.c_str());
      return;
    }
    std::shared_ptr<const EntryBytes> bytes = reply.bytes;
    res.set_content_provider(reply.bytesLength, reply.type.c_str(),
                             [bytes](size_t offset, size_t length, httplib::DataSink& sink) {
                               size_t n = std::min(length, StreamPiece);
                               return sink.write(
                                   reinterpret_cast<const char*>(bytes->data.data()) + offset, n);
                             });
  }
};

ViewServer::ViewServer(const Catalog& catalog, std::string token)
    : impl_(std::make_unique<Impl>(catalog, std::move(token))) {
  httplib::Server& server = impl_->server;
  server.new_task_queue = [] { return new httplib::ThreadPool(MaxConcurrentRequests); };
  server.set_read_timeout(ViewSocketTimeout, 0);
  server.set_write_timeout(ViewSocketTimeout, 0);
  server.set_keep_alive_timeout(5);
  server.set_keep_alive_max_count(100);
  server.set_payload_max_length(64 * 1024);
  server.set_default_headers({
      {"X-Content-Type-Options", "nosniff"},
      {"Cache-Control", "no-store"},
      {"Referrer-Policy", "no-referrer"},
      {"Cross-Origin-Resource-Policy", "same-origin"},
      {"X-Frame-Options", "DENY"},
      {"Content-Security-Policy",
       "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self' blob: data:; "
       "connect-src 'self'; frame-ancestors 'none'; base-uri 'none'; form-action 'none'"},
  });
  Impl* impl = impl_.get();
  server.set_pre_routing_handler([impl, this](const httplib::Request& req, httplib::Response& res) {
    return impl->Admit(req, res, port_) ? httplib::Server::HandlerResponse::Unhandled
                                        : httplib::Server::HandlerResponse::Handled;
  });
  server.Get(
      ".*", [impl](const httplib::Request& req, httplib::Response& res) { impl->Serve(req, res); });
}

ViewServer::~ViewServer() = default;

bool ViewServer::Bind(int port) {
  if (port == 0) {
    port_ = impl_->server.bind_to_any_port("127.0.0.1");
    return port_ > 0;
  }
  if (!impl_->server.bind_to_port("127.0.0.1", port)) return false;
  port_ = port;
  return true;
}

std::string ViewServer::Url() const {
  return "http://127.0.0.1:" + std::to_string(port_) + "/" + impl_->token + "/";
}

bool ViewServer::Run() {
  return impl_->server.listen_after_bind();
}

void ViewServer::Stop() {
  impl_->server.stop();
}

bool NewSessionToken(std::string& token) {
  unsigned char bytes[16];
  if (!platform::FillRandom(bytes, sizeof bytes)) return false;
  static const char digits[] = "0123456789abcdef";
  token.clear();
  for (unsigned char byte : bytes) {
    token += digits[byte >> 4];
    token += digits[byte & 15];
  }
  return true;
}

}  // namespace korvo::tool
