#pragma once

// Counts the calls of our code into libmpv's synchronous property and command functions
// made on the GUI thread while armed: this test program defines those functions itself,
// counts, and hands each call on to libmpv.
namespace MpvCalls {

void Arm(bool on);
int Count();
// The names of the counted calls so far, for a failure's message.
const char* Last();

}  // namespace MpvCalls
