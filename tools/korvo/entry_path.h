// Turning entry names into paths under an output directory without ever leaving it, on Linux
// and on Windows alike: an archive extracted on one system today may be extracted on the other
// tomorrow, so both systems' rules apply everywhere.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "archive/package_format.h"

namespace korvo::tool {

// The relative output path of an entry: the name with '\' as '/', empty and "." components
// dropped. Refused, with a cause, when the name
//   - is empty, holds a zero byte or ends in a separator (names a directory);
//   - is absolute: a leading separator, a UNC or device path ("\\server\share", "\\?\..."), a
//     drive prefix ("C:", also after "./");
//   - has a ".." component;
//   - has a component Windows cannot create: a reserved device name (CON, PRN, AUX, NUL,
//     CONIN$, CONOUT$, COM0-COM9, LPT0-LPT9, with or without an extension), a trailing dot or space
//     (Windows drops it, so "a." and "a" would be one file), a ':' (a drive or a stream) or one of
//     < > " | ? * or a control character.
bool EntryOutputPath(const std::string& name, std::string& relative, std::string& cause);

// The key under which two output paths name the same file on a system that ignores ASCII case
// (Windows, macOS): the relative path with ASCII capitals in lower case.
std::string OutputPathKey(const std::string& relative);

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
