#pragma once
// Switches for the terminal on standard input.
class Console {
 public:
  // Turns off canonical input and echo (signals stay on).
  static void SwitchToBinaryMode();
  static void SwitchToNonBlockMode();
};
