// Internal: the process's table of kernel-object handles.
//
// Every kind of kernel object of the layer (threads here; device files, file
// mappings, mutexes ... in other parts) derives from KernelObject and is
// registered with insertHandle, which returns the HANDLE value given to the
// caller. CloseHandle removes the value from the table and calls the object's
// onClose; WaitForSingleObject calls the object's wait. The table holds one
// std::shared_ptr per handle; a lookup returns a shared_ptr of its own, so an
// object stays alive while a call that looked it up is still using it, even if
// another thread closes the handle meanwhile. The object's destructor runs
// when the last of these references goes.
//
// Handle values: never 0, multiples of 4 (never equal to an HGLOBAL of the
// layer, whose values are 2 mod 4), below 2^31 (so a 32-bit truncation or a
// sign-extending round trip gives the same handle), never (HANDLE)-1 or -2.
// Bits 2-14 are a generation counter, bits 15-30 the slot index; freed slots
// are reused in FIFO order only after all 65536 slots have been used once, so
// a stale value of a closed handle does not name a new object for a long time.
// All functions are thread safe; none of them is called with the table's mutex
// held by the caller's code (onClose and wait run without it).
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>

namespace lx::win32 {

enum class HandleKind : uint32_t {
  Thread = 1,
  DeviceFile = 2,   // CreateFileA on a device (machine client)
  File = 3,         // CreateFileA on a file
  FileMapping = 4,  // CreateFileMappingA / OpenFileMappingA
  Mutex = 5,        // CreateMutexA / OpenMutexA
  Event = 6,
  Other = 100,      // free for further kinds
};

class KernelObject {
 public:
  explicit KernelObject(HandleKind kind) : kind_(kind) {}
  virtual ~KernelObject() = default;
  KernelObject(const KernelObject&) = delete;
  KernelObject& operator=(const KernelObject&) = delete;

  HandleKind kind() const { return kind_; }

  // Called by CloseHandle once the handle has left the table (its value is
  // already invalid for other threads). Its result is CloseHandle's result; on
  // FALSE it should have called SetLastError. Default: TRUE.
  virtual BOOL onClose() { return TRUE; }

  // WaitForSingleObject on a handle of this object: return WAIT_OBJECT_0,
  // WAIT_TIMEOUT, WAIT_ABANDONED or WAIT_FAILED (with SetLastError).
  // Default: not waitable, WAIT_FAILED with ERROR_INVALID_HANDLE.
  virtual DWORD wait(DWORD milliseconds);

 private:
  const HandleKind kind_;
};

// Registers the object under a new handle value. Null (with
// ERROR_NOT_ENOUGH_MEMORY) when the table is full or object is null.
HANDLE insertHandle(std::shared_ptr<KernelObject> object);

// The object behind an open handle, or null with ERROR_INVALID_HANDLE.
std::shared_ptr<KernelObject> lookupHandle(HANDLE handle);

// The object behind an open handle of the given kind, as T; null with
// ERROR_INVALID_HANDLE when the handle is not open or of another kind.
template <class T>
std::shared_ptr<T> lookupHandleAs(HANDLE handle, HandleKind kind) {
  std::shared_ptr<KernelObject> object = lookupHandle(handle);
  if (!object) return nullptr;
  if (object->kind() != kind) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return std::static_pointer_cast<T>(object);
}

// Takes the handle out of the table and returns its object (the caller holds
// the last table reference); null with ERROR_INVALID_HANDLE when not open.
// CloseHandle uses it; other code normally does not need it.
std::shared_ptr<KernelObject> removeHandle(HANDLE handle);

// Number of open handles (for tests and diagnostics).
size_t openHandleCount();

}  // namespace lx::win32
