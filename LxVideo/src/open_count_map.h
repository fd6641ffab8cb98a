// "OpenCountMap": named shared memory with one 32-bit counter per global
// card number (1 to 128) of the handles open for that card, across all
// processes of the machine.
#pragma once

#include <cstdint>

namespace lxvideo {

inline constexpr int kMostCardIndex = 128;
inline constexpr uint32_t kOpenCountMapBytes = 1024;

// Both return false when the map cannot be opened or mapped.
bool addOpenCount(int cardIndex);
bool dropOpenCount(int cardIndex);  // never below 0
bool readOpenCount(int cardIndex, uint32_t* count);

}  // namespace lxvideo
