/* The simulator's controller library, as a controller uses it: the only door
 * to the robot. These 13 functions are the binary interface a simulator's
 * libController.so exports, so the declarations are C, with fixed-width
 * types. What each comment says the stand-in does is what this project's
 * libController.so does; a simulator's own library means the same by each
 * call.
 *
 * A controller in a nutshell (names in <controller/robot.h>):
 *
 *   static DeviceTag knee;
 *   static void init(void) {                 // called once, by robot_live
 *     knee = robot_get_device(ROBOT_LEFT_KNEE);
 *   }
 *   static int step(void) {                  // called again and again, by robot_run
 *     servo_set_position(knee, 1.2f);        // radians, acts from the next step
 *     robot_step(32);                        // time passes only in here
 *     return 0;
 *   }
 *   int main(void) { robot_live(init); robot_run(step); return 0; }
 *
 * The robot: 17 devices, each found by its name with robot_get_device.
 *   - Four legs, numbered 0 left front, 1 left rear, 2 right front, 3 right
 *     rear; only the front legs (0 and 2) reach, and only their feet are
 *     followed in the records. Each leg has three joints, in this order:
 *       0 hip pitch  "PRM:/rN/c1-Joint2:N1"        -2 to 2 rad; larger swings
 *                                                  the foot forward
 *       1 hip roll   "PRM:/rN/c1/c2-Joint2:N2"     -1.6 to 1.6 rad; negative
 *                                                  moves the foot towards the
 *                                                  body's midline, both sides
 *       2 knee       "PRM:/rN/c1/c2/c3-Joint2:N3"  -0.6 to 3 rad; larger bends
 *                                                  the leg more, 0.385 is
 *                                                  straight
 *     with N = leg + 2: the left front knee is "PRM:/r2/c1/c2/c3-Joint2:23".
 *     At rest (hip pitch -0.76679, hip roll 0, knee 1.476161) a front foot
 *     stands on the ground right under its hip.
 *   - The head's three joints, carrying the camera:
 *       head tilt         "PRM:/r1/c1-Joint2:11"        -1.469343 (kinematic
 *                         engine -1.4) to 0.6 rad; negative tilts it down
 *       head pan          "PRM:/r1/c1/c2-Joint2:12"     -1.6 to 1.6 rad;
 *                         positive turns it to the robot's left
 *       head second tilt  "PRM:/r1/c1/c2/c3-Joint2:13"  -0.8 to 0.8 rad;
 *                         negative tilts it down
 *   - The camera "PRM:/r1/c1/c2/c3/i1-FbkImageSensor:F1" and a "receiver".
 * A set-point beyond a joint's range drives the joint to that end.
 * Body frame: x forward, y to the robot's left, z up, origin midway between
 * the front hips (at y = +-0.06), metres; the front feet stand on z = -0.115.
 * robot_front_foot in <controller/robot.h> gives a front foot's position for
 * three set-points.
 *
 * Misuse never crashes the stand-in: a call it cannot carry out is ignored
 * and says why once on stderr, in a line starting "sim: warning:". The
 * stand-in starts its world at the first call of any of these functions,
 * so calls made before robot_live act as they would after it. */
#ifndef REACHER_CONTROLLER_API_CONTROLLER_H
#define REACHER_CONTROLLER_API_CONTROLLER_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Handle of a device, returned by robot_get_device for a device name: 1 to
 * 17 for the robot's devices, 0 for none. Every call given tag 0 does
 * nothing and says nothing (the lookup already warned); a tag of a device of
 * another kind (a joint's to camera_enable, say), or one no device has, does
 * nothing and warns once per function and tag. */
typedef uint8_t DeviceTag;

/* Calls init once, before it returns: look the devices up, enable the camera
 * and give the first set-points there. A null init is never called. */
void robot_live(void (*init)(void));
/* Calls step again and again while the run lasts; the robot's time passes
 * only inside robot_step, which the step function must call. step's return
 * value is recorded in the trace and otherwise ignored: return 0; the run
 * does not stop when it returns.
 * When the world's steps are done, the controller's process ends inside
 * robot_step, with exit status 0 and every output complete (2 when an output
 * could not be written; 128 + the signal's number after SIGINT, SIGTERM or
 * SIGPIPE), so the step function never needs to know when to stop. robot_run
 * returns only when the run ends otherwise: a world's run_calls (a test
 * setting) were made, or step is null (with a warning). A step function that
 * returns 100,000 times in a row without calling robot_step ends the run,
 * with a warning. */
void robot_run(int (*step)(void));
/* Advances the simulation by ms milliseconds before it returns: the stand-in
 * takes ceil(ms / time_step_ms) steps of its world (32 ms each by default),
 * at least one, so robot_step(1) is one step. A non-positive ms takes one
 * step, with a warning. Set-points given since the last call act from the
 * first of these steps, and the camera image is refreshed at every step.
 * Returns 0; once the world's steps are done it does not return (see
 * robot_run). */
int robot_step(int32_t ms);

/* The tag of the device called name (the names above, or the constants of
 * <controller/robot.h>); 0, with a warning, for a name the robot does not
 * have or a null name. The same name always gives the same tag. */
DeviceTag robot_get_device(const char *name);
/* The joint's new set-point, in radians: from the next step on, the joint
 * moves towards it, at the world's joint_speed (0.25 rad a step by default)
 * on the kinematic engine, through its position servo on the physics engine.
 * It stays in force until the next call. A set-point beyond the joint's
 * range drives the joint to that end (infinities too); one that is not a
 * number is ignored, with a warning. servo is a joint's tag. */
void servo_set_position(DeviceTag servo, float position);

/* Switches the camera on, with an image every ms milliseconds: a simulator's
 * library refreshes the image at that period. The stand-in's camera is on
 * from the start and refreshed at every step, whatever ms says (it is only
 * recorded); enable it anyway, as any simulator needs. */
void camera_enable(DeviceTag camera, int32_t ms);
/* Switches a receiver on, polled every ms milliseconds. The stand-in's
 * receiver never receives anything: the call and its ms are only recorded. */
void receiver_enable(DeviceTag receiver, int32_t ms);
/* Switches the keyboard on, polled every ms milliseconds. The stand-in has
 * no keyboard to read: the call and its ms are only recorded. */
void robot_keyboard_enable(int32_t ms);

/* The camera's newest image: camera_get_width x camera_get_height pixels of
 * 3 bytes each (red, green, blue), row after row from the top. The pointer
 * stays valid for the whole run and is the same at every call: the buffer is
 * refreshed in place at every step, so a pointer kept from an earlier call
 * shows the image of the latest step, not the one it was fetched at. Copy
 * the pixels to keep an image. Null for a tag that is not the camera (with a
 * warning), and in a world whose [camera] image = false. */
const unsigned char *camera_get_image(DeviceTag camera);
/* The camera image's width and height in pixels (160 x 160 unless the world
 * says otherwise); 0 for a tag that is not the camera. */
uint16_t camera_get_width(DeviceTag camera);
uint16_t camera_get_height(DeviceTag camera);

/* A library-owned text buffer of 1024 bytes, the same at every call: write a
 * line into it (snprintf with its size) and hand it to robot_console_print. */
char *robot_get_formated_string(void);
/* Prints text on the controller's console (the process's stdout) exactly as
 * given, with no newline added, and flushes it. A null text is ignored, with
 * a warning. The stand-in records every line in its trace but never reads
 * them: what a run did is told from the robot, not from the console. */
void robot_console_print(const char *text);

#ifdef __cplusplus
}
#endif

#endif
