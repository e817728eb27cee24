// trace.jsonl: one JSON object per line for every library call, in call
// order, so tests can read exactly what the controller did and when.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

#include "sim/record/outputs.h"
#include "sim/record/record_file.h"
#include "sim/record/recorder.h"

namespace sim {

class TraceRecorder final : public Recorder {
 public:
  // Starts trace.jsonl. Throws RunError when it cannot be written.
  explicit TraceRecorder(const OutputSink &outputs);

  // One line: the step, the operation and its fields, in their order.
  // Floats are written as the shortest text that reads back as the same
  // float.
  void on_call(const CallEvent &call) override;
  void on_target_move(const TargetMove &move) override;
  void on_end(const RunRecord &run) override;

 private:
  void begin_line(std::int64_t step, std::string_view op);
  // A text field. Text that is not valid UTF-8 is written with U+FFFD for
  // each stray byte, followed by the field key + "_hex": the original bytes
  // in hexadecimal, so that every line is UTF-8 JSON and nothing is lost.
  void put_text(std::string_view key, std::string_view text);
  void put_original_bytes(std::string_view key, std::string_view text);
  void put_integer(std::string_view key, std::int64_t number);
  void put_number(std::string_view key, float number);
  void put_number(std::string_view key, double number);
  void end_line();
  // Room for n more bytes at the end of the buffer, writing it out first (or
  // growing it, for a line longer than the buffer) when there is not.
  char *room(std::size_t n);
  void make_room(std::size_t n);
  void write_out();

  RecordFile file_;
  std::unique_ptr<char[]> buffer_;
  std::size_t capacity_ = 0;
  std::size_t used_ = 0;
};

}  // namespace sim
