# Linux, x86_64, under AddressSanitizer and UndefinedBehaviorSanitizer: the
# 64-bit layout of linux-x64, built by clang so that the test suite and the
# libFuzzer targets run with every memory and undefined-behaviour check on.
# Any finding ends the process (no recovery), so a test cannot pass over one.
set(CMAKE_C_COMPILER clang-19)
set(CMAKE_CXX_COMPILER clang++-19)
set(LERPWORK_SANITIZE_FLAGS "-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer")
set(CMAKE_C_FLAGS_INIT "${LERPWORK_SANITIZE_FLAGS}")
set(CMAKE_CXX_FLAGS_INIT "${LERPWORK_SANITIZE_FLAGS}")
set(CMAKE_EXE_LINKER_FLAGS_INIT "${LERPWORK_SANITIZE_FLAGS}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${LERPWORK_SANITIZE_FLAGS}")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "${LERPWORK_SANITIZE_FLAGS}")
# The value type declares its copy assignment (an exported member on Windows)
# and leaves the copy constructor implicit, which clang's -Wextra flags as
# deprecated; the pair is kept as the host SDK declares it.
set(LERPWORK_WARNINGS -Wall -Wextra -Werror -Wno-deprecated-copy CACHE STRING "")
# The allocation-counting test replaces malloc and operator new, which the
# sanitizer's own allocator must own: it is left out here.
set(LERPWORK_COUNT_ALLOCATIONS OFF CACHE BOOL "")
# Code that only dlopens the library cannot link the type information the
# vptr check needs (it lives in the library): that check is off there.
set(LERPWORK_DLOPEN_OPTIONS -fno-sanitize=vptr CACHE STRING "")
