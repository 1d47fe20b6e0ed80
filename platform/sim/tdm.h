#pragma once
// The simulated board's TDM fabric: the switching matrix behind "/dev/hal"
// and the lines behind the trunk timeslots. The matrix and MCC models read
// and change it; the control commands of the board show and bend it.
//
// Channel numbers (one number names an output of the matrix and the input
// of the same name):
//   0..127        E1 trunk timeslots, trunk * 32 + timeslot (trunks 0..3).
//                 Output t*32+s goes out on trunk t's line; input t*32+s is
//                 what comes in on it.
//   1024..        MCC controller channels (mcc_model.h): output m is the
//                 controller's receiver, input m its transmitter.
//   8192..10239   bus channels: output and input are the same wire.
// Anything else (mixers, RTP channels) has no model: what is sent there is
// lost and reads as 0xFF.
//
// Lines: `cable A B` joins trunk A's line to trunk B's (what A sends on
// timeslot s comes in on B's timeslot s, and back); `loop T` sends trunk T's
// line back to itself; an unplugged trunk loses what it sends.
#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace sim {

class Tdm {
 public:
  static constexpr int trunks = 4;
  static constexpr int trunk_timeslots = 32;

  static Tdm& instance();
  Tdm();

  // Power-on: every output undriven and never disabled, every line unplugged.
  void reset();

  // ---- the matrix: what drives each output ----
  enum class Drive : std::uint8_t { undriven, source, constant };
  struct Output {
    Drive drive = Drive::undriven;
    std::int32_t source = 0;    // for Drive::source: the input it hears
    std::uint8_t value = 0;     // for Drive::constant
    bool disabled = false;      // disabled, and not driven since
    std::uint32_t repeats = 0;  // disables since, that found it disabled already
  };
  void connect(int destination, int source);
  void write(int channel, std::uint8_t value);
  // Stops driving the output; false when it was disabled already.
  bool disable(int channel);
  Output output(int channel) const;
  // Every output that is driven or has been disabled, ascending.
  const std::map<int, Output>& outputs() const { return outputs_; }
  // The byte heard on input `channel` now (0xFF where nothing drives it).
  std::uint8_t read(int channel) const;
  // "8200 <- 5", "8201 = 0xD5", "8202 undriven" (with the disables seen).
  static std::string describe(int channel, const Output& o);

  // ---- lines ----
  // Joins trunk a's line to trunk b's (a == b: a loop); each trunk's earlier
  // line goes. False when a trunk is out of range.
  bool cable(int a, int b);
  bool unplug(int trunk);
  // The trunk at the far end of trunk t's line; -1 when unplugged or out of range.
  int far_end(int trunk) const;
  // The input on which what output `channel` sends arrives; -1: nowhere.
  int wire(int channel) const;

  // ---- paths ----
  // The outputs, accepted by `endpoint`, that what input `from` carries
  // reaches along the matrix and the wires (each once, nearest first).
  std::vector<int> reach(int from, const std::function<bool(int)>& endpoint) const;

  static bool is_trunk(int channel) { return channel >= 0 && channel < trunks * trunk_timeslots; }
  static bool is_bus(int channel);

 private:
  std::uint8_t heard(int input, int depth) const;
  std::uint8_t driven(int output, int depth) const;

  std::map<int, Output> outputs_;
  std::array<int, trunks> far_;
};

}  // namespace sim
