#include "platform/fault_injection.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <functional>
#include <mutex>
#include <unordered_map>
#include <utility>
#include <vector>

namespace mirdcng::platform {
namespace {

struct FaultState {
  std::mutex mutex;
  std::array<int, kCallKinds> counts{};
  bool armed = false;
  bool fired = false;
  bool exits = false;
  Call call = Call::kEncrypt;
  int fail_at = 0;  // the value of counts[call] at which to fail
  NTSTATUS status = STATUS_UNSUCCESSFUL;
  std::function<void()> action;  // run instead of failing, when set
};

FaultState& State() {
  static FaultState state;
  return state;
}

int Index(Call call) { return static_cast<int>(call); }

struct FreedMemoryWatch {
  std::mutex mutex;
  std::vector<std::uint8_t> secret;  // empty: no watch
  std::unordered_map<const void*, std::size_t> sizes;
  int holding = 0;
};

FreedMemoryWatch& Watch() {
  static FreedMemoryWatch watch;
  return watch;
}

}  // namespace

namespace {

void Arm(Call call, int nth, NTSTATUS status, bool exits,
         std::function<void()> action = nullptr) {
  FaultState& state = State();
  std::lock_guard lock(state.mutex);
  state.action = std::move(action);
  state.armed = true;
  state.fired = false;
  state.exits = exits;
  state.call = call;
  state.fail_at = state.counts[static_cast<size_t>(Index(call))] + nth;
  state.status = status;
}

}  // namespace

void InjectFault(Call call, int nth, NTSTATUS status) { Arm(call, nth, status, false); }

void InjectExit(Call call, int nth) { Arm(call, nth, STATUS_SUCCESS, true); }

void InjectAction(Call call, int nth, std::function<void()> action) {
  Arm(call, nth, STATUS_SUCCESS, false, std::move(action));
}

void ClearFaults() {
  FaultState& state = State();
  std::lock_guard lock(state.mutex);
  state.counts.fill(0);
  state.armed = false;
  state.fired = false;
  state.action = nullptr;
}

int CallCount(Call call) {
  FaultState& state = State();
  std::lock_guard lock(state.mutex);
  return state.counts[static_cast<size_t>(Index(call))];
}

bool FaultFired() {
  FaultState& state = State();
  std::lock_guard lock(state.mutex);
  return state.fired;
}

void WatchFreedMemory(std::span<const std::uint8_t> secret) {
  FreedMemoryWatch& watch = Watch();
  std::lock_guard lock(watch.mutex);
  watch.secret.assign(secret.begin(), secret.end());
  watch.sizes.clear();
  watch.holding = 0;
}

int UnwipedFreesHolding() {
  FreedMemoryWatch& watch = Watch();
  std::lock_guard lock(watch.mutex);
  return watch.holding;
}

namespace internal {

void NoteAllocated(const void* block, std::size_t size) {
  FreedMemoryWatch& watch = Watch();
  std::lock_guard lock(watch.mutex);
  if (block != nullptr && !watch.secret.empty()) {
    watch.sizes[block] = size;
  }
}

void NoteFreed(const void* block, bool wiped) {
  FreedMemoryWatch& watch = Watch();
  std::lock_guard lock(watch.mutex);
  const auto found = watch.sizes.find(block);
  if (found == watch.sizes.end()) {
    return;
  }
  const auto* bytes = static_cast<const std::uint8_t*>(block);
  if (!wiped && std::search(bytes, bytes + found->second, watch.secret.begin(),
                            watch.secret.end()) != bytes + found->second) {
    ++watch.holding;
  }
  watch.sizes.erase(found);
}

bool ShouldFail(Call call, NTSTATUS* status) {
  FaultState& state = State();
  std::unique_lock lock(state.mutex);
  const int count = ++state.counts[static_cast<size_t>(Index(call))];
  if (!state.armed || state.call != call || count != state.fail_at) {
    return false;
  }
  if (state.exits) {
    _exit(kInjectedExitStatus);
  }
  state.armed = false;
  state.fired = true;
  if (state.action) {
    const std::function<void()> action = std::exchange(state.action, nullptr);
    lock.unlock();  // the action may make platform calls of its own
    action();
    return false;
  }
  *status = state.status;
  return true;
}

}  // namespace internal
}  // namespace mirdcng::platform
