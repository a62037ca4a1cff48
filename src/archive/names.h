// The rules for entry names, in one place: how a name becomes a lookup key, how a path on disk
// or a typed pattern becomes an entry name, how an entry name becomes a path under an output
// directory, and how long a stored name may be.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "archive/package_format.h"

namespace korvo {

// The longest entry name any writer stores (packing a tree, adding an entry, CPackageBuilder
// and CPackage alike): the editor keeps names in 260-byte fields, 259 bytes and a terminator.
// An index record could hold up to 32767 bytes; longer names that an archive already holds are
// read and rewritten whole, but no writer adds one.
constexpr size_t MaxEntryNameLength = 259;
// What a writer says of a longer name.
constexpr const char* EntryNameTooLong = "entry name is longer than 259 bytes";

// Folds length bytes of name into out (length bytes, no terminator): '/' becomes '\' and
// ASCII capitals become lower case; every other byte is kept. out may equal name.
void FoldName(const char* name, size_t length, char* out);
// One byte folded as FoldName folds it.
inline char FoldByte(char c) {
  return c == '/' ? '\\' : (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// The index key of a name: '/' becomes '\' and ASCII capitals become lower case; every other
// byte is kept. The whole name is keyed, whatever its length.
void NormalizeName(std::string& out, const char* name);

// The positions of every entry whose name the loader would take for name: the same bytes once
// ASCII case and slash direction are folded. A stored name holding a zero byte matches nothing:
// no C string can ask for it.
std::vector<size_t> MatchingEntries(const std::vector<PackageEntry>& entries,
                                    const std::string& name);

// The name the loader will find for a path relative to the packing root: separators become
// '\\', empty and "." components go, and ".." takes back the component before it. "." itself
// gives the empty name. False, leaving name untouched, when the path is absolute (a leading
// separator or a drive prefix) or a ".." climbs above the root. The walks name entries
// <PackEntryName(dir)>\<levels>\<file> (no leading backslash for an empty name); a dir for
// which this is false keeps its text as given.
bool PackEntryName(const std::string& path, std::string& name);

// The lookup key of a name or pattern a user types: as NormalizeName, after "./" and ".." are
// resolved as PackEntryName resolves them (a path it refuses is folded as typed); trailing
// separators are dropped, except a lone one.
std::string FoldPattern(const std::string& pattern);

// Where an entry goes when it is extracted, on Linux and on Windows alike: an archive
// extracted on one system today may be extracted on the other tomorrow, so both systems' rules
// apply everywhere. The relative output path of an entry: the name with '\' as '/', empty and
// "." components dropped. Refused, with a cause, when the name
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

}  // namespace korvo
