#include "sim/record/trace.h"

#include <charconv>
#include <cmath>
#include <cstring>

#include "sim/core/utf8.h"
#include "sim/record/report_numbers.h"

namespace sim {

namespace {
// Lines are gathered here and written out a buffer at a time.
constexpr std::size_t buffer_bytes = std::size_t{1} << 16;
// The most a field's text can grow when escaped: a control byte becomes \u00XX.
constexpr std::size_t escaped_bytes_per_byte = 6;
// Room for any number: an int64 is at most 20 characters, the shortest text of
// a double at most 24, a non-finite one at most 6 with its quotes.
constexpr std::size_t number_bytes = 32;

// Fixed pieces of JSON, copied as constants.
template <std::size_t N>
char *copy(char *out, const char (&text)[N]) {
  std::memcpy(out, text, N - 1);
  return out + N - 1;
}

// Keys are a few bytes: a loop, not a library call.
char *copy_short(char *out, std::string_view text) {
  for (const char ch : text) *out++ = ch;
  return out;
}

// Writes the JSON string body for text (quotes not included) at out; returns
// the end of what it wrote, at most escaped_bytes_per_byte * text.size() on.
// A byte that is no part of valid UTF-8 becomes U+FFFD, and `replaced` says
// there was one.
char *write_json_string(char *out, std::string_view text, bool &replaced) {
  static constexpr char hex[] = "0123456789abcdef";
  for (std::size_t at = 0; at < text.size(); ++at) {
    const char ch = text[at];
    const auto byte = static_cast<unsigned char>(ch);
    if (byte >= 0x80) {
      const std::size_t length = utf8_sequence_at(text, at);
      if (length == 0) {
        out = copy(out, "\xef\xbf\xbd");
        replaced = true;
        continue;
      }
      out = copy_short(out, text.substr(at, length));
      at += length - 1;
      continue;
    }
    if (byte >= 0x20 && ch != '"' && ch != '\\') {
      *out++ = ch;
      continue;
    }
    switch (ch) {
      case '"':
        out = copy(out, "\\\"");
        break;
      case '\\':
        out = copy(out, "\\\\");
        break;
      case '\n':
        out = copy(out, "\\n");
        break;
      case '\t':
        out = copy(out, "\\t");
        break;
      case '\r':
        out = copy(out, "\\r");
        break;
      default:
        out = copy(out, "\\u00");
        *out++ = hex[byte >> 4];
        *out++ = hex[byte & 15];
    }
  }
  return out;
}

// The shortest text that reads back as value, or the quoted name of a
// non-finite value; at most number_bytes at out.
template <typename Number>
char *write_number(char *out, Number value) {
  if (std::isnan(value)) return copy(out, "\"nan\"");
  if (std::isinf(value)) return value > 0 ? copy(out, "\"inf\"") : copy(out, "\"-inf\"");
  return std::to_chars(out, out + number_bytes, value).ptr;
}

// `,"key":` at out.
char *write_key(char *out, std::string_view key) {
  out = copy(out, ",\"");
  out = copy_short(out, key);
  return copy(out, "\":");
}
constexpr std::size_t key_bytes(std::string_view key) { return key.size() + 4; }
}  // namespace

TraceRecorder::TraceRecorder(const OutputSink &outputs)
    : file_(outputs, "trace.jsonl"),
      buffer_(std::make_unique<char[]>(buffer_bytes)),
      capacity_(buffer_bytes) {}

void TraceRecorder::on_call(const CallEvent &call) {
  begin_line(call.step, call.op);
  for (const CallField &field : call.fields) {
    if (const auto *text = std::get_if<std::string_view>(&field.value))
      put_text(field.key, *text);
    else if (const auto *integer = std::get_if<std::int64_t>(&field.value))
      put_integer(field.key, *integer);
    else
      put_number(field.key, std::get<float>(field.value));
  }
  end_line();
}

void TraceRecorder::on_target_move(const TargetMove &move) {
  begin_line(move.step, "target_move");
  put_integer("target", static_cast<std::int64_t>(move.target));
  put_number("from_x", report_metres(move.from.x));
  put_number("from_y", report_metres(move.from.y));
  put_number("to_x", report_metres(move.to.x));
  put_number("to_y", report_metres(move.to.y));
  end_line();
}

void TraceRecorder::on_end(const RunRecord & /*run*/) {
  write_out();
  file_.complete();
}

inline char *TraceRecorder::room(std::size_t n) {
  if (capacity_ - used_ < n) make_room(n);
  return buffer_.get() + used_;
}

void TraceRecorder::make_room(std::size_t n) {
  write_out();
  if (capacity_ < n) {
    buffer_ = std::make_unique<char[]>(n);
    capacity_ = n;
  }
}

void TraceRecorder::write_out() {
  if (used_ == 0) return;
  file_.write(buffer_.get(), used_);
  used_ = 0;
}

void TraceRecorder::begin_line(std::int64_t step, std::string_view op) {
  char *const start = room(std::string_view("{\"step\":").size() + number_bytes + key_bytes("op") +
                           2 + escaped_bytes_per_byte * op.size());
  char *out = copy(start, "{\"step\":");
  out = std::to_chars(out, out + number_bytes, step).ptr;
  out = write_key(out, "op");
  *out++ = '"';
  bool replaced = false;  // operation names are the stand-in's own, always ASCII
  out = write_json_string(out, op, replaced);
  *out++ = '"';
  used_ += static_cast<std::size_t>(out - start);
}

void TraceRecorder::put_text(std::string_view key, std::string_view text) {
  char *const start = room(key_bytes(key) + 2 + escaped_bytes_per_byte * text.size());
  char *out = write_key(start, key);
  *out++ = '"';
  bool replaced = false;
  out = write_json_string(out, text, replaced);
  *out++ = '"';
  used_ += static_cast<std::size_t>(out - start);
  if (replaced) put_original_bytes(key, text);
}

void TraceRecorder::put_original_bytes(std::string_view key, std::string_view text) {
  constexpr std::string_view suffix = "_hex";
  char *const start = room(key_bytes(key) + suffix.size() + 2 + 2 * text.size());
  char *out = copy(start, ",\"");
  out = copy_short(out, key);
  out = copy_short(out, suffix);
  out = copy(out, "\":\"");
  out = copy_short(out, hex_bytes(text));
  *out++ = '"';
  used_ += static_cast<std::size_t>(out - start);
}

void TraceRecorder::put_integer(std::string_view key, std::int64_t number) {
  char *const start = room(key_bytes(key) + number_bytes);
  char *out = write_key(start, key);
  out = std::to_chars(out, out + number_bytes, number).ptr;
  used_ += static_cast<std::size_t>(out - start);
}

void TraceRecorder::put_number(std::string_view key, float number) {
  char *const start = room(key_bytes(key) + number_bytes);
  const char *const out = write_number(write_key(start, key), number);
  used_ += static_cast<std::size_t>(out - start);
}

void TraceRecorder::put_number(std::string_view key, double number) {
  char *const start = room(key_bytes(key) + number_bytes);
  const char *const out = write_number(write_key(start, key), number);
  used_ += static_cast<std::size_t>(out - start);
}

void TraceRecorder::end_line() {
  char *const start = room(2);
  used_ += static_cast<std::size_t>(copy(start, "}\n") - start);
}

}  // namespace sim
