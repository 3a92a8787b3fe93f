#pragma once
// Pendrix: digests of texts. The one export the program binds to.
#ifdef __cplusplus
extern "C" {
#endif

// Writes the MD5 digest of the NUL-terminated text as 32 upper-case
// hexadecimal digits and a NUL into out (at least 33 bytes). Returns 0.
__attribute__((visibility("default"))) int MD5Generate(const char* text, char* out);

#ifdef __cplusplus
}
#endif
