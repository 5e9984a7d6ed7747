#include "trace/name_admission.h"

#include "trace/trace_record.h"

namespace quarn {

bool NameAdmission::admit(std::string_view name) {
  if (record_.names.size() >= limit_) return false;
  return record_.names.add_signal(name, record_.names.size(), Width{1});
}

}  // namespace quarn
