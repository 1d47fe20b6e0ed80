// The modem factory's authentication server, with plug-ins played by the
// test (the fixture says which child holds each): reassembly, records that
// close the connection, connections no modem's program holds, session -1,
// the client cap and the wait for a first record, the system's own lookup
// of the program that holds a connection, a server that cannot bind. And the records'
// octets, which are big-endian whatever the host.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include "slots/auth_client.h"
#include "slots/socket_peer.h"
#include "tests/slots/modem_fixture.h"

namespace {

using namespace modemtest;

std::string octets(const modem_auth::attr& record) {
  std::string text;
  char pair[4];
  for (std::uint32_t i = 0; i < record.length(); ++i) {
    std::snprintf(pair, sizeof pair, i ? " %02X" : "%02X", record.data()[i]);
    text += pair;
  }
  return text;
}

TEST(ModemAuthRecords, AnswersAreBigEndianAndAccountingCountersHaveTheirHighWordFirst) {
  const modem_auth::attr address = modem_auth::address_record(
      7, ::inet_addr("10.1.2.3"), ::inet_addr("255.255.255.0"), ::inet_addr("10.1.2.1"), ::inet_addr("10.1.2.53"), 1500);
  EXPECT_EQ(octets(modem_auth::accept_record(7)) + " " + octets(address), answers(7));
  modem_auth::attr acct(64, modem_auth::accounting, 1);
  acct.set_word(24, 1);
  acct.set_word(28, 0xFFFFFFFEu);
  acct.set_word(56, 99);
  EXPECT_EQ(modem_auth::voacct(acct).octets_sent(), 0x1FFFFFFFEull);
  EXPECT_EQ(modem_auth::voacct(acct).session_time(), 99u);
  EXPECT_EQ(acct.word(modem_auth::max_size - 2), 0u);  // past the buffer
}

class ModemAuth : public ModemTest {
 protected:
  // Slot 2 on modem 0 with the stand-in running: its plug-ins are served.
  void dialIn() {
    EXPECT_EQ(answered(connectModem(2, "{ cid \"1\", cdid \"\" }")), success(3, 1));
    pppd = factory->modem_slots().at(0)->child_pid();
    ASSERT_TRUE(logged(sysroot::pppd, "start pid=" + std::to_string(pppd)));
  }
  // A plug-in of the stand-in.
  void plugIn(Plugin& p) {
    ASSERT_TRUE(p.connect(authPort));
    own(p, pppd);
  }
  pid_t pppd = -1;
  void TearDown() override {
    if (at(2) && at(2)->GetName() == std::string("dsp-modem") && factory->modem_slots().at(0)->child_pid() != -1)
      destroyRunning(99, 2);
    ModemTest::TearDown();
  }
};

TEST_F(ModemAuth, RecordsAreDeliveredWholeAndInOrderHoweverTheyAreCut) {
  dialIn();
  Plugin p;
  plugIn(p);
  testkit::Bytes two = authRequest(0, "ann", "pw");
  const testkit::Bytes acctRecord = accounting(0, 1, 2, 3);
  two.insert(two.end(), acctRecord.begin(), acctRecord.end());
  ASSERT_TRUE(p.write(two));
  EXPECT_EQ(next(), auth(2, "ann", "pw"));
  EXPECT_EQ(next(), acct(2, 1, 2, 3));

  const testkit::Bytes r = authRequest(0, "bob", "secret");
  for (auto cut : {std::make_pair(0, 2), std::make_pair(2, 100)}) {
    ASSERT_TRUE(p.write(testkit::Bytes(r.begin() + cut.first, r.begin() + cut.second)));
    EXPECT_EQ(drain(), Lines{});
  }
  ASSERT_TRUE(p.write(testkit::Bytes(r.begin() + 100, r.end())));
  EXPECT_EQ(next(), auth(2, "bob", "secret"));

  // Ignored, logged, and the connection stays.
  for (const testkit::Bytes& other : {record(16, 2, 0, {0, 0, 0, 1}), record(12, 3, 0), record(12, 9, 0),
                                      authRequest(1, "nobody", "x")})
    ASSERT_TRUE(p.write(other));
  const std::string refused = ": record for session 1 refused, the connection is session 0's.\n";
  EXPECT_TRUE(await([&] { return contains(err(), refused); })) << err();
  EXPECT_EQ(drain(), Lines{});
  EXPECT_TRUE(contains(err(), "02:dsp-modem: auth accept, ignored.\n02:dsp-modem: auth ip, ignored.\n"
                              "02:dsp-modem: unknown request from dial-in plug-in: 0x9\n"))
      << err();
  EXPECT_TRUE(p.silent());
}

TEST_F(ModemAuth, ARecordOfABadLengthClosesTheConnectionAndNothingOfItIsDelivered) {
  dialIn();
  const testkit::Bytes bad[] = {
      {0, 0, 0, 3, 0, 0, 0, 1},            // shorter than its length word
      record(8, 1, 0),                     // shorter than its header
      record(600, 1, 0),                   // longer than any record
      record(64, 1, 0, testkit::Bytes(52)),  // an authentication request of another size
      record(140, 4, 0, testkit::Bytes(128)),
  };
  for (const testkit::Bytes& b : bad) {
    Plugin p;
    ASSERT_TRUE(p.connect(authPort));
    ASSERT_TRUE(p.write(b));
    EXPECT_TRUE(p.awaitClose()) << "still open after " << b.size() << " octets";
  }
  EXPECT_EQ(drain(), Lines{});
  EXPECT_EQ(testkit::count(err(), ", closing.\n"), 5u) << err();
  EXPECT_TRUE(contains(err(), ": record length 3 out of range, closing.\n")) << err();
  EXPECT_TRUE(contains(err(), ": record of type 1 with length 64, closing.\n")) << err();
  EXPECT_TRUE(await([&] { return factory->clients() == 0; }));
}

TEST_F(ModemAuth, OnlyConnectionsTheSlotsProgramHoldsAreServedAndEachOnlyForItsSession) {
  dialIn();
  // A stranger that speaks first: closed at its first record with one
  // line naming its port, and nothing of it reaches the controller.
  Plugin early, real;
  ASSERT_TRUE(early.connect(authPort));
  ASSERT_TRUE(early.write(authRequest(0, "eve", "guess")));
  EXPECT_TRUE(early.awaitClose());
  plugIn(real);
  ASSERT_TRUE(real.write(authRequest(0, "ann", "pw")));
  EXPECT_EQ(next(), auth(2, "ann", "pw"));
  const std::string stranger = "auth client 127.0.0.1:" + std::to_string(early.localPort()) +
                               ": no modem's program holds port " + std::to_string(early.localPort()) + ", closing.\n";
  EXPECT_EQ(testkit::count(err(), "127.0.0.1:" + std::to_string(early.localPort())), 1u) << err();
  EXPECT_TRUE(contains(err(), stranger)) << err();

  // Accounting from a stranger goes nowhere either, the slot's goes up.
  Plugin forger;
  ASSERT_TRUE(forger.connect(authPort));
  ASSERT_TRUE(forger.write(accounting(0, 9, 9, 9)));
  EXPECT_TRUE(forger.awaitClose());
  ASSERT_TRUE(real.write(accounting(0, 1, 2, 3)));
  EXPECT_EQ(next(), acct(2, 1, 2, 3));

  // The slot's own connection cannot speak for another modem.
  ASSERT_TRUE(real.write(accounting(1, 4, 4, 4)));
  EXPECT_TRUE(await([&] { return contains(err(), "record for session 1 refused"); })) << err();

  EXPECT_EQ(exchange(activate(5, 2)), Lines{success(5, 2)});
  EXPECT_EQ(real.received(52), answers(0));
  EXPECT_EQ(drain(), Lines{});

  // A connection held by a program that is no modem's (the test itself).
  Plugin other;
  ASSERT_TRUE(other.connect(authPort));
  own(other, ::getpid());
  ASSERT_TRUE(other.write(accounting(0, 5, 5, 5)));
  EXPECT_TRUE(other.awaitClose());
  EXPECT_EQ(drain(), Lines{});

  // Once the slot has gone, its connections go with it.
  destroyRunning(9, 2);
  EXPECT_TRUE(real.awaitClose());
  EXPECT_TRUE(contains(err(), ": its modem slot has gone, closing.\n")) << err();
  EXPECT_TRUE(await([&] { return factory->clients() == 0; }));
}

TEST_F(ModemAuth, SessionMinusOneIsNeverServed) {
  command("netif add hdlc0");
  factory->IQuery();
  ASSERT_EQ(exchange(create(1, 2, "modem : { cid \"\", cdid \"\" }")), Lines{success(1, 2)});  // no modem yet
  ASSERT_EQ(exchange(create(2, 4, "trunk : { trunk 1, timeslot 5 }")).size(), 3u);
  ASSERT_EQ(exchange(create(3, 3, "modem : { cid \"\", cdid \"\", ddm { ddmV110 } }")), Lines{success(3, 3)});
  ASSERT_STREQ(at(3)->GetName(), "digital-modem");
  ASSERT_EQ(exchange(cmd(4, 4, "connect : 3")).back(), success(4, 4));
  const pid_t digital = factory->modem_slots().at(1)->child_pid();
  ASSERT_TRUE(logged(sysroot::pppd, "start pid=" + std::to_string(digital)));

  // The digital modem's own plug-in, and a stranger that has sent nothing.
  Plugin anonymous, minus;
  ASSERT_TRUE(anonymous.connect(authPort));
  ASSERT_TRUE(minus.connect(authPort));
  own(minus, digital);
  ASSERT_TRUE(minus.write(authRequest(-1, "ann", "pw")));
  EXPECT_TRUE(await([&] { return contains(err(), "receive auth request for unknown session -1\n"); })) << err();
  for (int n : {2, 3}) EXPECT_EQ(exchange(activate(5, n)), Lines{success(5, n)});
  EXPECT_EQ(testkit::count(err(), "send error: unknown auth -1 session.\n"), 4u) << err();
  EXPECT_TRUE(anonymous.silent());
  EXPECT_TRUE(minus.silent());
  EXPECT_EQ(answer(cmd(6, 2, "destroy : NULL")), success(6, 2));
  destroyRunning(7, 3);
  EXPECT_EQ(answer(cmd(8, 4, "destroy : NULL")), success(8, 4));
}

TEST_F(ModemAuth, AtTheCapAClientNoModemsProgramHoldsMakesRoomForOneThatIs) {
  dialIn();
  const unsigned cap = factory->modem_count() + ModemFactory::spare_clients;
  std::vector<std::unique_ptr<Plugin>> idle;
  for (unsigned i = 0; i < 2 * cap; ++i) {
    idle.push_back(std::make_unique<Plugin>());
    ASSERT_TRUE(idle.back()->connect(authPort));
    linktest::settle();
  }
  EXPECT_EQ(factory->clients(), cap);
  // The oldest strangers made room for the newer ones.
  EXPECT_TRUE(idle.front()->awaitClose());
  EXPECT_TRUE(idle.back()->poll());
  EXPECT_TRUE(contains(err(), "auth clients at their limit of 6, this one is no modem's, closing.\n")) << err();

  // The plug-in half-way through its first record is not taken for one.
  Plugin real;
  plugIn(real);
  const testkit::Bytes request = authRequest(0, "ann", "pw");
  ASSERT_TRUE(real.write(testkit::Bytes(request.begin(), request.begin() + 20)));
  linktest::settle();
  std::vector<std::unique_ptr<Plugin>> more;
  for (unsigned i = 0; i < cap; ++i) {
    more.push_back(std::make_unique<Plugin>());
    ASSERT_TRUE(more.back()->connect(authPort));
    linktest::settle();
  }
  ASSERT_TRUE(real.write(testkit::Bytes(request.begin() + 20, request.end())));
  EXPECT_EQ(next(), auth(2, "ann", "pw"));

  // Clients the slot's program holds are not made room from.
  std::vector<std::unique_ptr<Plugin>> own_;
  for (unsigned i = 0; i < cap; ++i) {
    own_.push_back(std::make_unique<Plugin>());
    ASSERT_TRUE(own_.back()->connect(authPort));
    own(*own_.back(), pppd);
    linktest::settle();
  }
  EXPECT_TRUE(real.poll());
  for (unsigned i = 0; i + 1 < cap; ++i) EXPECT_TRUE(own_[i]->poll()) << i;
  EXPECT_TRUE(own_.back()->awaitClose());
  EXPECT_EQ(factory->clients(), cap);
  EXPECT_TRUE(contains(err(), "auth clients at their limit of 6, connection from 127.0.0.1:")) << err();
}

TEST_F(ModemAuth, AClientWithNoWholeRecordWithinTenSecondsIsClosed) {
  dialIn();
  Plugin silent, slow, prompt, waiting;
  for (Plugin* p : {&silent, &slow, &prompt, &waiting}) ASSERT_TRUE(p->connect(authPort));
  own(prompt, pppd);
  own(waiting, pppd);  // the slot's plug-in, which has no user to ask for yet
  linktest::settle();
  const testkit::Bytes request = authRequest(0, "ann", "pw");
  ASSERT_TRUE(slow.write(testkit::Bytes(request.begin(), request.end() - 1)));
  ASSERT_TRUE(prompt.write(request));
  EXPECT_EQ(next(), auth(2, "ann", "pw"));
  clock.advance(AuthClient::first_record_ms - 1);
  EXPECT_TRUE(silent.poll());
  EXPECT_TRUE(slow.poll());
  clock.advance(1);
  EXPECT_TRUE(silent.awaitClose());
  EXPECT_TRUE(slow.awaitClose());
  EXPECT_EQ(testkit::count(err(), ": no record within 10 s, closing.\n"), 2u) << err();
  EXPECT_EQ(testkit::count(err(), "127.0.0.1:" + std::to_string(slow.localPort())), 1u) << err();
  EXPECT_TRUE(waiting.poll());
  // A client of the slot's program stays however quiet it is.
  clock.advance(10 * AuthClient::first_record_ms);
  EXPECT_TRUE(prompt.poll());
  EXPECT_EQ(factory->clients(), 2u);
  ASSERT_TRUE(waiting.write(authRequest(0, "bob", "pw")));
  EXPECT_EQ(next(), auth(2, "bob", "pw"));
}

TEST_F(ModemAuth, TheSystemFindsThePppDaemonAndTheFaxSenderThatConnectedFromThemselves) {
  factory->set_peer_check(&socket_peer::holder);
  const std::string port = std::to_string(authPort);
  ASSERT_TRUE(standin::install(sysroot::pppd, "connect " + port + "\nauth ann pw\nreceive 52\n"));
  dialIn();
  EXPECT_EQ(next(), auth(2, "ann", "pw"));
  EXPECT_EQ(exchange(activate(5, 2)), Lines{success(5, 2)});
  EXPECT_TRUE(logged(sysroot::pppd, "received " + answers(0)));
  EXPECT_TRUE(contains(err(), " of dsp-modem pid " + std::to_string(pppd) + "\n")) << err();
  // The test's own process is no modem's program.
  Plugin p;
  ASSERT_TRUE(p.connect(authPort));
  ASSERT_TRUE(p.write(accounting(0, 1, 1, 1)));
  EXPECT_TRUE(p.awaitClose());
  destroyRunning(6, 2);

  ASSERT_TRUE(standin::install(sysroot::fax_sbin, "connect " + port + "\nacct 0 0 0 0 7\nsleep 100\nexit 3\n"));
  ASSERT_EQ(exchange(create(7, 3, "modem : { cid \"\", cdid \"\", fax NULL, execargs { \"doc\" } }")),
            Lines{success(7, 3)});
  EXPECT_EQ(answered(exchange(cmd(8, 1, "connect : 3"))), success(8, 1));
  EXPECT_EQ(next(), acct(3, 0, 0, 7));
  EXPECT_EQ(next(), acct(3, 0, 3, 0));
  EXPECT_EQ(next(), aborted(3, 768));
  EXPECT_EQ(answer(cmd(9, 3, "destroy : NULL")), success(9, 3));
}

TEST_F(ModemAuth, AServerThatCannotBindSaysSoOnceAndTriesAgainEveryFiveSeconds) {
  Fd squatter(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  const sockaddr_in any = testkit::loopback(0);
  ASSERT_EQ(::bind(squatter.get(), reinterpret_cast<const sockaddr*>(&any), sizeof any), 0);
  ASSERT_EQ(::listen(squatter.get(), 1), 0);
  sockaddr_in bound;
  socklen_t length = sizeof bound;
  ::getsockname(squatter.get(), reinterpret_cast<sockaddr*>(&bound), &length);
  const unsigned short port = ntohs(bound.sin_port);

  ModemFactory second(port);
  EXPECT_EQ(second.listening_port(), 0);
  const std::string failed = "fail to bind auth socket: " + std::string(::strerror(EADDRINUSE)) +
                             " (trying again every 5 s)\n";
  clock.advance(2 * ModemFactory::retry_ms);
  EXPECT_EQ(testkit::count(err(), failed), 1u) << err();
  squatter.close();
  clock.advance(ModemFactory::retry_ms - 1);
  EXPECT_EQ(second.listening_port(), 0);
  clock.advance(1);
  EXPECT_EQ(second.listening_port(), port);
  EXPECT_TRUE(contains(err(), "auth server listening on port " + std::to_string(port) + ".\n")) << err();
}

TEST_F(ModemAuth, TextsStopAtTheirSixtyFourOctetsAndLoseOnlyWhatTheControllerCannotTake) {
  dialIn();
  Plugin p;
  plugIn(p);
  ASSERT_TRUE(p.write(authRequest(0, std::string(64, 'u'), "p\xE9q")));
  EXPECT_EQ(next(), auth(2, std::string(64, 'u'), "pq"));
  EXPECT_TRUE(contains(err(), "02:dsp-modem: auth request: characters the controller cannot take left out.\n"))
      << err();
}

}  // namespace
