// Checks for archives that the writers produce, the example tree, and a watch on the editor.
#pragma once

#include <gtest/gtest.h>

#include "authoring/pack_tree.h"
#include "authoring/package.h"
#include "compat/pkg_file_tools.h"
#include "manager/package_manager.h"
#include "platform/env.h"
#include "support/archive_bytes.h"

using namespace korvo;  // NOLINT: test support

// A fresh manager mounts the archive, indexes exactly these names (case ignored: the later of
// two wins) and reads back each entry as the bytes whose compression is its stored block.
::testing::AssertionResult ReadsBack(const std::string& path, const std::vector<RawEntry>& entries);
// The file is exactly BuildArchive(entries), and it reads back.
::testing::AssertionResult ArchiveHolds(const std::string& path,
                                        const std::vector<RawEntry>& entries);

// The first count nodes as "name:parent" joined by spaces; names end at the NUL within the
// field, and lose a leading "top\".
std::string NodeText(const CPackageManager& manager, const std::string& top);

// D holding a.txt and sub, sub holding b.txt, packed with its list into tree.pak; and c.txt.
struct ExampleTree {
  ExampleTree() {
    MakeDirectories(top + "/sub");
    WriteFileText(top + "/a.txt", "a");
    WriteFileText(top + "/sub/b.txt", "b");
    WriteFileText(source, "c");
    CreatePkgTree_Tool(archive.c_str(), top.c_str(), &manager);
  }
  std::string N(const std::string& tail) const { return top + "\\" + tail; }
  std::string Nodes() const { return NodeText(manager, top); }
  TempDir dir;
  std::string top = dir / "D", source = dir / "c.txt", archive = dir / "tree.pak";
  CPackageManager manager{nullptr, 0};
  RawEntry a = TextEntry(N("a.txt"), "a"), b = TextEntry(N("sub\\b.txt"), "b");
};

// An Env that counts the archive editor's open attempts, failing the first `fail`, and collects
// the authoring messages, one line each, instead of sending them to the debugger.
struct EditorWatch : platform::EnvWrapper {
  explicit EditorWatch(int fail = 0) : EnvWrapper(platform::Env::Default()), failFirst(fail) {}
  Status OpenForEdit(const char* path, platform::File& file) override {
    if (++attempts <= failFirst) return Status(StatusCode::IoError, path);
    return EnvWrapper::OpenForEdit(path, file);
  }
  void DebugMessage(const char* message) override { messages = messages + message + "\n"; }
  int attempts = 0, failFirst = 0;
  std::string messages;
};
