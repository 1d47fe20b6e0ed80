#pragma once
// The last judged state of one network interface. The running flag is
// sampled every few seconds and judged by the majority of the last three
// samples, so a single flap is not reported.
#include <deque>
#include <string>

class NetIfDataHolder {
 public:
  NetIfDataHolder(int index, const std::string& name);

  // Samples the kernel's running flag of the interface with this index and
  // judges it (setNetIfStatus). Returns whether the judged state changed;
  // false, with the state kept, when the kernel cannot be asked.
  bool updateNetIf();
  // Adds one sample (0 or 1) and judges again; returns whether the judged
  // state changed. The first sample always answers true.
  bool setNetIfStatus(int sample);

  int running() const { return running_; }           // -1 until the first sample
  int oper_status() const { return operStatus_; }    // 1 up, 2 down
  int admin_status() const { return adminStatus_; }  // the same rule
  const std::deque<int>& samples() const { return samples_; }
  int index() const { return index_; }
  const std::string& name() const { return name_; }

 private:
  int running_ = -1;
  int operStatus_ = 2;
  int adminStatus_ = 2;
  std::deque<int> samples_;  // oldest first, at most three
  int index_;
  std::string name_;
};
