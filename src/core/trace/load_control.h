#pragma once

#include <atomic>
#include <cstdint>
#include <thread>

namespace quarn {

/// Message of a load that its caller stopped.
inline constexpr const char* kLoadInterrupted = "Load interrupted";

/// Lets whoever started a load stop it. Readers report their progress with
/// `advance` (bytes read, items walked); every few MB of it the control asks
/// its poll function, on the thread that made the control only, whether to
/// stop. Pool workers call `advance` too but never poll: they see the answer
/// the loading thread got. Once stopped, every later call says so and the
/// reader unwinds with kLoadInterrupted.
class LoadControl {
 public:
  /// Returns true to stop the load; `user` is passed back unchanged.
  using Poll = bool (*)(void* user);

  /// A control that never stops.
  LoadControl() = default;
  /// `poll_every`: work between polls (tests poll at every call with 0).
  LoadControl(Poll poll, void* user, std::uint64_t poll_every = kPollEvery)
      : poll_(poll), user_(user), poll_every_(poll_every), since_poll_(poll_every) {}
  LoadControl(const LoadControl&) = delete;
  LoadControl& operator=(const LoadControl&) = delete;

  /// Adds `work` (about one unit per input byte) and polls once enough has
  /// accumulated. True when the load is to stop.
  bool advance(std::uint64_t work) {
    if (poll_ == nullptr) return false;
    if (std::this_thread::get_id() != owner_) return stopped();
    since_poll_ += work;
    if (since_poll_ < poll_every_) return stopped();
    since_poll_ = 0;
    return poll_now();
  }

  /// Polls at once (on the loading thread; elsewhere only reads the answer).
  bool poll_now() {
    if (stopped() || poll_ == nullptr) return stopped();
    if (std::this_thread::get_id() == owner_ && poll_(user_)) stopped_.store(true, std::memory_order_relaxed);
    return stopped();
  }

  bool stopped() const { return stopped_.load(std::memory_order_relaxed); }

  /// Default work between polls: a few MB, so a reader at 100 MB/s polls every few
  /// tens of milliseconds.
  static constexpr std::uint64_t kPollEvery = std::uint64_t{4} << 20;

 private:
  Poll poll_ = nullptr;
  void* user_ = nullptr;
  std::uint64_t poll_every_ = kPollEvery;
  std::thread::id owner_ = std::this_thread::get_id();
  // The first call polls: a stop asked for before the load is seen at once.
  std::uint64_t since_poll_ = kPollEvery;
  std::atomic<bool> stopped_{false};
};

}  // namespace quarn
