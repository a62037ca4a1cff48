#include "module/manager_holder.h"

#include "manager/package_manager.h"

namespace korvo {

CManagerHolder::CManagerHolder() {
  // The constructor registers the manager in g_packageManager; the holder keeps no pointer.
  // Through the accessor, so that a call from another thread never builds a second one.
  try {
    (void)GetPackageManager();
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
