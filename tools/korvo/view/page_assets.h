// The page of `korvo view`: the files of tools/korvo/view/page/, built into the binary.
#pragma once

#include <cstddef>
#include <string>

namespace korvo::tool {

struct PageAsset {
  const char* name;  // "index.html", "app.js", ...
  const unsigned char* data;
  size_t size;
};

// The asset of that name, or null.
const PageAsset* FindPageAsset(const std::string& name);

}  // namespace korvo::tool
