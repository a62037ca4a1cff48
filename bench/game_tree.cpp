#include "game_tree.h"

#include <cstring>
#include <fstream>
#include <random>
#include <system_error>
#include <vector>

#include "peer/corpus.h"

namespace korvo::bench {

namespace fs = std::filesystem;

namespace {

bool ReuseTree(const fs::path& stamp, Tree& tree) {
  std::ifstream in(stamp);
  return static_cast<bool>(in >> tree.files >> tree.bytes);
}

}  // namespace

bool WriteFile(const fs::path& path, const void* data, size_t size) {
  std::ofstream out(path, std::ios::binary);
  out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
  return static_cast<bool>(out);
}

bool StampTree(const fs::path& stamp, const Tree& tree) {
  std::ofstream out(stamp);
  out << tree.files << ' ' << tree.bytes << '\n';
  return static_cast<bool>(out);
}

bool StartTree(const fs::path& base, const std::string& name, Tree& tree, fs::path& root,
               fs::path& stamp) {
  root = base / name;
  stamp = base / (name + ".done");
  tree = Tree();
  tree.root = root.string();
  if (ReuseTree(stamp, tree)) return true;
  std::error_code error;
  fs::remove_all(root, error);
  return false;
}

bool AddGameFiles(const fs::path& root, uint64_t targetBytes, Tree& tree) {
  std::error_code error;
  std::mt19937_64 random(korvo::peer::GameTreeSeed);
  std::string entry;
  std::vector<uint8_t> data;
  for (uint32_t serial = 0; tree.bytes < targetBytes; ++serial) {
    korvo::peer::NextGameFile(random, serial, entry, data);
    fs::path path = root / entry;
    fs::create_directories(path.parent_path(), error);
    if (!WriteFile(path, data.data(), data.size())) return false;
    tree.bytes += data.size();
    ++tree.files;
  }
  return true;
}

bool TakeText(const char* arg, const char* name, std::string& value) {
  size_t length = std::strlen(name);
  if (std::strncmp(arg, name, length) != 0 || arg[length] != '=') return false;
  value = arg + length + 1;
  return true;
}

bool PrepareGameTree(const fs::path& base, uint32_t megabytes, Tree& tree) {
  fs::path root, stamp;
  if (StartTree(base, "game-" + std::to_string(megabytes) + "mb", tree, root, stamp)) return true;
  return AddGameFiles(root, uint64_t{megabytes} * 1000 * 1000, tree) && StampTree(stamp, tree);
}

}  // namespace korvo::bench
