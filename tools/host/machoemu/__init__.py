"""The emulated macOS host: a Mach-O loader stand-in over the unicorn CPU
emulator, and the host's part played inside it (see host.py)."""
