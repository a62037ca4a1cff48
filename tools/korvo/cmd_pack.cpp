// korvo pack <archive> <dir>: packs every file under dir into a new archive, each entry named
// by its path the way the loader looks it up: dir without "./" and with ".." resolved, then
// each level, joined with backslashes.
#include <chrono>
#include <cstdio>
#include <filesystem>

#include "archive_file.h"
#include "authoring/pack_tree.h"
#include "platform/platform.h"
#include "platform/terminal.h"
#include "progress.h"
#include "tool.h"

namespace korvo::tool {

namespace {

namespace fs = std::filesystem;

struct PackOptions {
  std::string archive;
  std::string dir;
  std::string changeTo;
  bool skipUnreadable = false;
  bool full = false;
  bool checkContent = false;
};

struct TreeTotals {
  uint64_t files = 0;
  uint64_t bytes = 0;
  uint64_t bound = 16;  // worst-case archive size
};

// Walks the tree as the packer will to count files and bytes, and refuses what cannot be
// packed. A symbolic link to a directory is not followed (a tree could loop or pull in files
// from anywhere); each one is named in a warning unless quiet. A link to a file is packed as
// that file. False after reporting the cause.
bool MeasureTree(const fs::path& dir, TreeTotals& totals, bool quiet) {
  std::error_code ec;
  fs::directory_iterator it(dir, ec);
  if (ec) {
    ReportError(dir.string(), "cannot list the directory: " + ec.message());
    return false;
  }
  for (; it != fs::directory_iterator(); it.increment(ec)) {
    if (ec) {
      ReportError(dir.string(), "cannot list the directory: " + ec.message());
      return false;
    }
    const fs::path& path = it->path();
    // The listing tells the type of most items; only a link costs a look at its target.
    fs::file_status linkStatus = it->symlink_status(ec);
    fs::file_status status = fs::is_symlink(linkStatus) ? it->status(ec) : linkStatus;
    if (fs::is_symlink(linkStatus) && fs::is_directory(status)) {
      if (!quiet) {
        std::fprintf(stderr,
                     "korvo: warning: %s: symbolic link to a directory, not followed; pack its "
                     "target separately or copy it in\n",
                     Printable(path.string()).c_str());
      }
      continue;
    }
    if (fs::is_directory(status)) {
      if (!MeasureTree(path, totals, quiet)) return false;
      continue;
    }
    if (fs::exists(status) && !fs::is_regular_file(status)) {
      ReportError(path.string(), "not a regular file; refusing to pack it");
      return false;
    }
    uint64_t size = fs::exists(status) ? fs::file_size(path, ec) : 0;
    if (ec) size = 0;
    if (size > UINT32_MAX) {
      ReportError(path.string(), "larger than 4 GiB; an entry cannot hold it");
      return false;
    }
    ++totals.files;
    totals.bytes += size;
    totals.bound += size + size / 1000 + 64 + 18 + path.string().size();
  }
  return true;
}

class PackProgress : public PackObserver {
 public:
  explicit PackProgress(ProgressBar& bar) : bar_(bar) {}
  void OnFile(const char*, uint32_t size, uint32_t packedSize, bool packed) override {
    bar_.Advance(size);
    if (packed) {
      ++entries;
      bytesIn += size;
      bytesOut += packedSize;
    }
  }
  void OnProblem(const Status& problem) override { problems.push_back(problem); }
  void OnReused(const char*) override { ++reused; }
  uint64_t entries = 0;
  uint64_t reused = 0;
  uint64_t bytesIn = 0;
  uint64_t bytesOut = 0;
  // Files that cannot be packed, in walk order, with the library's cause.
  std::vector<Status> problems;

