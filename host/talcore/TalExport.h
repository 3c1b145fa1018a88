// Export attribute of the host's platform libraries. The platform is one shared library that the
// host and the plug-in module both link against; everything it offers is marked TAL_API.
#pragma once

#if defined(_WIN32)
#if defined(VEKTA_PLATFORM_BUILDING)
#define TAL_API __declspec(dllexport)
#else
#define TAL_API __declspec(dllimport)
#endif
#else
#define TAL_API __attribute__((visibility("default")))
#endif
