#pragma once
// The radio control of a radio RTP slot: it owns the slot's RTP extension
// session on sysroot::rtp_ext, through which the radio signalling travels
// beside the RTP session's voice, and turns it into radio events for the
// controller and back. This base opens, initialises and attaches the
// session, watches its descriptor, keeps its access filter, runs the
// periodic status step and builds the log prefix; the protocols derive from
// it (VESK: vesk_radio_control.h).
//
// Three kinds, fixed by the constructor:
//   own_session   its own extension session joined to an RTP session
//                 {descriptor, process} (the RTP slot's own);
//   attached_rtp  no session of its own: the slot's RTP session is attached
//                 to an existing RTP session {descriptor, process};
//   unjoined      its own extension session, joined to no RTP session.
//
// The slot talks to its control through IRadioController and hears from it
// through IRadioControlNotify; the loop drives it through OnRtpExtEvent
// (the descriptor is readable) and the status timer. Every device failure
// is one line on the error stream and leaves the control usable.
#include <netinet/in.h>
#include <sys/types.h>

#include <cstdint>
#include <string>

#include "asn1/modules/TERM.h"
#include "platform/rtp_ext_records.h"
#include "runtime/event.h"
#include "runtime/fd.h"
#include "runtime/inet4_addr.h"
#include "runtime/timer.h"

namespace RTPSignalling {

// The extension driver's node, as its messages name it.
const char* GetRtpExtDevName();

// What the slot asks of its control.
class IRadioController {
 public:
  virtual ~IRadioController();
  // The controller's radio status or radio request, sent on to the radio
  // channel; false when the control does not take it.
  virtual bool SendASNToChan(const TERM::RadioStatus& status);
  virtual bool SendASNToChan(const TERM::RadioModifier& request);
  // The radio's squelch: the slot's input follows it where asked to.
  virtual bool GetSQU();
};

// What the loop asks of a control.
class IRadioIntController {
 public:
  virtual ~IRadioIntController();
  virtual void OnRtpExtEvent(int fd, short events);
  // One status step; returns the delay in ms to the next one.
  virtual unsigned long ProcessRadioStatus(unsigned long now, unsigned long interval);
};

// What a control tells its slot.
class IRadioControlNotify {
 public:
  virtual ~IRadioControlNotify();
  // A radio event for the controller.
  virtual void RadioControlNotify(const TERM::RtpRadioRequest& request);
  // A failure, by its code.
  virtual void RadioControlNotify(int code);
};

class RadioControl : public IRadioController, private IRadioIntController {
 public:
  enum RadioControlType { own_session = 0, attached_rtp = 1, unjoined = 2 };

  RadioControl(int channel, const rtp_ext_attach_session_params& attach, const rtp_ext_init_params& init);
  explicit RadioControl(const rtp_ext_init_params& init);
  RadioControl(int channel, Fd rtp, const rtp_attach_session_params& attach);
  // Closes the session without detaching it: the slot stops it first.
  ~RadioControl() override;
  RadioControl(const RadioControl&) = delete;
  RadioControl& operator=(const RadioControl&) = delete;

  bool SendASNToChan(const TERM::RadioStatus& status) override;
  bool SendASNToChan(const TERM::RadioModifier& request) override;
  bool GetSQU() override;

  // Opens the session again after RtpExtStop (own_session: a new session,
  // initialised and attached; attached_rtp: the attach again; unjoined:
  // a new session only when open is true). A new session gets the access
  // filter that is on. False, with a line on the error stream, when the
  // driver refuses.
  bool RtpExtStart(bool open);
  // own_session: detaches and closes the session. The others keep what
  // they hold. Always true.
  bool RtpExtStop();
  // The slot's RTP session has been re-created (a codec change): later
  // attaches name it rather than the one the control was made with.
  void SetRtpSession(const Fd& session);

  // The periodic status step: on arms it after the interval, off stops it.
  void SetTimerEnable(bool on);
  // A running timer keeps its present expiry.
  void SetTimerInterval(unsigned long ms);

  // The access filter: on for addr (set only when it changes), or off.
  // An address not yet known (0.0.0.0) sets none: a driver that took it
  // literally would shut out every session. The remembered filter changes
  // even when the driver refuses. Returns 0.
  int UpdateAccess(bool on, const in_addr& addr);

