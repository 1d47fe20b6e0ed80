#include "runtime/trace_ctl.h"

#include <gtest/gtest.h>

#include <iostream>
#include <sstream>
#include <string>

#include "runtime/ini_file.h"
#include "tests/stream_capture.h"

namespace {

std::string Flags(const TraceCtl& t) {
  return std::string("hdlc=") + (t.signalling_hdlc ? "1" : "0") + " veskgw=" + (t.signalling_veskgw ? "1" : "0") +
         " events=" + (t.signalling_events ? "1" : "0") + " isdn=" + (t.signalling_isdn ? "1" : "0") +
         " internal=" + (t.monitoring_internal ? "1" : "0");
}

struct TraceCase {
  const char* what;
  const char* text;
  const char* flags;
  const char* report;
};

const TraceCase kTraceCases[] = {
    {"no traces section", "[other]\nsignalling.hdlc = yes\n", "hdlc=0 veskgw=0 events=0 isdn=0 internal=0", ""},
    {"every key, in every spelling",
     "[traces]\nsignalling.hdlc = yes\nsignalling.veskgw=enabled\nsignalling.events = 1 # on\n"
     "signalling.isdn = enable\nmonitoring.internal = true\n",
     "hdlc=1 veskgw=1 events=1 isdn=1 internal=1", ""},
    {"the last block decides, a key of the first only is off",
     "[traces]\nsignalling.hdlc = yes\nsignalling.isdn = yes\n[traces]\nsignalling.isdn = yes\n",
     "hdlc=0 veskgw=0 events=0 isdn=1 internal=0", ""},
    {"a later empty block clears everything", "[traces]\nsignalling.hdlc = yes\n[traces]\n",
     "hdlc=0 veskgw=0 events=0 isdn=0 internal=0", ""},
    {"faults in CR LF text, then a second block",
     "[traces]\r\nsignalling.hdlc = yes #c\r\nsignalling.isdn = on\r\nsignalling.events=1\nsignalling.events=0\n"
     "[traces]\nmonitoring.internal = enabled\nsignalling.hdlc = Yes",
     "hdlc=0 veskgw=0 events=0 isdn=0 internal=1",
     "traces: optional key \"signalling.events\" is duplicated!\n"
     "traces:  first occurence at 4 line.\n"
     "traces:  second occurence at 5 line. Both keys will be ignored.\n"
     "traces: optional key \"signalling.isdn\" has invalid value=\"on\", line 3. Key will be ignored.\n"
     "traces: optional key \"signalling.hdlc\" has invalid value=\"Yes\", line 8. Key will be ignored.\n"},
    {"three times", "[traces]\nsignalling.veskgw=1\nsignalling.veskgw=1\nsignalling.veskgw=1\n",
     "hdlc=0 veskgw=0 events=0 isdn=0 internal=0",
     "traces: optional key \"signalling.veskgw\" specified more than once: 2 3 4 lines. All keys will be ignored.\n"},
};

TEST(TraceCtl, ConfigureFromTheTracesSection) {
  for (const TraceCase& c : kTraceCases) {
    IniFile::File f;
    std::istringstream in(c.text);
    in >> f;
    TraceCtl t;
    testkit::StreamCapture err(std::cerr);
    t.Configure(f["traces"]);
    EXPECT_EQ(Flags(t), c.flags) << c.what;
    EXPECT_EQ(err.str(), c.report) << c.what;
  }
}

TEST(TraceCtl, EachBlockStartsFromAllOff) {
  IniFile::File f;
  TraceCtl t;
  t.signalling_isdn = true;
  t.Configure(f["traces"]);  // no block: nothing is touched
  EXPECT_TRUE(t.signalling_isdn);
  std::istringstream in("[traces]\nsignalling.hdlc = 1\n");
  in >> f;
  t.Configure(f["traces"]);
  EXPECT_EQ(Flags(t), "hdlc=1 veskgw=0 events=0 isdn=0 internal=0");
}

}  // namespace
