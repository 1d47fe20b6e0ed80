#include "slots/rtp_factory.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <iostream>

#include "platform/drv.h"
#include "platform/sysroot.h"
#include "platform/voice_records.h"

namespace {

void put(std::ostream& s, const std::string& line) { s << line + "\n" << std::flush; }

// An IPv4 address text in network order; false when it is not a dotted
// quad, or when it is the limited broadcast, where media must never go.
bool parseAddress(const std::string& text, std::uint32_t& address) {
  in_addr a;
  if (::inet_pton(AF_INET, text.c_str(), &a) != 1 || a.s_addr == INADDR_BROADCAST) return false;
  address = a.s_addr;
  return true;
}

// The payloads the driver codes, with its numbers for them.
const struct {
  TERM::Payload::NamedNumber payload;
  int number;
} kCodecs[] = {{TERM::Payload::ptG711_Alaw, 8},      {TERM::Payload::ptG711_Ulaw, 0},
               {TERM::Payload::ptG723, 4},           {TERM::Payload::ptG729, 18},
               {TERM::Payload::ptG711mcc_Alaw, 136}, {TERM::Payload::ptG711mcc_Ulaw, 128},
               {TERM::Payload::ptG728, 15}};

// The driver's number of a payload; null for one it does not code.
const int* driverNumber(const TERM::Payload& payload) {
  for (const auto& c : kCodecs)
    if (c.payload == payload.getValue()) return &c.number;
  return nullptr;
}

}  // namespace

RtpFactoryBase::RtpFactoryBase(const char* logName) : logName_(logName) { IQuery(); }

std::string RtpFactoryBase::prefix() const {
  return std::string(logName_) + "[" + std::to_string(g723_) + "," + std::to_string(g729_) + "," +
         std::to_string(g711_) + "," + std::to_string(universal_) + "]: ";
}

void RtpFactoryBase::IQuery() {
  // Every count starts from 0, so a driver that fails now leaves no stale
  // figure behind.
  g729_ = g723_ = g711_ = g711mcc_ = universal_ = 0;
  Fd voice(drv::open(sysroot::voice, O_RDONLY | O_CLOEXEC));
  if (!voice.valid()) {
    put(std::cerr, prefix() + "device \"" + sysroot::voice + "\" open fail: " + ::strerror(errno));
    return;
  }
  const struct {
    std::uint32_t kind;
    int* count;
  } kinds[] = {{voicedrv::kind_g729, &g729_},
               {voicedrv::kind_g723, &g723_},
               {voicedrv::kind_g711, &g711_},
               {voicedrv::kind_g711_mcc, &g711mcc_},
               {voicedrv::kind_universal, &universal_}};
  for (const auto& k : kinds) {
    std::uint32_t word = k.kind;
    const int n = drv::ioctl_ptr(voice.get(), voicedrv::channel_count, &word, sizeof word);
    if (n > 0) *k.count = n;
  }
}

void RtpFactoryBase::Query(LGCP::Resources& r) {
  IQuery();
  r.set_rtp_g729(g729_);
  r.set_rtp_g723(g723_);
  r.set_rtp_g711(g711_);
  r.set_rtp_g711mcc(g711mcc_);
  r.set_universal(universal_);
}

int RtpFactoryBase::translateCodec(const TERM::Payload& payload) {
  const int* number = driverNumber(payload);
  return number ? *number : 0;
}

int RtpFactoryBase::translateCodec(const TERM::Payload& payload, const TERM::Payload& override_) {
  const int o = override_.getValue();
  if (o != payload.getValue() && (o == TERM::Payload::ptG711_Alaw || o == TERM::Payload::ptG711_Ulaw))
    return translateCodec(override_);
  return translateCodec(payload);
}

