#pragma once

// Where the preview player is, as its transport buttons and menu see it.
enum class PlayState {
    Stopped,  // loaded, not playing; after Stop it is held paused at position 0
    Paused,   // paused by the user, or held at the end of a played range
    Running,  // playing
    Closed,   // nothing loaded
};
