#include "monitoring/framer_data_holder.h"

#include <climits>
#include <cstdlib>

namespace {

const std::string kState = "Current state           : ";
const std::string kSignalLoss = "Loss of Signal          : ";
const std::string kFrameLoss = "Loss of Frame Alignment : ";
const std::string kSlipNegative = "Receive Slip Negative   : ";
const std::string kSlipPositive = "Receive Slip Positive   : ";

// The rest of the line behind label, when the line holds it.
bool valueOf(const std::string& line, const std::string& label, std::string& value) {
  const std::size_t at = line.find(label);
  if (at == std::string::npos) return false;
  value = line.substr(at + label.size());
  return true;
}

// The leading decimal number of a count such as "12 events"; 0 when there
// is none. A count beyond int is held at the limit, not wrapped.
int countOf(const std::string& value) {
  const long n = std::strtol(value.c_str(), nullptr, 10);
  if (n > INT_MAX) return INT_MAX;
  if (n < INT_MIN) return INT_MIN;
  return static_cast<int>(n);
}

template <class T>
bool update(T& field, T value) {
  if (field == value) return false;
  field = value;
  return true;
}

}  // namespace

FramerDataHolder::FramerDataHolder(int number, const std::string& path) : number_(number), path_(path) {}

bool FramerDataHolder::setStateText(const std::string& text, bool connected) {
  if (text == stateText_) return false;
  stateText_ = text;
  connected_ = connected;
  return true;
}

bool FramerDataHolder::setFramerStatus(const std::vector<unsigned char>& text) {
  const std::string all(text.begin(), text.end());
  bool changed = false;
  std::size_t start = 0;
  while (start < all.size()) {
    std::size_t end = all.find('\n', start);
    if (end == std::string::npos) end = all.size();
    const std::string line = all.substr(start, end - start);
    start = end + 1;
    std::string value;
    if (valueOf(line, kState, value)) changed |= setStateText(value, value != "No Carrier");
    if (valueOf(line, kSignalLoss, value)) changed |= update(signalLoss_, value == "yes");
    if (valueOf(line, kFrameLoss, value)) changed |= update(frameLoss_, value == "yes");
    if (valueOf(line, kSlipNegative, value)) changed |= update(slipNegative_, countOf(value));
    if (valueOf(line, kSlipPositive, value)) changed |= update(slipPositive_, countOf(value));
  }
  return changed;
}

bool FramerDataHolder::setFramerStatus(const ACP::TrunkState& trunkState) {
  // By trunk state: normal, lossBF, lossCarrier, ais, rai; unknown,
  // disabled and anything newer read "Unknown".
  static const char* const kTexts[] = {"Synchronized", "FAS Loss", "No Carrier", "AIS", "RAI"};
  const int state = trunkState.getValue();
  const bool known = state >= 0 && state < static_cast<int>(sizeof kTexts / sizeof kTexts[0]);
  return setStateText(known ? kTexts[state] : "Unknown", state != ACP::TrunkState::lossCarrier);
}
