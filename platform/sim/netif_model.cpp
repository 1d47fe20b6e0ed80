#include "platform/sim/netif_model.h"

#include <errno.h>
#include <net/if.h>
#include <sys/ioctl.h>
// After <net/if.h>: the kernel's header then adds only what glibc lacks.
#include <linux/if.h>
#include <linux/sockios.h>

#include <algorithm>
#include <cstring>

#include "platform/modem_records.h"
#include "platform/sim/board.h"
#include "platform/sim/command_words.h"
#include "platform/sim/device.h"

namespace sim {

namespace {

constexpr char kPrefix[] = "hdlc";

struct FlagName {
  unsigned bit;
  const char* name;
};
const FlagName kFlags[] = {{IFF_UP, "up"}, {IFF_POINTOPOINT, "pointopoint"}, {IFF_LOOPBACK, "loopback"}};

std::string flagsText(unsigned flags) {
  std::string text;
  for (const FlagName& f : kFlags)
    if (flags & f.bit) text += (text.empty() ? "" : "|") + std::string(f.name);
  return text.empty() ? "none" : text;
}

// "up|pointopoint" (or "none") to IFF_ bits; false for an unknown name.
bool parseFlags(const std::string& text, unsigned& flags) {
  flags = 0;
  if (text == "none") return true;
  std::size_t at = 0;
  while (at <= text.size()) {
    const std::size_t bar = std::min(text.find('|', at), text.size());
    const std::string name = text.substr(at, bar - at);
    const FlagName* f = std::find_if(std::begin(kFlags), std::end(kFlags),
                                     [&](const FlagName& n) { return name == n.name; });
    if (f == std::end(kFlags)) return false;
    flags |= f->bit;
    at = bar + 1;
  }
  return true;
}

const char* protoText(unsigned proto) { return proto == IF_PROTO_PPP ? "ppp" : "hdlc"; }

int wanRequest(NetifModel::Interface& i, ifreq* ifr, std::string& note) {
  if_settings settings;
  std::memcpy(&settings, &ifr->ifr_ifru, sizeof settings);
  switch (settings.type) {
    case IF_GET_IFACE: {
      wan::IfaceInfo info{};
      info.words[wan::channel_word] = i.channel;
      if (settings.size < (wan::channel_word + 1) * sizeof(std::int32_t)) {
        settings.size = sizeof info;
        std::memcpy(&ifr->ifr_ifru, &settings, sizeof settings);
        return refuse(ENOBUFS);
      }
      std::memcpy(settings.ifs_ifsu.sync, &info, std::min<std::size_t>(settings.size, sizeof info));
      settings.type = IF_IFACE_E1;
      std::memcpy(&ifr->ifr_ifru, &settings, sizeof settings);
      note = "interface channel " + std::to_string(i.channel);
      return 0;
    }
    case IF_PROTO_PPP:
    case IF_PROTO_HDLC:
      if (i.flags & IFF_UP) return refuse(EBUSY);
      i.proto = settings.type;
      note = std::string("protocol ") + protoText(i.proto);
      return 0;
    default:
      return refuse(EINVAL);
  }
}

int netifRequest(unsigned long request, ifreq* ifr, std::string& note) {
  auto& all = NetifModel::state().interfaces;
  auto it = all.find(std::string(ifr->ifr_name, ::strnlen(ifr->ifr_name, IFNAMSIZ)));
  if (it == all.end()) return refuse(ENODEV);
  NetifModel::Interface& i = it->second;
  switch (request) {
    case SIOCGIFINDEX:
      ifr->ifr_ifindex = i.index;
      note = "index " + std::to_string(i.index);
      return 0;
    case SIOCGIFFLAGS:
      ifr->ifr_flags = static_cast<short>(i.flags);
      note = "flags " + flagsText(i.flags);
      return 0;
    case SIOCSIFFLAGS:
      i.flags = (i.flags & ~static_cast<unsigned>(IFF_UP)) | (static_cast<unsigned short>(ifr->ifr_flags) & IFF_UP);
      note = "flags " + flagsText(i.flags);
      return 0;
    case SIOCWANDEV:
      return wanRequest(i, ifr, note);
    default:
      return refuse(EINVAL);
  }
}

std::string describe(const std::string& name, const NetifModel::Interface& i) {
  return name + " index " + std::to_string(i.index) + " channel " + std::to_string(i.channel) + " flags " +
         flagsText(i.flags) + " proto " + protoText(i.proto);
}

const char kUsage[] =
    "usage: netif | netif add NAME [channel C] [flags F|F...] | netif del NAME (NAME hdlc0, hdlc1, ...; flags up, "
    "pointopoint, loopback or none)";

void addInterface(const Board::Args& a, Board::Reply& r) {
  const std::string& name = a[1];
  std::uint32_t unit = 0;
  if (name.compare(0, sizeof kPrefix - 1, kPrefix) != 0 || name.size() >= IFNAMSIZ ||
      !words::to_u32(name.substr(sizeof kPrefix - 1), unit))
    return r.fail(kUsage);
  NetifModel::Interface i;
  i.channel = NetifModel::default_channel(static_cast<int>(unit));
  i.flags = IFF_POINTOPOINT;
  i.proto = IF_PROTO_HDLC;
  for (std::size_t n = 2; n < a.size(); n += 2) {
    std::int32_t channel = 0;
    if (n + 1 >= a.size()) return r.fail(kUsage);
    if (a[n] == "channel" && words::to_i32(a[n + 1], channel) && channel >= 0)
      i.channel = channel;
    else if (a[n] != "flags" || !parseFlags(a[n + 1], i.flags))
      return r.fail(kUsage);
  }
  NetifModel::State& s = NetifModel::state();
  if (s.interfaces.count(name)) return r.fail(name + " exists");
  i.index = s.nextIndex++;
  s.interfaces[name] = i;
}

void netifCommand(const Board::Args& a, Board::Reply& r) {
  auto& all = NetifModel::state().interfaces;
  if (a.empty()) {
    for (const auto& i : all) r.line(describe(i.first, i.second));
    return;
  }
  if (a[0] == "add" && a.size() >= 2) return addInterface(a, r);
  if (a[0] == "del" && a.size() == 2) {
    if (!all.erase(a[1])) r.fail("no interface " + a[1]);
    return;
  }
  r.fail(kUsage);
}

}  // namespace

NetifModel::State& NetifModel::state() {
  static State s;
  return s;
}

void NetifModel::install(Board& board) {
  board.add_netif(kPrefix, netifRequest);
  board.add_command("netif",
                    "netif: the board's point-to-point interfaces (index, TDM channel, flags, protocol); netif add "
                    "NAME [channel C] [flags F|F...]: one more (hdlcN, channel 3840+N and flags pointopoint unless "
                    "given); netif del NAME",
                    netifCommand);
}

}  // namespace sim
