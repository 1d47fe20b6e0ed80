#pragma once
// Stacked protocol layers.
//
// A ProtocolsList chains layers from the bottom (its head, nearest the wire)
// to the top (its tail) and owns them. Packets go down with transmit(), which
// hands them to the message() of the layer below, and up with on_message(),
// which hands them to the receive() of the layer above; at either end of a
// list they leave through the list's own transmit() or on_message().
//
// Activation climbs one layer at a time: activate() descends to the bottom,
// each layer's local_activate() brings it up and calls on_activate(), which
// starts the layer above; the top layer tells the owner (on_activated).
// Deactivation runs from the top down; a success descends, an error climbs
// back to the top without taking anything more down, and the end layer tells
// the owner (on_deactivated). Initialisation runs bottom up and stops at the
// first failure. A layer may finish its activation or deactivation later,
// from an event or timer of its own.
//
// A ProtocolsFamily is a whole list acting as one layer of an outer list.
//
// The base layer holds no "active" state: a packet offered to a layer is
// handed to it whatever its state.
#include <iosfwd>

#include "runtime/f_dual_list.h"
#include "runtime/packet.h"
#include "runtime/protocol_name.h"
#include "runtime/protocol_status.h"

class ProtocolsList;

class Protocol : public F_dual_list_item<Protocol>, public Protocol_info {
 public:
  Protocol() = default;
  Protocol(const Protocol&) = delete;
  Protocol& operator=(const Protocol&) = delete;
  // A layer still in a list takes itself out of it.
  ~Protocol() override;

  // Reserve this layer's header (trailer) room; the base only makes sure the
  // packet has a buffer.
  virtual void local_prepare_head(Packet& p);
  virtual void local_prepare_tail(Packet& p);
  virtual Protocol_status local_initialize();
  // Bring the layer up, then call on_activate(); the base does so at once.
  virtual void local_activate();
  // Take the layer down, then call on_deactivate(); the base reports success
  // at once.
  virtual void local_deactivate();
  // Pass a packet down: to the layer below, else out of the list's bottom.
  virtual void transmit(Packet& p);
  // Pass a received packet up: to the layer above, else out of the list's top.
  virtual void on_message(Packet& p);
  virtual void on_activate();
  virtual void on_deactivate(Protocol_status status);
  // A report that is no change of state, travelling up to the owner.
  virtual void on_status(Protocol_status status);
  // A packet from above to send; the base drops it.
  virtual void message(Packet& p);
  // A packet from below; the base drops it.
  virtual void receive(Packet& p);
  virtual void activate();
  virtual void deactivate();
  virtual void protocol_info(std::ostream& os) const;

  // Before a sender writes its payload: every layer from the bottom of this
  // list up to this one reserves its room, the bottom first. The first
  // reservation on a null handle takes the buffer.
  void prepare_head(Packet& p);
  void prepare_tail(Packet& p);
  Protocol_status initialize();

  ProtocolsList* owner() const { return owner_; }
  Protocol* upper() const { return dl_next; }
  Protocol* lower() const { return dl_prev; }

 protected:
  void descend_prepare_head(Packet& p);
  void descend_prepare_tail(Packet& p);

 private:
  friend class ProtocolsList;
  ProtocolsList* owner_ = nullptr;
};

class ProtocolsList : public Protocol, public F_dual_list<Protocol> {
 public:
  ProtocolsList() = default;
  // Deletes the layers, the top one first.
  ~ProtocolsList() override;

  // From the top layer when the stack is up; the base ignores it.
  virtual void on_activated(Protocol* top);
  // From the bottom layer after a clean deactivation, or from the top layer
  // with an error status; the base ignores it.
  virtual void on_deactivated(Protocol* reporter, Protocol_status status);
  // The list takes ownership of a standalone layer, as its new bottom or top.
  virtual void add_protocol_head(Protocol* p);
  virtual void add_protocol_tail(Protocol* p);

  // The lowest layer whose name matches, or null.
  Protocol* search(const Protocol_name& name) const;
};

class ProtocolsFamily : public ProtocolsList {
 public:
  void message(Packet& p) override;
  void receive(Packet& p) override;
  void local_prepare_head(Packet& p) override;
  void local_prepare_tail(Packet& p) override;
  Protocol_status local_initialize() override;
  void local_activate() override;
  void on_activated(Protocol* p) override;
  void local_deactivate() override;
  void on_deactivated(Protocol* p, Protocol_status status) override;
};
