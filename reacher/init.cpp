// Program start-up: the device table and the first set-points.
#include "controller_api/controller.h"
#include "reacher/blocks.h"
#include "reacher/reacher.h"

DeviceTag leg_servos[4][3];
DeviceTag tete_coup;
DeviceTag tourne_tete;
DeviceTag coup_h;
DeviceTag camera;
DeviceTag receiver;

namespace {
constexpr const char *leg_servo_names[4][3] = {
    {"PRM:/r2/c1-Joint2:21", "PRM:/r2/c1/c2-Joint2:22", "PRM:/r2/c1/c2/c3-Joint2:23"},
    {"PRM:/r3/c1-Joint2:31", "PRM:/r3/c1/c2-Joint2:32", "PRM:/r3/c1/c2/c3-Joint2:33"},
    {"PRM:/r4/c1-Joint2:41", "PRM:/r4/c1/c2-Joint2:42", "PRM:/r4/c1/c2/c3-Joint2:43"},
    {"PRM:/r5/c1-Joint2:51", "PRM:/r5/c1/c2-Joint2:52", "PRM:/r5/c1/c2/c3-Joint2:53"},
};

// Supporting legs 1 and 3 get these once; their second joints are never
// commanded.
constexpr float support_hip = -0.75f;  // rad, joint 0 of legs 1 and 3
constexpr float support_knee = 1.4f;   // rad, joint 2 of legs 1 and 3
constexpr int32_t sensor_period = 1;   // ms per sample: data at every step
}  // namespace

// Writes the device table; reads no other state and writes none.
void init() {
  receiver = robot_get_device("receiver");
  receiver_enable(receiver, sensor_period);

  for (int leg = 0; leg < 4; ++leg)
    for (int joint = 0; joint < 3; ++joint)
      leg_servos[leg][joint] = robot_get_device(leg_servo_names[leg][joint]);

  tete_coup = robot_get_device("PRM:/r1/c1-Joint2:11");
  tourne_tete = robot_get_device("PRM:/r1/c1/c2-Joint2:12");
  coup_h = robot_get_device("PRM:/r1/c1/c2/c3-Joint2:13");

  servo_set_position(leg_servos[1][0], support_hip);
  servo_set_position(leg_servos[3][0], support_hip);
  servo_set_position(leg_servos[1][2], support_knee);
  servo_set_position(leg_servos[3][2], support_knee);
  // The head starts tilted as the right turn tilts it.
  servo_set_position(tete_coup, right_turn_tilt.tete_coup);
  servo_set_position(coup_h, right_turn_tilt.coup_h);

  camera = robot_get_device("PRM:/r1/c1/c2/c3/i1-FbkImageSensor:F1");
  camera_enable(camera, sensor_period);
  robot_keyboard_enable(sensor_period);
}
