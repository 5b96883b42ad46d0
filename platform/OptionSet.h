#pragma once

#include <concepts>

namespace platform {

// The set operations of a flag type whose flags are the bits of an unsigned integer. A flag type derives
// from OptionSet<itself, its integer> (and takes its constructors with `using OptionSet::OptionSet;`),
// then adds only its named flags and conversions. Plain values: any thread.
template <class Derived, std::unsigned_integral Raw>
class OptionSet {
 public:
  using RawValue = Raw;

  constexpr OptionSet() noexcept = default;
  constexpr explicit OptionSet(RawValue rawValue) noexcept : rawValue_(rawValue) {}

  constexpr RawValue rawValue() const noexcept { return rawValue_; }
  constexpr bool isEmpty() const noexcept { return rawValue_ == 0; }
  // Every flag of `other` is in the set.
  constexpr bool contains(Derived other) const noexcept {
    return (rawValue_ & other.rawValue()) == other.rawValue();
  }
  // Some flag of `other` is in the set.
  constexpr bool intersects(Derived other) const noexcept { return (rawValue_ & other.rawValue()) != 0; }
  constexpr Derived removing(Derived other) const noexcept {
    return Derived(static_cast<RawValue>(rawValue_ & ~other.rawValue()));
  }

  friend constexpr bool operator==(Derived a, Derived b) noexcept { return a.rawValue() == b.rawValue(); }
  friend constexpr Derived operator|(Derived a, Derived b) noexcept {
    return Derived(static_cast<RawValue>(a.rawValue() | b.rawValue()));
  }
  friend constexpr Derived operator&(Derived a, Derived b) noexcept {
    return Derived(static_cast<RawValue>(a.rawValue() & b.rawValue()));
  }
  constexpr Derived& operator|=(Derived other) noexcept {
    rawValue_ |= other.rawValue();
    return static_cast<Derived&>(*this);
  }

 private:
  RawValue rawValue_ = 0;
};

}  // namespace platform
