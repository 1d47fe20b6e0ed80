#pragma once
// The board's driver nodes, one getter each, so every user opens the same
// node (open them with drv::open, which maps them on the simulated board),
// and the texts that go with the RTP driver.
#include <iosfwd>

#include "platform/rtp_records.h"

const char* GetVoiceDevName();   // "/dev/voice"
const char* GetMixerDevName();   // "/dev/mixer"
const char* GetDTMFDevName();    // "/dev/dtmf"
const char* GetDSPDevName();     // "/dev/dsp"
const char* GetRtpDevName();     // "/dev/rtp"
const char* GetRtpExtDevName();  // "/dev/rtp_ext"
const char* GetModemDevName();   // "/dev/mctl"
const char* GetMaintenance();    // "/dev/maintenance"
const char* GetSpiTdmDevName();  // "/dev/spi_tdm"
const char* GetUsbTdmDevName();  // "/dev/usb_tdm"

// The name of an RTP driver codec number; "invalid" outside 0..8.
const char* GetCodecAsStr(int codec);

// The sentence for an RTP driver error code. A code without one gives
// "Unknown RTP Error <code>" in a buffer of this function's own, which the
// next such call overwrites.
const char* RTPStrError(int code);

// An RTP driver failure: the errno at construction and the driver's code.
class RtpErr {
 public:
  explicit RtpErr(int code);
  // Writes the strerror text of the stored errno (no line end).
  void Put(std::ostream& s) const;
  int err() const { return err_; }
  int code() const { return code_; }

 private:
  int err_;
  int code_;
};

// Record printers: a block of lines with a two-blank prefix, except the
// channel record, which is one line with no end.
std::ostream& operator<<(std::ostream& s, const rtp_connection_params& r);
std::ostream& operator<<(std::ostream& s, const rtp_channel_info& r);
std::ostream& operator<<(std::ostream& s, const rtp_attach_session_params& r);
std::ostream& operator<<(std::ostream& s, const rtp_ext_attach_session_params& r);
std::ostream& operator<<(std::ostream& s, const rtp_ext_init_params& r);
