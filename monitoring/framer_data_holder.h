#pragma once
// The last known state of one E1 framer, read from its driver status file
// and from the trunk-status signal. Each update answers whether anything
// changed, so the monitoring service publishes only on a change.
#include <string>
#include <vector>

#include "asn1/modules/ACP.h"

class FramerDataHolder {
 public:
  // number: the framer's number counted from 1; path: its status file as a
  // fixed path (quoted in messages, opened through the sysroot table).
  FramerDataHolder(int number, const std::string& path);

  // Takes the lines of the driver's status text. A line holding one of the
  // labels "Current state", "Loss of Signal", "Loss of Frame Alignment",
  // "Receive Slip Negative" or "Receive Slip Positive" (each padded to 24
  // characters, then ": ") sets that field from the rest of the line, taken
  // as it stands. Returns whether any field changed.
  bool setFramerStatus(const std::vector<unsigned char>& text);
  // Sets the state text from the state of a trunk-status signal (a value
  // beyond the known ones reads "Unknown"); the loss flags and slip counts
  // stay. Returns whether the text changed.
  bool setFramerStatus(const ACP::TrunkState& state);

  bool connected() const { return connected_; }
  const std::string& state_text() const { return stateText_; }
  bool signal_loss() const { return signalLoss_; }
  bool frame_loss() const { return frameLoss_; }
  int slip_negative() const { return slipNegative_; }
  int slip_positive() const { return slipPositive_; }
  int number() const { return number_; }
  const std::string& path() const { return path_; }

 private:
  bool setStateText(const std::string& text, bool connected);

  bool connected_ = false;  // false while the framer reports "No Carrier"
  std::string stateText_ = "absent";
  bool signalLoss_ = true;
  bool frameLoss_ = true;
  int slipNegative_ = 0;
  int slipPositive_ = 0;
  int number_;
  std::string path_;
};
