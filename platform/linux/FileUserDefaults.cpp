#include "platform/linux/FileUserDefaults.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <ctime>
#include <fstream>
#include <limits>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>
#include <stdexcept>

#include "platform/JsonDepth.h"
#include "platform/Log.h"
#include "platform/linux/ThreadSerialQueue.h"

namespace platform {
namespace {

using Json = nlohmann::json;

constexpr const char* kFolderName = "quorvelle";
constexpr const char* kFileName = "settings.json";
constexpr const char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string encodeBase64(const DefaultsValue::Data& data) {
  std::string out;
  out.reserve((data.size() + 2) / 3 * 4);
  for (std::size_t i = 0; i < data.size(); i += 3) {
    std::uint32_t n = std::uint32_t{data[i]} << 16;
    if (i + 1 < data.size()) n |= std::uint32_t{data[i + 1]} << 8;
    if (i + 2 < data.size()) n |= data[i + 2];
    out += kBase64[(n >> 18) & 63];
    out += kBase64[(n >> 12) & 63];
    out += i + 1 < data.size() ? kBase64[(n >> 6) & 63] : '=';
    out += i + 2 < data.size() ? kBase64[n & 63] : '=';
  }
  return out;
}

std::optional<DefaultsValue::Data> decodeBase64(const std::string& text) {
  if (text.size() % 4 != 0) return std::nullopt;
  DefaultsValue::Data out;
  out.reserve(text.size() / 4 * 3);
  for (std::size_t i = 0; i < text.size(); i += 4) {
    std::uint32_t n = 0;
    int padding = 0;
    for (std::size_t j = 0; j < 4; ++j) {
      char c = text[i + j];
      int v;
      if (c == '=' && j >= 2 && i + 4 == text.size()) {
        ++padding;
        v = 0;
      } else if (padding > 0) {
        return std::nullopt;  // data after padding
      } else if (const char* p = std::strchr(kBase64, c); p != nullptr && c != '\0') {
        v = static_cast<int>(p - kBase64);
      } else {
        return std::nullopt;
      }
      n = (n << 6) | static_cast<std::uint32_t>(v);
    }
    out.push_back(static_cast<std::uint8_t>(n >> 16));
    if (padding < 2) out.push_back(static_cast<std::uint8_t>(n >> 8));
    if (padding < 1) out.push_back(static_cast<std::uint8_t>(n));
  }
  return out;
}

Json encode(const DefaultsValue& value) {
  return std::visit(
      [](const auto& v) -> Json {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, bool>) {
          return {{"bool", v}};
        } else if constexpr (std::is_same_v<T, std::int64_t>) {
          return {{"int", v}};
        } else if constexpr (std::is_same_v<T, double>) {
          // JSON has no NaN or infinity; spell them so they survive instead of turning into null.
          if (std::isnan(v)) return {{"double", "nan"}};
          if (std::isinf(v)) return {{"double", v > 0 ? "inf" : "-inf"}};
          return {{"double", v}};
        } else if constexpr (std::is_same_v<T, std::string>) {
          return {{"string", v}};
        } else if constexpr (std::is_same_v<T, DefaultsValue::Data>) {
          return {{"data", encodeBase64(v)}};
        } else if constexpr (std::is_same_v<T, DefaultsValue::Array>) {
          Json array = Json::array();
          for (const auto& item : v) array.push_back(encode(item));
          return {{"array", std::move(array)}};
        } else {
          Json object = Json::object();
          for (const auto& [key, item] : v) object[key] = encode(item);
          return {{"dict", std::move(object)}};
        }
      },
      value.storage());
}

// Throws std::runtime_error naming what is wrong.
DefaultsValue decode(const Json& json) {
  if (!json.is_object() || json.size() != 1) throw std::runtime_error("a value is not a one-member object");
  const auto member = json.begin();
  const std::string& tag = member.key();
  const Json& v = member.value();
  if (tag == "bool" && v.is_boolean()) return v.get<bool>();
  if (tag == "int" && v.is_number_integer()) {
    if (v.is_number_unsigned() &&
        v.get<std::uint64_t>() > std::uint64_t(std::numeric_limits<std::int64_t>::max())) {
      throw std::runtime_error("an integer is out of range");
    }
    return v.get<std::int64_t>();
  }
  if (tag == "double") {
    if (v.is_number()) return v.get<double>();
    if (v == "nan") return std::numeric_limits<double>::quiet_NaN();
    if (v == "inf") return std::numeric_limits<double>::infinity();
    if (v == "-inf") return -std::numeric_limits<double>::infinity();
  }
  if (tag == "string" && v.is_string()) return v.get<std::string>();
  if (tag == "data" && v.is_string()) {
    if (auto data = decodeBase64(v.get<std::string>())) return std::move(*data);
    throw std::runtime_error("data is not valid base64");
  }
  if (tag == "array" && v.is_array()) {
    DefaultsValue::Array array;
    for (const auto& item : v) array.push_back(decode(item));
    return array;
  }
  if (tag == "dict" && v.is_object()) {
    DefaultsValue::Dictionary dict;
    for (const auto& [key, item] : v.items()) dict.emplace(key, decode(item));
    return dict;
  }
  throw std::runtime_error("a value of kind \"" + tag + "\" is malformed");
}

// The whole file, or nothing with `error` naming why it cannot be read. Only regular files are read: a
// pipe or device in the file's place would block start-up or never end.
std::optional<std::string> readWholeFile(const std::filesystem::path& path, std::string& error) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    error = std::strerror(errno);
    return std::nullopt;
  }
  std::optional<std::string> text;
  struct stat info {};
  if (::fstat(fd, &info) != 0) {
    error = std::strerror(errno);
  } else if (!S_ISREG(info.st_mode)) {
    error = "it is not a regular file";
  } else {
    text.emplace();
    char buffer[65536];
    for (;;) {
      const ssize_t n = ::read(fd, buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        error = std::strerror(errno);
        text.reset();
        break;
      }
      if (n == 0) break;
      text->append(buffer, static_cast<std::size_t>(n));
    }
  }
  ::close(fd);
  return text;
}

