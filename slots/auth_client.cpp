#include "slots/auth_client.h"

#include <errno.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <iostream>
#include <sstream>

#include "slots/modem_factory.h"

AuthClient::AuthClient(Fd socket, const INet4::Addr& peer, ModemFactory& factory)
    : socket_(std::move(socket)), peer_(peer), factory_(factory) {
  event_.Bind("AuthClient::OnSocketEvent", &AuthClient::OnSocketEvent, this);
}

AuthClient::~AuthClient() { event_.Release(); }

void AuthClient::Activate() {
  event_.Schedule(socket_, POLLIN);
  firstRecord_.set(first_record_ms, &AuthClient::OnFirstRecordTimeout, this);
}

void AuthClient::OnFirstRecordTimeout() {
  // A modem's own plug-in may wait for its user as long as it likes.
  if (factory_.Claim(*this)) return;
  ++use_;
  Close("no record within " + std::to_string(first_record_ms / 1000) + " s");
  if (--use_ == 0) CheckDisconnect();
}

void AuthClient::Bind(ModemSlot& slot) {
  slot_ = &slot;
  served_ = true;
}

bool AuthClient::Refuse(Refusal kind) {
  ++refused_;
  if (said_ & kind) return false;
  said_ |= kind;
  return true;
}

void AuthClient::OnSocketEvent(int, short revents) {
  ++use_;
  if (revents & (POLLERR | POLLHUP))
    OnDisconnect();
  else if (revents & POLLIN)
    Read();
  if (--use_ == 0) CheckDisconnect();
}

bool AuthClient::Read() {
  for (unsigned records = 0; records < records_per_pass && !closed();) {
    const ssize_t n = ::read(socket_.get(), buffer_.data() + fill_, end_ - fill_);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) return true;
      Close(std::string("read error: ") + ::strerror(errno));
      return false;
    }
    if (n == 0) {
      OnDisconnect();
      return false;
    }
    fill_ += static_cast<std::size_t>(n);
    if (fill_ < end_) continue;
    if (end_ == 4) {
      // Only the length word is in: the record is read up to its end.
      const std::uint32_t length = buffer_.length();
      if (length < modem_auth::header_size || length > modem_auth::max_size) {
        Close("record length " + std::to_string(length) + " out of range");
        return false;
      }
      end_ = length;
      continue;
    }
    ++records;
    if (!Complete()) return false;
  }
  return !closed();
}

bool AuthClient::Complete() {
  const std::uint32_t type = buffer_.type();
  const std::uint32_t length = buffer_.length();
  if ((type == modem_auth::auth_request && length != modem_auth::auth_request_size) ||
      (type == modem_auth::accounting && length != modem_auth::accounting_size)) {
    Close("record of type " + std::to_string(type) + " with length " + std::to_string(length));
    return false;
  }
  fill_ = 0;
  end_ = 4;
  firstRecord_.reset();
  factory_.OnAuth(buffer_, *this);
  return !closed();
}

bool AuthClient::Send(const modem_auth::attr& record) {
  if (closed()) return false;
  ++use_;
  const std::uint8_t* p = record.data();
  std::size_t left = std::min<std::size_t>(record.length(), modem_auth::max_size);
  bool sent = true;
  while (left > 0) {
    const ssize_t n = ::send(socket_.get(), p, left, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      Close(n < 0 ? std::string("write error: ") + ::strerror(errno) : std::string("nothing written"));
      sent = false;
      break;
    }
    p += n;
    left -= static_cast<std::size_t>(n);
  }
  if (--use_ == 0) CheckDisconnect();
  return sent;
}

void AuthClient::Close(const std::string& why) {
  if (closed()) return;
  std::ostringstream line;
  line << "auth client " << peer_ << ": " << why << ", closing.\n";
  std::cerr << line.str() << std::flush;
  OnDisconnect();
}

void AuthClient::OnDisconnect() {
  firstRecord_.reset();
  event_.Release();
  socket_.close();
}

void AuthClient::CheckDisconnect() {
  if (closed() && use_ == 0) factory_.OnAuthSocketDisconnect(this);
}
