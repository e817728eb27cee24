// The run's outputs in its folder: which file names are the stand-in's, how a
// recorder completes a file or reports it lost, and what gives way when the
// disk fills up.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "sim/system/output_folder.h"

namespace sim {

// Whether a file name is one the stand-in writes (or leaves half-written
// after a crash), so that a new run may remove it.
bool is_stand_in_output(std::string_view name);

// How much an output is worth when there is not room for all of them: 0 is
// the most valuable. report.json comes first, then the trace (its end says
// how the run ended), the two pictures, the state log, the model file, the
// camera frames and last the video.
int output_rank(std::string_view name);

// Where recorders write: the output folder, and the run's way of reporting an
// output that could not be written.
//
// A full disk takes the least valuable outputs first. An output written over
// the run (the trace, the state log, the video) keeps its partial file open
// until it completes; when an output finds no space, the least valuable of
// those below it is given up, its partial file emptied and removed, and the
// write tried again. The outputs above the state log (report.json, the trace,
// the two pictures) may also take the place of finished outputs below them:
// the camera frames, then world.xml. A lost output's partial file is always removed, so its space
// serves the rest; and once the disk has been found full, camera frames are
// no longer saved, since each would take space the trace and the report need.
class OutputSink {
 public:
  using Failed = std::function<void(const std::string &name, const std::string &reason)>;
  OutputSink(const OutputFolder &folder, Failed failed)
      : folder_(folder), failed_(std::move(failed)) {}
  ~OutputSink();
  OutputSink(const OutputSink &) = delete;
  OutputSink &operator=(const OutputSink &) = delete;

  const std::string &path() const { return folder_.path(); }
  // The output's partial file made new for writing: a file descriptor, or -1
  // with errno set (see OutputFolder::create). It counts as open, and may be
  // given up for a more valuable output, until complete() or lose().
  int create(std::string_view name, int access) const;
  // Renames the output written under its partial name into place, or
  // reports why it is missing: `failure`, or the rename's own reason.
  void complete(const std::string &name, std::string failure) const;
  // An open output that cannot be finished: its partial file goes at once,
  // and its loss is reported.
  void lose(const std::string &name, const std::string &reason) const;
  // Whether an open output was given up to make room for another; its writer
  // then stops writing.
  bool given_up(std::string_view name) const;
  // A write of `needed` bytes of `name` found the disk full: gives up the
  // least valuable output ranked below it that may give way to it. False when
  // there is none, or when giving up every finished one would still not make
  // room for those bytes.
  bool make_room(std::string_view name, std::uint64_t needed) const;
  // Removes the partial file of an output that was never begun after all:
  // no loss to report, and nothing left open to give up.
  void discard(const std::string &name) const;
  // Writes a whole output: partial, then renamed; or reports its loss.
  void write(const std::string &name, std::string_view content) const;
  // The same for a picture, whose drawing gives no bytes when it failed.
  void write_picture(const std::string &name, std::string_view png) const;

  // Once the run is over and something was lost: which outputs were kept and
  // which lost, e.g. "kept report.json and trace.jsonl; lost state.csv".
  // Empty when nothing was lost.
  std::string outcome() const;

 private:
  struct Open {
    std::string name;
    int file = -1;  // a descriptor of its own, to empty the file when it is given up
  };
  void close_open(std::string_view name) const;
  void lost(const std::string &name, const std::string &reason) const;

  const OutputFolder &folder_;
  Failed failed_;
  // The sink's bookkeeping changes as recorders write through it.
  mutable std::vector<Open> open_;
  mutable std::vector<std::string> given_up_;
  mutable std::vector<std::string> kept_;
  mutable std::vector<std::string> lost_;
  mutable std::int64_t frames_not_saved_ = 0;
  mutable bool full_ = false;
};

// Whether an errno means the disk (or the user's quota) has no room left.
bool is_out_of_space(int error);

}  // namespace sim
