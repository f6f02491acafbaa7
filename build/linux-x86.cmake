# Linux, i386: the 32-bit layout (8-byte variables, 4-byte slots). SSE
# arithmetic keeps float results single precision, as on the other 32-bit
# targets, instead of the x87's wider intermediates.
set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
set(CMAKE_C_FLAGS_INIT "-m32 -msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-m32 -msse2 -mfpmath=sse")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-m32")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-m32")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-m32")
set(LERPWORK_WARNINGS -Wall -Wextra -Werror CACHE STRING "")
