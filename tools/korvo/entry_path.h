// Planning where the selected entries go under an output directory (each entry's own path is
// EntryOutputPath's) and creating the way there without ever leaving it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "archive/names.h"
#include "archive/package_format.h"

namespace korvo::tool {

// One entry on its way out: where it goes under the output directory, or why it does not.
struct PlannedOutput {
  size_t index = 0;
  std::string relative;
  std::string refusal;      // empty when the entry can be written
  size_t clash = SIZE_MAX;  // the entry behind the refusal, when another entry causes it
};

// Maps every selected entry to its output path, refusing the unsafe names (EntryOutputPath),
// every entry whose path another selected entry also maps to (ignoring ASCII case, as Windows
// and macOS do: one would silently replace the other) and every entry whose path another
// selected entry needs as a folder ("d" beside "d\a.txt"). Decided from the names alone, so
// the outcome does not depend on archive order or on what is already on disk.
std::vector<PlannedOutput> PlanOutputs(const std::vector<PackageEntry>& entries,
                                       const std::vector<size_t>& selected);

// Creates the directories of relative below root, one level at a time, refusing to pass
// through a symbolic link (or a junction on Windows) or anything that is not a directory, and
// returns the file's full path. The final component must not be a symbolic link or a directory.
// False with a cause.
bool PrepareOutputFile(const std::filesystem::path& root, const std::string& relative,
                       std::filesystem::path& target, std::string& cause);

}  // namespace korvo::tool
