// The trace: one JSON object per line for every library call, in call order,
// so tests can read exactly what the controller did and when.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

namespace sim {

class Trace {
 public:
  Trace() = default;
  ~Trace();
  Trace(const Trace &) = delete;
  Trace &operator=(const Trace &) = delete;

  // Starts writing to path; returns false when it cannot be opened.
  bool open(const std::string &path);
  bool is_open() const { return file_ != nullptr; }
  // False if any line could not be written, or the file not be completed.
  bool close();

  // A record under construction: `trace.call(step, "op").field(...).end()`.
  // Fields go straight into the trace's buffer as they come; on a trace that
  // is not open, a line does nothing at all, not even format its fields.
  class Line {
   public:
    Line &field(std::string_view key, std::string_view text) {
      if (trace_ != nullptr) trace_->put_text(key, text);
      return *this;
    }
    Line &field(std::string_view key, std::int64_t number) {
      if (trace_ != nullptr) trace_->put_integer(key, number);
      return *this;
    }
    Line &field(std::string_view key, double number) {
      if (trace_ != nullptr) trace_->put_number(key, number);
      return *this;
    }
    // Floats are written as the shortest text that reads back as the same float.
    Line &field(std::string_view key, float number) {
      if (trace_ != nullptr) trace_->put_number(key, number);
      return *this;
    }
    void end() {
      if (trace_ != nullptr) trace_->end_line();
    }

   private:
    friend class Trace;
    explicit Line(Trace *trace) : trace_(trace) {}
    Trace *trace_;
  };
  Line call(std::int64_t step, std::string_view op) {
    if (file_ == nullptr) return Line(nullptr);
    begin_line(step, op);
    return Line(this);
  }

 private:
  void begin_line(std::int64_t step, std::string_view op);
  void put_text(std::string_view key, std::string_view text);
  void put_integer(std::string_view key, std::int64_t number);
  void put_number(std::string_view key, double number);
  void put_number(std::string_view key, float number);
  void end_line();
  // Room for n more bytes at the end of the buffer, writing it out first (or
  // growing it, for a line longer than the buffer) when there is not.
  char *room(std::size_t n);
  void make_room(std::size_t n);
  void write_out();

  std::FILE *file_ = nullptr;
  std::unique_ptr<char[]> buffer_;
  std::size_t capacity_ = 0;
  std::size_t used_ = 0;
  bool write_failed_ = false;
};

}  // namespace sim
