#include "module/manager_holder.h"

#include <new>

#include "manager/package_manager.h"

namespace korvo {

CManagerHolder::CManagerHolder() {
  // The constructor registers the manager in g_packageManager; the holder keeps no pointer.
  try {
    (void)new (std::nothrow) CPackageManager();
  } catch (...) {
    // The manager's constructor failed; the next exported call tries again.
  }
}

CManagerHolder::~CManagerHolder() {
  try {
    CPackageManager* manager = GetPackageManager();
    delete manager;
  } catch (...) {
  }
}

}  // namespace korvo
