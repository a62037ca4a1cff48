// Index keys used by mounting and by every lookup.
#pragma once

#include <string>

namespace korvo {

// The index key of a name: '/' becomes '\' and ASCII capitals become lower case; every other
// byte is kept. The whole name is keyed, whatever its length.
void NormalizeName(std::string& out, const char* name);

}  // namespace korvo
