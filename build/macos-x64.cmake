# macOS, x86_64 slice: the 64-bit layout (16-byte variables, 8-byte slots),
# cross-built with clang and ld64.lld against the stub libraries of
# build/macos/stubs.
set(LERPWORK_MACOS_ARCH x86_64)
set(LERPWORK_MACOS_LINKER ld64.lld-19)
include(${CMAKE_CURRENT_LIST_DIR}/macos/toolchain.cmake)
