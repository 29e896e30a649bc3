#include "platform/fault_injection.h"

#include <unistd.h>

#include <array>
#include <functional>
#include <mutex>
#include <utility>

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

namespace internal {

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
