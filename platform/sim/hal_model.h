#pragma once
// The simulated "/dev/hal": the switching matrix requests on the board's TDM
// fabric (tdm.h), the clock select of the TDM bus, the registers of the
// line chips on its SPI bus (spi_model.h) and the front panel's DIP switch,
// power byte and framer LEDs (front_panel.h). Every open shares the one
// fabric, clock, chips and panel.
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
  int clock(void* rec, std::size_t size);
  Tdm& tdm_;
};

// The clock source the TDM bus runs on: the last one selected (0..7), -1
// before any selection.
int bus_clock();
void reset_bus_clock();

// Registers the "/dev/hal" model and the commands on the matrix, the bus
// wires, the clock, the lines and the line chips: matrix, bus, clock, cable,
// loop, unplug, lines, spi, dip, power, leds.
void install_hal(Board& board);

}  // namespace sim
