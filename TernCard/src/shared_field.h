// Context fields that the snap-ex polling thread reads while the
// application's thread may be starting or stopping the card (the number
// query takes none of the application's locks). They are read and written
// through atomic references; the context's byte layout stays as it is.
#pragma once

#include <atomic>

namespace terncard {

template <typename T>
T loadShared(const T& field) {
  return std::atomic_ref<T>(const_cast<T&>(field)).load(std::memory_order_relaxed);
}

template <typename T>
void storeShared(T& field, T value) {
  std::atomic_ref<T>(field).store(value, std::memory_order_relaxed);
}

}  // namespace terncard
