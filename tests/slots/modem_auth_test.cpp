// The modem factory's authentication server, with plug-ins played by the
// test: reassembly, records that close the connection, the session's
// holder, session -1, the client cap, a server that cannot bind. And the
// records' octets, which are big-endian whatever the host.
#include <arpa/inet.h>
#include <gtest/gtest.h>

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
  // Slot 2 on modem 0 with the stand-in running: session 0 can be held.
  void dialIn() {
    connectModem(2, "{ cid \"1\", cdid \"\" }");
    ASSERT_TRUE(logged(sysroot::pppd, "start pid=" + std::to_string(factory->modem_slots().at(0)->child_pid())));
  }
  void TearDown() override {
    if (at(2) && at(2)->GetName() == std::string("dsp-modem") && factory->modem_slots().at(0)->child_pid() != -1)
      destroyRunning(99, 2);
    ModemTest::TearDown();
  }
};

TEST_F(ModemAuth, RecordsAreDeliveredWholeAndInOrderHoweverTheyAreCut) {
  dialIn();
  Plugin p;
  ASSERT_TRUE(p.connect(authPort));
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
  EXPECT_TRUE(await([&] { return contains(err(), "receive auth request for unknown session 1\n"); })) << err();
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

TEST_F(ModemAuth, TheClientThatAuthenticatedFirstHoldsTheSessionAndGetsTheAnswers) {
  dialIn();
  Plugin early, real;
  ASSERT_TRUE(early.connect(authPort));
  ASSERT_TRUE(early.write(record(16, 2, 0, {0, 0, 0, 1})));  // claims session 0 before anyone
  ASSERT_TRUE(await([&] { return contains(err(), "auth accept, ignored."); }));
  ASSERT_TRUE(real.connect(authPort));
  ASSERT_TRUE(real.write(authRequest(0, "ann", "pw")));
  EXPECT_EQ(next(), auth(2, "ann", "pw"));

  ASSERT_TRUE(early.write(authRequest(0, "eve", "guess")));
  ASSERT_TRUE(early.write(accounting(0, 9, 9, 9)));
  EXPECT_TRUE(await([&] { return testkit::count(err(), " is held by 127.0.0.1:") == 2; })) << err();
  EXPECT_EQ(exchange(activate(5, 2)), Lines{success(5, 2)});
  EXPECT_EQ(real.received(52), answers(0));
  EXPECT_TRUE(early.silent());

  // Once the holder has gone, the session is free again.
  real.close();
  ASSERT_TRUE(await([&] { return factory->clients() == 1; }));
  ASSERT_TRUE(early.write(accounting(0, 1, 2, 3)));
  EXPECT_EQ(next(), acct(2, 1, 2, 3));
}

TEST_F(ModemAuth, SessionMinusOneIsNeverServed) {
  command("netif add hdlc0");
  factory->IQuery();
  ASSERT_EQ(exchange(create(1, 2, "modem : { cid \"\", cdid \"\" }")), Lines{success(1, 2)});  // no modem yet
  ASSERT_EQ(exchange(create(2, 3, "modem : { cid \"\", cdid \"\", ddm { ddmV110 } }")), Lines{success(2, 3)});
  ASSERT_STREQ(at(3)->GetName(), "digital-modem");
  Plugin anonymous, minus;
  ASSERT_TRUE(anonymous.connect(authPort));
  ASSERT_TRUE(minus.connect(authPort));
  ASSERT_TRUE(minus.write(authRequest(-1, "ann", "pw")));
  EXPECT_TRUE(await([&] { return contains(err(), "receive auth request for unknown session -1\n"); })) << err();
  for (int n : {2, 3}) EXPECT_EQ(exchange(activate(3, n)), Lines{success(3, n)});
  EXPECT_EQ(testkit::count(err(), "send error: unknown auth -1 session.\n"), 4u) << err();
  EXPECT_TRUE(anonymous.silent());
  EXPECT_TRUE(minus.silent());
  for (int n : {2, 3}) EXPECT_EQ(answer(cmd(4, n, "destroy : NULL")), success(4, n));
}

TEST_F(ModemAuth, ClientsAreCappedAtTheModemCountAndFour) {
  std::vector<std::unique_ptr<Plugin>> plugins;
  for (unsigned i = 0; i <= factory->modem_count() + ModemFactory::spare_clients; ++i) {
    plugins.push_back(std::make_unique<Plugin>());
    ASSERT_TRUE(plugins.back()->connect(authPort));
    linktest::settle();
  }
  EXPECT_TRUE(plugins.back()->awaitClose());
  EXPECT_EQ(factory->clients(), 6u);
  EXPECT_TRUE(contains(err(), "modem[2,0]: auth clients at their limit of 6, connection from 127.0.0.1:")) << err();
  EXPECT_TRUE(plugins.front()->poll());
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
  ASSERT_TRUE(p.connect(authPort));
  ASSERT_TRUE(p.write(authRequest(0, std::string(64, 'u'), "p\xE9q")));
  EXPECT_EQ(next(), auth(2, std::string(64, 'u'), "pq"));
  EXPECT_TRUE(contains(err(), "02:dsp-modem: auth request: characters the controller cannot take left out.\n"))
      << err();
}

}  // namespace
