// Fits the head's geometry and the camera's field of view of robot.xml so that
// every pixel of the 160 x 160 image sees the ground point the controller's
// tables were calibrated on, in both look poses, and prints the values to
// write into robot.xml with the ground error that remains.
//
//   reacher_fit_camera [path/to/robot.xml]
//
// The model's own kinematics place the camera, so what is fitted is exactly
// what the engine will render; the fit starts from a rough guess, not from the
// file's values, so it reproduces them from the rule alone.
#include <Eigen/Core>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <unsupported/Eigen/NonLinearOptimization>
#include <unsupported/Eigen/NumericalDiff>
#include <vector>

#include "sim/core/calibration_rule.h"
#include "sim/engines/physics/pinhole.h"
#include "tools/fit_camera/head_model.h"

namespace {

constexpr int image_size = 160;  // pixels, both ways

// A look pose of the head. The right look drives the first tilt to its lower
// limit, which the fit places, so that pose reads the limit from the model.
struct LookPose {
  sim::View view;
  sim::physics::HeadPose head;  // tilt NaN: at its lower limit
};
constexpr LookPose look_poses[2] = {{sim::View::left, {-1.24, 0.4, -0.26}},
                                    {sim::View::right, {NAN, -0.4, -0.2}}};

// The two look poses fix the camera but not the neck's length: for any length
// there is a neck base and a camera offset that give the same two images. So
// the length is chosen, not fitted.
constexpr double neck_length = 0.105;  // m, from the pan axis's foot to the second tilt's axis

// The fitted quantities, in the order of the parameter vector. The neck stays
// in the robot's midplane and the pan axis runs through the first tilt's axis:
// freeing either moved the fitted parts about without lowering the error, as
// the neck's length does. The pan axis's lean on the neck is fitted: without it the joint
// angles alone fix how the camera turns from one look to the other, and the
// ground error stays near 0.9 mm RMS on each side instead of 0.6.
enum Parameter {
  // Where the first tilt's axis crosses the midplane, body frame (m).
  neck_x,
  neck_z,
  // The pan axis's lean on the neck, about the first tilt's axis (rad).
  pan_lean,
  // The camera in the head's frame (m).
  eye_x,
  eye_y,
  eye_z,
  // The camera's turn from looking along the head's x axis, image up along
  // its z axis: a rotation vector (rad).
  turn_x,
  turn_y,
  turn_z,
  // Focal length (pixels).
  focal,
  // The first tilt's lower limit (rad).
  tilt_limit,
  parameter_count
};

// Deliberately rough: a neck behind the front hips, a camera at the front of
// the head looking ahead, a 50 degree field of view.
Eigen::VectorXd first_guess() {
  Eigen::VectorXd p = Eigen::VectorXd::Zero(parameter_count);
  p[neck_x] = -0.06;
  p[eye_x] = 0.03;
  p[eye_z] = 0.04;
  p[focal] = 170.0;
  p[tilt_limit] = -1.45;
  return p;
}

// The parameter vector as the model's head geometry.
sim::physics::HeadGeometry geometry_of(const Eigen::VectorXd &p) {
  sim::physics::HeadGeometry g;
  g.neck_x = p[neck_x];
  g.neck_z = p[neck_z];
  g.pan_lean = p[pan_lean];
  g.neck_length = neck_length;
  g.eye = {p[eye_x], p[eye_y], p[eye_z]};
  g.turn = {p[turn_x], p[turn_y], p[turn_z]};
  g.fovy = 2.0 * std::atan(0.5 * image_size / p[focal]) * 180.0 / M_PI;
  g.tilt_limit = p[tilt_limit];
  return g;
}

using Head = sim::physics::HeadModel;

// What the rule says each pixel sees, per look pose, row by row.
struct Truth {
  std::vector<sim::Vec2> ground[2];
};

Truth rule_ground() {
  Truth truth;
  for (int side = 0; side < 2; ++side)
    for (int v = 0; v < image_size; ++v)
      for (int u = 0; u < image_size; ++u) {
        const auto g = sim::ground_point(look_poses[side].view, u, v);
        if (!g) throw std::runtime_error("the rule has a pixel above the horizon");
        truth.ground[side].push_back(*g);
      }
  return truth;
}

// Ground error (m), x and y, of every pixel of both views.
void residuals(Head &head, const Truth &truth, Eigen::VectorXd &out) {
  // Far from any true ground point: a pixel that misses the ground.
  constexpr double miss = 1.0;  // m
  long i = 0;
  for (int side = 0; side < 2; ++side) {
    const sim::physics::CameraPose pose = head.pose(look_poses[side].head);
    for (int v = 0; v < image_size; ++v)
      for (int u = 0; u < image_size; ++u) {
        const sim::Vec2 &want = truth.ground[side][static_cast<size_t>(v * image_size + u)];
        const auto got = sim::physics::pixel_ground_point(pose, head.fovy(), image_size, image_size,
                                                          u, v, head.floor_z());
        out[i++] = got ? got->x - want.x : miss;
        out[i++] = got ? got->y - want.y : miss;
      }
  }
}

// The functor shape Eigen's numerical differentiation and Levenberg-Marquardt
// solver expect.
struct GroundError {
  using Scalar = double;
  using InputType = Eigen::VectorXd;
  using ValueType = Eigen::VectorXd;
  using JacobianType = Eigen::MatrixXd;
  enum { InputsAtCompileTime = Eigen::Dynamic, ValuesAtCompileTime = Eigen::Dynamic };

