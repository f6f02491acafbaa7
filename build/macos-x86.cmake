# macOS, i386 slice: the 32-bit layout (8-byte variables, 4-byte slots). The
# current ld64.lld links no i386 Mach-O, so this slice goes through the older
# ld64.lld of LLVM 13. SSE arithmetic keeps float results single precision,
# as on every other target.
set(LERPWORK_MACOS_ARCH i386)
set(LERPWORK_MACOS_LINKER /usr/lib/llvm-13/bin/ld64.lld.darwinold)
set(LERPWORK_MACOS_ARCH_FLAGS "-msse2 -mfpmath=sse")
include(${CMAKE_CURRENT_LIST_DIR}/macos/toolchain.cmake)
