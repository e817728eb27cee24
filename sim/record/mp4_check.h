// Whether a file is a whole MP4 video, read from its structure alone: a
// program that claims to have written one may have left nothing, or a file
// cut short.
#pragma once

#include <cstdint>
#include <string>

namespace sim {

// Empty when the file open at `file` is an MP4 file whose top-level boxes
// (an ftyp first, one moov, media data) tile it exactly, with a video track
// of `frames` samples whose bytes the media data holds; otherwise what is
// wrong with it, e.g. "it is empty" or "it holds 3 frames, not 300".
std::string mp4_problem(int file, std::int64_t frames);

}  // namespace sim
