#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>
#include <vector>

namespace platform {

// One stored settings value: bool, integer, double, string, data (bytes), array or dictionary. The type
// is part of the value: false is not the string "false", 1 is not 1.0, data is not a string.
class DefaultsValue {
 public:
  using Data = std::vector<std::uint8_t>;
  using Array = std::vector<DefaultsValue>;
  using Dictionary = std::map<std::string, DefaultsValue>;
  using Storage = std::variant<bool, std::int64_t, double, std::string, Data, Array, Dictionary>;

  DefaultsValue() : value_(false) {}
  DefaultsValue(bool v) : value_(v) {}  // NOLINT: implicit by design, like the literals it stands for
  template <class I, std::enable_if_t<std::is_integral_v<I> && !std::is_same_v<I, bool>, int> = 0>
  DefaultsValue(I v) : value_(static_cast<std::int64_t>(v)) {}   // NOLINT
  DefaultsValue(double v) : value_(v) {}                         // NOLINT
  DefaultsValue(std::string v) : value_(std::move(v)) {}         // NOLINT
  DefaultsValue(std::string_view v) : value_(std::string(v)) {}  // NOLINT
  DefaultsValue(const char* v) : value_(std::string(v)) {}       // NOLINT: not bool
  DefaultsValue(Data v) : value_(std::move(v)) {}                // NOLINT
  DefaultsValue(Array v) : value_(std::move(v)) {}               // NOLINT
  DefaultsValue(Dictionary v) : value_(std::move(v)) {}          // NOLINT

  template <class T>
  bool is() const {
    return std::holds_alternative<T>(value_);
  }
  // The value if it holds exactly T, else nullptr.
  template <class T>
  const T* get() const {
    return std::get_if<T>(&value_);
  }
  const Storage& storage() const { return value_; }

  friend bool operator==(const DefaultsValue& a, const DefaultsValue& b) { return a.value_ == b.value_; }

 private:
  Storage value_;
};

// The user's settings store: typed values by key.
//
// objectForKey() tells an absent key (nullopt) from a present one. The typed readers convert the way
// the system's settings store does, so values written by hand or by older versions read sensibly:
//   stringForKey   string; a number or bool as its text ("42", "0.5", "1"); otherwise nullopt
//   boolForKey     bool; a number is true when non-zero; a string "YES"/"true" (any case) is true,
//                  "NO"/"false" false, a numeric string true when non-zero; otherwise (absent) false
//   integerForKey  integer; a double truncated toward zero (saturating, NaN 0); bool 0/1; a numeric
//                  string parsed the same way; otherwise 0
//   doubleForKey   double; an integer converted; bool 0/1; a numeric string parsed; otherwise 0
//   dataForKey / arrayForKey / dictionaryForKey   only a value of exactly that type; otherwise nullopt
// Implementations are thread-safe; the application reads and writes on the main thread.
class UserDefaults {
 public:
  virtual ~UserDefaults() = default;

  virtual std::optional<DefaultsValue> objectForKey(std::string_view key) const = 0;
  virtual void set(std::string_view key, DefaultsValue value) = 0;
  virtual void remove(std::string_view key) = 0;
  // Every stored key with its value.
  virtual DefaultsValue::Dictionary dictionaryRepresentation() const = 0;
  // Asks for what was set to reach storage soon rather than later; never waits for it (stores that keep
  // nothing on disk do nothing).
  virtual void synchronize() {}

  std::optional<std::string> stringForKey(std::string_view key) const;
  bool boolForKey(std::string_view key) const;
  std::int64_t integerForKey(std::string_view key) const;
  double doubleForKey(std::string_view key) const;
  std::optional<DefaultsValue::Data> dataForKey(std::string_view key) const;
  std::optional<DefaultsValue::Array> arrayForKey(std::string_view key) const;
  std::optional<DefaultsValue::Dictionary> dictionaryForKey(std::string_view key) const;

  // The conversions above on a value in hand.
  static std::optional<std::string> asString(const DefaultsValue& value);
  static bool asBool(const DefaultsValue& value);
  static std::int64_t asInteger(const DefaultsValue& value);
  static double asDouble(const DefaultsValue& value);
};

}  // namespace platform
