// Export marker for the plain C entry points of the stack's libraries.
#pragma once

#ifdef __cplusplus
#define LX_EXPORT extern "C" __attribute__((visibility("default")))
#else
#define LX_EXPORT __attribute__((visibility("default")))
#endif
