#include "trace/vcd_builder.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "signal/column.h"
#include "signal/value_bits.h"

namespace quarn {

void VcdBuilder::scope(std::string_view name) {
  const NameTable::Path in = open_scopes_.empty() ? NameTable::kTop : open_scopes_.back();
  // A nameless scope adds no component; a scope reopened is the one listed before.
  open_scopes_.push_back(name.empty() ? in : r_.names.add_scope(in, name));
}

void VcdBuilder::upscope() {
  if (!open_scopes_.empty()) open_scopes_.pop_back();
}

void VcdBuilder::var(const VcdDecl& d) {
  SignalId id;
  if (auto known = r_.codes.find(d.code)) {
    id = *known;  // an alias of an earlier declaration
  } else {
    id = r_.id_count++;
    r_.codes.insert(d.code, id);
    logs_.emplace_back();
    Signal s;
    s.width = d.width;
    if (d.kind == "event") s.kind = Kind::Event;
    else if (d.kind == "string") s.kind = Kind::String;
    signals_.push_back(s);
  }
  VcdDeclared decl;
  decl.base = r_.names.add_path(open_scopes_.empty() ? NameTable::kTop : open_scopes_.back(), d.reference);
  decl.range = d.range;
  decl.id = id;
  decl.width = d.width;
  decls_.push_back(std::move(decl));
}

VcdStatus VcdBuilder::timestamp(Time time) {
  if (timed_ && time < last_time_) {
    drop_changes();
    return VcdStatus::TimeBackwards;
  }
  skipping_ = false;
  usual_ = true;
  if (!timed_ && early_values_ && time > 0) r_.timestamps.push_back(0);  // index 0 holds the initial values
  timed_ = true;
  last_time_ = time;
  r_.timestamps.push_back(time);
  current_ = r_.timestamps.size() - 1;
  return VcdStatus::Ok;
}

VcdStatus VcdBuilder::scalar(char value, std::string_view code) {
  const SignalId id = r_.codes.lookup(code);
  if (id == CodeTable::kUnknown) return VcdStatus::UnknownCode;
  const Signal& s = signals_[id];
  if (s.kind == Kind::Event) return trigger(id);
  if (value == '0' || value == '1') return store(id, ValueView::bits(static_cast<std::uint64_t>(value - '0')));
  if (s.width > 1) return vector(std::string_view(&value, 1), code);  // extended like a vector
  scratch_.logic.assign(1, logic_from_char(value));
  return store(id, ValueView::logic(scratch_.logic.data(), 1));
}

VcdStatus VcdBuilder::vector(std::string_view digits, std::string_view code) {
  const SignalId id = r_.codes.lookup(code);
  if (id == CodeTable::kUnknown) return VcdStatus::UnknownCode;
  if (signals_[id].kind == Kind::Event) return trigger(id);
  ValueView v;
  if (parse_vcd_vector(digits, signals_[id].width, scratch_, v)) return store(id, v);
  // Some Python writers leak bin()'s prefix: "b0b0101".
  if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'b' || digits[1] == 'B') &&
      parse_vcd_vector(digits.substr(2), signals_[id].width, scratch_, v)) {
    store(id, v);
    return VcdStatus::Repaired;
  }
  return VcdStatus::BadValue;
}

VcdStatus VcdBuilder::real(double value, std::string_view code) {
  const SignalId id = r_.codes.lookup(code);
  if (id == CodeTable::kUnknown) return VcdStatus::UnknownCode;
  // One NaN, so that a NaN held is no change whatever its sign or payload.
  if (std::isnan(value)) value = std::numeric_limits<double>::quiet_NaN();
  return store(id, ValueView::real(value));
}

VcdStatus VcdBuilder::text(std::string_view text, std::string_view code) {
  const SignalId id = r_.codes.lookup(code);
  if (id == CodeTable::kUnknown) return VcdStatus::UnknownCode;
  return store(id, ValueView::text(text.data(), text.size()));
}

// The bus's column from its bit columns: a value wherever a bit changes.
void VcdBuilder::build_bus(const VcdNamed& bus, SignalId id) {
  std::vector<Column> bits(bus.bits.size());
  std::vector<Index> starts;
  for (std::size_t k = 0; k < bus.bits.size(); ++k) {
    logs_[decls_[bus.bits[k]].id].replay_into(bits[k]);
    for (std::size_t run = 0; run < bits[k].run_count(); ++run) starts.push_back(bits[k].run_start(run));
  }
  std::sort(starts.begin(), starts.end());
  starts.erase(std::unique(starts.begin(), starts.end()), starts.end());
  if (!starts.empty())
    for (Column& bit : bits) bit.hold_through(starts.back());  // each bit holds until it changes
  Column& out = r_.store.column_for_write(id);
  std::string digits(bits.size(), 'x');
  for (Index at : starts) {
    bool any = false;
    for (std::size_t k = 0; k < bits.size(); ++k) {
      const SignalValue v = bits[k].get(at);
      any |= !v.is_empty();
      digits[k] = v.is_empty() ? 'x' : value_bits(v, 1)[0];
    }
    ValueView merged = ValueView::empty();
    if (any) parse_vcd_vector(digits, static_cast<Width>(digits.size()), scratch_, merged);
    out.record_change(at, merged);
  }
}

VcdTrace::Record VcdBuilder::finish() {
  if (!timed_ && early_values_) r_.timestamps.push_back(0);
  const std::vector<VcdNamed> named = name_vcd_vars(r_.names, decls_);
  std::vector<bool> used(logs_.size(), false);
  for (const VcdNamed& n : named) {
    const VcdDeclared& d = decls_[n.decl];
    SignalId id = d.id;
    Width width = d.width;
    if (!n.bits.empty()) {
      id = r_.id_count++;
      width = static_cast<Width>(n.bits.size());
      build_bus(n, id);
    } else {
      used[id] = true;
    }
    r_.names.add_signal(n.name, id, width);
  }
  for (SignalId id = 0; id < logs_.size(); ++id) {
    if (used[id] && !logs_[id].empty()) logs_[id].replay_into(r_.store.column_for_write(id));
    logs_[id].release();
  }
  // Every value holds until the next change, through the last index.
  if (!r_.timestamps.empty()) r_.store.hold_through(r_.timestamps.size() - 1);
  r_.store.shrink_to_fit();
  return std::move(r_);
}

}  // namespace quarn
