// Turning entry names into paths under an output directory without ever leaving it.
#pragma once

#include <filesystem>
#include <string>

namespace korvo::tool {

// The relative output path of an entry: the name with '\' as '/', empty and "." components
// dropped. Refused, with a cause, when the name is empty, absolute (a leading separator or a
// drive prefix such as "C:"), has a ".." component, holds a zero byte or names a directory
// (ends in a separator).
bool EntryOutputPath(const std::string& name, std::string& relative, std::string& cause);

// Creates the directories of relative below root, one level at a time, refusing to pass
// through a symbolic link or anything that is not a directory, and returns the file's full
// path. The final component must not be a symbolic link or a directory. False with a cause.
bool PrepareOutputFile(const std::filesystem::path& root, const std::string& relative,
                       std::filesystem::path& target, std::string& cause);

}  // namespace korvo::tool
