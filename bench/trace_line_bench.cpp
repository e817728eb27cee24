// One trace line, as the stand-in writes one per library call: its own
// writer against the JSON library it uses for report.json, both writing to
// /dev/null. The ratio says whether the trace can afford the library.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>

#include "sim/trace.h"

namespace {

constexpr float position = 1.2803061f;

void BM_trace_line_own_writer(benchmark::State &state) {
  sim::Trace trace;
  trace.open("/dev/null");
  std::int64_t step = 0;
  for (auto _ : state) {
    trace.call(step++, "servo_set_position")
        .field("tag", std::int64_t{10})
        .field("position", position)
        .end();
  }
  trace.close();
}
BENCHMARK(BM_trace_line_own_writer);

void BM_trace_line_json_library(benchmark::State &state) {
  std::FILE *file = std::fopen("/dev/null", "wb");
  std::int64_t step = 0;
  for (auto _ : state) {
    nlohmann::ordered_json line;
    line["step"] = step++;
    line["op"] = "servo_set_position";
    line["tag"] = 10;
    line["position"] = position;
    const std::string text = line.dump() + "\n";
    std::fwrite(text.data(), 1, text.size(), file);
  }
  std::fclose(file);
}
BENCHMARK(BM_trace_line_json_library);

}  // namespace
