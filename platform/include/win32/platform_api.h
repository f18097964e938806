// Marks what the platform layer's shared library exports: its functions and the backend classes.
#pragma once

#if defined(_WIN32)
#if defined(KESTROPLAT_EXPORTS)
#define KESTROPLAT_API __declspec(dllexport)
#else
#define KESTROPLAT_API __declspec(dllimport)
#endif
#else
#define KESTROPLAT_API __attribute__((visibility("default")))
#endif
