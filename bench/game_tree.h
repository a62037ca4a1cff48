// Game-like trees of files on disk for the benchmarks that pack them: generated from fixed seeds
// under a base directory, once, and reused by later runs when complete.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

namespace korvo::bench {

struct Tree {
  std::string root;  // the directory packed
  uint64_t bytes = 0;
  uint64_t files = 0;
};

// Writes size bytes to path; false when they could not all be written.
bool WriteFile(const std::filesystem::path& path, const void* data, size_t size);

// Starts the tree called name under base: true when a finished one (its stamp written) can be
// reused, with tree filled from the stamp; otherwise the directory is cleared for a new one.
// root is the tree's directory, stamp the file to write with StampTree once it is complete.
bool StartTree(const std::filesystem::path& base, const std::string& name, Tree& tree,
               std::filesystem::path& root, std::filesystem::path& stamp);
// Records a complete tree: written last, so that a tree cut short is never reused.
bool StampTree(const std::filesystem::path& stamp, const Tree& tree);

// Adds files of the game-like corpus (icons, tables, scripts, textures, already-compressed
// sound; 256 B to 4 MB a file) under root until the tree holds at least targetBytes; tree's
// counts include them.
bool AddGameFiles(const std::filesystem::path& root, uint64_t targetBytes, Tree& tree);

// The value of an option given as "<name>=<value>" in arg; false when arg is another option.
bool TakeText(const char* arg, const char* name, std::string& value);

// The game-like tree of about megabytes·10^6 bytes, "game-<N>mb" under base.
bool PrepareGameTree(const std::filesystem::path& base, uint32_t megabytes, Tree& tree);

}  // namespace korvo::bench
