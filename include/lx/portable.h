// Constructs the public headers share so that they read the same from C11 and
// from C++11 or later: layout checks and integer enumerations of a fixed width.
#pragma once

#ifdef __cplusplus
#define LX_STATIC_ASSERT(condition, message) static_assert(condition, message)
#else
#define LX_STATIC_ASSERT(condition, message) _Static_assert(condition, message)
#endif

// LX_ENUM(Name) { VALUE = n, ... };
// C++: a 32-bit enumeration type. C: Name is int32_t and the values are
// enumerators of a companion enumeration, so records and signatures keep the
// same width in both languages.
#ifdef __cplusplus
#define LX_ENUM(name) enum name : int32_t
#else
#define LX_ENUM(name) \
  typedef int32_t name; \
  enum name##Value
#endif
