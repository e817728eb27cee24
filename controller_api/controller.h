/* The simulator's controller library, as the controller uses it: the only door
 * to the robot. The controller calls nothing else of the library. These are the
 * binary interface a simulator's libController.so exports, so the declarations
 * are C, with fixed-width types. */
#ifndef REACHER_CONTROLLER_API_CONTROLLER_H
#define REACHER_CONTROLLER_API_CONTROLLER_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Handle of a device, returned by robot_get_device for a device name. */
typedef uint8_t DeviceTag;

/* Start-up and step registration: init is called once, step again and again. */
void robot_live(void (*init)(void));
void robot_run(int (*step)(void));
/* Advances the simulation by ms milliseconds before it returns: the stand-in
 * takes ceil(ms / time_step_ms) steps of its world (32 ms each by default),
 * at least one, so robot_step(1) is one step. A non-positive ms takes one
 * step, with a warning. Set-points act and the camera image is refreshed at
 * every step. */
int robot_step(int32_t ms);

DeviceTag robot_get_device(const char *name);
/* The joint moves towards position over the following steps. */
void servo_set_position(DeviceTag servo, float position);

void camera_enable(DeviceTag camera, int32_t ms);
void receiver_enable(DeviceTag receiver, int32_t ms);
void robot_keyboard_enable(int32_t ms);

/* 3 bytes per pixel, red first, row after row; the pointer stays valid and
 * shows the newest image after later robot_step calls. */
const unsigned char *camera_get_image(DeviceTag camera);
uint16_t camera_get_width(DeviceTag camera);
uint16_t camera_get_height(DeviceTag camera);

/* A library-owned text buffer of at least 1024 bytes, the same at every call. */
char *robot_get_formated_string(void);
void robot_console_print(const char *text);

#ifdef __cplusplus
}
#endif

#endif
