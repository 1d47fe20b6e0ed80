#include "hardware/device_names.h"

#include <errno.h>
#include <string.h>

#include <cstdio>
#include <ostream>

#include "platform/sysroot.h"

const char* GetVoiceDevName() { return sysroot::voice; }
const char* GetMixerDevName() { return sysroot::mixer; }
const char* GetDTMFDevName() { return sysroot::dtmf; }
const char* GetDSPDevName() { return sysroot::dsp; }
const char* GetRtpDevName() { return sysroot::rtp; }
const char* GetRtpExtDevName() { return sysroot::rtp_ext; }
const char* GetModemDevName() { return sysroot::mctl; }
const char* GetMaintenance() { return sysroot::maintenance; }
const char* GetSpiTdmDevName() { return sysroot::spi_tdm; }
const char* GetUsbTdmDevName() { return sysroot::usb_tdm; }

const char* GetCodecAsStr(int codec) {
  static const char* const codecs[] = {"unknown", "g711",     "g723",     "g729", "tonec",
                                       "g711-rtp", "g729-rtp", "g723-rtp", "conf"};
  const unsigned n = static_cast<unsigned>(codec);
  return n < sizeof codecs / sizeof codecs[0] ? codecs[n] : "invalid";
}

const char* RTPStrError(int code) {
  struct Text {
    int code;
    const char* text;
  };
  static const Text texts[] = {
      {0, "No error"},
      {0x03000002, "Parameter out of range"},
      {0x03000004, "Memory allocation failed"},
      {0x03000008, "Allocated buffer too small"},
      {0x03000101, "Maximum number of contexts exceeded"},
      {0x03000102, "Context destroyed or never created"},
      {0x03000103, "Socket not open for reading or writing"},
      {0x03000104, "Can't obtain a new socket"},
      {0x03000105, "Can't bind socket"},
      {0x03000106, "Unable to set socket option"},
      {0x03000107, "Unable to write to socket"},
      {0x03000108, "Unable to read from socket"},
      {0x03000109, "Socket does not belong to session"},
      {0x0300010A, "Change not allowed during open session"},
      {0x0300010B, "Invalid address specified"},
      {0x0300010C, "Invalid port specified"},
      {0x0300010E, "Unable to close session"},
      {0x0300010F, "No such membership info"},
      {0x03000110, "Invalid rtpprofile specified"},
      {0x03000111, "no data to receive at socket"},
      {0x03000112, "Packet looped back"},
      {0x03000113, "CSRC list not yet set"},
      {0x03000114, "2 CSRCs on list have same SSRC"},
      {0x03000115, "Packet has incorrect format"},
      {0x03000116, "Person not session member"},
      {0x03000117, "Person data protected"},
      {0x03000118, "No such sender in current session"},
      {0x03000119, "No such SDES field"},
      {0x0300011A, "Encryption / decryption function not set"},
      {0x0300011B, "Packet was unsuccessfully decrypted"},
      {0x0300011C, "End of iterating list"},
      {0x0300011D, "Not allowed to recurse"},
      {0x0300011E, "SSRC in use"},
      {0x0300011F, "Couldn't get socket name"},
      {0x03000120, "No such contributor"},
      {0x03000121, "CSRC list full"},
      {0x03000122, "Don't send this packet now"},
  };
  for (const Text& t : texts)
    if (t.code == code) return t.text;
  static char unknown[64];
  std::snprintf(unknown, sizeof unknown, "Unknown RTP Error %d", code);
  return unknown;
}

RtpErr::RtpErr(int code) : err_(errno), code_(code) {}

void RtpErr::Put(std::ostream& s) const { s << ::strerror(err_); }

namespace {

const char prefix[] = "  ";

}  // namespace

std::ostream& operator<<(std::ostream& s, const rtp_connection_params& r) {
  s << prefix << "rtp_connection_params" << std::endl;
  s << prefix << "{" << std::endl;
  s << prefix << " packet_factor = " << static_cast<unsigned short>(r.packet_factor) << std::endl;
  s << prefix << " rx_pt = " << static_cast<unsigned short>(r.rx_pt) << std::endl;
  s << prefix << " tx_pt = " << static_cast<unsigned short>(r.tx_pt) << std::endl;
  s << prefix << " ssrc = " << static_cast<unsigned int>(r.ssrc) << std::endl;
  s << prefix << "}" << std::endl;
  return s;
}

std::ostream& operator<<(std::ostream& s, const rtp_channel_info& r) {
  return s << "rtp_channel_info" << " {" << " tdm=" << static_cast<int>(r.tdm) << " dev_no=" << static_cast<int>(r.dev_no)
           << " chn=" << static_cast<int>(r.chn) << " }";
}

namespace {

template <class Attach>
std::ostream& printAttach(std::ostream& s, const char* name, const Attach& r) {
  s << prefix << name << std::endl;
  s << prefix << "{" << std::endl;
  s << prefix << " fd_rtp = " << static_cast<int>(r.fd_rtp) << std::endl;
  s << prefix << " pid_rtp = " << static_cast<int>(r.pid_rtp) << std::endl;
  s << prefix << "}" << std::endl;
  return s;
}

}  // namespace

std::ostream& operator<<(std::ostream& s, const rtp_attach_session_params& r) {
  return printAttach(s, "rtp_attach_session_params", r);
}

std::ostream& operator<<(std::ostream& s, const rtp_ext_attach_session_params& r) {
  return printAttach(s, "rtp_ext_attach_session_params", r);
}

std::ostream& operator<<(std::ostream& s, const rtp_ext_init_params& r) {
  s << prefix << "rtp_ext_init_params" << std::endl;
  s << prefix << "{" << std::endl;
  s << prefix << " etype = " << static_cast<unsigned short>(r.etype) << std::endl;
  s << prefix << "}" << std::endl;
  return s;
}
