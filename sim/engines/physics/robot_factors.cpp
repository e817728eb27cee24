#include "sim/engines/physics/robot_factors.h"

#include <charconv>
#include <cmath>
#include <numbers>
#include <string_view>
#include <vector>

#include "sim/core/errors.h"
#include "sim/core/factors.h"

namespace sim {

namespace {

[[noreturn]] void missing(const std::string &what) {
  throw RunError("robot model: no " + what + " to write the world's factors into");
}

// Where the value of attribute `name` lies in the tag that begins at `tag`.
struct Span {
  std::size_t begin = 0;
  std::size_t end = 0;
};
Span attribute(const std::string &xml, std::size_t tag, std::string_view name,
               const std::string &what) {
  const std::size_t close = xml.find('>', tag);
  const std::string marker = " " + std::string(name) + "=\"";
  const std::size_t at = xml.find(marker, tag);
  if (tag == std::string::npos || close == std::string::npos || at == std::string::npos ||
      at > close)
    missing(what + "'s " + std::string(name));
  const std::size_t begin = at + marker.size();
  return {begin, xml.find('"', begin)};
}

std::vector<double> numbers_in(const std::string &xml, Span span, const std::string &what) {
  std::vector<double> values;
  const char *at = xml.data() + span.begin;
  const char *end = xml.data() + span.end;
  while (at < end) {
    while (at < end && *at == ' ') ++at;
    if (at == end) break;
    double value = 0.0;
    const std::from_chars_result read = std::from_chars(at, end, value);
    if (read.ec != std::errc()) missing("number in " + what);
    values.push_back(value);
    at = read.ptr;
  }
  return values;
}

// A number of the model as its file gives them: ten significant digits,
// which reads "0.28" for 0.4 x 0.7, in every locale. The engine compiles the
// text it writes, so world.xml is the model that ran either way.
std::string model_number(double value) {
  char text[32];
  const std::to_chars_result end =
      std::to_chars(text, text + sizeof text, value, std::chars_format::general, 10);
  return std::string(text, end.ptr);
}

std::string joined(const std::vector<double> &values) {
  std::string text;
  for (const double value : values) text += (text.empty() ? "" : " ") + model_number(value);
  return text;
}

// Each number of an attribute times `factor`.
void scale(std::string &xml, std::size_t tag, std::string_view name, double factor,
           const std::string &what) {
  const Span span = attribute(xml, tag, name, what);
  std::vector<double> values = numbers_in(xml, span, what);
  for (double &value : values) value *= factor;
  xml.replace(span.begin, span.end - span.begin, joined(values));
}

Quaternion product(const Quaternion &a, const Quaternion &b) {
  return {a[0] * b[0] - a[1] * b[1] - a[2] * b[2] - a[3] * b[3],
          a[0] * b[1] + a[1] * b[0] + a[2] * b[3] - a[3] * b[2],
          a[0] * b[2] - a[1] * b[3] + a[2] * b[0] + a[3] * b[1],
          a[0] * b[3] + a[1] * b[2] - a[2] * b[1] + a[3] * b[0]};
}

// A turn of `degrees` about unit axis (x, y, z).
Quaternion about(double x, double y, double z, double degrees) {
  const double half = degrees * std::numbers::pi / 360.0;
  return {std::cos(half), x * std::sin(half), y * std::sin(half), z * std::sin(half)};
}

// Inserts text after the end of the line that holds `anchor`.
void after_line_of(std::string &xml, std::string_view anchor, const std::string &text,
                   const std::string &what) {
  const std::size_t at = xml.find(anchor);
  const std::size_t end = at == std::string::npos ? at : xml.find('\n', at);
  if (end == std::string::npos) missing(what);
  xml.insert(end + 1, text);
}

}  // namespace

Quaternion turned_camera(const Quaternion &mount, double roll_deg, double pitch_deg,
                         double yaw_deg) {
  // MuJoCo's camera looks along its -z, with +x to the image's right and +y
  // up: each turn is about one of those axes, applied in the camera's frame.
  const Quaternion error = product(product(about(0, 1, 0, yaw_deg), about(1, 0, 0, pitch_deg)),
                                   about(0, 0, 1, roll_deg));
  Quaternion turned = product(mount, error);
  const double norm = std::sqrt(turned[0] * turned[0] + turned[1] * turned[1] +
                                turned[2] * turned[2] + turned[3] * turned[3]);
  for (double &part : turned) part /= norm;
  return turned;
}

void write_factors(std::string &xml, const Factors &factors) {
  // The image's noise and gain are the camera device's, not the model's.
  const Factors model;
  std::string varied;
  for (const FactorKey &key : factor_keys())
    if (key.scope != FactorScope::any_camera && factors.*key.field != model.*key.field)
      varied += std::string(varied.empty() ? "" : ", ") + std::string(key.path) + " = " +
                exact_number(factors.*key.field);
  if (varied.empty()) return;

  // Every friction of the model, the paws' and the floor's alike: a contact
  // takes the larger of its two geoms' frictions.
  if (factors.friction != model.friction) {
    bool any = false;
    for (std::size_t at = xml.find(" friction=\""); at != std::string::npos;
         at = xml.find(" friction=\"", at + 1)) {
      const Span span = attribute(xml, at, "friction", "geom");
      std::vector<double> values = numbers_in(xml, span, "friction");
      if (values.empty()) missing("friction value");
      values[0] = factors.friction;
      xml.replace(span.begin, span.end - span.begin, joined(values));
      any = true;
    }
    if (!any) missing("friction");
  }

  // A stronger or weaker servo: its loop's gains (kp, and kv on the joint's
  // speed) and its torque limit, all scaled; the motor's back-EMF and the
  // gear train's inertia are the joint's and stay.
  if (factors.servo_strength != model.servo_strength) {
    const std::size_t leg = xml.find("<default class=\"leg\">");
    const std::size_t servo = leg == std::string::npos ? leg : xml.find("<general", leg);
    if (servo == std::string::npos) missing("leg servo");
    for (const char *name : {"forcerange", "biasprm", "gainprm"})
      scale(xml, servo, name, factors.servo_strength, "leg servo");
  }

  if (factors.payload_kg != model.payload_kg)
    after_line_of(xml, "<geom name=\"battery\"",
                  "      <!-- The world's payload: a flat pack strapped to the middle of the back, "
                  "on the shell. -->\n"
                  "      <geom name=\"payload\" type=\"box\" size=\"0.04 0.03 0.01\" "
                  "pos=\"-0.1 0 0.05\" mass=\"" +
                      exact_number(factors.payload_kg) + "\"/>\n",
                  "battery geom");

  const bool turned = factors.roll_error_deg != 0.0 || factors.pitch_error_deg != 0.0 ||
                      factors.yaw_error_deg != 0.0;
  if (turned || factors.fov_error_deg != 0.0) {
    const std::size_t eye = xml.find("<camera name=\"eye\"");
    if (eye == std::string::npos) missing("camera \"eye\"");
    if (factors.fov_error_deg != 0.0) {
      const Span span = attribute(xml, eye, "fovy", "camera");
      const std::vector<double> fovy = numbers_in(xml, span, "fovy");
      if (fovy.size() != 1) missing("single fovy");
      xml.replace(span.begin, span.end - span.begin, model_number(fovy[0] + factors.fov_error_deg));
    }
    if (turned) {
      const Span span = attribute(xml, eye, "quat", "camera");
      const std::vector<double> quat = numbers_in(xml, span, "quat");
      if (quat.size() != 4) missing("four-number quat");
      const Quaternion now =
          turned_camera({quat[0], quat[1], quat[2], quat[3]}, factors.roll_error_deg,
                        factors.pitch_error_deg, factors.yaw_error_deg);
      xml.replace(span.begin, span.end - span.begin,
                  joined(std::vector<double>(now.begin(), now.end())));
    }
  }

  // Not MuJoCo's to simulate but the engine's, which delays every set-point:
  // written in as a number MuJoCo's tools show.
  if (factors.servo_latency_ms != model.servo_latency_ms) {
    const std::size_t end = xml.rfind("</mujoco>");
    if (end == std::string::npos) missing("</mujoco>");
    xml.insert(end,
               "  <!-- The world's servo latency: every set-point takes effect this much later "
               "(ms). -->\n"
               "  <custom>\n    <numeric name=\"servo_latency_ms\" data=\"" +
                   exact_number(factors.servo_latency_ms) + "\"/>\n  </custom>\n");
  }

  after_line_of(xml, "<mujoco model=",
                "  <!-- This world's robot differs from the model: " + varied + ". -->\n",
                "<mujoco> element");
}

}  // namespace sim
