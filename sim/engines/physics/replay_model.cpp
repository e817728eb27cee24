#include "sim/engines/physics/replay_model.h"

#include <mujoco/mujoco.h>

#include <array>
#include <cmath>

#include "sim/core/errors.h"
#include "sim/engines/physics/robot_model.h"
#include "sim/engines/physics/window.h"

namespace sim {

namespace {

struct DataDeleter {
  void operator()(mjData *d) const { mj_deleteData(d); }
};

class ReplayModel final : public ReplayView {
 public:
  explicit ReplayModel(const std::string &model_xml)
      : model_(compile_model(model_xml)), data_(mj_makeData(model_.get())) {
    for (std::size_t j = 0; j < joint_names.size(); ++j)
      qpos_address_[j] =
          model_->jnt_qposadr[id_of(model_.get(), mjOBJ_JOINT, joint_names[j], "joint")];
    const int torso = id_of(model_.get(), mjOBJ_BODY, "torso", "body");
    // A robot standing free has its torso on a free joint; one on a stand
    // has none, and its torso stays where it is.
    const int joint = model_->body_jntadr[torso];
    if (model_->body_jntnum[torso] == 1 && model_->jnt_type[joint] == mjJNT_FREE)
      torso_address_ = model_->jnt_qposadr[joint];
    if (model_->nkey > 0) mj_resetDataKeyframe(model_.get(), data_.get(), 0);
    mj_forward(model_.get(), data_.get());
    window_ = std::make_unique<PhysicsWindow>(*model_, *data_);
  }

  void pose(const std::array<double, joint_count> &joints, const TorsoPose &torso) override {
    for (std::size_t j = 0; j < joints.size(); ++j)
      if (std::isfinite(joints[j])) data_->qpos[qpos_address_[j]] = joints[j];
    if (torso_address_ >= 0 && std::isfinite(torso.position.x)) {
      mjtNum *at = data_->qpos + torso_address_;
      at[0] = torso.position.x;
      at[1] = torso.position.y;
      at[2] = torso.position.z;
      // Roll about x, then pitch about y, then yaw about z: q = qz qy qx.
      const double half_roll = torso.roll / 2.0;
      const double half_pitch = torso.pitch / 2.0;
      const double half_yaw = torso.yaw / 2.0;
      const mjtNum qx[4] = {std::cos(half_roll), std::sin(half_roll), 0.0, 0.0};
      const mjtNum qy[4] = {std::cos(half_pitch), 0.0, std::sin(half_pitch), 0.0};
      const mjtNum qz[4] = {std::cos(half_yaw), 0.0, 0.0, std::sin(half_yaw)};
      mjtNum qzy[4];
      mju_mulQuat(qzy, qz, qy);
      mju_mulQuat(at + 3, qzy, qx);
    }
    mj_kinematics(model_.get(), data_.get());
  }

  LiveWindow &window() override { return *window_; }

 private:
  ModelPointer model_;
  std::unique_ptr<mjData, DataDeleter> data_;
  std::array<int, joint_count> qpos_address_{};
  int torso_address_ = -1;
  std::unique_ptr<PhysicsWindow> window_;
};

}  // namespace

std::unique_ptr<ReplayView> open_replay_view(const std::string &model_xml) {
  if (const std::optional<std::string> why = window_unavailable()) throw RunError(*why);
  return std::make_unique<ReplayModel>(model_xml);
}

}  // namespace sim
