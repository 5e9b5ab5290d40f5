// The program's side of the updater: the feed address and the five calls
// into the updater library (WinSparkle.dll, loaded at run time from the
// program's own folder only; without it the program runs on without
// updates, logged).
#pragma once

#include <string>

// The feed server's host name: a build setting (TESS_UPDATE_FEED_HOST).
extern const char kUpdateFeedHost[];

// "https://" host "/file_system/apt_repository/dists/WZJ01" ["_Internal"]
// "/released/binary-i386/" language ".appcast.xml".
std::string BuildAppcastUrl(const std::string& host, bool internalFeed, const std::string& language);

// The main window's start-up step: the feed of the program's language
// (string 345 of its table; the internal feed when txTestSSU is set),
// automatic checks on, updater started. Called on the UI thread.
void StartUpdater(const std::wstring& language);
// The "check for updates" command: the updater's own window; returns at once.
void CheckForUpdatesWithUi();
// The main window's teardown: ends the updater's checks and window (bounded).
void StopUpdater();
