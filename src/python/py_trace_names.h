#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <optional>
#include <string_view>

#include "signal/types.h"

namespace quarn {
class Trace;
}

namespace quarn::py {

/// The id of signal `name`, or nullopt with KeyError set: "no signal named
/// 'x' in this trace" and, when there are any, its close matches.
std::optional<SignalId> known_signal(const Trace& trace, std::string_view name);

}  // namespace quarn::py
