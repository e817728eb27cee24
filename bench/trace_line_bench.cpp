// One trace line, as the stand-in writes one per library call: its own
// writer, into a file, against the JSON library it uses for report.json,
// writing to /dev/null. The ratio says whether the trace can afford the
// library.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>

#include "sim/record/outputs.h"
#include "sim/record/trace.h"

namespace {

constexpr float position = 1.2803061f;

void BM_trace_line_own_writer(benchmark::State &state) {
  const std::filesystem::path folder = std::filesystem::temp_directory_path() /
                                       ("reacher_trace_line_bench_" + std::to_string(getpid()));
  {
    const sim::OutputFolder out(folder.string(), sim::is_stand_in_output);
    const sim::OutputSink outputs(out, [](const std::string &, const std::string &) {});
    sim::TraceRecorder trace(outputs);
    std::int64_t step = 0;
    for (auto _ : state) {
      const sim::CallField fields[] = {{"tag", std::int64_t{10}}, {"position", position}};
      trace.on_call({step++, "servo_set_position", fields});
    }
  }
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
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