// When this process started, from the kernel's boot time and the process's start in clock ticks since
// boot; nothing when /proc does not say. Never later than the real start (the boot time is whole seconds).
std::optional<std::chrono::system_clock::time_point> processStartTime() {
  std::ifstream statFile("/proc/stat");
  std::string word;
  long long bootTime = -1;
  while (statFile >> word) {
    if (word == "btime") {
      statFile >> bootTime;
      break;
    }
  }
  std::ifstream selfFile("/proc/self/stat");
  std::string line;
  std::getline(selfFile, line);
  // The command name (field 2) may hold spaces and parentheses: count fields after its last ")".
  const auto nameEnd = line.rfind(')');
  const long ticksPerSecond = ::sysconf(_SC_CLK_TCK);
  if (bootTime < 0 || nameEnd == std::string::npos || ticksPerSecond <= 0) return std::nullopt;
  std::istringstream fields(line.substr(nameEnd + 1));
  std::string field;
  for (int n = 3; n <= 22 && fields >> field; ++n) {
    if (n != 22) continue;
    const unsigned long long ticks = std::strtoull(field.c_str(), nullptr, 10);
    const auto sinceBoot =
        std::chrono::milliseconds(ticks * 1000 / static_cast<unsigned long long>(ticksPerSecond));
    return std::chrono::system_clock::time_point(std::chrono::seconds(bootTime)) + sinceBoot;
  }
  return std::nullopt;
}

// Saves of "<name>" write to ".<name>.XXXXXX" first (mkostemp's six letters or digits): hidden, and never
// a name the store reads.
std::string temporaryPrefix(const std::string& fileName) {
  return "." + fileName + ".";
}

bool isTemporaryName(const std::string& name, const std::string& fileName) {
  const std::string prefix = temporaryPrefix(fileName);
  if (name.size() != prefix.size() + 6 || !name.starts_with(prefix)) return false;
  for (std::size_t i = prefix.size(); i < name.size(); ++i) {
    if (!std::isalnum(static_cast<unsigned char>(name[i]))) return false;
  }
  return true;
}

std::string utcStamp() {
  std::time_t now = std::time(nullptr);
  std::tm tm{};
  gmtime_r(&now, &tm);
  char buffer[32];
  std::strftime(buffer, sizeof buffer, "%Y%m%dT%H%M%SZ", &tm);
  return buffer;
}

}  // namespace

std::filesystem::path FileUserDefaults::defaultFile() {
  std::filesystem::path base;
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && xdg[0] == '/') {
    base = xdg;
  } else if (const char* home = std::getenv("HOME"); home != nullptr && home[0] != '\0') {
    base = std::filesystem::path(home) / ".config";
  } else {
    base = std::filesystem::current_path();
  }
  return base / kFolderName / kFileName;
}

// Everything a write needs, shared with the writes queued on the writer so that one still queued after
// the store has gone finds what it needs (and, flushed, nothing to write).
struct FileUserDefaults::Core {
  explicit Core(std::filesystem::path path) : file(std::move(path)) {}

