#pragma once
// The slot registry, a process-wide singleton. It grows into the control
// service that creates, connects and destroys slots; for now it holds what
// the process entry needs of it.
class Slots {
 public:
  static Slots& instance();

  // Reports the resources of every factory to the controller (on SIGHUP).
  // The resource record and the controller session come with the slot model
  // and the control link; until then there is nobody to report to.
  void UpdateHardwareResources();

 private:
  Slots() = default;
};
