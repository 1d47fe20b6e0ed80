#pragma once
// The base of every slot factory. Each factory links itself at the head of
// one global chain when it is built, so the factory built last is asked
// first; Slots walks the chain from its head to create slots and to collect
// the resources it reports.
class SlotFactory {
 public:
  SlotFactory(const SlotFactory&) = delete;
  SlotFactory& operator=(const SlotFactory&) = delete;
  virtual ~SlotFactory();  // leaves the chain

  SlotFactory* next() const { return next_; }

  // Head of the chain: the most recently built factory.
  static SlotFactory* firstFactory;

 protected:
  SlotFactory();

 private:
  SlotFactory* next_;
};
