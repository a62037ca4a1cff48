// Links that the korvo tool must not write through (not part of the library).
#pragma once

namespace korvo::platform {

// True when path itself is a symbolic link, or on Windows any reparse point (a junction, a
// mount point, a symbolic link); the link is not followed. False for anything else, missing
// paths included.
bool IsLink(const char* path);

}  // namespace korvo::platform
