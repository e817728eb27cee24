#include "sim/record/mp4_check.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <optional>
#include <string_view>
#include <vector>

#include "sim/system/files.h"

namespace sim {

namespace {

// A box: its four-letter type, and where its content lies in the bytes it
// was found in.
struct Box {
  std::string type;
  std::uint64_t start = 0;  // of the content, after the header
  std::uint64_t size = 0;   // of the content
};

std::uint64_t big_endian(const unsigned char *bytes, int count) {
  std::uint64_t value = 0;
  for (int i = 0; i < count; ++i) value = value << 8 | bytes[i];
  return value;
}

// The boxes that tile `length` bytes read by `read` (offset, count, into):
// none, with `why` said, where a box header is cut short or a box runs past
// the end.
template <typename Read>
std::optional<std::vector<Box>> boxes_of(std::uint64_t length, Read read, std::string &why) {
  std::vector<Box> boxes;
  for (std::uint64_t at = 0; at < length;) {
    unsigned char header[16];
    if (length - at < 8 || !read(at, 8, header)) {
      why = "it ends in the middle of a box header, at byte " + std::to_string(at);
      return std::nullopt;
    }
    std::uint64_t size = big_endian(header, 4);
    std::uint64_t header_size = 8;
    if (size == 1) {  // a 64-bit size follows the type
      if (length - at < 16 || !read(at + 8, 8, header + 8)) {
        why = "it ends in the middle of a box header, at byte " + std::to_string(at);
        return std::nullopt;
      }
      size = big_endian(header + 8, 8);
      header_size = 16;
    } else if (size == 0) {  // the last box, up to the end
      size = length - at;
    }
    const std::string type(reinterpret_cast<const char *>(header + 4), 4);
    if (size < header_size || size > length - at) {
      why = "its " + type + " box at byte " + std::to_string(at) + " claims " +
            std::to_string(size) + " bytes, and only " + std::to_string(length - at) + " are left";
      return std::nullopt;
    }
    boxes.push_back({type, at + header_size, size - header_size});
    at += size;
  }
  return boxes;
}

const Box *find(const std::vector<Box> &boxes, std::string_view type) {
  for (const Box &box : boxes)
    if (box.type == type) return &box;
  return nullptr;
}

// The boxes inside `parent`, a box of the bytes in `data`.
std::optional<std::vector<Box>> inside(const std::string &data, const Box &parent,
                                       std::string &why) {
  std::optional<std::vector<Box>> found = boxes_of(
      parent.size,
      [&](std::uint64_t at, std::size_t count, unsigned char *into) {
        for (std::size_t i = 0; i < count; ++i)
          into[i] = static_cast<unsigned char>(data[parent.start + at + i]);
        return true;
      },
      why);
  if (!found) return std::nullopt;
  for (Box &box : *found) box.start += parent.start;
  return found;
}

// The first box of `type` inside `parent`, a box of the bytes in `data`.
std::optional<Box> child(const std::string &data, const std::optional<Box> &parent,
                         std::string_view type, std::string &why) {
  if (!parent) return std::nullopt;
  const std::optional<std::vector<Box>> children = inside(data, *parent, why);
  if (!children) return std::nullopt;
  if (const Box *found = find(*children, type)) return *found;
  return std::nullopt;
}

// A whole number of `count` bytes at `offset` in a box's content, if it
// holds that many.
std::optional<std::uint64_t> number_in(const std::string &data, const Box &box,
                                       std::uint64_t offset, int count) {
  if (offset + static_cast<std::uint64_t>(count) > box.size) return std::nullopt;
  return big_endian(reinterpret_cast<const unsigned char *>(data.data() + box.start + offset),
                    count);
}

// A video track's samples: how many, and their bytes in all.
struct Samples {
  std::uint64_t count = 0;
  std::uint64_t bytes = 0;
};
// The samples of the trak box `trak` in the moov box's bytes, none for a
// track of another kind; `why` says what is wrong with a broken one.
std::optional<Samples> video_samples(const std::string &moov, const Box &trak, std::string &why) {
  const std::optional<Box> mdia = child(moov, trak, "mdia", why);
  const std::optional<Box> hdlr = child(moov, mdia, "hdlr", why);
  // The handler's type follows its version, flags and a reserved word.
  if (!hdlr || hdlr->size < 12 || moov.compare(hdlr->start + 8, 4, "vide") != 0)
    return std::nullopt;
  const std::optional<Box> stsz =
      child(moov, child(moov, child(moov, mdia, "minf", why), "stbl", why), "stsz", why);
  // Version and flags, then one size for every sample (or 0), and the count.
  const std::optional<std::uint64_t> each = stsz ? number_in(moov, *stsz, 4, 4) : std::nullopt;
  const std::optional<std::uint64_t> count = stsz ? number_in(moov, *stsz, 8, 4) : std::nullopt;
  if (!each || !count) {
    why = "its video track has no table of samples";
    return std::nullopt;
  }
  Samples samples{*count, *each * *count};
  if (*each == 0)
    for (std::uint64_t i = 0; i < *count; ++i) {
      const std::optional<std::uint64_t> size = number_in(moov, *stsz, 12 + 4 * i, 4);
      if (!size) {
        why = "its video track's table of samples is cut short";
        return std::nullopt;
      }
      samples.bytes += *size;
    }
  return samples;
}

}  // namespace

std::string mp4_problem(int file, std::int64_t frames) {
  struct stat about {};
  if (::fstat(file, &about) != 0) return "it cannot be read (" + system_reason(errno) + ")";
  const auto length = static_cast<std::uint64_t>(about.st_size);
  if (length == 0) return "it is empty";
  std::string why;
  const auto read = [&](std::uint64_t at, std::size_t count, unsigned char *into) {
    for (std::size_t done = 0; done < count;) {
      const ssize_t got = ::pread(file, into + done, count - done, static_cast<off_t>(at + done));
      if (got <= 0 && !(got < 0 && errno == EINTR)) return false;
      if (got > 0) done += static_cast<std::size_t>(got);
    }
    return true;
  };
  const std::optional<std::vector<Box>> top = boxes_of(length, read, why);
  if (!top) return why;
  if (top->front().type != "ftyp") return "it is no MP4 file: it does not begin with an ftyp box";
  std::uint64_t media_bytes = 0;
  int movies = 0;
  for (const Box &box : *top) {
    if (box.type == "mdat") media_bytes += box.size;
    movies += box.type == "moov";
  }
  if (movies != 1)
    return movies == 0 ? "it has no moov box, which every player needs to open it"
                       : "it has " + std::to_string(movies) + " moov boxes";
  // The movie's description is small beside its frames: a few bytes a frame.
  const Box &moov_box = *find(*top, "moov");
  constexpr std::uint64_t largest_moov = 256u << 20;
  if (moov_box.size > largest_moov)
    return "its moov box claims " + std::to_string(moov_box.size) + " bytes";
  std::string moov(moov_box.size, '\0');
  if (!read(moov_box.start, moov.size(), reinterpret_cast<unsigned char *>(moov.data())))
    return "it cannot be read (" + last_system_reason() + ")";
  const Box whole{"moov", 0, moov.size()};
  const std::optional<std::vector<Box>> tracks = inside(moov, whole, why);
  if (!tracks) return why;
  std::optional<Samples> video;
  for (const Box &box : *tracks)
    if (box.type == "trak" && !video) {
      video = video_samples(moov, box, why);
      if (!why.empty()) return why;
    }
  if (!video) return "it has no video track";
  if (video->count != static_cast<std::uint64_t>(frames))
    return "it holds " + std::to_string(video->count) + " frames, not the " +
           std::to_string(frames) + " sent";
  if (video->bytes > media_bytes || (frames > 0 && video->bytes == 0))
    return "its frames claim " + std::to_string(video->bytes) +
           " bytes of media data, and it holds " + std::to_string(media_bytes);
  return "";
}

}  // namespace sim
