#include "signal/store.h"

namespace quarn {

namespace {

// Ids up to this far past the dense range still extend the vector.
constexpr SignalId kDenseSlack = 1 << 16;

}  // namespace

Column& SignalStore::column_for_write(SignalId id) {
  if (id < dense_.size()) {
    dense_used_[id] = true;
    return dense_[id];
  }
  if (id < dense_.size() + kDenseSlack && sparse_.empty()) {
    dense_.resize(id + 1);
    dense_used_.resize(id + 1, false);
    dense_used_[id] = true;
    return dense_[id];
  }
  return sparse_[id];
}

const Column* SignalStore::column(SignalId id) const {
  if (id < dense_.size()) return dense_used_[id] ? &dense_[id] : nullptr;
  auto it = sparse_.find(id);
  return it == sparse_.end() ? nullptr : &it->second;
}

void SignalStore::set(SignalId id, Index index, const ValueView& v) { column_for_write(id).set(index, v); }

void SignalStore::record_change(SignalId id, Index index, const ValueView& v) {
  column_for_write(id).record_change(index, v);
}

ValueView SignalStore::view(SignalId id, Index index) const {
  const Column* c = column(id);
  return c ? c->view(index) : ValueView::empty();
}

SignalValue SignalStore::get(SignalId id, Index index) const { return to_value(view(id, index)); }

std::vector<SignalValue> SignalStore::get_range(SignalId id, Index start, Index end) const {
  std::vector<SignalValue> out;
  if (end <= start) return out;
  out.reserve(end - start);
  ColumnCursor cursor(column(id));
  for (Index i = start; i < end; ++i) out.push_back(to_value(cursor.at(i)));
  return out;
}

template <class F>
void SignalStore::for_each_column(F f) {
  for (std::size_t i = 0; i < dense_.size(); ++i)
    if (dense_used_[i]) f(dense_[i]);
  for (auto& [id, c] : sparse_) f(c);
}

void SignalStore::forward_fill(Index index) {
  // Each column reads only its own index-1 and writes its own index, so
  // visiting order cannot matter.
  for_each_column([index](Column& c) { c.forward_fill(index); });
}

void SignalStore::hold_through(Index last) {
  for_each_column([last](Column& c) { c.hold_through(last); });
}

void SignalStore::shrink_to_fit() {
  for_each_column([](Column& c) { c.shrink_to_fit(); });
  dense_.shrink_to_fit();
}

std::size_t SignalStore::memory_bytes() const {
  std::size_t total = dense_.capacity() * sizeof(Column) + dense_used_.capacity() / 8;
  for (std::size_t i = 0; i < dense_.size(); ++i)
    if (dense_used_[i]) total += dense_[i].memory_bytes() - sizeof(Column);
  for (const auto& [id, c] : sparse_) total += c.memory_bytes() + sizeof(id);
  return total;
}

}  // namespace quarn