std::uint32_t RtpFactoryBase::randomSsrc() {
  std::uint32_t v;
  if (::getrandom(&v, sizeof v, GRND_NONBLOCK) == static_cast<ssize_t>(sizeof v)) return v;
  // Before the system's pool is ready: the clock, the process and a
  // counter, mixed (splitmix64), still differ from one session to the next.
  static std::uint64_t counter = 0;
  timespec t{};
  ::clock_gettime(CLOCK_MONOTONIC, &t);
  std::uint64_t z = (static_cast<std::uint64_t>(t.tv_sec) * 1000000000u + static_cast<std::uint64_t>(t.tv_nsec)) ^
                    (static_cast<std::uint64_t>(::getpid()) << 40) ^ (++counter * 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return static_cast<std::uint32_t>(z ^ (z >> 31));
}

bool RtpFactoryBase::OpenSession(const LGCP::CreateRtpParams& create, bool reuseAddress, std::uint32_t channelWord,
                                 Opening& o) {
  using R = TERM::RtpParams;
  const R& p = create.get_codecRTP();
  if (!driverNumber(p.get_payload())) {
    put(std::clog, prefix() + "rtp do not created: payload " + p.get_payload().asValueNotation() + "not found");
    return false;
  }
  const bool local = p.hasOptionalField(R::o_shost);
  rtp_connection_params& rec = o.params;
  rec = rtp_connection_params{};
  const auto badAddress = [&](const TERM::HostAddress& host) {
    put(std::clog, prefix() + "rtp do not created: bad address \"" + host.get_iaddr().str() + "\"");
    return false;
  };
  if (!parseAddress(p.get_dhost().get_iaddr(), rec.remote_addr)) return badAddress(p.get_dhost());
  if (local && !parseAddress(p.get_shost().get_iaddr(), rec.local_addr)) return badAddress(p.get_shost());
  const unsigned remotePort = p.get_dhost().get_port().getValue();
  const unsigned localPort = local ? p.get_shost().get_port().getValue() : remotePort;

  o.rtcp.reset(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  if (!o.rtcp.valid()) {
    put(std::clog, prefix() + "rtp do not created: can not create socket [errno=" + ::strerror(errno) + "]");
    return false;
  }
  if (reuseAddress) {
    const int on = 1;
    ::setsockopt(o.rtcp.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  }
  // Port 0 leaves the choice to the system, for the RTCP socket as well:
  // "the port after 0" would be the same fixed port for every such slot.
  const unsigned rtcpPort = localPort == 0 ? 0 : (localPort + 1) % 65536;
  sockaddr_in any{};
  any.sin_family = AF_INET;
  any.sin_addr.s_addr = htonl(INADDR_ANY);
  any.sin_port = htons(static_cast<std::uint16_t>(rtcpPort));
  if (::bind(o.rtcp.get(), reinterpret_cast<const sockaddr*>(&any), sizeof any) < 0) {
    put(std::clog, prefix() + "rtp do not created: can not bind socket [errno=" + ::strerror(errno) +
                       ", port=" + std::to_string(rtcpPort) + "]");
    o.rtcp.close();
    return false;
  }

  rec.remote_port = static_cast<std::uint16_t>(remotePort);
  rec.local_port = static_cast<std::uint16_t>(localPort);
  rec.rx_pt = static_cast<std::uint16_t>(translateCodec(p.get_payload(), create.get_rxPayload()));
  rec.tx_pt = static_cast<std::uint16_t>(translateCodec(p.get_payload(), create.get_txPayload()));
  if (p.hasOptionalField(R::o_pfactor))
    rec.packet_factor = static_cast<std::uint16_t>(p.get_pfactor().getValue() & 0xFFFF);
  rec.vad = p.hasOptionalField(R::o_vad) && p.get_vad().getValue() ? 1 : 0;
  rec.crate = p.hasOptionalField(R::o_crate) && p.get_crate().getValue() != 0 ? 1 : 0;
  rec.ssrc = p.hasOptionalField(R::o_ssrc) ? p.get_ssrc().getValue() : randomSsrc();
  rec.ttl = p.hasOptionalField(R::o_ttl) ? p.get_ttl().getValue() : 0;
  rec.tos = p.hasOptionalField(R::o_qos_dscp) ? (p.get_qos_dscp().getValue() << 2) & 252 : -1;

  rtp_channel_info info{-1, -1, -1, static_cast<std::int32_t>(channelWord)};
  o.session = BeginRtpSession(rec, info, prefix());
  if (!o.session.valid()) {
    o.rtcp.close();
    return false;
  }
  o.channel = info.tdm;
  o.rtcpPeer.sin_family = AF_INET;
  o.rtcpPeer.sin_addr.s_addr = rec.remote_addr;
  o.rtcpPeer.sin_port = htons(static_cast<std::uint16_t>((remotePort + 1) % 65536));
  return true;
}

void RtpFactoryBase::StartSlot(RtpSlot& slot, Opening& o, const TERM::RtpParams& p) {
  slot.startRTPC(o.rtcp, o.rtcpPeer);
  if (p.hasOptionalField(TERM::RtpParams::o_echo) && p.get_echo().get_suppressor().getValue())
    slot.tone_receiver().echoCancel(p.get_echo().get_canceller().getValue());
}

RtpFactory& RtpFactory::instance() {
  static RtpFactory factory;
  return factory;
}

Slot* RtpFactory::INewSlot(const LGCP::CreateParams& params) {
  if (params.getSelection() != LGCP::CreateParams::e_rtp) return nullptr;
  const LGCP::CreateRtpParams& create = params.get_rtp();
  if (create.get_codecRTP().hasOptionalField(TERM::RtpParams::o_radio)) return nullptr;
  put(std::clog, prefix() + "do create rtp: " + create.get_codecRTP().asValueNotation());
  Opening o;
  if (!OpenSession(create, true, 0, o)) return nullptr;
  auto* slot = new RtpSlot(o.channel, o.session, o.params);
  StartSlot(*slot, o, create.get_codecRTP());
  return slot;
}
