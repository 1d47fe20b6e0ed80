#pragma once
// Deferred calls: once activated, a Dpc runs on every pass of the loop (after
// the timers and again just before poll) until it is deactivated. Active
// calls run in the order of the Dpc objects' addresses, so no code may rely
// on the order of two of them.
//
//   class Service {
//     Dpc dpc_;
//     void OnDpc() { ...; dpc_.Deactivate(); }
//    public:
//     Service() { dpc_.Bind(this, &Service::OnDpc); }
//     void Later() { dpc_.Activate(); }
//   };
//
// A Dpc deactivated by an earlier call of the same run does not run in it;
// one activated during a run waits for the next run. Destroying a Dpc
// deactivates it.

class DpcHandler {
 public:
  virtual void Invoke() = 0;
  virtual ~DpcHandler() = default;
};

// Calls a plain function.
class DpcHandler1 : public DpcHandler {
 public:
  explicit DpcHandler1(void (*function)()) : function_(function) {}
  void Invoke() override {
    if (function_) function_();
  }

 private:
  void (*function_)();
};

// Calls a member function of T.
template <class T>
class TDpcHandler : public DpcHandler {
 public:
  using Member = void (T::*)();
  TDpcHandler(T* obj, Member member) : obj_(obj), member_(member) {}
  void Invoke() override {
    if (member_) (obj_->*member_)();
  }

 private:
  T* obj_;
  Member member_;
};

class Dpc {
 public:
  Dpc() = default;
  Dpc(const Dpc&) = delete;
  Dpc& operator=(const Dpc&) = delete;
  ~Dpc();

  // Keeps the handler (owned), deleting the one held before.
  void Bind(DpcHandler* handler);
  template <class T>
  void Bind(T* obj, void (T::*member)()) {
    Bind(new TDpcHandler<T>(obj, member));
  }
  void Activate();
  void Deactivate();
  bool active() const { return active_; }

  // Runs the bound handler, if any (the loop calls this).
  void Invoke();

 private:
  DpcHandler* handler_ = nullptr;
  bool active_ = false;
};
