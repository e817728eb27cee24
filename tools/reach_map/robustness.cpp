#include "tools/reach_map/robustness.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <numbers>
#include <set>

#include "sim/core/factors.h"
#include "sim/core/legs.h"
#include "sim/core/random_stream.h"
#include "sim/record/report_numbers.h"
#include "tools/reach_map/reach_map.h"

namespace sim::reach_map {

namespace {

using nlohmann::ordered_json;

// A whole number of --vary's: all of the text, and finite.
std::optional<double> number_in(const std::string &text) {
  double value = 0.0;
  const char *end = text.data() + text.size();
  const std::from_chars_result read = std::from_chars(text.data(), end, value);
  if (text.empty() || read.ec != std::errc() || read.ptr != end || !std::isfinite(value))
    return std::nullopt;
  return value;
}

std::string known_keys(EngineKind engine, Torso torso) {
  std::string keys;
  for (const FactorKey &key : factor_keys())
    if (factor_meaningless(key, engine, torso).empty())
      keys += (keys.empty() ? "" : ", ") + std::string(key.path);
  return keys;
}

double rounded_value(double value) { return std::round(value * 1e6) / 1e6; }

double share(int part, int whole) { return static_cast<double>(part) / whole; }

ordered_json rate_json(int part, int whole) {
  return whole > 0 ? ordered_json(std::round(1e4 * share(part, whole)) / 1e4)
                   : ordered_json(nullptr);
}

std::string percent(int part, int whole) {
  if (whole == 0) return "no";
  char text[32];
  std::snprintf(text, sizeof text, "%.1f %%", 100.0 * share(part, whole));
  return text;
}

// Appends the list's elements each on a line of its own, so robustness.json
// reads and greps as tables.
void append_lines(std::string &out, const char *name, const ordered_json &list, bool last) {
  out += std::string(",\n  \"") + name + "\": [";
  for (std::size_t i = 0; i < list.size(); ++i)
    out += (i == 0 ? "\n    " : ",\n    ") + list[i].dump();
  out += list.empty() ? "]" : "\n  ]";
  if (last) out += "\n}\n";
}

const char *side_name(const std::optional<int> &leg) {
  return !leg ? nullptr : *leg == 0 ? "left" : "right";
}

// The runs and hits of each bin, robot s counted in bin bin_of[s].
struct Tally {
  std::vector<int> runs, hits;
  Tally(const std::vector<std::size_t> &bin_of, const std::vector<RobotRuns> &robots,
        std::size_t bins)
      : runs(bins, 0), hits(bins, 0) {
    for (std::size_t s = 0; s < robots.size(); ++s) {
      runs[bin_of[s]] += robots[s].runs;
      hits[bin_of[s]] += robots[s].hits;
    }
  }
  // What the other bins' runs would have hit at the best bin's rate.
  double hits_lost() const {
    double best = 0.0, lost = 0.0;
    for (std::size_t b = 0; b < runs.size(); ++b)
      if (runs[b] > 0) best = std::max(best, share(hits[b], runs[b]));
    for (std::size_t b = 0; b < runs.size(); ++b)
      if (runs[b] > 0) lost += best * runs[b] - hits[b];
    return lost;
  }
  // How far the bins' hit rates spread about the whole's, each weighed by
  // its runs.
  double spread() const {
    int all_runs = 0, all_hits = 0;
    for (std::size_t b = 0; b < runs.size(); ++b) {
      all_runs += runs[b];
      all_hits += hits[b];
    }
    const double whole = share(all_hits, all_runs);
    double sum = 0.0;
    for (std::size_t b = 0; b < runs.size(); ++b)
      if (runs[b] > 0) sum += runs[b] * std::pow(share(hits[b], runs[b]) - whole, 2);
    return sum;
  }
};

// How often chance alone spreads the bins as far: the share of 999 deals of
// the key's values to the robots at random whose bins spread at least as
// far as the map's (a permutation test). The deals come from the map's seed
// and the key's place, so the same map gives the same figure.
constexpr int chance_deals = 999;
double chance_of(std::vector<std::size_t> bin_of, const std::vector<RobotRuns> &robots,
                 std::size_t bins, std::uint64_t seed) {
  const double seen = Tally(bin_of, robots, bins).spread();
  RandomStream random(seed);
  int as_far = 0;
  for (int deal = 0; deal < chance_deals; ++deal) {
    for (std::size_t i = bin_of.size(); i-- > 1;) {
      const auto j = static_cast<std::size_t>(random.uniform() * static_cast<double>(i + 1));
      std::swap(bin_of[i], bin_of[std::min(j, i)]);
    }
    as_far += Tally(bin_of, robots, bins).spread() >= seen * (1.0 - 1e-12);
  }
  return (as_far + 1.0) / (chance_deals + 1.0);
}

}  // namespace

std::string key_label(const std::string &key) {
  const FactorKey *factor = factor_key(key);
  if (factor == nullptr || factor->unit.empty()) return key;
  return key + " (" + std::string(factor->unit) + ")";
}

Varied parse_vary(const std::string &text, EngineKind engine, Torso torso) {
  const std::size_t equals = text.find('=');
  const std::size_t colon = equals == std::string::npos ? equals : text.find(':', equals);
  if (colon == std::string::npos)
    throw MapError("--vary wants KEY=LOW:HIGH (e.g. robot.friction=0.2:0.8), not '" + text + "'");
  Varied varied{text.substr(0, equals), 0.0, 0.0};
  const FactorKey *key = factor_key(varied.key);
  if (key == nullptr)
    throw MapError("--vary " + text + ": " + varied.key +
                   " is no world key a map varies; it varies " + known_keys(engine, torso));
  if (const std::string why = factor_meaningless(*key, engine, torso); !why.empty())
    throw MapError("--vary " + text + ": " + varied.key + " " + why);
  const std::optional<double> low = number_in(text.substr(equals + 1, colon - equals - 1));
  const std::optional<double> high = number_in(text.substr(colon + 1));
  if (!low || !high) throw MapError("--vary " + text + ": LOW and HIGH must be numbers");
  if (*low > *high) throw MapError("--vary " + text + ": LOW is above HIGH");
  if (*low < key->low || *high > key->high)
    throw MapError("--vary " + text + ": " + varied.key + " must stay from " +
                   factor_range_text(*key) + " (" + std::string(key->what) + ")");
  varied.low = *low;
  varied.high = *high;
  return varied;
}

std::vector<Robot> sample_robots(const std::vector<Varied> &vary, int count, std::int64_t seed) {
  if (vary.empty()) throw MapError("no key to vary");
  std::set<std::string> keys;
  for (const Varied &v : vary)
    if (!keys.insert(v.key).second) throw MapError("--vary names " + v.key + " twice");
  if (count < 1 || count > most_robots)
    throw MapError("--samples wants a whole number from 1 to " + std::to_string(most_robots) +
                   ", not " + std::to_string(count));
  if (seed < 0) throw MapError("--seed wants a whole number from 0");
  RandomStream random(static_cast<std::uint64_t>(seed));
  std::vector<Robot> robots(static_cast<std::size_t>(count));
  for (const Varied &v : vary) {
    // Each stratum once, in an order of their own (Fisher and Yates).
    std::vector<int> strata(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) strata[static_cast<std::size_t>(i)] = i;
    for (std::size_t i = strata.size(); i-- > 1;) {
      const auto j = static_cast<std::size_t>(random.uniform() * static_cast<double>(i + 1));
      std::swap(strata[i], strata[std::min(j, i)]);
    }
    for (std::size_t r = 0; r < robots.size(); ++r) {
      const double at = (strata[r] + random.uniform()) / count;
      robots[r].values.push_back(
          std::clamp(rounded_value(v.low + (v.high - v.low) * at), v.low, v.high));
    }
  }
  // The robots' seeds from a stream of their own: adding a key changes no seed.
  std::uint64_t seeds = static_cast<std::uint64_t>(seed) ^ 0x726f626f74736565ull;
  for (Robot &robot : robots) robot.seed = static_cast<std::int64_t>(splitmix(seeds) >> 1);
  return robots;
}

int bin_count(int robots) { return std::clamp(robots / 2, 1, 8); }

std::optional<double> Bin::rate() const {
  return runs > 0 ? std::optional(share(hits, runs)) : std::nullopt;
}

std::optional<double> Bin::inside_rate() const {
  return inside_runs > 0 ? std::optional(share(inside_hits, inside_runs)) : std::nullopt;
}

Robustness assess(const Settings &settings, const std::vector<Outcome> &outcomes) {
  const std::size_t robot_count = settings.robots.size();
  if (robot_count == 0 || outcomes.size() % robot_count != 0)
    throw MapError("a robustness map's runs do not make whole points");
  Robustness r;
  r.robots.resize(robot_count);
  for (std::size_t first = 0; first < outcomes.size(); first += robot_count) {
    PointRuns point;
    point.point = outcomes[first].point;
    point.well_inside = outcomes[first].well_inside;
    int left = 0, right = 0;
    for (std::size_t s = 0; s < robot_count; ++s) {
      const Outcome &o = outcomes[first + s];
      ++point.runs;
      point.hits += o.hit();
      if (o.leg) (*o.leg == 0 ? left : right) += 1;
      RobotRuns &robot = r.robots[s];
      ++robot.runs;
      robot.hits += o.hit();
      robot.inside_runs += o.well_inside;
      robot.inside_hits += o.well_inside && o.hit();
    }
    if (left + right > 0) point.leg = left >= right ? 0 : 2;
    r.runs += point.runs;
    r.hits += point.hits;
    r.inside_points += point.well_inside;
    r.inside_runs += point.well_inside ? point.runs : 0;
    r.inside_hits += point.well_inside ? point.hits : 0;
    r.points.push_back(point);
  }

  const int bins = bin_count(static_cast<int>(robot_count));
  for (std::size_t k = 0; k < settings.vary.size(); ++k) {
    const Varied &v = settings.vary[k];
    KeyEffect effect;
    effect.varied = v;
    effect.bins.resize(v.high > v.low ? static_cast<std::size_t>(bins) : 1u);
    // Edges rounded as the values are, so a value on an edge falls in the
    // bin above it whatever the arithmetic's last bit.
    const auto edge = [&](std::size_t b) {
      return b == effect.bins.size()
                 ? v.high
                 : rounded_value(v.low + (v.high - v.low) * static_cast<double>(b) /
                                             static_cast<double>(effect.bins.size()));
    };
    std::vector<std::vector<double>> inside_rates(effect.bins.size());
    for (std::size_t b = 0; b < effect.bins.size(); ++b) {
      effect.bins[b].low = b == 0 ? v.low : edge(b);
      effect.bins[b].high = edge(b + 1);
    }
    std::vector<std::size_t> bin_of(robot_count);
    for (std::size_t s = 0; s < robot_count; ++s) {
      const double value = settings.robots[s].values[k];
      std::size_t b = effect.bins.size() - 1;
      while (b > 0 && value < effect.bins[b].low) --b;
      bin_of[s] = b;
      Bin &bin = effect.bins[b];
      const RobotRuns &robot = r.robots[s];
      ++bin.robots;
      bin.runs += robot.runs;
      bin.hits += robot.hits;
      bin.inside_runs += robot.inside_runs;
      bin.inside_hits += robot.inside_hits;
      if (robot.inside_runs > 0)
        inside_rates[b].push_back(share(robot.inside_hits, robot.inside_runs));
    }
    for (std::size_t b = 0; b < effect.bins.size(); ++b) {
      const std::vector<double> &rates = inside_rates[b];
      if (rates.size() < 2) continue;
      double mean = 0.0;
      for (const double rate : rates) mean += rate / static_cast<double>(rates.size());
      double squares = 0.0;
      for (const double rate : rates) squares += (rate - mean) * (rate - mean);
      const double n = static_cast<double>(rates.size());
      effect.bins[b].inside_error = std::sqrt(squares / (n - 1.0) / n);
    }
    for (std::size_t b = 0; b < effect.bins.size(); ++b)
      if (effect.bins[b].rate() &&
          (!effect.best || *effect.bins[b].rate() > *effect.bins[*effect.best].rate()))
        effect.best = b;
    effect.cost =
        static_cast<int>(std::lround(Tally(bin_of, r.robots, effect.bins.size()).hits_lost()));
    effect.chance = chance_of(bin_of, r.robots, effect.bins.size(),
                              static_cast<std::uint64_t>(settings.seed) ^ (k + 1));
    r.keys.push_back(std::move(effect));
  }
  // The key that costs most hits beyond what chance gives; failing that,
  // the one that costs most.
  for (std::size_t k = 0; k < r.keys.size(); ++k) {
    const KeyEffect &effect = r.keys[k];
    if (effect.cost == 0) continue;
    if (!r.costliest) {
      r.costliest = k;
      continue;
    }
    const KeyEffect &now = r.keys[*r.costliest];
    if (effect.beyond_chance() != now.beyond_chance() ? effect.beyond_chance()
                                                      : effect.cost > now.cost)
      r.costliest = k;
  }
  return r;
}

std::string robustness_json(const Settings &settings, const Robustness &r) {
  ordered_json head;
  head["engine"] = engine_name(settings.engine);
  if (settings.engine == EngineKind::physics) head["torso"] = torso_name(settings.torso);
  head["spacing"] = report_metres(settings.spacing());
  head["radius"] = report_metres(settings.radius);
  head["step_bound"] = settings.step_bound;
  head["camera"] = {{"width", settings.camera_width}, {"height", settings.camera_height}};
  head["sampling"] = "latin hypercube, uniform in each range";
  head["samples"] = settings.robots.size();
  head["seed"] = settings.seed;
  ordered_json vary = ordered_json::array();
  for (const Varied &v : settings.vary) {
    const FactorKey *key = factor_key(v.key);
    vary.push_back({{"key", v.key},
                    {"low", v.low},
                    {"high", v.high},
                    {"unit", key ? std::string(key->unit) : ""},
                    {"model", key ? ordered_json(key->model()) : ordered_json(nullptr)}});
  }
  head["vary"] = std::move(vary);
  ordered_json costliest = nullptr;
  if (r.costliest)
    costliest = {{"key", r.keys[*r.costliest].varied.key},
                 {"hits", r.keys[*r.costliest].cost},
                 {"p", r.keys[*r.costliest].chance}};
  head["summary"] = {{"points", r.points.size()},
                     {"runs", r.runs},
                     {"hits", r.hits},
                     {"hit_rate", rate_json(r.hits, r.runs)},
                     {"well_inside",
                      {{"points", r.inside_points},
                       {"runs", r.inside_runs},
                       {"hits", r.inside_hits},
                       {"hit_rate", rate_json(r.inside_hits, r.inside_runs)}}},
                     {"costliest", std::move(costliest)}};
  std::string out = head.dump(2);
  out.erase(out.rfind('}'));
  while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();

  ordered_json keys = ordered_json::array();
  for (const KeyEffect &effect : r.keys) {
    ordered_json bins = ordered_json::array();
    for (const Bin &bin : effect.bins)
      bins.push_back({{"low", bin.low},
                      {"high", bin.high},
                      {"robots", bin.robots},
                      {"runs", bin.runs},
                      {"hits", bin.hits},
                      {"hit_rate", rate_json(bin.hits, bin.runs)},
                      {"well_inside_runs", bin.inside_runs},
                      {"well_inside_hits", bin.inside_hits},
                      {"well_inside_hit_rate", rate_json(bin.inside_hits, bin.inside_runs)},
                      {"well_inside_error",
                       bin.inside_error ? ordered_json(std::round(1e4 * *bin.inside_error) / 1e4)
                                        : ordered_json(nullptr)}});
    keys.push_back({{"key", effect.varied.key},
                    {"cost", effect.cost},
                    {"p", effect.chance},
                    {"bins", std::move(bins)}});
  }
  append_lines(out, "keys", keys, false);

  ordered_json robots = ordered_json::array();
  for (std::size_t s = 0; s < settings.robots.size(); ++s) {
    ordered_json values;
    for (std::size_t k = 0; k < settings.vary.size(); ++k)
      values[settings.vary[k].key] = settings.robots[s].values[k];
    const RobotRuns &runs = r.robots[s];
    robots.push_back({{"robot", s},
                      {"values", std::move(values)},
                      {"seed", settings.robots[s].seed},
                      {"runs", runs.runs},
                      {"hits", runs.hits},
                      {"well_inside_runs", runs.inside_runs},
                      {"well_inside_hits", runs.inside_hits}});
  }
  append_lines(out, "robots", robots, false);

  ordered_json points = ordered_json::array();
  for (const PointRuns &p : r.points) {
    const char *side = side_name(p.leg);
    points.push_back({{"x", report_metres(p.point.x)},
                      {"y", report_metres(p.point.y)},
                      {"side", side ? ordered_json(side) : ordered_json(nullptr)},
                      {"runs", p.runs},
                      {"hits", p.hits},
                      {"well_inside", p.well_inside}});
  }
  append_lines(out, "points", points, true);
  return out;
}

std::string robustness_summary_line(const Settings &settings, const Robustness &r) {
  char head[200];
  std::snprintf(head, sizeof head,
                "robustness map (%s engine%s, %g mm grid, %zu points x %zu robots): ",
                engine_name(settings.engine),
                settings.engine != EngineKind::physics ? ""
                : settings.torso == Torso::fixed       ? ", robot on a stand"
                                                       : ", robot on its feet",
                settings.spacing() * 1000.0, r.points.size(), settings.robots.size());
  std::string line = head;
  line += percent(r.hits, r.runs) + " of " + std::to_string(r.runs) + " runs hit; ";
  line += r.inside_runs == 0 ? std::string("no disc lies well inside a view and the feet's reach; ")
                             : "discs well inside a view and the feet's reach: " +
                                   percent(r.inside_hits, r.inside_runs) + " of " +
                                   std::to_string(r.inside_runs) + " runs hit; ";
  if (!r.costliest) return line + "no varied key costs a hit";
  const KeyEffect &worst = r.keys[*r.costliest];
  const Bin &best = worst.bins[*worst.best];
  char range[96];
  std::snprintf(range, sizeof range, "%.6g to %.6g", best.low, best.high);
  char chance[160];
  std::snprintf(chance, sizeof chance,
                worst.beyond_chance()
                    ? "; p = %.3f: chance alone spreads its bins so far in %.1f %% of deals"
                    : "; p = %.3f: chance alone spreads its bins as far in %.0f %% of deals, so "
                      "no key is shown to cost hits",
                worst.chance, 100.0 * worst.chance);
  return line + "the key that costs most hits: " + worst.varied.key + ", " +
         std::to_string(worst.cost) + " hits against its best values (" + range + ")" + chance;
}

std::vector<Vec2> well_inside_outline(const Settings &settings, View view) {
  const std::optional<std::array<Vec2, 4>> corners = footprint(settings, view);
  if (!corners) return {};
  // The reach's circle as a fine polygon, cut by each footprint edge moved
  // inwards by the radius (a convex polygon clipped by half-planes).
  const Vec3 rest = rest_point(view == View::left ? 0 : 2);
  const double reach = foot_reach - settings.radius;
  if (reach <= 0.0) return {};
  std::vector<Vec2> shape;
  constexpr int sides = 720;
  for (int i = 0; i < sides; ++i) {
    const double a = 2.0 * std::numbers::pi * i / sides;
    shape.push_back({rest.x + reach * std::cos(a), rest.y + reach * std::sin(a)});
  }
  double area = 0.0;
  for (std::size_t i = 0; i < 4; ++i) {
    const Vec2 &a = (*corners)[i];
    const Vec2 &b = (*corners)[(i + 1) % 4];
    area += a.x * b.y - b.x * a.y;
  }
  for (std::size_t i = 0; i < 4 && !shape.empty(); ++i) {
    const Vec2 &a = (*corners)[i];
    const Vec2 &b = (*corners)[(i + 1) % 4];
    const double length = std::hypot(b.x - a.x, b.y - a.y);
    // How far inside the edge, less the radius: >= 0 keeps the point.
    const auto margin = [&](const Vec2 &p) {
      const double cross = (b.x - a.x) * (p.y - a.y) - (b.y - a.y) * (p.x - a.x);
      return (area > 0.0 ? cross : -cross) / length - settings.radius;
    };
    std::vector<Vec2> kept;
    for (std::size_t j = 0; j < shape.size(); ++j) {
      const Vec2 &p = shape[j];
      const Vec2 &q = shape[(j + 1) % shape.size()];
      const double mp = margin(p), mq = margin(q);
      if (mp >= 0.0) kept.push_back(p);
      if ((mp >= 0.0) != (mq >= 0.0)) {
        const double t = mp / (mp - mq);
        kept.push_back({p.x + t * (q.x - p.x), p.y + t * (q.y - p.y)});
      }
    }
    shape = std::move(kept);
  }
  return shape;
}

}  // namespace sim::reach_map
