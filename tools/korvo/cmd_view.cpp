// korvo view <archive>... | <game-dir> [--port N] [--open]: a read-only page of the entries in
// the browser, served on 127.0.0.1 until Ctrl-C.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>

#include "platform/random.h"
#include "tool.h"
#include "view/catalog.h"
#include "view/server.h"

namespace korvo::tool {

namespace {

namespace fs = std::filesystem;

struct ViewOptions {
  std::vector<std::string> inputs;
  int port = 0;
  bool open = false;
};

// Fills the catalog from the arguments: one game directory, or archives. False after
// reporting why not.
bool LoadCatalog(const ViewOptions& options, Catalog& catalog) {
  std::error_code ec;
  if (options.inputs.size() == 1 && fs::is_directory(options.inputs[0], ec)) {
    // A game resolves its relative paths against its working directory: the tool works from
    // the game directory as the game would.
    fs::path root = fs::absolute(options.inputs[0], ec);
    if (!ec) fs::current_path(root, ec);
    if (ec) {
      ReportError(options.inputs[0], "cannot change to the directory: " + ec.message());
      return false;
    }
    catalog.OpenGameDirectory(fs::current_path(ec).string());
    return true;
  }
  for (const std::string& input : options.inputs) {
    if (fs::is_directory(input, ec)) {
      ReportError(input, "a game directory is viewed alone, without archives");
      return false;
    }
  }
  Status status = catalog.OpenArchives(options.inputs);
  if (!status.ok()) {
    ReportStatus(status);
    return false;
  }
  return true;
}

int RunView(const ViewOptions& options, const GlobalOptions&) {
  Catalog catalog;
  if (!LoadCatalog(options, catalog)) return ExitFailure;
  std::string token;
  if (!NewSessionToken(token)) return Fail("view", "the system's random source gives nothing");
  ViewServer server(catalog, token);
  if (!server.Bind(options.port)) {
    return Fail("view", "cannot listen on 127.0.0.1:" + std::to_string(options.port));
  }
  std::printf("korvo view: %zu entries in %zu %s at %s\n", catalog.Entries().size(),
              catalog.Packages().size(), catalog.Packages().size() == 1 ? "package" : "packages",
              server.Url().c_str());
  std::printf("Serving until Ctrl-C.\n");
  FlushStandardOutput();
  if (options.open && !platform::OpenUrl(server.Url())) {
    ReportError("view", "cannot open a browser; open the address above");
  }

  StopOnSignal stop;
  bool served = true;
  std::thread serving([&server, &served] { served = server.Run(); });
  while (!stop.Stopped()) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  server.Stop();
  serving.join();
  if (!served) return Fail("view", "the server failed");
  std::printf("korvo view: stopped\n");
  FlushStandardOutput();
  return ExitOk;
}

}  // namespace

Command AddViewCommand(CLI::App& parent, const GlobalOptions& global) {
  Subcommand<ViewOptions> view(
      parent, "view",
      "Browse archives, or the packages a game directory's package.cfg mounts, in a web "
      "browser: the entries as a tree and a filterable table, images with their frames and "
      "animation, text, hex and raw downloads. A read-only server on 127.0.0.1 (a free port "
      "unless --port) prints the page's address, which carries a random token that every "
      "request needs, and serves until Ctrl-C.");
  ViewOptions& options = *view.options;
  view.app->add_option("input", options.inputs, "Package archives, or one game directory")
      ->required();
  view.app->add_option("--port", options.port, "Port on 127.0.0.1 (default: a free one)")
      ->check(CLI::Range(0, 65535));
  view.app->add_flag("--open", options.open, "Open the page in the default browser");
  SetExample(*view.app,
             "korvo view game.pak patch.pak\n"
             "korvo view ~/games/demo --open");
  return view.Build(global, RunView);
}

}  // namespace korvo::tool
