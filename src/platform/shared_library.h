// Loading a shared library at run time, as a host does (dlopen / LoadLibraryA). Used by the
// tests that drive the built library through its exports (not part of the library).
#pragma once

namespace korvo::platform {

void* OpenLibrary(const char* path);
void* LibrarySymbol(void* library, const char* name);
void CloseLibrary(void* library);

}  // namespace korvo::platform
