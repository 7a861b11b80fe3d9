#pragma once

// Work nobody waits for (the waveform) runs below the threads a user waits for: on a
// machine whose cores are all decoding, the dialog still answers at once. Threads the
// calling thread starts afterwards inherit the lower priority.
namespace ThreadPriority {

void LowerForBackgroundWork();

}  // namespace ThreadPriority
