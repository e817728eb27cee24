#include "sim/world/toml_depth.h"

#include <cctype>

namespace sim {

namespace {

// A scan of TOML's structure alone: keys, headers, strings and the brackets
// of values, never what a value means. It recurses once per array or inline
// table, and stops before it goes past the limit.
class Scan {
 public:
  Scan(std::string_view text, std::size_t limit) : text_(text), limit_(limit) {}

  std::optional<TooDeep> run() {
    std::size_t table = 0;  // depth of the current table header
    while (ok_ && !too_deep_ && !done()) {
      spaces();
      if (done()) break;
      if (newline() || comment()) continue;
      if (peek() == '[') {
        ++at_;
        const bool array = peek() == '[';
        if (array) ++at_;
        spaces();
        table = key() + (array ? 1 : 0);
        deeper(table);
        spaces();
        ok_ = ok_ && take(']') && (!array || take(']'));
      } else {
        const std::size_t depth = table + key();
        deeper(depth);
        spaces();
        ok_ = ok_ && take('=');
        if (ok_ && !too_deep_) value(depth);
      }
      spaces();
      if (ok_ && !too_deep_ && !done() && !comment() && !newline()) ok_ = false;
    }
    if (too_deep_) return TooDeep{line_};
    return std::nullopt;
  }

 private:
  bool done() const { return at_ >= text_.size(); }
  char peek() const { return done() ? '\0' : text_[at_]; }
  bool take(char wanted) {
    if (peek() != wanted) return false;
    ++at_;
    return true;
  }
  // An escape's backslash may be the text's last byte, and the scan steps
  // past the end.
  bool starts(std::string_view word) const {
    return !done() && text_.substr(at_).starts_with(word);
  }
  void deeper(std::size_t depth) {
    if (ok_ && depth > limit_) too_deep_ = true;
  }

  void spaces() {
    while (peek() == ' ' || peek() == '\t') ++at_;
  }
  bool newline() {
    if (starts("\r\n")) ++at_;
    if (!take('\n')) return false;
    ++line_;
    return true;
  }
  bool comment() {
    if (peek() != '#') return false;
    while (!done() && peek() != '\n') ++at_;
    return true;
  }
  // Blank space where an array allows it: spaces, line ends and comments.
  void blank() {
    for (;;) {
      spaces();
      if (!newline() && !comment()) return;
    }
  }

  // A quoted string of any of TOML's four kinds; a multi-line one may end
  // with up to two more quotes of its own.
  void string() {
    const char quote = peek();
    const std::string_view three = quote == '"' ? R"(""")" : "'''";
    if (starts(three)) {
      at_ += 3;
      while (!done() && !starts(three)) {
        if (quote == '"' && peek() == '\\') ++at_;
        if (peek() == '\n') ++line_;
        ++at_;
      }
      ok_ = ok_ && starts(three);
      at_ += 3;
      for (int more = 0; more < 2 && peek() == quote; ++more) ++at_;
      return;
    }
    ++at_;
    while (!done() && peek() != quote && peek() != '\n') {
      if (quote == '"' && peek() == '\\') ++at_;
      ++at_;
    }
    ok_ = ok_ && take(quote);
  }

  // A key, dotted or not: its number of parts, 0 if there is none here.
  std::size_t key() {
    std::size_t parts = 0;
    for (;;) {
      spaces();
      if (peek() == '"' || peek() == '\'') {
        string();
      } else {
        const std::size_t start = at_;
        while (!done() && (std::isalnum(static_cast<unsigned char>(peek())) != 0 || peek() == '_' ||
                           peek() == '-'))
          ++at_;
        if (at_ == start) ok_ = false;
      }
      if (!ok_) return 0;
      ++parts;
      spaces();
      if (!take('.')) return parts;
    }
  }

  // A value whose own depth is `depth`.
  void value(std::size_t depth) {
    spaces();
    if (peek() == '"' || peek() == '\'') return string();
    if (take('[')) {
      deeper(depth + 1);
      for (blank(); ok_ && !too_deep_ && !take(']'); blank()) {
        value(depth + 1);
        blank();
        if (!take(',')) {
          ok_ = ok_ && take(']');
          return;
        }
      }
      return;
    }
    if (take('{')) {
      spaces();
      if (take('}')) return;
      while (ok_ && !too_deep_) {
        const std::size_t inner = depth + key();
        deeper(inner);
        spaces();
        ok_ = ok_ && take('=');
        if (!ok_ || too_deep_) return;
        value(inner);
        spaces();
        if (!take(',')) {
          ok_ = ok_ && take('}');
          return;
        }
      }
      return;
    }
    // A number, a date, a boolean: up to where the value ends.
    const std::size_t start = at_;
    while (!done() && peek() != ',' && peek() != ']' && peek() != '}' && peek() != '#' &&
           peek() != '\n' && peek() != '\r')
      ++at_;
    if (at_ == start) ok_ = false;
  }

  std::string_view text_;
  std::size_t limit_;
  std::size_t at_ = 0;
  std::size_t line_ = 1;
  bool ok_ = true;  // false once the text is not TOML as far as the scan can tell
  bool too_deep_ = false;
};

}  // namespace

std::optional<TooDeep> nested_deeper_than(std::string_view text, std::size_t limit) {
  return Scan(text, limit).run();
}

}  // namespace sim
