// The settings every capture of this program runs with: the main window
// applies them to its component after building it, netvane-dump applies the
// same ones so that both capture alike, and files written from a capture
// carry the snapshot length.
#pragma once

namespace netvane::capture_settings {

inline constexpr int kMaxPacketsPerCall = 50;  // frames taken per read of the driver
inline constexpr int kReadTimeOutMs = 50;      // how long a read waits for the first frame
inline constexpr int kSnapshotLength = 20000;  // bytes kept of each frame
inline constexpr int kPollPauseMs = 100;       // the worker's pause between reads

}  // namespace netvane::capture_settings
