#pragma once

#include <string>
#include <utility>
#include <vector>

// What the libraries under the program say on their own (Qt, FFmpeg, libmpv, ALSA,
// PipeWire): nothing on a user's terminal unless asked for. A machine without a sound
// device or a GPU otherwise gets a screenful of probing failures with every preview.
//
//   ORVANE_LOG=warn (or 1)  their errors and warnings on stderr
//   ORVANE_LOG=debug        also what they say on the way, libmpv's and FFmpeg's verbose lines
//   unset (or 0)            nothing, except the reason before a fatal end
namespace LibraryLog {

enum class Level { Quiet, Warn, Debug };

// The level that ORVANE_LOG asks for.
Level LevelFor(const char* value);
Level CurrentLevel();

// Reads ORVANE_LOG and routes each library's messages: first thing in main, before the
// application object, FFmpeg or libmpv start (PipeWire reads its level once, at its start).
void Start();

// libmpv options that make its core as quiet or as talkative as the level; the core's
// terminal output is off without them.
std::vector<std::pair<std::string, std::string>> MpvOptions();

// libmpv takes FFmpeg's log over when a core starts, and once that core is gone prints
// every message of every level itself: to be called after each core has started.
void ReclaimLibavLog();

}  // namespace LibraryLog
