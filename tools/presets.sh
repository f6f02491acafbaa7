# The presets the two top-level commands walk, and how each shows its
# deliverable to a host. Sourced by build-all.sh and test-all.sh.

# Presets that build a deliverable.
LERPWORK_PRESETS=(linux-x64 linux-x86 windows-x86 macos)
# Presets that only test (sanitizers and the like).
LERPWORK_TEST_ONLY_PRESETS=(linux-sanitize)

show_host_view() {
  local preset=$1
  echo "=== host view: $preset"
  case "$preset" in
    # The library in the native host probe; the script-API reference once, with the first build.
    linux-*)
      tools/lerpwork-host "out/$preset/Lerpwork.so" || echo "(host checks failed for out/$preset/Lerpwork.so)"
      if [ "$preset" = linux-x64 ]; then
        echo "=== script API reference (out/$preset/Lerpwork.so)"
        tools/lerpwork-host --markdown "out/$preset/Lerpwork.so" || true
      fi;;
    # The DLL in the Windows host probe, run under Wine.
    windows-x86) tools/lerpwork-host out/windows-x86/Lerpwork.dll || echo "(host checks failed for out/windows-x86/Lerpwork.dll)";;
    # Both slices of the universal file, each in the emulated macOS host.
    macos) tools/lerpwork-host out/macos/Lerpwork.dylib || echo "(host checks failed for out/macos/Lerpwork.dylib)";;
  esac
}
