#pragma once
// Voice slots: raw voice between a transparent channel of the MCC
// controller (bound to a TDM channel) and a TCP peer or the phrase files.
//
//   PlaySlotNetwork  a TCP peer -> the channel. Connected to a receiver, it
//                    connects to the peer (5 s at most), writes its 32-bit
//                    id (most significant octet first), then copies what the
//                    peer sends. The peer closing, or any failure, ends it:
//                    output inactive and "abort" 0.
//   PlaySlotFile     phrase files -> the channel, the list played `repeat`
//                    times (0: until destroyed), then output inactive and
//                    "abort" 0. A phrase that cannot be opened is skipped;
//                    with none playable the connection is refused and one
//                    "abort" 0 follows.
//   RecordSlot       the channel -> a TCP peer. Fed by a source, it connects
//                    to the peer and copies; the end is reported as
//                    `stopRecording` with its cause.
//
// The octets go through unchanged. Destroy never waits: everything a slot
// holds goes with it.
#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "asn1/modules/LGCP.h"
#include "runtime/async_connect.h"
#include "runtime/async_copy.h"
#include "runtime/dpc.h"
#include "runtime/event.h"
#include "runtime/fd.h"
#include "slots/slot.h"

class VoiceFactory;

class VoiceSlot : public Slot {
 protected:
  explicit VoiceSlot(VoiceFactory& owner) : owner_(owner) {}
  VoiceFactory& owner_;
};

class PlaySlotGeneric : public VoiceSlot {
 public:
  // channel: the TDM channel of the controller channel held by mcc.
  PlaySlotGeneric(VoiceFactory& owner, Fd mcc, int channel);
  ~PlaySlotGeneric() override;

  int IGetTransmitChannel() const override { return channel; }
  const char* GetName() const override { return "player"; }
  bool IBeforeDestroy() override;

  void PutHeader(std::ostream& s) const;

 protected:
  const int channel;
  const Fd mcc;
};

class PlaySlotNetwork : public PlaySlotGeneric {
 public:
  // host: "a.b.c.d:port".
  PlaySlotNetwork(VoiceFactory& owner, Fd mcc, int channel, std::string host, std::uint32_t id);

  bool IOnOutputStream() override;

  void OnConnect(ASync::Connect::Status::Type status, Fd sock);
  void OnPlayComplete(ASync::Copy::Status::Type status);

 private:
  enum State { idle, connecting, playing, released };

  void Release();

  const std::string host;
  const std::uint32_t id;
  State state = idle;
  std::unique_ptr<ASync::Copy> copier;
  std::unique_ptr<ASync::Connect> connector;
};

class PlaySlotFile : public PlaySlotGeneric {
 public:
  PlaySlotFile(VoiceFactory& owner, Fd mcc, int channel, std::vector<std::string> phrases, std::uint32_t repeat);

  bool IOnOutputStream() override;

  void OnPlayComplete(ASync::Copy::Status::Type status);

  // Whether a phrase name stays inside the phrase directory: not absolute,
  // no ".." component.
  static bool Acceptable(const std::string& name);

 private:
  // Plays the list from its first phrase; false when none opens.
  bool restart();
  // Plays the first phrase from the current one on that opens; false at
  // the end of the list.
  bool next_phrase();
  void delayed_abort();
  void Release();

  std::unique_ptr<ASync::Copy> copier;
  std::uint32_t repeat;
  bool started = false;
  Dpc abortCall;
  const std::vector<std::string> phrases;
  std::size_t current = 0;
};

class RecordSlot : public VoiceSlot {
 public:
  RecordSlot(VoiceFactory& owner, Fd mcc, std::string host, int channel);
  ~RecordSlot() override;

  int IGetReceiveChannel() const override { return channel; }
  const char* GetName() const override { return "recorder"; }
  void IAfterCreate() override;
  bool IBeforeDestroy() override;
  bool IOnInputStream() override;

  void OnConnect(ASync::Connect::Status::Type status, Fd sock);
  void OnRecordComplete(ASync::Copy::Status::Type status);

  void PutHeader(std::ostream& s) const;

 private:
  // The peer sends nothing; what it does send is read and dropped, and its
  // end of the stream ends the recording.
  void OnPeerEvent(int fd, short revents);
  void Stop(LGCP::StopRecordingCause::NamedNumber cause);

  const int channel;
  const Fd mcc;
  const std::string host;
  std::unique_ptr<ASync::Copy> copier;
  std::unique_ptr<ASync::Connect> connector;
  Event peer;
};
