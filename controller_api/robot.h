/* The robot's datasheet, for controllers written against <controller.h>:
 * device names, the legs' numbering and joints, joint ranges, the legs'
 * geometry and the front legs' forward kinematics.
 *
 *   #include <controller.h>
 *   #include <controller/robot.h>
 *
 * Frame: the body frame, x forward, y to the robot's left, z up, origin midway
 * between the front hips; metres and radians throughout. On the physics
 * engine the robot's torso may move: positions the stand-in reports are in
 * the body frame where the run began.
 *
 * Only robot_front_foot is a function, exported by the stand-in's
 * libController.so beside the 13 functions of <controller.h> (a simulator's
 * own library does not have it); everything else here is a constant. */
#ifndef CONTROLLER_ROBOT_H
#define CONTROLLER_ROBOT_H

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Legs and joints ----------------------------------------------------
 * Legs are numbered 0 left front, 1 left rear, 2 right front, 3 right rear.
 * Only the front legs (0 and 2) reach; the rear ones hold the body up. Each
 * leg has three joints, in this order: */
enum {
  ROBOT_LEFT_LEG = 0,       /* front left: reaches */
  ROBOT_LEFT_REAR_LEG = 1,  /* supports */
  ROBOT_RIGHT_LEG = 2,      /* front right: reaches */
  ROBOT_RIGHT_REAR_LEG = 3, /* supports */
  ROBOT_LEG_COUNT = 4
};
enum {
  /* The hip's swing forward and back: a larger set-point swings the foot
   * forward (and up). -2 to 2 rad. */
  ROBOT_HIP_PITCH = 0,
  /* The hip's swing sideways: a negative set-point moves the foot towards the
   * body's midline, on both sides. -1.6 to 1.6 rad. */
  ROBOT_HIP_ROLL = 1,
  /* The knee: a larger set-point bends the leg more; 0.385 rad is the leg
   * straight. -0.6 to 3 rad. */
  ROBOT_KNEE = 2,
  ROBOT_LEG_JOINT_COUNT = 3
};

/* ---- Device names, for robot_get_device -----------------------------------
 * Leg l's joints are "PRM:/rN/c1-Joint2:N1" (hip pitch), "PRM:/rN/c1/c2-
 * Joint2:N2" (hip roll) and "PRM:/rN/c1/c2/c3-Joint2:N3" (knee), with
 * N = l + 2. */
#define ROBOT_LEFT_HIP_PITCH "PRM:/r2/c1-Joint2:21"
#define ROBOT_LEFT_HIP_ROLL "PRM:/r2/c1/c2-Joint2:22"
#define ROBOT_LEFT_KNEE "PRM:/r2/c1/c2/c3-Joint2:23"
#define ROBOT_LEFT_REAR_HIP_PITCH "PRM:/r3/c1-Joint2:31"
#define ROBOT_LEFT_REAR_HIP_ROLL "PRM:/r3/c1/c2-Joint2:32"
#define ROBOT_LEFT_REAR_KNEE "PRM:/r3/c1/c2/c3-Joint2:33"
#define ROBOT_RIGHT_HIP_PITCH "PRM:/r4/c1-Joint2:41"
#define ROBOT_RIGHT_HIP_ROLL "PRM:/r4/c1/c2-Joint2:42"
#define ROBOT_RIGHT_KNEE "PRM:/r4/c1/c2/c3-Joint2:43"
#define ROBOT_RIGHT_REAR_HIP_PITCH "PRM:/r5/c1-Joint2:51"
#define ROBOT_RIGHT_REAR_HIP_ROLL "PRM:/r5/c1/c2-Joint2:52"
#define ROBOT_RIGHT_REAR_KNEE "PRM:/r5/c1/c2/c3-Joint2:53"
/* Every leg joint by leg and joint, for a table:
 *   static const char *const names[ROBOT_LEG_COUNT][ROBOT_LEG_JOINT_COUNT] =
 *       ROBOT_LEG_JOINT_NAMES; */
/* clang-format off */
#define ROBOT_LEG_JOINT_NAMES                                                         \
  {{ROBOT_LEFT_HIP_PITCH, ROBOT_LEFT_HIP_ROLL, ROBOT_LEFT_KNEE},                     \
   {ROBOT_LEFT_REAR_HIP_PITCH, ROBOT_LEFT_REAR_HIP_ROLL, ROBOT_LEFT_REAR_KNEE},       \
   {ROBOT_RIGHT_HIP_PITCH, ROBOT_RIGHT_HIP_ROLL, ROBOT_RIGHT_KNEE},                  \
   {ROBOT_RIGHT_REAR_HIP_PITCH, ROBOT_RIGHT_REAR_HIP_ROLL, ROBOT_RIGHT_REAR_KNEE}}
/* clang-format on */

