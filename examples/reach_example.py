#!/usr/bin/env python3
"""A controller in Python: puts a front foot on a disc lying on the ground.

It uses nothing but Python's own ctypes and the installed controller library:

    LD_LIBRARY_PATH=PREFIX/lib SIM_OUTPUT=out python3 reach_example.py [X Y]

X and Y are the disc's centre in the body frame, in metres (x forward, y to the
robot's left); without them, the default world's left disc at (0.038, 0.050).
The front foot nearer the disc reaches it one joint at a time, waits there,
comes back to rest, and stays at rest until the world's steps are done: the
process then ends inside robot_step, with every output written.

The library calls init and step from C, and ends the process with C's exit()
when the run is over, so Python's own buffered stdout would be lost: print
through the library's console (console() below), which writes each line
through at once.
"""
import ctypes
import math
import sys

# The robot's datasheet (controller/robot.h), the part this controller needs.
FRONT_LEGS = {0: "left", 2: "right"}
JOINT_NAMES = {  # hip pitch, hip roll, knee
    0: ("PRM:/r2/c1-Joint2:21", "PRM:/r2/c1/c2-Joint2:22", "PRM:/r2/c1/c2/c3-Joint2:23"),
    2: ("PRM:/r4/c1-Joint2:41", "PRM:/r4/c1/c2-Joint2:42", "PRM:/r4/c1/c2/c3-Joint2:43"),
}
CAMERA = "PRM:/r1/c1/c2/c3/i1-FbkImageSensor:F1"
UPPER_LEG, LOWER_LEG = 0.0649, 0.0696  # m
FRONT_HIP_Y = 0.06                     # m: the front hips at y = +-0.06
FOOT_GROUND_Z = -0.115                 # m: the plane the feet's points stand on
REST = (-0.76679, 0.0, 1.476161)       # rad: each front foot right under its hip

STEP_MS = 32        # one step of the default world
MOVE_STEPS = 7      # steps given to each joint's move
SETTLE_STEPS = 20   # steps to settle at rest and on the disc

lib = ctypes.CDLL("libController.so.1")
lib.robot_get_device.argtypes = [ctypes.c_char_p]
lib.robot_get_device.restype = ctypes.c_uint8
lib.servo_set_position.argtypes = [ctypes.c_uint8, ctypes.c_float]
lib.servo_set_position.restype = None
lib.robot_step.argtypes = [ctypes.c_int32]
lib.robot_step.restype = ctypes.c_int
lib.camera_enable.argtypes = [ctypes.c_uint8, ctypes.c_int32]
lib.camera_enable.restype = None
lib.camera_get_image.argtypes = [ctypes.c_uint8]
lib.camera_get_image.restype = ctypes.POINTER(ctypes.c_ubyte)
lib.camera_get_width.argtypes = [ctypes.c_uint8]
lib.camera_get_width.restype = ctypes.c_uint16
lib.camera_get_height.argtypes = [ctypes.c_uint8]
lib.camera_get_height.restype = ctypes.c_uint16
lib.robot_console_print.argtypes = [ctypes.c_char_p]
lib.robot_console_print.restype = None
lib.robot_front_foot.argtypes = [ctypes.c_int, ctypes.POINTER(ctypes.c_float),
                                 ctypes.POINTER(ctypes.c_double)]
lib.robot_front_foot.restype = ctypes.c_int
INIT = ctypes.CFUNCTYPE(None)
STEP = ctypes.CFUNCTYPE(ctypes.c_int)
lib.robot_live.argtypes = [INIT]
lib.robot_live.restype = None
lib.robot_run.argtypes = [STEP]
lib.robot_run.restype = None


def console(text):
    lib.robot_console_print((text + "\n").encode())


def front_foot(leg, set_points):
    """Where the library says the leg's foot goes for these set-points."""
    angles = (ctypes.c_float * 3)(*set_points)
    foot = (ctypes.c_double * 3)()
    if lib.robot_front_foot(leg, angles, foot) != 0:
        raise ValueError("robot_front_foot refused leg %d" % leg)
    return tuple(foot)


def set_points_for(leg, x, y, z=FOOT_GROUND_Z):
    """The front leg's hip pitch, hip roll and knee that put its foot at
    (x, y, z), body frame; None beyond the leg's reach. The inverse of the
    forward kinematics in controller/robot.h, with the knee bent forward."""
    inward = FRONT_HIP_Y - y if leg == 0 else y + FRONT_HIP_Y  # towards the midline
    cos_q3 = (x * x + inward * inward + z * z - UPPER_LEG ** 2 - LOWER_LEG ** 2) / (
        2 * UPPER_LEG * LOWER_LEG)
    if not -1.0 <= cos_q3 <= 1.0:
        return None
    q3 = math.acos(cos_q3)
    a = UPPER_LEG + LOWER_LEG * math.cos(q3)
    b = LOWER_LEG * math.sin(q3)
    q2 = math.asin(inward / a)
    q1 = math.atan2(z, x) + math.atan2(a * math.cos(q2), b)
    return (q1 - 0.2, -q2, q3 + 0.385)


def wait(steps):
    for _ in range(steps):
        lib.robot_step(STEP_MS)


class Controller:
    def __init__(self, x, y):
        self.disc = (x, y)
        # The leg whose hip is nearer the disc.
        self.leg = 0 if y >= 0 else 2
        self.joints = {}
        self.camera = 0
        self.reached = False

    def init(self):
        for leg, names in JOINT_NAMES.items():
            self.joints[leg] = [lib.robot_get_device(name.encode()) for name in names]
            for tag, angle in zip(self.joints[leg], REST):
                lib.servo_set_position(tag, angle)
        self.camera = lib.robot_get_device(CAMERA.encode())
        lib.camera_enable(self.camera, STEP_MS)

    def move(self, pose, order):
        for joint in order:
            lib.servo_set_position(self.joints[self.leg][joint], pose[joint])
            wait(MOVE_STEPS)

    def step(self):
        wait(SETTLE_STEPS)
        if self.reached:
            return 0
        self.reached = True
        width = lib.camera_get_width(self.camera)
        height = lib.camera_get_height(self.camera)
        image = lib.camera_get_image(self.camera)
        if image:
            centre = 3 * ((height // 2) * width + width // 2)
            console("camera: %d x %d pixels, centre pixel red %d green %d blue %d"
                    % (width, height, image[centre], image[centre + 1], image[centre + 2]))
        pose = set_points_for(self.leg, *self.disc)
        side = FRONT_LEGS[self.leg]
        if pose is None:
            console("the disc at x %.3f m, y %.3f m is beyond the %s front foot's reach"
                    % (self.disc[0], self.disc[1], side))
            return 0
        foot = front_foot(self.leg, pose)
        console("reach: %s front leg to the disc at x %.3f m, y %.3f m "
                "(hip pitch %.4f, hip roll %.4f, knee %.4f; foot at x %.4f, y %.4f, z %.4f)"
                % ((side,) + self.disc + pose + foot))
        self.move(pose, (2, 1, 0))   # knee, hip roll, hip pitch
        wait(SETTLE_STEPS)
        self.move(REST, (0, 1, 2))   # and back the other way round
        console("back at rest")
        return 0


def main():
    x, y = (float(sys.argv[1]), float(sys.argv[2])) if len(sys.argv) == 3 else (0.038, 0.050)
    controller = Controller(x, y)
    # The callbacks must outlive the run: keep them referenced.
    init = INIT(controller.init)
    step = STEP(controller.step)
    lib.robot_live(init)
    lib.robot_run(step)


if __name__ == "__main__":
    main()
