#pragma once

#include <windows.h>

#include <memory>
#include <type_traits>

namespace qv::test {

// A kernel object handle (process, event, file) closed when it goes out of scope.
struct HandleCloser {
  void operator()(HANDLE handle) const { CloseHandle(handle); }
};
using OwnedHandle = std::unique_ptr<std::remove_pointer_t<HANDLE>, HandleCloser>;

}  // namespace qv::test
