#include "py_trace_names.h"

#include <string>

#include "eval/name_suggest.h"
#include "py_ref.h"
#include "trace/trace.h"

namespace quarn::py {

std::optional<SignalId> known_signal(const Trace& trace, std::string_view name) {
  if (const auto id = trace.signal_id(name)) return id;
  std::string message = "no signal named '" + std::string(name) + "' in this trace";
  const auto close = close_names(trace.signal_names(), name);
  for (std::size_t i = 0; i < close.size(); ++i) message += (i == 0 ? "; close matches: " : ", ") + close[i];
  PyRef text(PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()), "replace"));
  if (text) PyErr_SetObject(PyExc_KeyError, text.get());
  return std::nullopt;
}

}  // namespace quarn::py
