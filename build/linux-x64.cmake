# Linux, x86_64: the 64-bit layout (16-byte variables, 8-byte slots).
set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
set(LERPWORK_WARNINGS -Wall -Wextra -Werror CACHE STRING "")
