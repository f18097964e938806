// The read-back window's validity flag, which a copy sharing the object's handle or staging
// buffer may clear from another thread while the object reads it.
#pragma once

#include <Kestro32.h>

#include <atomic>

namespace kestro {

inline std::atomic_ref<int> WindowFlag(CKestro32& volume) {
  return std::atomic_ref<int>(volume.m_bWindowValid);
}

inline bool WindowIsValid(const CKestro32& volume) {
  return WindowFlag(const_cast<CKestro32&>(volume)).load(std::memory_order_acquire) != 0;
}

}  // namespace kestro