 private:
  ProgressBar& bar_;
};

int RunPack(const PackOptions& options, const GlobalOptions& global) {
  auto start = std::chrono::steady_clock::now();
  std::error_code ec;
  std::string archive = options.archive;
  if (!options.changeTo.empty()) {
    archive = fs::absolute(archive, ec).string();
    fs::current_path(options.changeTo, ec);
    if (ec) return Fail(options.changeTo, "cannot change to the directory: " + ec.message());
  }
  // "assets/" would give names like "assets/\a.txt" (and "assets\" on Windows "assets\\a.txt");
  // a drive's root ("C:\") keeps its separator.
  std::string dir = options.dir;
  while (dir.size() > 1 && (dir.back() == '/' || dir.back() == platform::PathSeparator) &&
         dir[dir.size() - 2] != ':') {
    dir.pop_back();
  }
  fs::file_status status = fs::status(dir, ec);
  if (!fs::exists(status)) return Fail(dir, "no such directory");
  if (!fs::is_directory(status)) return Fail(dir, "not a directory");
  // Entry names start at the current directory: the directory is named by its path from
  // there, '..' and '.' resolved by the text alone (links are not looked through).
  fs::path cwd = fs::current_path(ec);
  std::string relative =
      fs::absolute(dir, ec).lexically_normal().lexically_relative(cwd).generic_string();
  while (relative.size() > 1 && relative.back() == '/') relative.pop_back();
  if (relative.empty() || relative == ".." || relative.compare(0, 3, "../") == 0) {
    if (fs::path(dir).is_absolute()) {
      return Fail(dir,
                  "absolute path outside the current directory; entry names would start with "
                  "it, and the game would not find them. Use -C <parent> and a relative "
                  "directory");
    }
    return Fail(dir,
                "'..' leads out of the current directory; entry names cannot start above it. "
                "Use -C <parent> and a relative directory");
  }
  if (fs::is_directory(archive, ec)) return Fail(archive, "is a directory");

  TreeTotals totals;
  if (!MeasureTree(relative, totals, global.quiet)) return ExitFailure;
  if (totals.bound > UINT32_MAX) {
    return Fail(dir, "too large for one archive (" + FormatBytes(totals.bytes) +
                         "; archives hold at most 4 GiB)");
  }

  ProgressBar bar(!global.quiet && platform::IsTerminal(stderr), totals.files, totals.bytes);
  PackProgress progress(bar);
  Status packed;
  int interrupted = ExitOk;
  {
    // A signal stops the pack between files; it removes its temporary file and leaves the old
    // archive.
    StopOnSignal stop;
    PackSettings settings;
    settings.cancel = stop.Flag();
    settings.skipUnreadable = options.skipUnreadable;
    settings.reuse = options.full           ? PackReuse::None
                     : options.checkContent ? PackReuse::Content
                                            : PackReuse::Stamp;
    settings.writeCache = true;
    packed = PackTree(archive.c_str(), relative.c_str(), nullptr, &progress, settings);
    if (packed.code() == StatusCode::Interrupted) interrupted = stop.ExitStatus();
  }
  bar.Finish();
  if (interrupted != ExitOk) {
    ReportError(archive, "interrupted; the archive was not changed");
    return interrupted;
  }
  // Every file that cannot be packed gets a line with its cause: errors when the pack is
  // refused, warnings when unreadable files were left out on request.
  for (const Status& problem : progress.problems) {
    if (!packed.ok()) {
      std::fprintf(stderr, "korvo: %s\n", Printable(problem.Message()).c_str());
    } else if (!global.quiet) {
      std::fprintf(stderr, "korvo: warning: %s; left out of the archive\n",
                   Printable(problem.Message()).c_str());
    }
  }
  if (!packed.ok()) {
    std::string hint;
    if (!progress.problems.empty() && packed.code() == StatusCode::IoError &&
        !options.skipUnreadable) {
      hint = "; --skip-unreadable packs the rest";
    }
    std::fprintf(stderr, "korvo: %s%s\n", Printable(packed.Message()).c_str(), hint.c_str());
    return ExitFailure;
  }

  ArchiveFile written;
  const Status opened = written.Open(archive);
  if (!opened.ok()) return Fail(archive, "archive was not written: " + opened.detail());
  if (written.Entries().size() != progress.entries) {
    return Fail(archive, "archive holds " + std::to_string(written.Entries().size()) +
                             " entries, expected " + std::to_string(progress.entries));
  }
  if (!global.quiet) {
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::string reused;
    if (progress.reused > 0) {
      reused = "; " + std::to_string(progress.reused) + " unchanged (packed data reused)";
    }
    std::printf("packed %s: %llu %s, %s in, %s out (%s), %.2f s%s\n", archive.c_str(),
                static_cast<unsigned long long>(progress.entries),
                progress.entries == 1 ? "entry" : "entries", FormatBytes(progress.bytesIn).c_str(),
                FormatBytes(written.FileSize()).c_str(),
                FormatRatio(written.FileSize(), progress.bytesIn).c_str(), seconds, reused.c_str());
  }
  return ExitOk;
}

}  // namespace

Command AddPackCommand(CLI::App& parent, const GlobalOptions& global) {
  Subcommand<PackOptions> pack(
      parent, "pack",
      "Pack every file under <dir> into a new archive, replacing the old one only once the new "
      "one is complete (a read-only archive is refused). A file that cannot be read, a name "
      "longer than 259 bytes or two names the game cannot tell apart (case and slash "
      "direction are ignored) refuse the whole pack, each named, and the old archive stays; "
      "--skip-unreadable leaves unreadable files out instead, with a warning each. The archive "
      "itself is never packed, even when it lies under <dir>. Each entry is named by "
      "its path as the game asks for it: <dir> without './' and with '..' resolved, then each "
      "folder, joined with '\\' (packing '.' names entries from the top). <dir> must be "
      "relative and stay inside the current directory (or the one -C names). Symbolic links "
      "to files are packed as those files; symbolic links to directories are not followed, "
      "and each is named in a warning. When the archive exists, the packed data of every file "
      "unchanged since the last pack (same size and modification time, as recorded in "
      "<archive>.korvo-cache beside it) is copied instead of compressed again; the result is "
      "the same archive, byte for byte (files named *.korvo-cache are never packed). "
      "--check-content compares file contents instead, "
      "--full compresses everything.");
  pack.AddArchive("Archive to create");
  pack.app->add_option("dir", pack.options->dir, "Directory to pack")->required();
  pack.app->add_option("-C,--directory", pack.options->changeTo,
                       "Change to this directory first, so that entry names start at <dir>");
  pack.app->add_flag("--skip-unreadable", pack.options->skipUnreadable,
                     "Leave files that cannot be read out of the archive, with a warning each, "
                     "instead of refusing the pack");
  pack.app->add_flag("--full", pack.options->full,
                     "Compress every file again instead of reusing unchanged ones");
  pack.app->add_flag("--check-content", pack.options->checkContent,
                     "Reuse a file's packed data only when its content is unchanged (read and "
                     "checked), whatever its modification time");
  SetExample(*pack.app,
             "korvo pack game.pak data          # entries data\\ui\\button.img, ...\n"
             "korvo pack -C build game.pak .    # entries ui\\button.img, ...");
  return pack.Build(global, RunPack);
}

}  // namespace korvo::tool
