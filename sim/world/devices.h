// The robot's devices as the stand-in knows them: names, tags and kinds.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

#include "sim/core/joints.h"

namespace sim {

enum class DeviceKind { none, receiver, joint, camera };

struct Device {
  std::string_view name;
  DeviceKind kind;
  int joint;  // the joint index (sim/core/joints.h) for joints, else -1
};

// Tag 0 means "no such device"; tag t > 0 is devices[t - 1].
inline constexpr std::array<Device, 17> devices{{
    {"receiver", DeviceKind::receiver, -1},
    {"PRM:/r2/c1-Joint2:21", DeviceKind::joint, 0},
    {"PRM:/r2/c1/c2-Joint2:22", DeviceKind::joint, 1},
    {"PRM:/r2/c1/c2/c3-Joint2:23", DeviceKind::joint, 2},
    {"PRM:/r3/c1-Joint2:31", DeviceKind::joint, 3},
    {"PRM:/r3/c1/c2-Joint2:32", DeviceKind::joint, 4},
    {"PRM:/r3/c1/c2/c3-Joint2:33", DeviceKind::joint, 5},
    {"PRM:/r4/c1-Joint2:41", DeviceKind::joint, 6},
    {"PRM:/r4/c1/c2-Joint2:42", DeviceKind::joint, 7},
    {"PRM:/r4/c1/c2/c3-Joint2:43", DeviceKind::joint, 8},
    {"PRM:/r5/c1-Joint2:51", DeviceKind::joint, 9},
    {"PRM:/r5/c1/c2-Joint2:52", DeviceKind::joint, 10},
    {"PRM:/r5/c1/c2/c3-Joint2:53", DeviceKind::joint, 11},
    {"PRM:/r1/c1-Joint2:11", DeviceKind::joint, 12},
    {"PRM:/r1/c1/c2-Joint2:12", DeviceKind::joint, 13},
    {"PRM:/r1/c1/c2/c3-Joint2:13", DeviceKind::joint, 14},
    {"PRM:/r1/c1/c2/c3/i1-FbkImageSensor:F1", DeviceKind::camera, -1},
}};

// The tag of a device name, or 0 for a name the robot does not have.
constexpr std::uint8_t tag_of(std::string_view name) {
  for (std::size_t i = 0; i < devices.size(); ++i)
    if (devices[i].name == name) return static_cast<std::uint8_t>(i + 1);
  return 0;
}

// The device behind a tag, or nothing for tag 0 and unknown tags.
constexpr std::optional<Device> device_of(std::uint8_t tag) {
  if (tag == 0 || tag > devices.size()) return std::nullopt;
  return devices[tag - 1u];
}

}  // namespace sim
