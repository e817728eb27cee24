#include "sim/trace.h"

#include <charconv>
#include <cmath>

namespace sim {

Trace::~Trace() { close(); }

bool Trace::open(const std::string &path) {
  close();
  file_ = std::fopen(path.c_str(), "wb");
  write_failed_ = false;
  return file_ != nullptr;
}

bool Trace::close() {
  if (file_ == nullptr) return true;
  const bool closed = std::fclose(file_) == 0;
  file_ = nullptr;
  return closed && !write_failed_;
}

Trace::Line Trace::call(std::int64_t step, std::string_view op) {
  if (file_ == nullptr) return Line(nullptr);
  line_.clear();
  line_ += "{\"step\":";
  line_ += std::to_string(step);
  Line line(this);
  line.field("op", op);
  return line;
}

Trace::Line &Trace::Line::raw(std::string_view key, std::string_view json_value) {
  if (trace_ == nullptr) return *this;
  std::string &out = trace_->line_;
  out += ",\"";
  out += key;
  out += "\":";
  out += json_value;
  return *this;
}

Trace::Line &Trace::Line::field(std::string_view key, std::string_view text) {
  if (trace_ == nullptr) return *this;
  std::string quoted = "\"";
  append_json_string(quoted, text);
  quoted += '"';
  return raw(key, quoted);
}

Trace::Line &Trace::Line::field(std::string_view key, std::int64_t number) {
  return raw(key, std::to_string(number));
}

Trace::Line &Trace::Line::field(std::string_view key, double number) {
  return raw(key, format_number(number));
}

Trace::Line &Trace::Line::field(std::string_view key, float number) {
  return raw(key, format_number(number));
}

void Trace::Line::end() {
  if (trace_ == nullptr) return;
  trace_->line_ += "}\n";
  const std::string &text = trace_->line_;
  if (std::fwrite(text.data(), 1, text.size(), trace_->file_) != text.size())
    trace_->write_failed_ = true;
}

void append_json_string(std::string &out, std::string_view text) {
  static constexpr char hex[] = "0123456789abcdef";
  for (const char ch : text) {
    const auto byte = static_cast<unsigned char>(ch);
    switch (ch) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\r':
        out += "\\r";
        break;
      default:
        if (byte < 0x20) {
          out += "\\u00";
          out += hex[byte >> 4];
          out += hex[byte & 15];
        } else {
          out += ch;
        }
    }
  }
}

namespace {
template <typename Number>
std::string shortest(Number value) {
  if (std::isnan(value)) return "\"nan\"";
  if (std::isinf(value)) return value > 0 ? "\"inf\"" : "\"-inf\"";
  char buffer[32];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}
}  // namespace

std::string format_number(double value) { return shortest(value); }
std::string format_number(float value) { return shortest(value); }

}  // namespace sim
