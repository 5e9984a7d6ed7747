#include "trace/vcd_builder.h"

namespace quarn {

void VcdBuilder::scope(std::string_view name) {
  path_lengths_.push_back(path_.size());
  if (!path_lengths_.empty() && path_lengths_.size() > 1) path_ += '.';
  path_ += name;
  if (seen_scopes_.insert(path_).second) r_.scopes.push_back(path_);
}

void VcdBuilder::upscope() {
  if (path_lengths_.empty()) return;
  path_.resize(path_lengths_.back());
  path_lengths_.pop_back();
}

void VcdBuilder::var(Width width, std::string_view code, std::string_view reference) {
  std::string name;
  if (path_lengths_.empty()) {
    name = reference;
  } else {
    name.reserve(path_.size() + 1 + reference.size());
    name.append(path_).append(1, '.').append(reference);
  }
  SignalId id;
  if (auto known = r_.codes.find(code)) {
    id = *known;  // an alias of an earlier declaration
  } else {
    id = r_.id_count++;
    r_.codes.insert(code, id);
    logs_.emplace_back();
  }
  auto [it, inserted] = r_.vars.try_emplace(name);
  if (inserted) r_.signal_names.push_back(name);
  // A later declaration of the same name wins.
  it->second = VcdVar{std::string(code), id, width};
}

void VcdBuilder::timestamp(Time time) {
  r_.timestamps.push_back(time);
  current_ = r_.timestamps.size() - 1;
}

void VcdBuilder::store(std::string_view code, const ValueView& v) {
  const SignalId id = r_.codes.lookup(code);
  if (id != CodeTable::kUnknown) store(id, v);
}

void VcdBuilder::store(SignalId id, const ValueView& v) { logs_[id].append(current_, v); }

void VcdBuilder::scalar(std::string_view code, ScalarKind kind) {
  static const std::uint8_t z_bit = kLogicZ;
  switch (kind) {
    case ScalarKind::Zero: store(code, ValueView::bits(0)); break;
    case ScalarKind::One: store(code, ValueView::bits(1)); break;
    case ScalarKind::X: store(code, ValueView::empty()); break;  // X reads as "no value"
    case ScalarKind::Z: store(code, ValueView::logic(&z_bit, 1)); break;
  }
}

void VcdBuilder::vector(std::string_view digits, std::string_view code) {
  const SignalId id = r_.codes.lookup(code);
  if (id == CodeTable::kUnknown) return;  // skip parsing for undeclared codes
  store(id, parse_binary_view(digits, scratch_));
}

void VcdBuilder::real(double value, std::string_view code) { store(code, ValueView::real(value)); }

VcdTrace::Record VcdBuilder::finish() {
  for (SignalId id = 0; id < logs_.size(); ++id) {
    if (logs_[id].empty()) continue;
    logs_[id].replay_into(r_.store.column_for_write(id));
    logs_[id].release();
  }
  // Every value holds until the next change, through the last index.
  if (!r_.timestamps.empty()) r_.store.hold_through(r_.timestamps.size() - 1);
  r_.store.shrink_to_fit();
  return std::move(r_);
}

}  // namespace quarn
