// Small image and path helpers: telling a common image type from the first bytes of its data,
// taking a path apart, stepping through multi-byte strings, and the executable's directory
// kept in a cache. They need only the platform layer; nothing in the library calls them.
#pragma once

#include <cstddef>
#include <cstdint>

namespace korvo {

// Writes "gif", "bmp" or "jpg" for data starting with the bytes G I, B M or FF D8. Does nothing
// unless destinationSize > 0, dataSize >= 3 and both pointers are non-null, and nothing for
// other data. As a size-bounded print would: a size of 4 or more gets the three letters and a
// terminator; a size of 1 to 3 gets that many letters and no terminator.
void SniffImageType(char* destination, int32_t destinationSize, const void* data, int32_t dataSize);

// Offset of the file-name part: just after the last '/' or '\', byte by byte. 0 for a path
// without a separator, for the empty path and for null; the length for a path ending in one.
int32_t GetFileNameOffset(const char* path);

// Copies every byte after the last '.' of the path (anywhere in it) into destination and
// terminates it; the empty string when there is no '.'. The destination must hold the rest of
// the path and the terminator: prefer the bounded form below.
void GetFileExtension(char* destination, const char* path);
// The same into a destination of destinationSize bytes: an extension that does not fit is cut
// to destinationSize - 1 bytes (always terminated) and false is returned. False, writing
// nothing, for a destination size of 0 or a null destination.
bool GetFileExtension(char* destination, size_t destinationSize, const char* path);

// Offset of the character after the one at offset, by the platform's multi-byte step (the
// current narrow code page, or locale on POSIX). At the terminator the offset is returned
// unchanged; so is a negative offset.
int32_t CharNextOffset(const char* start, int32_t offset);
// Offset of the character before the one at offset; 0 at offset 0 (or below).
int32_t CharPrevOffset(const char* start, int32_t offset);

// A static 260-byte buffer holding the executable's directory as GetExeDirectory gives it,
// filled on the first call and returned unchanged on every later one. The
// first call must not run on two threads at once.
char* GetExeDirectoryCached();

}  // namespace korvo
