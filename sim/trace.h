// The trace: one JSON object per line for every library call, in call order,
// so tests can read exactly what the controller did and when.
#pragma once

#include <cstdint>
#include <cstdio>
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
  class Line {
   public:
    Line &field(std::string_view key, std::string_view text);
    Line &field(std::string_view key, std::int64_t number);
    Line &field(std::string_view key, double number);
    // Floats are written as the shortest text that reads back as the same float.
    Line &field(std::string_view key, float number);
    void end();

   private:
    friend class Trace;
    explicit Line(Trace *trace) : trace_(trace) {}
    // Appends a key with a value that is already JSON.
    Line &raw(std::string_view key, std::string_view json_value);
    Trace *trace_;
  };
  Line call(std::int64_t step, std::string_view op);

 private:
  std::FILE *file_ = nullptr;
  std::string line_;
  bool write_failed_ = false;
};

// JSON string body for text (quotes not included), escaping what JSON needs.
void append_json_string(std::string &out, std::string_view text);
// Shortest text that reads back as the same number; a non-finite value, which
// JSON cannot hold as a number, becomes the string "nan", "inf" or "-inf".
std::string format_number(double value);
std::string format_number(float value);

}  // namespace sim
