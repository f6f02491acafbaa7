#pragma once
// Included ahead of every source of the macOS slices.

// Number constructors run in each unit's load-time initialiser, so the
// engine package objects and the constant tables start as zero storage and
// are filled at load, in unit order.
#define S3DX_NUMBER_CONSTEXPR

// The engine package constructors stay functions of their own (hidden, weak)
// instead of being folded into the initialiser that calls them.
#define S3DX_HIDDEN __attribute__((visibility("hidden"), noinline))