  Head *head;
  const Truth *truth;

  int inputs() const { return parameter_count; }
  int values() const { return 2 * 2 * image_size * image_size; }
  int operator()(const Eigen::VectorXd &p, Eigen::VectorXd &out) const {
    head->set(geometry_of(p));
    residuals(*head, *truth, out);
    return 0;
  }
};

void report_errors(Head &head, const Truth &truth) {
  Eigen::VectorXd r(2 * 2 * image_size * image_size);
  residuals(head, truth, r);
  const long per_side = r.size() / 2;
  for (int side = 0; side < 2; ++side) {
    double sum = 0.0, worst = 0.0;
    for (long k = side * per_side; k < (side + 1) * per_side; k += 2) {
      const double e2 = r[k] * r[k] + r[k + 1] * r[k + 1];
      sum += e2;
      worst = std::max(worst, e2);
    }
    std::printf("%-5s view: ground error RMS %.3f mm, max %.3f mm over %d x %d pixels\n",
                sim::view_name(look_poses[side].view),
                1e3 * std::sqrt(sum / static_cast<double>(per_side / 2)), 1e3 * std::sqrt(worst),
                image_size, image_size);
  }
}

void print_xml(const Eigen::VectorXd &p) {
  const std::array<double, 4> quat = Head::camera_quat(geometry_of(p).turn);
  std::printf("\nrobot.xml values:\n");
  std::printf("  <body name=\"neck\" pos=\"%.6f 0 %.6f\" ...>\n", p[neck_x], p[neck_z]);
  std::printf("    <joint name=\"tete_coup\" ... range=\"%.6f 0.6\"/>\n", p[tilt_limit]);
  std::printf("  <body name=\"head_pan\" axisangle=\"0 1 0 %.6f\">\n", p[pan_lean]);
  std::printf("  <body name=\"head\" pos=\"0 0 %.6f\">\n", neck_length);
  std::printf(
      "    <camera name=\"eye\" pos=\"%.6f %.6f %.6f\" quat=\"%.8f %.8f %.8f %.8f\" "
      "fovy=\"%.6f\"/>\n",
      p[eye_x], p[eye_y], p[eye_z], quat[0], quat[1], quat[2], quat[3], geometry_of(p).fovy);
  std::printf("  <position name=\"tete_coup\" ... ctrlrange=\"%.6f 0.6\"/>\n", p[tilt_limit]);
}

}  // namespace

int main(int argc, char **argv) {
  try {
    const char *path = argc > 1 ? argv[1] : REACHER_ROBOT_XML;
    Head head(path);
    const Truth truth = rule_ground();

    GroundError error{&head, &truth};
    Eigen::NumericalDiff<GroundError, Eigen::Central> differentiated(error);
    Eigen::LevenbergMarquardt<Eigen::NumericalDiff<GroundError, Eigen::Central>> solver(
        differentiated);
    solver.parameters.maxfev = 20000;
    solver.parameters.xtol = 1e-12;
    solver.parameters.ftol = 1e-14;
    Eigen::VectorXd p = first_guess();
    const auto status = solver.minimize(p);
    head.set(geometry_of(p));

    std::printf("Levenberg-Marquardt: status %d after %ld evaluations\n", static_cast<int>(status),
                static_cast<long>(solver.nfev));
    std::printf(
        "neck base (%.4f, 0, %.4f) m, pan axis leaning %.4f rad on the neck, "
        "neck %.4f m (chosen)\n",
        p[neck_x], p[neck_z], p[pan_lean], neck_length);
    std::printf("camera at (%.4f, %.4f, %.4f) m in the head, turned by (%.4f, %.4f, %.4f) rad\n",
                p[eye_x], p[eye_y], p[eye_z], p[turn_x], p[turn_y], p[turn_z]);
    std::printf(
        "focal %.2f px, vertical field of view %.3f deg; first tilt's lower limit %.4f "
        "rad\n",
        p[focal], geometry_of(p).fovy, p[tilt_limit]);
    report_errors(head, truth);
    print_xml(p);
    return 0;
  } catch (const std::exception &e) {
    std::fprintf(stderr, "fit_camera: %s\n", e.what());
    return 1;
  }
}
