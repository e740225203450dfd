// Reads the board and its PWM chips from sysfs: each chip under
// class/pwm, its device and device-tree node (device/of_node), and from
// the tree under firmware/devicetree/base the board's model, each block's
// clock, the pins its pinctrl gives it and the kernel drivers whose `pwms`
// take its channels. All of it is readable without root.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <map>

#include "carrier/pwm_board.h"

namespace {

// The largest property or file read; a device tree's are far smaller.
constexpr std::size_t kMaxFileBytes = 65536;
// Bounds on the walk of the tree, which has a few thousand nodes.
constexpr int kMaxDepth = 12;
constexpr int kMaxNodes = 50000;

bool read_bytes(const std::string& path, std::string& bytes) {
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  bytes.clear();
  char buffer[4096];
  for (;;) {
    const ssize_t length = read(fd, buffer, sizeof buffer);
    if (length <= 0) break;
    bytes.append(buffer, static_cast<std::size_t>(length));
    if (bytes.size() > kMaxFileBytes) break;
  }
  close(fd);
  return true;
}

std::string base_name(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Where a link leads, every link followed; empty where it leads nowhere.
std::string resolved(const std::string& path) {
  char* full = realpath(path.c_str(), nullptr);
  if (full == nullptr) return "";
  std::string text = full;
  std::free(full);
  return text;
}

std::uint32_t first_cell(const std::string& path, std::uint32_t otherwise) {
  std::string bytes;
  if (!read_bytes(path, bytes)) return otherwise;
  const std::vector<std::uint32_t> cells = dt_cells(bytes);
  return cells.empty() ? otherwise : cells[0];
}

bool node_enabled(const std::string& node) {
  std::string bytes;
  if (!read_bytes(node + "/status", bytes)) return true;
  const std::vector<std::string> status = dt_strings(bytes);
  return !status.empty() && (status[0] == "okay" || status[0] == "ok");
}

// A node that uses PWM channels: its `pwms` cells.
struct PwmConsumer {
  std::string node;
  std::vector<std::uint32_t> cells;
};

// What the walk of the tree gathers: each phandle's node and the nodes
// (enabled ones) with `pwms`.
struct TreeIndex {
  std::map<std::uint32_t, std::string> nodes;
  std::vector<PwmConsumer> consumers;
  int walked = 0;
};

void walk_tree(const std::string& dir, int depth, TreeIndex& index) {
  if (depth > kMaxDepth || index.walked >= kMaxNodes) return;
  ++index.walked;
  DIR* listing = opendir(dir.c_str());
  if (listing == nullptr) return;
  std::vector<std::string> children;
  bool has_pwms = false;
  while (const dirent* entry = readdir(listing)) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    if (name == "phandle") {
      index.nodes[first_cell(dir + "/phandle", 0)] = dir;
    } else if (name == "pwms") {
      has_pwms = true;
    } else {
      struct stat info {};
      if (lstat((dir + "/" + name).c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
        children.push_back(name);
      }
    }
  }
  closedir(listing);
  std::string bytes;
  if (has_pwms && node_enabled(dir) && read_bytes(dir + "/pwms", bytes)) {
    index.consumers.push_back({dir, dt_cells(bytes)});
  }
  for (const std::string& child : children) walk_tree(dir + "/" + child, depth + 1, index);
}

// The pins a pinctrl node sets, in its own properties or its children's:
// `brcm,pins` cells (the overlays' form) or `pins` names ("gpio18").
void add_pins(const std::string& node, bool children, std::vector<int>& pins) {
  std::string bytes;
  if (read_bytes(node + "/brcm,pins", bytes)) {
    for (std::uint32_t pin : dt_cells(bytes)) {
      if (pin <= 53) pins.push_back(static_cast<int>(pin));
    }
  }
  if (read_bytes(node + "/pins", bytes)) {
    for (const std::string& name : dt_strings(bytes)) {
      const int pin = dt_gpio_name(name);
      if (pin >= 0) pins.push_back(pin);
    }
  }
  if (!children) return;
  DIR* listing = opendir(node.c_str());
  if (listing == nullptr) return;
  std::vector<std::string> subnodes;
  while (const dirent* entry = readdir(listing)) {
    const std::string name = entry->d_name;
    struct stat info {};
    if (name != "." && name != ".." && lstat((node + "/" + name).c_str(), &info) == 0 &&
        S_ISDIR(info.st_mode)) {
      subnodes.push_back(name);
    }
  }
  closedir(listing);
  std::sort(subnodes.begin(), subnodes.end());
  for (const std::string& name : subnodes) add_pins(node + "/" + name, false, pins);
}

// The channels of the provider with `phandle` that enabled consumers
// take: each `pwms` entry is a phandle and its provider's #pwm-cells.
void add_holders(const TreeIndex& index, std::uint32_t phandle, PwmBlock& block) {
  for (const PwmConsumer& consumer : index.consumers) {
    std::size_t at = 0;
    while (at < consumer.cells.size()) {
      const std::uint32_t provider = consumer.cells[at];
      const auto node = index.nodes.find(provider);
      if (node == index.nodes.end()) break;
      const std::uint32_t cells = first_cell(node->second + "/#pwm-cells", 2);
      if (cells == 0 || cells > 8 || at + 1 >= consumer.cells.size()) break;
      if (provider == phandle) {
        const std::uint32_t channel = consumer.cells[at + 1];
        if (channel < 1024) {
          block.held_channels.push_back(static_cast<int>(channel));
          block.holders.push_back(base_name(consumer.node));
        }
      }
      at += 1 + cells;
    }
  }
}

// What the device tree says of the chip in `chip_dir`; only its name and
// channels where the chip has no node there (a chip of another kind, or a
// directory laid out for a test).
PwmBlock read_block(const std::string& chip_dir, const std::string& name, const TreeIndex& index) {
  PwmBlock block;
  block.chip = name;
  std::string bytes;
  if (read_bytes(chip_dir + "/npwm", bytes)) block.channels = std::atoi(bytes.c_str());
  const std::string device = resolved(chip_dir + "/device");
  const std::string node = resolved(chip_dir + "/device/of_node");
  if (device.empty() || node.empty()) return block;
  block.device = base_name(device);
  block.node = base_name(node);
  if (read_bytes(node + "/compatible", bytes)) {
    const std::vector<std::string> compatible = dt_strings(bytes);
    if (!compatible.empty()) block.compatible = compatible[0];
    block.kind = pwm_block_kind(compatible, block.device);
  }
  block.clock_hz = first_cell(node + "/assigned-clock-rates", 0);
  if (read_bytes(node + "/pinctrl-0", bytes)) {
    for (std::uint32_t phandle : dt_cells(bytes)) {
      const auto pins = index.nodes.find(phandle);
      if (pins != index.nodes.end()) add_pins(pins->second, true, block.given_pins);
    }
  }
  const std::uint32_t phandle = first_cell(node + "/phandle", 0);
  if (phandle != 0) add_holders(index, phandle, block);
  return block;
}

int chip_number(const std::string& name) {
  return name.size() > 7 && name.size() < 12 ? std::atoi(name.c_str() + 7) : INT_MAX;
}

std::string tree_dir(const std::string& root) { return root + "/firmware/devicetree/base"; }

std::string board_model(const std::string& root) {
  std::string bytes;
  if (!read_bytes(tree_dir(root) + "/model", bytes)) return "";
  const std::vector<std::string> model = dt_strings(bytes);
  if (model.empty()) return "";
  const std::size_t revision = model[0].find(" Rev ");
  return revision == std::string::npos ? model[0] : model[0].substr(0, revision);
}

}  // namespace

PwmBoard read_pwm_board(const std::string& root) {
  PwmBoard board;
  board.model = board_model(root);
  TreeIndex index;
  walk_tree(tree_dir(root), 0, index);
  const std::string class_dir = root + "/class/pwm";
  DIR* listing = opendir(class_dir.c_str());
  if (listing == nullptr) return board;
  std::vector<std::string> chips;
  while (const dirent* entry = readdir(listing)) {
    const std::string name = entry->d_name;
    if (name.compare(0, 7, "pwmchip") == 0) chips.push_back(name);
  }
  closedir(listing);
  std::sort(chips.begin(), chips.end(), [](const std::string& a, const std::string& b) {
    return chip_number(a) < chip_number(b);
  });
  for (const std::string& name : chips) {
    board.blocks.push_back(read_block(class_dir + "/" + name, name, index));
  }
  return board;
}

PwmBlock read_pwm_chip(const std::string& root, const std::string& chip_dir) {
  TreeIndex index;
  walk_tree(tree_dir(root), 0, index);
  return read_block(chip_dir, base_name(chip_dir), index);
}

std::string read_pwm_model(const std::string& root) { return board_model(root); }

bool query_pwm(const char* argument) {
  if (argument == nullptr || std::string(argument) != "list") return false;
  std::fputs(describe_pwm_board(read_pwm_board(pwm_sysfs_root())).c_str(), stdout);
  return true;
}
