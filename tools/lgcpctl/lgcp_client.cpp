#include "tools/lgcpctl/lgcp_client.h"

#include <sys/time.h>

#include <cstdio>
#include <ctime>
#include <iostream>
#include <iterator>
#include <vector>

#include "runtime/ext_out.h"
#include "runtime/multiplexer.h"
#include "runtime/mux_clock.h"

namespace lgcpctl {

std::string OneLine(const std::string& text) {
  std::string out;
  bool quoted = false;
  bool blank = false;
  for (char c : text) {
    if (!quoted && (c == ' ' || c == '\n' || c == '\t' || c == '\r')) {
      blank = true;
      continue;
    }
    if (blank && !out.empty()) out += ' ';
    blank = false;
    if (c == '"') quoted = !quoted;
    out += c;
  }
  return out;
}

std::string TimeStamp() {
  timeval tv{};
  ::gettimeofday(&tv, nullptr);
  std::tm local{};
  const std::time_t seconds = tv.tv_sec;
  ::localtime_r(&seconds, &local);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%02d:%02d:%02d.%03d", local.tm_hour, local.tm_min, local.tm_sec,
                static_cast<int>(tv.tv_usec / 1000));
  return buf;
}

Client::Client(const std::string& host, unsigned short port, std::ostream& out) : link_(host, port), out_(out) {
  link_.service_name("lgcpctl");
  link_.Bind(this);
}

Client::~Client() {
  link_.Deactivate();
  link_.UnBind();
}

void Client::Pump(unsigned ms) { multiplexer.run_once(static_cast<int>(ms)); }

bool Client::Connect(unsigned wait_ms) {
  link_.Activate();
  const std::uint32_t start = Mux::milliseconds();
  while (!connected_) {
    const std::uint32_t spent = Mux::milliseconds() - start;
    if (spent >= wait_ms) return false;
    Pump(wait_ms - spent);
  }
  return true;
}

bool Client::Send(const std::string& valueNotation) {
  LGCP::Message message;
  if (!message.setFromValueNotation(valueNotation)) {
    std::cerr << "lgcpctl: not an LGCP message: " << valueNotation << std::endl;
    return false;
  }
  ASN1::CoderEnv env(ASN1::CoderEnv::per_Aligned);
  std::vector<char> octets;
  if (!ASN1::encode(message, &env, std::back_inserter(octets))) {
    std::cerr << "lgcpctl: does not encode: " << OneLine(message.asValueNotation()) << std::endl;
    return false;
  }
  link_.Send(octets.data(), static_cast<int>(octets.size()));
  out_ << TimeStamp() << " > " << OneLine(message.asValueNotation()) << std::endl;
  if (message.get_pdu().getSelection() == LGCP::PDU::e_command) ++sent_commands_;
  return true;
}

bool Client::Expect(const std::string& valueNotation, unsigned ms) {
  LGCP::Message expected;
  if (!expected.setFromValueNotation(valueNotation)) {
    std::cerr << "lgcpctl: not an LGCP message: " << valueNotation << std::endl;
    return false;
  }
  const std::uint32_t start = Mux::milliseconds();
  while (pending_.empty()) {
    const std::uint32_t spent = Mux::milliseconds() - start;
    if (lost_ || spent >= ms) {
      std::cerr << "lgcpctl: " << (lost_ ? "connection lost" : "no response within " + std::to_string(ms) + " ms")
                << ", expected " << OneLine(expected.asValueNotation()) << std::endl;
      return false;
    }
    Pump(ms - spent);
  }
  const LGCP::Message got = pending_.front();
  pending_.pop_front();
  if (got == expected) return true;
  std::cerr << "lgcpctl: expected " << OneLine(expected.asValueNotation()) << std::endl;
  return false;
}

void Client::Listen(unsigned ms) {
  const std::uint32_t start = Mux::milliseconds();
  for (;;) {
    const std::uint32_t spent = Mux::milliseconds() - start;
    if (lost_ || spent >= ms) return;
    Pump(ms - spent);
  }
}

void Client::OnConnect() { connected_ = true; }

void Client::OnDisconnect() {
  if (connected_) out_ << TimeStamp() << " connection closed" << std::endl;
  connected_ = false;
  lost_ = true;
  // The link would connect again by itself; this tool reports instead.
  link_.Deactivate();
}

void Client::OnMessage(const char* data, int length) {
  LGCP::Message message;
  ASN1::CoderEnv env(ASN1::CoderEnv::per_Aligned);
  if (!ASN1::decode(data, data + length, &env, message)) {
    out_ << TimeStamp() << " < (undecodable) " << ext::OutBufInHex(data, static_cast<std::size_t>(length)) << std::endl;
    return;
  }
  out_ << TimeStamp() << " < " << OneLine(message.asValueNotation()) << std::endl;
  if (message.get_pdu().getSelection() == LGCP::PDU::e_response) {
    ++responses_;
    pending_.push_back(message);
  }
}

}  // namespace lgcpctl
