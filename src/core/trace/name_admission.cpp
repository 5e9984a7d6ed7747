#include "trace/name_admission.h"

#include <string>

#include "trace/trace_record.h"

namespace quarn {

bool NameAdmission::admit(std::string_view name) {
  if (record_.signal_names.size() >= limit_) return false;
  if (record_.name_to_id.find(name) != record_.name_to_id.end()) return false;
  const SignalId id = record_.signal_names.size();
  record_.signal_names.emplace_back(name);
  record_.name_to_id.emplace(std::string(name), id);
  record_.name_to_width.emplace(std::string(name), Width{1});
  return true;
}

}  // namespace quarn
