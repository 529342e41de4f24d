#include <windows.h>

#include <cstring>
#include <string>

#include "platform/DeviceOwner.h"

namespace qv {
namespace {

// What the holder leaves beside its mutex for a refused second owner to read.
struct HolderRecord {
  DWORD held;
  DWORD processId;
  char program[64];
};

std::wstring Widened(const std::string& text) {
  return std::wstring(text.begin(), text.end());
}

// Global names reach every session of the machine (a service, another user's desktop); a process
// without the right to create global objects falls back to its own session's.
HANDLE CreateNamed(const std::string& name, bool mutex) {
  for (const char* scope : {"Global\\", "Local\\"}) {
    const std::wstring full = Widened(scope + name);
    HANDLE object = mutex ? CreateMutexW(nullptr, FALSE, full.c_str())
                          : CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                               sizeof(HolderRecord), full.c_str());
    if (object) return object;
  }
  return nullptr;
}

}  // namespace

struct DeviceClaim::Handle {
  HANDLE mutex = nullptr;
  HANDLE mapping = nullptr;
  HolderRecord* record = nullptr;
};

void DeviceClaim::Releaser::operator()(Handle* handle) const {
  const std::unique_ptr<Handle> owned(handle);
  if (owned->record) {
    owned->record->held = 0;
    UnmapViewOfFile(owned->record);
  }
  if (owned->mapping) CloseHandle(owned->mapping);
  ReleaseMutex(owned->mutex);
  CloseHandle(owned->mutex);
}

ClaimResult ClaimDevice(std::string_view key, std::string_view program) {
  const std::string name = "qvupdate-" + ClaimName(key);
  HANDLE mutex = CreateNamed(name, true);
  if (!mutex)
    return ClaimResult::Failed("no lock for the device could be made (error " +
                               std::to_string(GetLastError()) + ")");
  auto handle = std::make_unique<DeviceClaim::Handle>();
  handle->mutex = mutex;
  handle->mapping = CreateNamed(name + "-holder", false);
  if (handle->mapping)
    handle->record = static_cast<HolderRecord*>(
        MapViewOfFile(handle->mapping, FILE_MAP_WRITE, 0, 0, sizeof(HolderRecord)));
  const auto holder = [&handle] {
    if (!handle->record || !handle->record->held) return DeviceHolder{};
    HolderRecord copy = *handle->record;
    copy.program[sizeof copy.program - 1] = '\0';
    return DeviceHolder{.program = copy.program, .processId = copy.processId};
  };
  const auto refused = [&](DeviceHolder who) {
    if (handle->record) UnmapViewOfFile(handle->record);
    if (handle->mapping) CloseHandle(handle->mapping);
    CloseHandle(handle->mutex);
    return ClaimResult::InUse(std::move(who));
  };
  // An abandoned mutex is one whose holder died: the device is free.
  const DWORD waited = WaitForSingleObject(mutex, 0);
  if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) return refused(holder());
  // A mutex is taken again by the thread that holds it: a claim this thread already has (or
  // another thread of this process) shows in the record, and is refused as any other owner's.
  if (waited == WAIT_OBJECT_0 && handle->record && handle->record->held &&
      handle->record->processId == GetCurrentProcessId()) {
    const DeviceHolder self = holder();
    ReleaseMutex(mutex);
    return refused(self);
  }
  if (handle->record) {
    handle->record->processId = GetCurrentProcessId();
    const std::string name8(program.substr(0, sizeof handle->record->program - 1));
    std::memset(handle->record->program, 0, sizeof handle->record->program);
    std::memcpy(handle->record->program, name8.data(), name8.size());
    handle->record->held = 1;
  }
  return ClaimResult::Held(DeviceClaim(DeviceClaim::OwnedHandle(handle.release())));
}

}  // namespace qv
