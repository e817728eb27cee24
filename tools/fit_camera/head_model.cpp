#include "tools/fit_camera/head_model.h"

#include <mujoco/mujoco.h>

#include <cmath>
#include <stdexcept>

#include "sim/engines/physics/robot_model.h"

namespace sim::physics {

struct HeadModel::Parts {
  mjModel *model = nullptr;
  mjData *data = nullptr;
  int neck = -1, pan = -1, head = -1, eye = -1;
  double floor_z = 0.0;
  int joints[3] = {-1, -1, -1};
  ~Parts() {
    mj_deleteData(data);
    mj_deleteModel(model);
  }
};

HeadModel::HeadModel(const std::string &robot_xml_path) : parts_(std::make_unique<Parts>()) {
  Parts &p = *parts_;
  char error[1000] = "";
  p.model = mj_loadXML(robot_xml_path.c_str(), nullptr, error, sizeof error);
  if (!p.model) throw std::runtime_error("cannot load " + robot_xml_path + ": " + error);
  p.data = mj_makeData(p.model);
  p.neck = id_of(p.model, mjOBJ_BODY, "neck", "body");
  p.pan = id_of(p.model, mjOBJ_BODY, "head_pan", "body");
  p.head = id_of(p.model, mjOBJ_BODY, "head", "body");
  p.eye = id_of(p.model, mjOBJ_CAMERA, "eye", "camera");
  p.joints[0] = id_of(p.model, mjOBJ_JOINT, "tete_coup", "joint");
  p.joints[1] = id_of(p.model, mjOBJ_JOINT, "tourne_tete", "joint");
  p.joints[2] = id_of(p.model, mjOBJ_JOINT, "coup_h", "joint");
  p.floor_z = p.model->geom_pos[3 * id_of(p.model, mjOBJ_GEOM, "floor", "geom") + 2];
}

HeadModel::~HeadModel() = default;

void HeadModel::set(const HeadGeometry &g) {
  Parts &p = *parts_;
  mjtNum *neck = p.model->body_pos + 3 * p.neck;
  neck[0] = g.neck_x, neck[1] = 0.0, neck[2] = g.neck_z;
  const mjtNum about_y[3] = {0.0, 1.0, 0.0};
  mju_axisAngle2Quat(p.model->body_quat + 4 * p.pan, about_y, g.pan_lean);
  mjtNum *head = p.model->body_pos + 3 * p.head;
  head[0] = 0.0, head[1] = 0.0, head[2] = g.neck_length;
  mju_copy3(p.model->cam_pos + 3 * p.eye, g.eye.data());
  const std::array<double, 4> quat = camera_quat(g.turn);
  mju_copy4(p.model->cam_quat + 4 * p.eye, quat.data());
  p.model->cam_fovy[p.eye] = g.fovy;
  p.model->jnt_range[2 * p.joints[0]] = g.tilt_limit;
}

CameraPose HeadModel::pose(const HeadPose &look) {
  Parts &p = *parts_;
  // The rest of the robot where it starts: the torso at the body frame's
  // origin, upright.
  mju_copy(p.data->qpos, p.model->qpos0, p.model->nq);
  const double tilt = std::isnan(look.tilt) ? p.model->jnt_range[2 * p.joints[0]] : look.tilt;
  p.data->qpos[p.model->jnt_qposadr[p.joints[0]]] = tilt;
  p.data->qpos[p.model->jnt_qposadr[p.joints[1]]] = look.pan;
  p.data->qpos[p.model->jnt_qposadr[p.joints[2]]] = look.second_tilt;
  mj_kinematics(p.model, p.data);
  mj_camlight(p.model, p.data);
  return camera_pose(*p.data, p.eye);
}

double HeadModel::fovy() const { return parts_->model->cam_fovy[parts_->eye]; }

double HeadModel::floor_z() const { return parts_->floor_z; }

std::array<double, 4> HeadModel::camera_quat(const std::array<double, 3> &turn) {
  // Looking along the head's x axis with the image's up along its z axis,
  // then turned by the fitted rotation vector.
  const mjtNum ahead[9] = {0, 0, -1, -1, 0, 0, 0, 1, 0};
  mjtNum base[4], turned[4];
  mju_mat2Quat(base, ahead);
  mjtNum axis[3] = {turn[0], turn[1], turn[2]};
  const mjtNum angle = mju_normalize3(axis);
  if (angle > 0.0)
    mju_axisAngle2Quat(turned, axis, angle);
  else
    turned[0] = 1.0, turned[1] = turned[2] = turned[3] = 0.0;
  std::array<double, 4> quat{};
  mju_mulQuat(quat.data(), base, turned);
  mju_normalize4(quat.data());
  // q and -q are one rotation; a positive w reads better in the file.
  if (quat[0] < 0.0) mju_scl(quat.data(), quat.data(), -1.0, 4);
  return quat;
}

}  // namespace sim::physics