  // The file that saves replace: the settings file, or what it links to.
  std::filesystem::path target() const;
  void removeStaleTemporaries();
  void load();
  void moveAside(const std::string& reason);
  // Writes `values` as the whole file; false (logged) when it could not.
  bool save(const DefaultsValue::Dictionary& values) const;
  // Writes the values as they are now, when they changed since the last write.
  void writePending();

  const std::filesystem::path file;
  std::mutex writeMutex;
  // Guards everything below.
  mutable std::mutex mutex;
  DefaultsValue::Dictionary values;
  bool writable = true;
  // Changes made, and how many of them the last write took.
  std::uint64_t changes = 0;
  std::uint64_t written = 0;
  bool delayedWriteQueued = false;
  std::function<void()> observer;
};

std::filesystem::path FileUserDefaults::Core::target() const {
  // A settings file that is a link (kept with the user's dotfiles) stays one: saves replace its target.
  std::error_code ec;
  if (!std::filesystem::is_symlink(file, ec)) return file;
  std::filesystem::path resolved = std::filesystem::weakly_canonical(file, ec);
  return ec ? file : resolved;
}

void FileUserDefaults::Core::removeStaleTemporaries() {
  // A save killed between creating its temporary file and renaming it leaves the temporary behind. One
  // older than this process cannot belong to a save still running here; a newer one may be another
  // running instance's save in progress.
  const auto started = processStartTime();
  if (!started) return;
  const std::filesystem::path target = this->target();
  const std::string fileName = target.filename().string();
  std::error_code ec;
  for (std::filesystem::directory_iterator it(target.parent_path(), ec), end; !ec && it != end;
       it.increment(ec)) {
    const std::filesystem::path path = it->path();
    if (!isTemporaryName(path.filename().string(), fileName)) continue;
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) continue;
    const auto modified =
        std::chrono::system_clock::time_point(std::chrono::duration_cast<std::chrono::system_clock::duration>(
            std::chrono::seconds(info.st_mtim.tv_sec) + std::chrono::nanoseconds(info.st_mtim.tv_nsec)));
    if (modified >= *started) continue;
    if (::unlink(path.c_str()) != 0) {
      log(LogLevel::warning, "Could not remove the leftover temporary settings file " + path.string() + ": " +
                                 std::strerror(errno));
    }
  }
}

void FileUserDefaults::Core::load() {
  std::error_code ec;
  auto status = std::filesystem::status(file, ec);
  if (status.type() == std::filesystem::file_type::not_found) return;  // first run
  if (std::filesystem::is_directory(status)) {
    moveAside("it is a directory");
    return;
  }
  std::string readError;
  const std::optional<std::string> text = readWholeFile(file, readError);
  if (!text) {
    // Nothing says the content is bad: the file stays as it is for when it can be read again.
    writable = false;
    log(LogLevel::error, "Settings file " + file.string() + " cannot be read (" + readError +
                             "); running on default settings, and changes stay in memory so that the file "
                             "is not overwritten");
    return;
  }
  if (jsonTextNestsDeeperThan(*text)) {
    moveAside("it nests deeper than " + std::to_string(maxJsonDepth) + " levels");
    return;
  }
  Json json = Json::parse(*text, nullptr, /*allow_exceptions=*/false);
  if (json.is_discarded() || !json.is_object()) {
    moveAside("it is not a JSON object");
    return;
  }
  DefaultsValue::Dictionary loaded;
  try {
    for (const auto& [key, item] : json.items()) loaded.emplace(key, decode(item));
  } catch (const std::exception& e) {
    moveAside(e.what());
    return;
  }
  values = std::move(loaded);
}

void FileUserDefaults::Core::moveAside(const std::string& reason) {
  std::filesystem::path aside;
  std::error_code ec;
  for (int n = 0; n < 100; ++n) {
    aside = file;
    aside += ".corrupt-" + utcStamp() + (n == 0 ? "" : "-" + std::to_string(n));
    if (!std::filesystem::exists(std::filesystem::symlink_status(aside, ec))) break;
  }
  std::filesystem::rename(file, aside, ec);
  if (ec) {
    // Writing now would destroy the only copy of whatever the file holds.
    writable = false;
    log(LogLevel::error, "Settings file " + file.string() + " is unusable (" + reason +
                             ") and could not be moved aside (" + ec.message() +
                             "); starting with empty settings that will not be saved");
    return;
  }
  log(LogLevel::warning, "Settings file " + file.string() + " is unusable (" + reason + "); moved it to " +
                             aside.string() + " and started with empty settings");
}

