#pragma once
// Modem slots: a dial-in or dial-out data call on the board. The daemon does
// not carry the data: it prepares the device, starts the PPP daemon (or a
// fax program) as a child and watches it.
//
// - DspModemSlot: a modem of the modem driver "/dev/mctl", set up on the
//   slot's first connection; the PPP daemon runs on its terminal
//   "/dev/mdm%d", or a fax program sends or receives instead.
// - HdlcModemSlot: a point-to-point interface "hdlc%d" of the board's HDLC
//   driver, switched to PPP on the first connection; the PPP daemon runs on
//   the interface.
//
// The PPP daemon's plug-in authenticates the dial-in user through the
// factory's authentication server (modem_factory.h): the request goes to
// the controller as `modemProceeding` auth, and the controller's activate
// with the user's network parameters goes back to the plug-in as an accept
// and an address record. Accounting goes up as `modemProceeding` acct.
//
// The end of a child becomes the slot's "abort" signal with the raw wait
// status. A destroy with a child running sends it SIGHUP and is answered
// once the child has ended, or after 5000 ms, when the child is killed. The
// fax receiver is no such child (its end is no signal), but one still
// running when its slot goes gets SIGTERM, and SIGKILL 5000 ms later. The
// signals reach what the program started as well (ChildProcess::Signal),
// and what is left of it when the slot goes is killed after 5000 ms. A
// program that has ended is not signalled itself, but what it left running
// still gets its stop signal when the slot goes, and SIGKILL 5000 ms later.
#include <sys/types.h>

#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "asn1/modules/TERM.h"
#include "runtime/child_wait.h"
#include "runtime/fd.h"
#include "runtime/timer.h"
#include "slots/modem_auth_records.h"
#include "slots/modem_factory.h"
#include "slots/slot.h"

class ModemFactory;

class ModemSlot : public Slot {
 public:
  // How long a destroy waits for the child to end after SIGHUP.
  static constexpr unsigned terminate_ms = 5000;
  // Of the controller's `execargs`, the most passed to a program.
  static constexpr unsigned max_execargs = 62;

  ModemSlot(ModemFactory& factory, const TERM::ModemParams& params);
  ~ModemSlot() override;

  // The authentication session of the slot (its modem number), -1 for none.
  virtual int modem_id() const = 0;
  // Takes the slot off the factory's lists (and gives back what the factory
  // lent it); once only.
  virtual void unbind() = 0;

  bool IBeforeDestroy() override;
  bool IActivate(const TERM::TermActivateParams& params) override;
  // The first stream change sets the device up and starts its program; a
  // device that could not be set up has no stream, so a connection to it
  // fails rather than announce a stream on no channel.
  bool IOnOutputStream() override { return Prepare(); }
  bool IOnInputStream() override { return Prepare(); }
  const char* GetName() const override { return "generic-modem"; }

  ModemFactory& GetSlotFactory() const { return factory_; }
  // Whether a record of session id belongs to this slot; never for a
  // negative id, which no modem has.
  bool EqAuthId(int id) const { return id >= 0 && modem_id() == id; }
  // A record of the slot's session from the dial-in plug-in.
  void OnAuth(const modem_auth::attr& record);
  void OnAuthRequest(const modem_auth::voauth& request);
  void OnAcctInformation(const modem_auth::voacct& accounting);

  // The child program's process id, -1 when none runs.
  int child_pid() const { return pid; }

 protected:
  // Sets the device up unless it is; whether it has a stream.
  virtual bool Prepare() = 0;
  // Takes the slot off the factory's lists once.
  template <class Self>
  void Unbind(Self* self) {
    if (!bound) return;
    bound = false;
    factory_.ReleaseModemSlot(self);
  }
  // Stops what a slot that goes leaves running: the terminate timer, a
  // child.
  void Stop() {
    terminate.reset();
    pppd_kill();
  }
  // Starts the PPP daemon on a device with an options file (a name in the
  // options directory); nothing while a child runs.
  void pppd_exec(const std::string& device, const char* options);
  // Kills a child that is still running.
  void pppd_kill();
  void on_terminate(int status);
  // The child has ended: a release waiting for it finishes (the slot is
  // gone afterwards), or else the controller hears of it as an abort.
  void Ended(int status);
  void on_terminate_timeout();
  // Forks a child that runs program (a board path) with argv; the child
  // waits delay seconds and writes banner to its standard output first.
  // The child's pid, or -1 with errno set.
  static pid_t spawn(const std::string& program, const std::vector<std::string>& argv, const char* banner,
                     unsigned delay = 0);
  // The program the controller named, or the given board path.
  std::string program(const char* fallback) const;
  // The controller's execargs, at most max_execargs of them, appended.
  void append_execargs(std::vector<std::string>& argv) const;
  // Writes one line to a stream behind the slot's prefix, in one write.
  void say(std::ostream& stream, const std::string& text) const;

  const TERM::ModemParams params;
  int pid = -1;
  // The program last started, whose group outlives it while anything it
  // started runs; -1 for none.
  pid_t started = -1;
  ChildWait child;
  std::unique_ptr<Timer> terminate;
  bool bound = true;
  // Expires with the slot: a drain of child ends may finish its release.
  const std::shared_ptr<char> alive_ = std::make_shared<char>();

 private:
  ModemFactory& factory_;
};

class DspModemSlot : public ModemSlot {
 public:
  DspModemSlot(ModemFactory& factory, const TERM::ModemParams& params);
  ~DspModemSlot() override;

  int modem_id() const override { return modem; }
  void unbind() override { Unbind(this); }
  int IGetTransmitChannel() const override { return timeslot; }
  int IGetReceiveChannel() const override { return timeslot; }
  const char* GetName() const override { return "dsp-modem"; }

 private:
  bool Prepare() override;
  // Sets the modem up and starts its program.
  void InitModem();
  void RunFaxSender();
  void RunFaxReceiver();
  void on_fax_terminate(int status);
  void on_receiver_end(int status);
  // Logs the text with the system's error text and sends the abort signal
  // with the error number.
  void abortSetUp(const char* text);

  Fd mctl;
  int timeslot = -1;
  int modem = -1;
  // The fax receiver: not the slot's child as far as the controller is
  // concerned (its end is no signal), only followed to be stopped with the
  // slot. -1 when none runs.
  pid_t receiver = -1;
  // The receiver as started, kept after its end for what it left running;
  // -1 for none.
  pid_t receiverStarted = -1;
  ChildWait receiverWait;
};

class HdlcModemSlot : public ModemSlot {
 public:
  HdlcModemSlot(ModemFactory& factory, const TERM::ModemParams& params, const std::string& interface);
  ~HdlcModemSlot() override;

  // No authentication session: the plug-in's records name modems.
  int modem_id() const override { return -1; }
  void unbind() override { Unbind(this); }
  int IGetTransmitChannel() const override { return channel; }
  int IGetReceiveChannel() const override { return channel; }
  const char* GetName() const override { return "digital-modem"; }

  const std::string& interface_name() const { return interface; }

 private:
  bool Prepare() override;
  // Switches the interface to PPP and starts the PPP daemon on it.
  void initModem();
  // Takes the interface down and back to raw HDLC.
  void takeDown();

  int channel = -1;
  const std::string interface;
};
