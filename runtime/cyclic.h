#pragma once
// Sequence numbers modulo Max + 1 (modulo 128 for Cyclic<unsigned, 127u>, the
// data links' send and receive state variables).
//
// The only ordering is the window test of the data links: a <= b <= c holds
// when b lies on the cyclic stretch from a forward to c, both ends included,
// i.e. (c - a) mod 128 >= (b - a) mod 128. It is how a data link checks that
// an acknowledgement number lies between V(A) and V(S) (Q.921, Q.703). A
// plain a <= b is no comparison.
template <class T, T Max>
class Cyclic {
  static_assert(Max + 1 > Max, "the modulus must be representable");

 public:
  static constexpr T modulus = Max + 1;

  // The intermediate result {low, middle} of a chained a <= b <= c.
  class LessEqPair {
   public:
    LessEqPair(T low, T middle) : low_(low), middle_(middle) {}
    bool operator<=(Cyclic high) const {
      return T(high - Cyclic(low_)) >= T(Cyclic(middle_) - Cyclic(low_));
    }

   private:
    T low_;
    T middle_;
  };

  Cyclic() = default;
  Cyclic(T v) : v_(v % modulus) {}
  operator T() const { return v_; }

  Cyclic operator+(const Cyclic& o) const { return Cyclic((v_ + o.v_) % modulus); }
  Cyclic operator-(const Cyclic& o) const { return Cyclic((v_ + modulus - o.v_) % modulus); }

  Cyclic& operator++() {
    v_ = v_ == Max ? 0 : v_ + 1;
    return *this;
  }
  Cyclic operator++(int) {
    Cyclic old = *this;
    ++*this;
    return old;
  }
  Cyclic& operator--() {
    v_ = v_ == 0 ? Max : v_ - 1;
    return *this;
  }

  LessEqPair operator<=(Cyclic b) const { return LessEqPair(v_, b.v_); }

 private:
  T v_ = 0;
};
