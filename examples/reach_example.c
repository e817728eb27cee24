/* A minimal controller: the two front legs take turns reaching for the discs
 * of the default world and coming back to rest, one joint at a time.
 *
 * The library calls init once, then step again and again until the
 * simulation ends; the process ends inside robot_step then, so step never
 * needs to know when to stop. */
#include <stdarg.h>
#include <stdio.h>

#include <controller.h>
#include <controller/robot.h>

/* What each robot_step call asks for, in milliseconds: one step of the
 * default world (32 ms a step). */
#define STEP_MS 32
/* robot_step calls given to each joint's move, and to the leg to settle
 * after a whole posture: enough for a reach's largest move (0.42 rad) on
 * either engine. */
#define MOVE_STEPS 7
#define SETTLE_STEPS 20
/* The size every controller library guarantees its text buffer. */
#define CONSOLE_BUFFER_SIZE 1024

/* Set-points in radians, hip pitch, hip roll, knee (controller/robot.h
 * tells their signs and ranges). At rest the foot stands on the ground right
 * under its hip. */
static const float rest[3] = {(float)ROBOT_REST_HIP_PITCH, (float)ROBOT_REST_HIP_ROLL,
                              (float)ROBOT_REST_KNEE};

struct front_leg {
  const char *side;
  int leg; /* ROBOT_LEFT_LEG or ROBOT_RIGHT_LEG */
  const char *joint_names[3];
  /* The foot on the centre of its side's disc at (0.038, +-0.050): the
   * inverse of the leg's kinematics (writing-a-controller.md, "Kinematics");
   * the two legs mirror each other. */
  float on_disc[3];
  DeviceTag joints[3];
};

static struct front_leg legs[2] = {
    {"left",
     ROBOT_LEFT_LEG,
     {ROBOT_LEFT_HIP_PITCH, ROBOT_LEFT_HIP_ROLL, ROBOT_LEFT_KNEE},
     {-0.34222504f, -0.091946276f, 1.2711949f},
     {0, 0, 0}},
    {"right",
     ROBOT_RIGHT_LEG,
     {ROBOT_RIGHT_HIP_PITCH, ROBOT_RIGHT_HIP_ROLL, ROBOT_RIGHT_KNEE},
     {-0.34222504f, -0.091946276f, 1.2711949f},
     {0, 0, 0}},
};

static DeviceTag camera;
static int reaches;

/* printf onto the simulator's console, through the library's own buffer. */
static void console(const char *format, ...) {
  char *line = robot_get_formated_string();
  va_list arguments;
  va_start(arguments, format);
  vsnprintf(line, CONSOLE_BUFFER_SIZE, format, arguments);
  va_end(arguments);
  robot_console_print(line);
}

/* A device's tag. A name the robot lacks gives tag 0, which every call
 * ignores: say so at once rather than watch a joint that never moves. */
static DeviceTag find_device(const char *name) {
  const DeviceTag tag = robot_get_device(name);
  if (tag == 0) console("reach_example: the robot has no device \"%s\"\n", name);
  return tag;
}

static void wait_steps(int steps) {
  for (int i = 0; i < steps; ++i) robot_step(STEP_MS);
}

/* One joint at a time: knee, roll, hip pitch towards a target, the other
 * way round towards rest, so that the foot comes back the way it went. */
static void move_leg(const struct front_leg *leg, const float pose[3], int to_rest) {
  static const int outward[3] = {ROBOT_KNEE, ROBOT_HIP_ROLL, ROBOT_HIP_PITCH};
  static const int homeward[3] = {ROBOT_HIP_PITCH, ROBOT_HIP_ROLL, ROBOT_KNEE};
  for (int i = 0; i < 3; ++i) {
    const int joint = to_rest ? homeward[i] : outward[i];
    servo_set_position(leg->joints[joint], pose[joint]);
    wait_steps(MOVE_STEPS);
  }
}

static void init(void) {
  for (int l = 0; l < 2; ++l)
    for (int j = 0; j < 3; ++j) {
      legs[l].joints[j] = find_device(legs[l].joint_names[j]);
      servo_set_position(legs[l].joints[j], rest[j]);
    }
  camera = find_device(ROBOT_CAMERA);
  camera_enable(camera, STEP_MS);
}

/* One call: settle at rest (the first time, the legs get there from where
 * init found them), then one leg reaches its disc, settles there and goes
 * back to rest. */
static int step(void) {
  wait_steps(SETTLE_STEPS);

  if (reaches == 0) {
    /* 3 bytes a pixel, red first, rows from the top. */
    const unsigned char *image = camera_get_image(camera);
    const int width = camera_get_width(camera);
    const int height = camera_get_height(camera);
    if (image != NULL) {
      const unsigned char *centre = image + 3 * ((height / 2) * width + width / 2);
      console("camera: %d x %d pixels, centre pixel red %d green %d blue %d\n", width, height,
              centre[0], centre[1], centre[2]);
    } else {
      console("camera: %d x %d pixels, no image\n", width, height);
    }
  }

  const struct front_leg *leg = &legs[reaches % 2];
  ++reaches;
  /* Where the set-points put the foot, from the library's own kinematics. */
  double foot[3] = {0.0, 0.0, 0.0};
  robot_front_foot(leg->leg, leg->on_disc, foot);
  console("reach %d: %s front leg to the disc at x %.3f m, y %.3f m\n", reaches, leg->side, foot[0],
          foot[1]);
  move_leg(leg, leg->on_disc, 0);
  wait_steps(SETTLE_STEPS);
  move_leg(leg, rest, 1);
  return 0;
}

int main(void) {
  robot_live(init);
  robot_run(step);
  return 0;
}
