#pragma once

#include <cstdint>
#include <string>
#include <vector>

// RIFF chunks that say more about a WAV file's sound than its format: where it comes from
// in its source (the Broadcast WAV "bext" chunk, whose time reference audio editors line
// files up by) and where the pieces of a joined file begin (a "cue " chunk with a
// "LIST"/"adtl" chunk of labels, which audio editors show as markers).
namespace WavChunks {

struct CuePoint {
    uint32_t frame = 0;  // the sample frame of the data where it lies
    std::string label;
};

// A bext chunk (version 1): the description and the time reference, the first sample's
// place in the source as a count of sample frames from its start.
std::vector<uint8_t> Bext(const std::string& description, uint64_t timeReference);
// The cue chunk and the list of the points' labels, numbered from 1.
std::vector<uint8_t> Cues(const std::vector<CuePoint>& points);

}  // namespace WavChunks
