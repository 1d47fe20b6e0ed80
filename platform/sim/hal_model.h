#pragma once
// The simulated "/dev/hal": the switching matrix requests on the board's TDM
// fabric (tdm.h). Every open shares the one fabric. Further requests of the
// same node (clock select, bus test bytes, line chips) belong in
// HalDevice::ioctl_ptr next to the matrix ones.
#include "platform/sim/device.h"

namespace sim {

class Board;
class Tdm;

class HalDevice : public Device {
 public:
  explicit HalDevice(Tdm& tdm) : tdm_(tdm) {}
  int ioctl_ptr(unsigned long code, void* rec, std::size_t size) override;

 private:
  int matrix(unsigned long code, void* rec, std::size_t size);
  Tdm& tdm_;
};

// Registers the "/dev/hal" model and the commands on the matrix and the
// lines: matrix, cable, loop, unplug, lines.
void install_hal(Board& board);

}  // namespace sim
