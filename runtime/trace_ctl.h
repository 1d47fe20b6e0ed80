#pragma once
// The trace switches an operator sets in the "traces" block of the
// configuration file. Traced code tests its switch and writes to std::clog.
namespace IniFile {
class Section;
class SubSection;
}  // namespace IniFile

class TraceCtl {
 public:
  TraceCtl() = default;

  // Applies every block of the section in file order; since each block
  // starts from all switches off, the last block decides.
  void Configure(IniFile::Section& section);
  // Sets the switches from one block; faults are reported on std::cerr with
  // the prefix "traces: " and leave the switch concerned off.
  void Configure(IniFile::SubSection& block);

  bool signalling_hdlc = false;      // "signalling.hdlc": HDLC channels and HDLC slots
  bool signalling_veskgw = false;    // "signalling.veskgw": kept, nothing reads it
  bool signalling_events = false;    // "signalling.events": DSP event receivers
  bool signalling_isdn = false;      // "signalling.isdn": ISDN slot frames
  bool monitoring_internal = false;  // "monitoring.internal": monitoring diagnostics
};
