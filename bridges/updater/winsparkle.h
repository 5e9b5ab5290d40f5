// The updater library's C interface: the calls of WinSparkle's interface that
// the program makes, with the same names, signatures and calling convention,
// so the program would run unchanged against either library.
//
// All calls return at once. The check with its own user interface opens the
// updater's window on a thread of its own; automatic checks run on another.
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

#ifdef BUILDING_WIN_SPARKLE
#define WIN_SPARKLE_API __declspec(dllexport)
#else
#define WIN_SPARKLE_API __declspec(dllimport)
#endif

// Starts the updater: with automatic checks on, checks at most once a day
// (the first start only records the time) and shows its window when a newer
// version is found.
WIN_SPARKLE_API void __cdecl win_sparkle_init(void);
// Ends checks and closes the window; returns within a few seconds.
WIN_SPARKLE_API void __cdecl win_sparkle_cleanup(void);
// The feed's address (UTF-8). Only https addresses are fetched.
WIN_SPARKLE_API void __cdecl win_sparkle_set_appcast_url(const char* url);
// 1: automatic checks on; 0: off. Set before win_sparkle_init.
WIN_SPARKLE_API void __cdecl win_sparkle_set_automatic_check_for_updates(int state);
// Opens the updater's window and checks now; returns at once.
WIN_SPARKLE_API void __cdecl win_sparkle_check_update_with_ui(void);

#ifdef __cplusplus
}
#endif
