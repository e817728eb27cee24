#include "sim/record/outputs.h"

#include <regex>

namespace sim {

bool is_stand_in_output(std::string_view name) {
  static const std::regex ours(
      R"((trace\.jsonl|report\.json|state\.csv|run\.mp4|world\.xml|top_view\.png|joints\.png|)"
      R"(frame_\d{6}_(left|right|forward)(_look|_reach)?\.png))");
  return std::regex_match(OutputFolder::output_named(name), ours);
}

void OutputSink::complete(const std::string &name, std::string failure) const {
  if (failure.empty()) failure = folder_.commit(name);
  if (!failure.empty()) failed_(name, failure);
}

void OutputSink::write(const std::string &name, std::string_view content) const {
  if (const std::string failure = folder_.write(name, content); !failure.empty())
    failed_(name, failure);
}

}  // namespace sim
