// CManagerHolder: the module's one static object. Its construction at module load creates the
// resource manager; its destruction at unload tears the current manager down.
#pragma once

namespace korvo {

class CManagerHolder {
 public:
  CManagerHolder();
  virtual ~CManagerHolder();
  CManagerHolder(const CManagerHolder&) = delete;
  CManagerHolder& operator=(const CManagerHolder&) = delete;
};

}  // namespace korvo