  // "rtp_ext[channel] time:" ("rtp_ext time:" for an unjoined control),
  // rebuilt at each call.
  const std::string& GetPrefix();

  // Set by the owning slot.
  void SetNotify(IRadioControlNotify* notify) { notify_ = notify; }
  void SetTrace(bool on) { trace_ = on; }
  void SetWorkstation(bool on) { workstation_ = on ? 1 : 0; }

  RadioControlType type() const { return type_; }
  // Whether the control holds what its kind needs: its own session
  // (own_session, unjoined), or the RTP session attached (attached_rtp).
  bool has_session() const { return type_ == attached_rtp ? rtp_attached_ : ext_fd_.valid(); }
  const Fd& ext_fd() const { return ext_fd_; }
  bool timer_enabled() const { return timer_enabled_; }
  bool timer_armed() const { return status_timer_.isSet(); }
  bool filter_on() const { return filter_on_; }
  const rtp_ext_filter& filter() const { return filter_; }
  const INet4::Addr& local_addr() const { return local_addr_; }
  bool trace() const { return trace_; }
  std::uint32_t status_interval() const { return status_interval_; }
  // The statistics the protocols keep.
  std::uint32_t rx_packets() const { return rx_packets_; }
  std::uint32_t tx_packets() const { return tx_packets_; }
  int last_unpack_error() const { return last_unpack_error_; }
  int read_errno() const { return read_errno_; }
  int write_errno() const { return write_errno_; }

 protected:
  void OnRtpExtEvent(int fd, short events) override;
  unsigned long ProcessRadioStatus(unsigned long now, unsigned long interval) override;

  // Replaces the pending status step by one after ms.
  void SetTimer(unsigned long ms);
  void OnProcessStatus(Timer*);

  // Asks the driver where the next payload comes from (into packet_info_)
  // and reads it into buf (rtp_ext::max_payload bytes): what read answered,
  // with the statistics kept. 0 or less ends a batch: the descriptor does
  // not block, so an empty driver answers EAGAIN, which is no error.
  ssize_t ReadFromChan(unsigned char* buf);
  // Writes one payload of n bytes: what write answered, counted.
  int WriteToChan(const unsigned char* buf, int n);

  // Milliseconds from t to now on the wrapping loop clock (a signed
  // difference, so a time just before the wrap is as old as it is); 0 for
  // a t that lies ahead of now.
  static std::uint32_t Elapsed(std::uint32_t now, std::uint32_t t);

  // A failure line: prefix, text, end of line.
  void LogError(const std::string& text);
  // A trace line on the log stream.
  void LogTrace(const std::string& text);

  const RadioControlType type_;
  Fd rtp_fd_;
  Fd ext_fd_;
  Event ext_event_;
  Timer status_timer_;
  rtp_attach_session_params rtp_attach_{};
  rtp_ext_attach_session_params ext_attach_{};
  rtp_ext_init_params ext_init_{};
  rtp_ext_packet_info packet_info_{};
  std::uint32_t workstation_ = 0;
  // Statistics, kept by the protocols.
  std::uint32_t info_requests_ = 0;
  std::uint32_t rx_packets_ = 0;
  std::uint32_t tx_packets_ = 0;
  std::uint32_t rx_bytes_ = 0;
  std::uint32_t tx_bytes_ = 0;
  int last_pack_error_ = 0;
  int last_unpack_error_ = 0;
  int info_errno_ = 0;
  int read_errno_ = 0;
  int write_errno_ = 0;
  std::uint32_t last_activity_ms_ = 0;
  std::uint32_t status_interval_ = 1000;
  int channel_ = 0;
  bool trace_ = false;
  bool timer_enabled_ = false;
  bool filter_on_ = false;
  bool rtp_attached_ = false;  // attached_rtp: the last attach went through
  rtp_ext_filter filter_{};
  IRadioControlNotify* notify_ = nullptr;
  std::string prefix_;
  INet4::Addr local_addr_;

 private:
  void Init(RadioControlType type);
  // Opens and initialises a session, attached or not; the descriptor, or
  // an empty one after the failure line.
  Fd OpenSession(bool attach);
  // Gives the driver the filter that is on; false after the failure line.
  bool SetFilter();
  // The loop's events on the session descriptor.
  void OnSessionEvent(int fd, short events);
};

}  // namespace RTPSignalling