bool FileUserDefaults::Core::save(const DefaultsValue::Dictionary& values) const {
  Json json = Json::object();
  for (const auto& [key, value] : values) json[key] = encode(value);
  // JSON strings hold UTF-8 only: stray bytes are written as U+FFFD rather than throwing, which would
  // leave this and every later change unsaved.
  const std::string text = json.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";

  std::error_code ec;
  const std::filesystem::path target = this->target();
  std::filesystem::create_directories(target.parent_path(), ec);
  std::string temp =
      (target.parent_path() / (temporaryPrefix(target.filename().string()) + "XXXXXX")).string();
  int fd = mkostemp(temp.data(), O_CLOEXEC);
  auto fail = [&](const char* step) {
    log(LogLevel::warning,
        "Settings not saved to " + file.string() + ": " + step + ": " + std::strerror(errno));
  };
  if (fd < 0) {
    fail("cannot create a temporary file");
    return false;
  }
  std::size_t done = 0;
  while (done < text.size()) {
    ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      fail("write");
      ::close(fd);
      ::unlink(temp.c_str());
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  bool flushed = ::fsync(fd) == 0;
  if (::close(fd) != 0) flushed = false;
  if (!flushed) {
    fail("flush");
    ::unlink(temp.c_str());
    return false;
  }
  if (::rename(temp.c_str(), target.c_str()) != 0) {
    fail("rename");
    ::unlink(temp.c_str());
    return false;
  }
  return true;
}

void FileUserDefaults::Core::writePending() {
  // One write at a time, each of a newer moment than the one before.
  std::lock_guard writing(writeMutex);
  DefaultsValue::Dictionary snapshot;
  std::uint64_t generation = 0;
  {
    std::lock_guard lock(mutex);
    delayedWriteQueued = false;
    if (!writable || written == changes) return;  // an unwritable store said so once, when it was read
    snapshot = values;
    generation = changes;
  }
  // A failed write keeps the values in memory; the next change tries again.
  const bool saved = save(snapshot);
  std::function<void()> notify;
  {
    std::lock_guard lock(mutex);
    written = generation;
    if (saved) notify = observer;
  }
  if (notify) notify();
}

FileUserDefaults::FileUserDefaults(std::filesystem::path file, SerialQueue* writer)
    : core_(std::make_shared<Core>(std::move(file))),
      ownWriter_(writer == nullptr ? std::make_unique<ThreadSerialQueue>("settings") : nullptr),
      writer_(writer != nullptr ? writer : ownWriter_.get()) {
  core_->removeStaleTemporaries();
  core_->load();
}

FileUserDefaults::~FileUserDefaults() {
  flush();
  // An own writer ends here, dropping the delayed write that flush() made needless; a job still queued
  // on another writer holds the core and finds nothing to write.
  ownWriter_.reset();
}

const std::filesystem::path& FileUserDefaults::file() const {
  return core_->file;
}

void FileUserDefaults::scheduleLocked(SerialQueue::Duration delay) {
  if (!core_->writable) return;
  if (delay > SerialQueue::Duration::zero()) {
    if (core_->delayedWriteQueued) return;  // that write will take this change too
    core_->delayedWriteQueued = true;
  }
  writer_->asyncAfter(delay, [core = core_] { core->writePending(); });
}

std::optional<DefaultsValue> FileUserDefaults::objectForKey(std::string_view key) const {
  std::lock_guard lock(core_->mutex);
  auto it = core_->values.find(std::string(key));
  if (it == core_->values.end()) return std::nullopt;
  return it->second;
}

void FileUserDefaults::set(std::string_view key, DefaultsValue value) {
  std::lock_guard lock(core_->mutex);
  core_->values[std::string(key)] = std::move(value);
  ++core_->changes;
  scheduleLocked(kCoalesceDelay);
}

void FileUserDefaults::remove(std::string_view key) {
  std::lock_guard lock(core_->mutex);
  if (core_->values.erase(std::string(key)) == 0) return;
  ++core_->changes;
  scheduleLocked(kCoalesceDelay);
}

DefaultsValue::Dictionary FileUserDefaults::dictionaryRepresentation() const {
  std::lock_guard lock(core_->mutex);
  return core_->values;
}

void FileUserDefaults::synchronize() {
  std::lock_guard lock(core_->mutex);
  if (core_->written != core_->changes) scheduleLocked(SerialQueue::Duration::zero());
}

void FileUserDefaults::flush() {
  {
    std::lock_guard lock(core_->mutex);
    if (!core_->writable || core_->written == core_->changes) return;
  }
  writer_->sync([core = core_] { core->writePending(); });
}

void FileUserDefaults::setWriteObserver(std::function<void()> observer) {
  std::lock_guard lock(core_->mutex);
  core_->observer = std::move(observer);
}

}  // namespace platform
