/* Definitions shared by every public header. */
#ifndef VELMORA_DEFS_H
#define VELMORA_DEFS_H

/* Interface functions never let a C++ exception escape; C++ callers see that
 * in the declaration, C callers see nothing. */
#ifdef __cplusplus
#define VELMORA_NOEXCEPT noexcept
#else
#define VELMORA_NOEXCEPT
#endif

#endif
