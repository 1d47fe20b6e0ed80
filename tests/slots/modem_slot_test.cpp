// Modem slots with their programs: the modem driver's requests, the
// argument vectors the stand-in records, the end of a child as a signal,
// destroys that wait for the child, digital modems on the board's
// point-to-point interfaces, and a controller lost while a release waits.
#include <signal.h>

#include <gtest/gtest.h>

#include "platform/modem_records.h"
#include "tests/e2e/process_scan.h"
#include "tests/slots/modem_fixture.h"

namespace {

using namespace modemtest;

std::string root(const std::string& fixed) { return sysroot::path(fixed); }
std::string options(const char* name) { return root(std::string(sysroot::ppp_dir) + name); }
std::string terminal(int modem) {
  char name[32];
  std::snprintf(name, sizeof name, sysroot::modem_tty_format, modem);
  return name;
}
std::string query(const Lines& answer) {
  for (const std::string& m : answer)
    if (contains(m, "signal : query")) return m;
  return "(no report)";
}

TEST_F(ModemTest, ADspModemIsSetUpOnItsFirstConnectionAndAnswersWithThePppDaemon) {
  EXPECT_EQ(connectModem(2, "{ cid \"123\", cdid \"\", ddm { ddmV110, ddm7BIT, ddmV120 }, "
                            "dmp { { offset 5, value 7 }, { offset 6, value 8 } } }"),
            (Lines{slotstest::stream(2, "transmitter", 3584), slotstest::stream(2, "receiver", 3584), success(3, 1)}));
  EXPECT_EQ(matrix(3584), "3584 <- 37");
  EXPECT_EQ(mctlRequests(), (Lines{"open /dev/mctl rdonly -> 0", "ioctl /dev/mctl 0x0000BB0B val=0 -> 0 (modem 0)",
                                   "ioctl /dev/mctl 0x0000BB15 val=0 -> 3584",
                                   "ioctl /dev/mctl 0x0000BB16 -> 0 (modem 0 ddm 0x5)",
                                   "ioctl /dev/mctl 0x0000BB3A -> 0 (modem 0 dmp reset)",
                                   "ioctl /dev/mctl 0x0000BB38 -> 0 (modem 0 dmp 5=7)",
                                   "ioctl /dev/mctl 0x0000BB38 -> 0 (modem 0 dmp 6=8)",
                                   "ioctl /dev/mctl 0x0000BB03 -> 0 (modem 0 answer)"}));
  EXPECT_EQ(journalWith(" 0x0000BB16 ").at(0).rfind(recLine(sysroot::mctl, mctl::set_ddm, mctl::ModemRequest{0, 5}), 0), 0u);
  EXPECT_EQ(journalWith(" 0x0000BB38 ").at(1).rfind(recLine(sysroot::mctl, mctl::set_dmp, mctl::DmpParam{0, 6, 8}), 0), 0u);
  ASSERT_TRUE(logged(sysroot::pppd, "start pid=" + std::to_string(factory->modem_slots().at(0)->child_pid())));
  EXPECT_EQ(standin::args(sysroot::pppd),
            (Lines{root(sysroot::pppd), "file", options("aoptions"), terminal(0), "remotenumber", "123"}));
  EXPECT_TRUE(contains(log(), "02:dsp-modem: pppd executed cid=\"123\" pid=")) << log();

  // Another connection sets nothing up again.
  board().clear_journal();
  ASSERT_EQ(exchange(create(4, 3, "map : { receiver { bus 1, channel 5 } }")).size(), 2u);
  EXPECT_EQ(exchange(cmd(5, 2, "connect : 3")), Lines{success(5, 2)});
  EXPECT_EQ(matrix(8325), "8325 <- 3584");
  EXPECT_EQ(mctlRequests(), Lines{});

  destroyRunning(6, 2);
  EXPECT_TRUE(contains(err(), "02:dsp-modem: sent HUP to pppd.\n")) << err();
  EXPECT_TRUE(contains(log(), "02:dsp-modem: pppd terminated with code 1\n")) << log();
  settle();  // the board hears of the close on a later pass
  EXPECT_EQ(command("mctl")[0], "modem 0 ts 3584 free");
}

TEST_F(ModemTest, OriginateUsesItsOptionsAnEmptyCidNoNumberAndAProgramOfItsOwnAtMost62Arguments) {
  ASSERT_TRUE(standin::install(sysroot::pppd, "exit 1\n"));
  EXPECT_EQ(answered(connectModem(2, "{ cid \"\", cdid \"\", originate NULL }")), success(3, 1));
  EXPECT_EQ(next(), aborted(2, 256));  // the PPP daemon exited with 1
  EXPECT_EQ(standin::args(sysroot::pppd), (Lines{root(sysroot::pppd), "file", options("coptions"), terminal(0)}));
  EXPECT_EQ(mctlRequests().back(), "ioctl /dev/mctl 0x0000BB04 -> 0 (modem 0 originate)");

  const std::string own = std::string(sysroot::pppd) + "-own";
  ASSERT_TRUE(standin::install(own, "exit 0\n"));
  std::string args;
  Lines expected{root(own)};
  for (int i = 0; i < 70; ++i) {
    args += std::string(i ? ", " : "") + "\"a" + std::to_string(i) + "\"";
    if (i < 62) expected.push_back("a" + std::to_string(i));
  }
  ASSERT_EQ(exchange(create(4, 3, "modem : { cid \"9\", cdid \"\", execfile \"" + own + "\", execargs { " + args + " } }")),
            Lines{success(4, 3)});
  EXPECT_EQ(answered(exchange(cmd(5, 1, "connect : 3"))), success(5, 1));
  EXPECT_EQ(next(), aborted(3, 0));
  EXPECT_EQ(standin::args(own), expected);
  for (int n : {2, 3}) EXPECT_EQ(answer(cmd(6, n, "destroy : NULL")), success(6, n));
}

TEST_F(ModemTest, ADestroyGivesAPppDaemonThatIgnoresHangUpFiveSecondsThenKillsIt) {
  ASSERT_TRUE(standin::install(sysroot::pppd, "ignore-hup\n"));
  connectModem(2, "{ cid \"1\", cdid \"\" }");
  ASSERT_TRUE(logged(sysroot::pppd, "ignoring hup"));
  const e2e::Process pppd = e2e::capture(factory->modem_slots().at(0)->child_pid());
  EXPECT_EQ(unanswered(cmd(4, 2, "destroy : NULL")), Lines{});
  EXPECT_EQ(answer(cmd(5, 2, "destroy : NULL")), slotstest::error(5, 2, "destroyInProgress"));
  ASSERT_TRUE(logged(sysroot::pppd, "hup ignored"));
  clock.advance(ModemSlot::terminate_ms - 1);
  EXPECT_EQ(drain(), Lines{});
  clock.advance(1);
  EXPECT_EQ(next(), success(4, 2));
  EXPECT_TRUE(testkit::waitFor([&] { return e2e::gone(pppd); })) << "the stand-in still runs";
  EXPECT_TRUE(contains(err(), "02:dsp-modem: pppd terminate timeout!\n02:dsp-modem: pppd isn't terminated, killing ...\n"))
      << err();
  EXPECT_EQ(at(2), nullptr);
}

TEST_F(ModemTest, ASetUpThatFailsAbortsWithTheErrorNumberAndTheSlotStays) {
  command("mctl modems 0");
  EXPECT_EQ(connectModem(2, "{ cid \"1\", cdid \"\" }"),
            (Lines{aborted(2, ENOSPC), slotstest::error(3, 1, "connectFail")}));
  EXPECT_TRUE(contains(err(), "02:dsp-modem: insufficient resources : " + std::string(::strerror(ENOSPC)) + "\n"))
      << err();
  command("mctl modems 2");
  command("fail mctl BB03 EIO 1");
  EXPECT_EQ(exchange(cmd(4, 1, "connect : 2")),
            (Lines{slotstest::stream(2, "transmitter", 3584), slotstest::stream(2, "receiver", 3584),
                   aborted(2, EIO), success(4, 1)}));
  EXPECT_TRUE(contains(err(), "02:dsp-modem: answer failed : " + std::string(::strerror(EIO)) + "\n")) << err();
  EXPECT_EQ(answer(cmd(5, 2, "destroy : NULL")), success(5, 2));
}

TEST_F(ModemTest, FaxSendersReportTheirPagesAndEndAsAnAbortAndTheReceiverIsLeftToItself) {
  ASSERT_TRUE(standin::install(sysroot::fax_sbin, "exit 3\n"));
  EXPECT_EQ(answered(connectModem(2, "{ cid \"\", cdid \"\", fax NULL, execargs { \"doc.tif\" } }")), success(3, 1));
  EXPECT_EQ(next(), acct(2, 0, 3, 0));
  EXPECT_EQ(next(), aborted(2, 768));
  EXPECT_EQ(standin::args(sysroot::fax_sbin), (Lines{root(sysroot::fax_sbin), "-m", "0", "doc.tif"}));
  EXPECT_FALSE(contains(log(), "fax transfer failed")) << log();

  const std::string killed = std::string(sysroot::fax_sbin) + "-killed";
  ASSERT_TRUE(standin::install(killed, "kill 9\n"));
  ASSERT_EQ(exchange(create(4, 3, "modem : { cid \"\", cdid \"\", fax NULL, execfile \"" + killed +
                                      "\", execargs { \"a\" } }")),
            Lines{success(4, 3)});
  EXPECT_EQ(answered(exchange(cmd(5, 1, "connect : 3"))), success(5, 1));
  EXPECT_EQ(next(), acct(3, 0, 0, 0));
  EXPECT_EQ(next(), aborted(3, SIGKILL));
  EXPECT_TRUE(contains(log(), "03:dsp-modem: fax transfer failed\n03:dsp-modem: pages received: 0\n")) << log();

  // The sender's modem went back with its descriptor: the receiver gets it.
  ASSERT_TRUE(standin::install(sysroot::fax_bin, "exit 0\n"));
  ASSERT_EQ(exchange(create(6, 4, "modem : { cid \"\", cdid \"\", fax NULL }")), Lines{success(6, 4)});
  EXPECT_EQ(exchange(cmd(7, 1, "connect : 4")).back(), success(7, 1));
  ASSERT_TRUE(logged(sysroot::fax_bin, "exit 0"));
  const Lines receiver = standin::args(sysroot::fax_bin);
  ASSERT_EQ(receiver.size(), 5u);
  EXPECT_EQ(Lines(receiver.begin(), receiver.end() - 1), (Lines{root(sysroot::fax_bin), "-m", "0", "receive"}));
  const std::string file = sysroot::fax_file_format;
  EXPECT_EQ(receiver[4].rfind(root(file.substr(0, file.find('%'))), 0), 0u) << receiver[4];
  EXPECT_EQ(receiver[4].size(), root(file).size()) << receiver[4];  // %H, %M and %S: two digits each

  ASSERT_EQ(exchange(create(8, 5, "modem : { cid \"\", cdid \"\", originate NULL, fax NULL }")).size(), 1u);
  EXPECT_EQ(exchange(cmd(9, 1, "connect : 5")).back(), success(9, 1));
  EXPECT_EQ(mctlRequests().back(), "ioctl /dev/mctl 0x0000BB40 -> 0 (modem 0 fax-originate)");
  EXPECT_EQ(drain(), Lines{});  // the receiver's end is no signal
  for (int n : {2, 3, 4, 5}) EXPECT_EQ(answer(cmd(10, n, "destroy : NULL")), success(10, n));
}

TEST_F(ModemTest, ADigitalModemRunsThePppDaemonOnAFreeInterfaceThatNoQueryHandsOutTwice) {
  command("netif add hdlc0");
  command("netif add hdlc1 flags pointopoint|loopback");
  command("netif add hdlc2");
  EXPECT_TRUE(contains(query(exchange("{ seq 1, pdu command : query : NULL }")), "modem 2,"));
  EXPECT_TRUE(contains(log(), "found point-o-point devices: hdlc0 hdlc2\n")) << log();
  board().clear_journal();

  EXPECT_EQ(exchange(create(2, 1, "trunk : { trunk 1, timeslot 5 }")).size(), 3u);
  EXPECT_EQ(exchange(create(3, 2, "modem : { cid \"7\", cdid \"\", ddm { ddm8BIT } }")), Lines{success(3, 2)});
  EXPECT_STREQ(at(2)->GetName(), "digital-modem");
  EXPECT_EQ(exchange(cmd(4, 1, "connect : 2")), (Lines{slotstest::stream(2, "receiver", 3840), success(4, 1)}));
  EXPECT_EQ(journalWith("netif"), (Lines{"ioctl netif hdlc0 0x0000894A -> 0 (interface channel 3840)",
                                         "ioctl netif hdlc0 0x0000894A -> 0 (protocol ppp)"}));
  EXPECT_EQ(matrix(3840), "3840 <- 37");
  ASSERT_TRUE(logged(sysroot::pppd, "start pid=" + std::to_string(factory->modem_slots().at(0)->child_pid())));
  EXPECT_EQ(standin::args(sysroot::pppd),
            (Lines{root(sysroot::pppd), "file", options("ioptions"), "hdlc0", "remotenumber", "7"}));
  EXPECT_TRUE(contains(query(exchange("{ seq 5, pdu command : query : NULL }")), "digital-modems 1,"));

  // No session: the controller's answer reaches no one.
  Plugin anonymous;
  ASSERT_TRUE(anonymous.connect(authPort));
  settle();
  EXPECT_EQ(exchange(activate(6, 2)), Lines{success(6, 2)});
  EXPECT_TRUE(contains(err(), "modem[2,1]: send error: unknown auth -1 session.\n")) << err();
  EXPECT_TRUE(anonymous.silent());

  board().clear_journal();
  destroyRunning(7, 2);
  EXPECT_EQ(journalWith("netif"), (Lines{"ioctl netif hdlc0 0x00008913 -> 0 (flags pointopoint)",
                         "ioctl netif hdlc0 0x00008914 -> 0 (flags pointopoint)",
                         "ioctl netif hdlc0 0x0000894A -> 0 (protocol hdlc)"}));
  EXPECT_TRUE(contains(query(exchange("{ seq 8, pdu command : query : NULL }")), "digital-modems 2,"));
  EXPECT_EQ(answer(cmd(9, 1, "destroy : NULL")), success(9, 1));
}

TEST_F(ModemTest, AReleasingModemTakenWithTheControllerLeavesTheFactoryAndItsConnections) {
  ASSERT_TRUE(standin::install(sysroot::pppd, "ignore-hup\n"));
  connectModem(2, "{ cid \"1\", cdid \"\" }");
  ASSERT_TRUE(logged(sysroot::pppd, "ignoring hup"));
  const int pid = factory->modem_slots().at(0)->child_pid();
  const e2e::Process pppd = e2e::capture(pid);
  Plugin plugin;
  ASSERT_TRUE(plugin.connect(authPort));
  own(plugin, pid);
  ASSERT_TRUE(plugin.write(authRequest(0, "ann", "pw")));
  EXPECT_EQ(next(), auth(2, "ann", "pw"));
  EXPECT_EQ(unanswered(cmd(4, 2, "destroy : NULL")), Lines{});
  disconnect();  // the release is cut short after a pause
  EXPECT_EQ(Slots::instance().slots(), std::vector<Slot*>{});
  EXPECT_EQ(factory->modem_slots(), std::vector<ModemSlot*>{});
  EXPECT_TRUE(testkit::waitFor([&] { return e2e::gone(pppd); })) << "the stand-in still runs";
  // Its plug-in's connection went with it: nothing more can name it.
  EXPECT_TRUE(plugin.awaitClose());
  EXPECT_TRUE(await([&] { return factory->clients() == 0; }));
}

}  // namespace
