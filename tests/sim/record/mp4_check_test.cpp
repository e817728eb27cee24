// The MP4 check on files built box by box: what ffmpeg writes passes, and
// every way a file can fall short of a whole video of the frames sent is
// named.
#include "sim/record/mp4_check.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <fstream>
#include <string>
#include <string_view>

#include "tests/support/folders.h"

namespace {

std::string be32(std::uint64_t value) {
  std::string bytes(4, '\0');
  for (int i = 3; i >= 0; --i, value >>= 8)
    bytes[static_cast<std::size_t>(i)] = static_cast<char>(value & 0xff);
  return bytes;
}

std::string box(std::string_view type, std::string_view content) {
  return be32(8 + content.size()) + std::string(type) + std::string(content);
}

// A movie box with one track of `handler`'s kind and `frames` samples of
// `sample_bytes` each, listed one by one as ffmpeg lists them.
std::string moov(std::uint64_t frames, std::string_view handler = "vide",
                 std::uint64_t sample_bytes = 10) {
  std::string sizes;
  for (std::uint64_t i = 0; i < frames; ++i) sizes += be32(sample_bytes);
  const std::string stsz = box("stsz", be32(0) + be32(0) + be32(frames) + sizes);
  const std::string hdlr =
      box("hdlr", be32(0) + be32(0) + std::string(handler) + std::string(12, '\0') + "name");
  const std::string trak =
      box("trak", box("tkhd", std::string(84, '\0')) +
                      box("mdia", box("mdhd", std::string(24, '\0')) + hdlr +
                                      box("minf", box("stbl", box("stts", be32(0)) + stsz))));
  return box("moov", box("mvhd", std::string(100, '\0')) + trak);
}

const std::string ftyp = box("ftyp", std::string("isom\0\0\2\0isomiso2", 16));
std::string mdat(std::uint64_t bytes) { return box("mdat", std::string(bytes, 'x')); }

// The problem mp4_check finds in `bytes` as a file, for `frames` frames sent.
std::string problem(const std::string &bytes, std::int64_t frames) {
  static const std::filesystem::path folder = support::fresh_folder("mp4_check");
  const std::filesystem::path path = folder / "video.mp4";
  { std::ofstream(path, std::ios::binary) << bytes; }
  const int file = ::open(path.c_str(), O_RDONLY);
  const std::string found = sim::mp4_problem(file, frames);
  ::close(file);
  return found;
}

TEST(Mp4Check, AWholeVideoOfTheFramesSentPassesHoweverItsBoxesAreLaidOut) {
  // As ffmpeg writes it (media first, the movie's description at the end),
  // with the description first, with a 64-bit media box, and with a last box
  // whose size says "to the end of the file".
  const std::string large_mdat =
      be32(1) + "mdat" + std::string(4, '\0') + be32(16 + 30) + std::string(30, 'x');
  const std::string open_ended = be32(0) + "mdat" + std::string(30, 'x');
  for (const std::string &file :
       {ftyp + box("free", "") + mdat(30) + moov(3), ftyp + moov(3) + mdat(30),
        ftyp + large_mdat + moov(3), ftyp + moov(3) + open_ended})
    EXPECT_EQ(problem(file, 3), "");
}

TEST(Mp4Check, EveryWayAFileFallsShortOfTheVideoIsNamed) {
  const std::string whole = ftyp + mdat(300) + moov(30);
  const std::pair<std::string, std::string> cases[] = {
      {"", "it is empty"},
      // Fewer frames than were sent, or more.
      {ftyp + mdat(290) + moov(29), "it holds 29 frames, not the 30 sent"},
      {ftyp + mdat(310) + moov(31), "it holds 31 frames, not the 30 sent"},
      // Cut short at its end, or in a box's header.
      {whole.substr(0, whole.size() - 1), "moov box at byte 332 claims"},
      {whole.substr(0, ftyp.size() + 4), "ends in the middle of a box header, at byte 24"},
      // ffmpeg killed before it wrote the movie's description.
      {ftyp + mdat(300), "it has no moov box"},
      {mdat(300) + ftyp + moov(30), "it does not begin with an ftyp box"},
      {ftyp + mdat(300) + moov(30, "soun"), "it has no video track"},
      // The frames' sizes claim more than the media data holds.
      {ftyp + mdat(100) + moov(30), "its frames claim 300 bytes of media data, and it holds 100"},
      {ftyp + mdat(0) + moov(30, "vide", 0), "its frames claim 0 bytes of media data"}};
  for (const auto &[file, words] : cases)
    EXPECT_NE(problem(file, 30).find(words), std::string::npos)
        << words << ": " << problem(file, 30);
}

}  // namespace
