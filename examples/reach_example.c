/* A minimal controller: the two front legs take turns reaching for the discs
 * of the default world and coming back to rest, one joint at a time.
 *
 * The library calls init once, then step again and again until the
 * simulation ends; the process ends inside robot_step then, so step never
 * needs to know when to stop. */
#include <stdarg.h>
#include <stdio.h>

#include <controller.h>

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

/* A front leg's joints, in the order of their device names. */
enum { HIP_PITCH, HIP_ROLL, KNEE };

/* Set-points in radians. A larger hip pitch swings the foot forward, a
 * negative hip roll moves it towards the body's midline, a larger knee bends
 * the leg more. At rest the foot stands on the ground right under its hip. */
static const float rest[3] = {-0.76679f, 0.0f, 1.476161f};

struct front_leg {
  const char *side;
  const char *joint_names[3];
  float on_disc[3];     /* the foot on its side's disc */
  float disc_x, disc_y; /* that disc's centre in the body frame, metres */
  DeviceTag joints[3];
};

static struct front_leg legs[2] = {
    {"left",
     {"PRM:/r2/c1-Joint2:21", "PRM:/r2/c1/c2-Joint2:22", "PRM:/r2/c1/c2/c3-Joint2:23"},
     {-0.3517099f, -0.119698115f, 1.2720519f},
     0.038f,
     0.050f,
     {0, 0, 0}},
    {"right",
     {"PRM:/r4/c1-Joint2:41", "PRM:/r4/c1/c2-Joint2:42", "PRM:/r4/c1/c2/c3-Joint2:43"},
     {-0.3459053f, -0.05536889f, 1.2803061f},
     0.038f,
     -0.050f,
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
  static const int outward[3] = {KNEE, HIP_ROLL, HIP_PITCH};
  static const int homeward[3] = {HIP_PITCH, HIP_ROLL, KNEE};
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
  camera = find_device("PRM:/r1/c1/c2/c3/i1-FbkImageSensor:F1");
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
  console("reach %d: %s front leg to the disc at x %.3f m, y %.3f m\n", reaches, leg->side,
          leg->disc_x, leg->disc_y);
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
