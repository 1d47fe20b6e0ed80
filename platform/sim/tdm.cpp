#include "platform/sim/tdm.h"

#include <cstdio>
#include <algorithm>
#include <deque>
#include <set>

#include "platform/hal_records.h"

namespace sim {

Tdm& Tdm::instance() {
  static Tdm tdm;
  return tdm;
}

Tdm::Tdm() { reset(); }

void Tdm::reset() {
  outputs_.clear();
  far_.fill(-1);
}

bool Tdm::is_bus(int channel) { return channel >= hal::bus_first && channel <= hal::bus_last; }

void Tdm::connect(int destination, int source) {
  Output& o = outputs_[destination];
  o.drive = Drive::source;
  o.source = source;
  o.disabled = false;
  o.repeats = 0;
}

void Tdm::write(int channel, std::uint8_t value) {
  Output& o = outputs_[channel];
  o.drive = Drive::constant;
  o.value = value;
  o.disabled = false;
  o.repeats = 0;
}

bool Tdm::disable(int channel) {
  Output& o = outputs_[channel];
  if (o.disabled) {
    ++o.repeats;
    return false;
  }
  o.drive = Drive::undriven;
  o.disabled = true;
  return true;
}

Tdm::Output Tdm::output(int channel) const {
  auto it = outputs_.find(channel);
  return it == outputs_.end() ? Output() : it->second;
}

std::string Tdm::describe(int channel, const Output& o) {
  char text[96];
  switch (o.drive) {
    case Drive::source:
      std::snprintf(text, sizeof text, "%d <- %d", channel, static_cast<int>(o.source));
      break;
    case Drive::constant:
      std::snprintf(text, sizeof text, "%d = 0x%02X", channel, o.value);
      break;
    default:
      if (o.disabled)
        std::snprintf(text, sizeof text, "%d undriven (disabled, %u more times since)", channel, o.repeats);
      else
        std::snprintf(text, sizeof text, "%d undriven", channel);
      break;
  }
  return text;
}

bool Tdm::cable(int a, int b) {
  if (a < 0 || a >= trunks || b < 0 || b >= trunks) return false;
  unplug(a);
  unplug(b);
  far_[a] = b;
  far_[b] = a;
  return true;
}

bool Tdm::unplug(int trunk) {
  if (trunk < 0 || trunk >= trunks) return false;
  const int other = far_[trunk];
  if (other >= 0) far_[other] = -1;
  far_[trunk] = -1;
  return true;
}

int Tdm::far_end(int trunk) const { return trunk >= 0 && trunk < trunks ? far_[trunk] : -1; }

int Tdm::wire(int channel) const {
  if (is_bus(channel)) return channel;
  if (!is_trunk(channel)) return -1;
  const int far = far_[channel / trunk_timeslots];
  return far < 0 ? -1 : far * trunk_timeslots + channel % trunk_timeslots;
}

std::uint8_t Tdm::heard(int input, int depth) const {
  // Every input is heard through one output (a wire is symmetric), so
  // wire() serves both ways; the depth bound stops a matrix loop.
  if (depth > 16) return 0xFF;
  const int out = wire(input);
  return out < 0 ? 0xFF : driven(out, depth + 1);
}

std::uint8_t Tdm::driven(int output, int depth) const {
  auto it = outputs_.find(output);
  if (it == outputs_.end()) return 0xFF;
  switch (it->second.drive) {
    case Drive::constant:
      return it->second.value;
    case Drive::source:
      return heard(it->second.source, depth);
    default:
      return 0xFF;
  }
}

std::uint8_t Tdm::read(int channel) const { return heard(channel, 0); }

std::vector<int> Tdm::reach(int from, const std::function<bool(int)>& endpoint) const {
  std::vector<int> found;
  std::set<int> seen{from};
  std::deque<int> inputs{from};
  while (!inputs.empty()) {
    const int input = inputs.front();
    inputs.pop_front();
    for (const auto& entry : outputs_) {
      if (entry.second.drive != Drive::source || entry.second.source != input) continue;
      const int out = entry.first;
      if (endpoint(out)) {
        if (std::find(found.begin(), found.end(), out) == found.end()) found.push_back(out);
        continue;
      }
      const int next = wire(out);
      if (next >= 0 && seen.insert(next).second) inputs.push_back(next);
    }
  }
  return found;
}

}  // namespace sim
