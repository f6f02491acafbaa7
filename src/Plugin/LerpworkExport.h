#pragma once
// Export mark of the plug-in layer: what the Windows build keeps inside the
// DLL (the host reaches the plug-in only through GetPlugin and virtual calls)
// and the other builds publish with default visibility.

#if defined(_WIN32)
#  define LERPWORK_API
#else
#  define LERPWORK_API __attribute__((visibility("default")))
#endif
