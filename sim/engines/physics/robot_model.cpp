#include "sim/engines/physics/robot_model.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <utility>

#include "sim/core/errors.h"
#include "sim/core/geometry.h"
#include "sim/engines/physics/robot_factors.h"

namespace sim {

namespace {

// Discs lie on the floor, all of them, however many there are: where they
// overlap, the renderer settles which shows (see disc_ranks).
constexpr double disc_half_height = 0.00001;  // metres

// %.9g whatever the process's locale: the model's numbers are read back by
// MuJoCo's own parser, which wants a decimal point.
std::string number(double value, int digits = 9) {
  char text[40];
  const auto end =
      std::to_chars(text, text + sizeof text, value, std::chars_format::general, digits).ptr;
  return std::string(text, end);
}

// Red, green, blue bytes as MuJoCo's 0..1 colour, so a flat, unlit material
// renders back exactly these bytes.
std::string rgba(const std::array<std::uint8_t, 3> &color) {
  std::string out;
  for (const std::uint8_t channel : color) out += number(channel / 255.0) + " ";
  return out + "1";
}

}  // namespace

double floor_height(Torso torso) { return torso == Torso::free ? ground_z - paw_radius : ground_z; }

std::string world_model_xml(const WorldConfig &world) {
  std::string xml = world.torso == Torso::free ? robot_model_xml : robot_on_stand_xml;
  write_factors(xml, world.factors);
  std::string assets;
  std::string discs;
  const std::size_t count = world.targets.size();
  for (std::size_t i = 0; i < count; ++i) {
    const Target &t = world.targets[i];
    const std::string name = "target" + std::to_string(i);
    assets += "    <material name=\"" + name + "\" rgba=\"" + rgba(t.color) +
              "\" emission=\"0.25\" specular=\"0\" shininess=\"0\" reflectance=\"0\"/>\n";
    discs += "    <geom name=\"" + name + "\" type=\"cylinder\" material=\"" + name + "\" size=\"" +
             number(t.radius) + " " + number(disc_half_height) + "\" pos=\"" + number(t.x) + " " +
             number(t.y) + " " + number(floor_height(world.torso) + disc_half_height) +
             "\" contype=\"0\" conaffinity=\"0\" group=\"1\"/>\n";
  }
  const std::size_t asset_end = xml.find("</asset>");
  const std::size_t world_end = xml.find("</worldbody>");
  if (asset_end == std::string::npos || world_end == std::string::npos)
    throw RunError("robot model: it has no <asset> or no <worldbody> section");
  xml.insert(world_end, discs);
  xml.insert(asset_end, assets);
  return xml;
}

std::string with_timestep(const std::string &xml, double seconds) {
  const std::size_t option = xml.find("<option");
  const std::size_t end = xml.find('>', option);
  const std::size_t at = xml.find("timestep=\"", option);
  if (option == std::string::npos || end == std::string::npos || at == std::string::npos ||
      at > end)
    return xml;
  const std::size_t value = at + std::string("timestep=\"").size();
  const std::size_t close = xml.find('"', value);
  return xml.substr(0, value) + number(seconds, 17) + xml.substr(close);
}

std::vector<int> disc_ranks(const mjModel &model, const WorldConfig &world) {
  std::vector<int> ranks(static_cast<std::size_t>(model.ngeom), 0);
  const std::vector<Target> &discs = world.targets;
  std::vector<int> rank(discs.size(), 0);
  for (std::size_t i = discs.size(); i-- > 0;) {
    for (std::size_t j = i + 1; j < discs.size(); ++j)
      if (std::hypot(discs[i].x - discs[j].x, discs[i].y - discs[j].y) <
          discs[i].radius + discs[j].radius)
        rank[i] = std::max(rank[i], rank[j] + 1);
    if (rank[i] == 0) continue;
    const std::string name = "target" + std::to_string(i);
    ranks[static_cast<std::size_t>(id_of(&model, mjOBJ_GEOM, name.c_str(), "geom"))] = rank[i];
  }
  return ranks;
}

ModelPointer compile_model(const std::string &xml) {
  // MuJoCo 2.2 compiles only files; its virtual file system holds the text.
  const std::unique_ptr<mjVFS> files = std::make_unique<mjVFS>();
  mj_defaultVFS(files.get());
  const char *name = "robot.xml";
  if (mj_makeEmptyFileVFS(files.get(), name, static_cast<int>(xml.size())) != 0)
    throw RunError("robot model: cannot be put into MuJoCo's file system");
  const int file = mj_findFileVFS(files.get(), name);
  std::copy(xml.begin(), xml.end(), static_cast<char *>(files->filedata[file]));
  char error[1000] = "";
  mjModel *model = mj_loadXML(name, files.get(), error, sizeof error);
  mj_deleteVFS(files.get());
  if (model == nullptr) throw RunError(std::string("robot model: ") + error);
  return ModelPointer(model);
}

ModelPointer world_model(const WorldConfig &world, const std::string &xml) {
  struct Kept {
    std::string key;  // the world's model text with every disc at the origin
    ModelPointer model;
    std::vector<int> discs;  // the discs' geoms
  };
  static Kept kept;
  WorldConfig placed_nowhere = world;
  for (Target &t : placed_nowhere.targets) t.x = t.y = 0.0;
  std::string key = world_model_xml(placed_nowhere);
  if (!kept.model || key != kept.key) {
    kept.model.reset();
    ModelPointer model = compile_model(xml);
    std::vector<int> discs;
    for (std::size_t i = 0; i < world.targets.size(); ++i)
      discs.push_back(
          id_of(model.get(), mjOBJ_GEOM, ("target" + std::to_string(i)).c_str(), "geom"));
    kept = {std::move(key), std::move(model), std::move(discs)};
    return ModelPointer(mj_copyModel(nullptr, kept.model.get()));
  }
  ModelPointer model(mj_copyModel(nullptr, kept.model.get()));
  for (std::size_t i = 0; i < world.targets.size(); ++i) {
    // Each coordinate as the compiler reads it from the text.
    mjtNum *at = model->geom_pos + 3 * kept.discs[i];
    for (const auto &[k, value] : {std::pair{0, world.targets[i].x}, {1, world.targets[i].y}}) {
      const std::string text = number(value);
      std::from_chars(text.data(), text.data() + text.size(), at[k]);
    }
  }
  return model;
}

int id_of(const mjModel *model, mjtObj type, const char *name, const char *what) {
  const int id = mj_name2id(model, type, name);
  if (id < 0) throw RunError(std::string("robot model: no ") + what + " named \"" + name + "\"");
  return id;
}

}  // namespace sim