/* The head: three joints carrying the camera. */
/* Tilt at the neck's base: negative tilts the head down. -1.469343 to 0.6 rad
 * (the kinematic engine stops it at -1.4). */
#define ROBOT_HEAD_TILT "PRM:/r1/c1-Joint2:11"
/* Pan: positive turns the head to the robot's left. -1.6 to 1.6 rad. */
#define ROBOT_HEAD_PAN "PRM:/r1/c1/c2-Joint2:12"
/* Second tilt, where the neck meets the head: negative tilts it down.
 * -0.8 to 0.8 rad. */
#define ROBOT_HEAD_SECOND_TILT "PRM:/r1/c1/c2/c3-Joint2:13"
/* The head camera: 3 bytes a pixel (red, green, blue), rows top to bottom;
 * 160 x 160 pixels unless the world says otherwise. */
#define ROBOT_CAMERA "PRM:/r1/c1/c2/c3/i1-FbkImageSensor:F1"
/* A receiver to enable; the stand-in never sends it anything. */
#define ROBOT_RECEIVER "receiver"

/* ---- Joint ranges, rad ------------------------------------------------------
 * A set-point beyond a joint's range drives the joint to that end. */
#define ROBOT_HIP_PITCH_MIN (-2.0)
#define ROBOT_HIP_PITCH_MAX 2.0
#define ROBOT_HIP_ROLL_MIN (-1.6)
#define ROBOT_HIP_ROLL_MAX 1.6
#define ROBOT_KNEE_MIN (-0.6)
#define ROBOT_KNEE_MAX 3.0
#define ROBOT_HEAD_TILT_MIN (-1.469343) /* physics engine; kinematic: -1.4 */
#define ROBOT_HEAD_TILT_MAX 0.6
#define ROBOT_HEAD_PAN_MIN (-1.6)
#define ROBOT_HEAD_PAN_MAX 1.6
#define ROBOT_HEAD_SECOND_TILT_MIN (-0.8)
#define ROBOT_HEAD_SECOND_TILT_MAX 0.8

/* ---- Geometry, metres ----------------------------------------------------- */
#define ROBOT_UPPER_LEG 0.0649 /* hip to knee */
#define ROBOT_LOWER_LEG 0.0696 /* knee to the foot point */
/* The front hips: leg 0's at (0, ROBOT_FRONT_HIP_Y, 0), leg 2's at
 * (0, -ROBOT_FRONT_HIP_Y, 0). */
#define ROBOT_FRONT_HIP_Y 0.06
/* The rear hips (physics model): leg 1's at (ROBOT_REAR_HIP_X,
 * ROBOT_REAR_HIP_Y, ROBOT_REAR_HIP_Z), leg 3's at the same with y negated. */
#define ROBOT_REAR_HIP_X (-0.18)
#define ROBOT_REAR_HIP_Y 0.08
#define ROBOT_REAR_HIP_Z 0.002539
/* The plane the front feet's points stand on: z = -0.115. On the physics
 * engine's free robot each foot is a 6 mm ball centred on that point, so the
 * floor it stands on (and the camera sees) lies one ball radius lower,
 * z = -0.121; a target's x and y are the same on either. */
#define ROBOT_FOOT_GROUND_Z (-0.115)
#define ROBOT_PAW_RADIUS 0.006
/* The front feet at rest, each right under its hip on the ground: */
#define ROBOT_REST_HIP_PITCH (-0.76679)
#define ROBOT_REST_HIP_ROLL 0.0
#define ROBOT_REST_KNEE 1.476161

/* ---- Forward kinematics of a front leg ------------------------------------
 * Where front leg 0 (left) or 2 (right) puts its foot, in the body frame
 * (metres), for its three joint set-points (hip pitch, hip roll, knee; rad),
 * as the kinematic engine places it; the physics engine's model puts the
 * foot's point at the same place for the same joint positions. A set-point
 * beyond its joint's range counts as that end of the range, where the joint
 * stops.
 *
 * Returns 0 with foot[0..2] = x, y, z; or -1, leaving foot untouched, for
 * another leg, a null pointer, or a set-point that is not a number (which
 * servo_set_position ignores). It needs no running simulation: call it any
 * time, even before robot_live.
 *
 * The same, written out, for leg 0 (leg 2: y = -0.06 + y_leg):
 *   q1 = hip_pitch + 0.2, q2 = -hip_roll, q3 = knee - 0.385
 *   a = ROBOT_UPPER_LEG + ROBOT_LOWER_LEG cos q3, b = ROBOT_LOWER_LEG sin q3
 *   r = a cos q2, phi = q1 - atan2(r, b), L = sqrt(r^2 + b^2)
 *   x = L cos phi, y = 0.06 - a sin q2, z = L sin phi */
int robot_front_foot(int leg, const float set_points[3], double foot[3]);

#ifdef __cplusplus
}
#endif

#endif
