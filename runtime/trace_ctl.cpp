#include "runtime/trace_ctl.h"

#include <iostream>

#include "runtime/ini_file.h"
#include "runtime/ini_reader.h"

void TraceCtl::Configure(IniFile::Section& section) {
  for (IniFile::SubSection& block : section) Configure(block);
}

void TraceCtl::Configure(IniFile::SubSection& block) {
  IniFile::Reader reader("traces: ", std::cerr);
  signalling_hdlc = signalling_veskgw = signalling_events = signalling_isdn = monitoring_internal = false;
  reader.optional.add(&signalling_hdlc, "signalling.hdlc");
  reader.optional.add(&signalling_veskgw, "signalling.veskgw");
  reader.optional.add(&signalling_events, "signalling.events");
  reader.optional.add(&signalling_isdn, "signalling.isdn");
  reader.optional.add(&monitoring_internal, "monitoring.internal");
  reader.parse(block);
}
