// The operating-system layer. Everything the library needs from the OS goes through these
// headers; no other folder includes an OS header. posix.cpp implements them for Linux and other
// POSIX systems, win32.cpp for Windows (the Windows API and the C runtime, msvcrt).
//
// A new port implements, in one file:
//   files.h        File (a self-closing descriptor: Read, Write, Seek, Length, Truncate, Sync,
//                  Close, each returning a Status that names the file), IdentifyFile, OpenForEdit,
//                  OpenForRead, CreateNew, RemoveFile, ReplaceFile, SyncDirectoryOf,
//                  StdioFileLength, and for replacing a user's file: ResolveReplaceTarget,
//                  InspectReplaceTarget, OpenForWriteThrough, ApplyTargetMode
//   mapping.h      Mapping (a self-unmapping read-only view of a whole file: Reset, Swap and
//                  the read-ahead hint WillRead), MapFileReadOnly
//   memory.h       AllocateSystemBlock, FreeSystemBlock, DiscardSystemBlock (large zero-filled
//                  blocks, huge pages where available, whose pages can be given back;
//                  MemoryBlock itself is shared, in memory.cpp)
//   directories.h  PathExists, IsDirectory, IsRegularFile, ListDirectory
//   process.h      ExecutablePath, DebugOutput, CharNext, CharPrev (ErrorText is shared: both
//                  layers report C runtime errno values)
// and, in a file of its own (posix_watch.cpp, win32_watch.cpp):
//   watch.h        DirectoryWatch (Open, Watch, Wait, Wake: changed files of a few
//                  directories, for the package watcher's thread)
// and, for the korvo tool and the tests only (posix_extras.cpp, win32_extras.cpp):
//   terminal.h         IsTerminal, TerminalWidth, OutputIsUtf8, UseBinaryStandardStreams
//   random.h           FillRandom (the system's random source), OpenUrl
//   links.h            IsLink
//   shared_library.h   OpenLibrary, LibrarySymbol, CloseLibrary
// and, where the shared library needs a module entry point (Windows: win32_module_entry.cpp),
// that entry point.
// Shared by every port, written over the functions above: env.h (Env, the writers' way to the
// disk and the debugger output, which callers may wrap) and replace.h (Replacement, the atomic
// replacement of a file).
#pragma once

#include <cstddef>

namespace korvo::platform {

#if defined(_WIN32)
constexpr char PathSeparator = '\\';
#else
constexpr char PathSeparator = '/';
#endif

// Fixed buffers for paths, names and tokens: 259 characters and the terminator.
constexpr size_t MaxPath = 260;

}  // namespace korvo::platform

#include "platform/directories.h"
#include "platform/files.h"
#include "platform/mapping.h"
#include "platform/memory.h"
#include "platform/process.h"
