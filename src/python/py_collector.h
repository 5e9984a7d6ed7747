#pragma once

#include "py_ref.h"

namespace quarn::py {

/// Holds off the cyclic collector while an answer of many containers (tuples,
/// lists) is built, on interpreters before 3.12. Those run the collector
/// inside allocation, every 700 containers, and its passes walk what was made
/// so far again and again: up to half the time of a large answer. Later
/// interpreters only schedule a pass for after the call, and there one thread
/// must not switch it off for all the others. Only for code that holds the
/// lock throughout and runs no Python code.
class CollectorPause {
 public:
  CollectorPause() {
#if PY_VERSION_HEX < 0x030C0000
    was_enabled_ = PyGC_Disable() != 0;
#endif
  }
  CollectorPause(const CollectorPause&) = delete;
  CollectorPause& operator=(const CollectorPause&) = delete;
  ~CollectorPause() {
    if (was_enabled_) PyGC_Enable();
  }

 private:
  bool was_enabled_ = false;
};

}  // namespace quarn::py
