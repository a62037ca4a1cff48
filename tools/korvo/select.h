// Choosing entries by the names a user types: names, folders and glob patterns, compared the
// way the loader compares names (ASCII case and slash direction ignored).
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "archive/package_format.h"

namespace korvo::tool {

// True when pattern holds a glob character: '*', '?' or '['.
bool IsGlob(const std::string& pattern);

// True when the folded glob matches the folded name: '*' stands for any run of characters
// within one level, '**' for any run across levels, '?' for one character other than a
// separator, [abc] and [a-z] for one character of a set ([!...] for one outside it). Work is
// bounded by the product of the two lengths.
bool GlobMatches(const std::string& pattern, const std::string& name);

// The entries that the patterns select, in archive order, each once. A pattern selects
//   - the entry of exactly that name, alone, when there is one;
//   - otherwise every entry of that name ignoring ASCII case and slash direction, and every
//     entry inside the folder of that name ("data/ui" selects "data\ui\button.img");
//   - a glob: every entry whose name, or one of whose folders, it matches.
// unmatched receives the patterns that selected nothing.
std::vector<size_t> SelectEntries(const std::vector<PackageEntry>& entries,
                                  const std::vector<std::string>& patterns,
                                  std::vector<std::string>& unmatched);

}  // namespace korvo::tool
