#include <gtest/gtest.h>

#include <fstream>
#include <regex>

#include "platform/linux/MachineIdFileIdentity.h"
#include "tests/support/TestEnvironment.h"

namespace {

using platform::MachineIdFileIdentity;

constexpr const char* kMachineId = "4c1f0a7b9e2d43c5a8f61b0d2e3c4f5a";
// HMAC-SHA256(key = the machine id's bytes, message = the application id), first 16 bytes, version 4.
// Pinned: a change here changes every installation's analytics identity.
constexpr const char* kDerived = "07AB11F2-1430-4BF0-B53E-4B1E29995688";

void writeFile(const std::filesystem::path& path, const std::string& content) {
  std::ofstream(path, std::ios::binary) << content;
}

TEST(MachineIdFileIdentity, DerivesAStableApplicationSpecificUuid) {
  quorvelle::test::TempDir dir;
  writeFile(dir / "machine-id", std::string(kMachineId) + "\n");
  const MachineIdFileIdentity identity(dir / "machine-id");

  const auto uuid = identity.platformUUID();
  ASSERT_TRUE(uuid.has_value());
  EXPECT_EQ(*uuid, kDerived);
  EXPECT_EQ(identity.platformUUID(), uuid);
  EXPECT_TRUE(std::regex_match(
      *uuid, std::regex("[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}")));

  // Nothing of the machine id shows through, in either case.
  std::string compact = *uuid;
  std::erase(compact, '-');
  std::string upperId = kMachineId;
  for (char& c : upperId) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  EXPECT_NE(compact, upperId);

  // Another application id gives an unrelated value on the same machine.
  const MachineIdFileIdentity other(dir / "machine-id", MachineIdFileIdentity::AppId{1});
  EXPECT_NE(other.platformUUID(), uuid);
}

TEST(MachineIdFileIdentity, UnusableFilesGiveNothing) {
  quorvelle::test::TempDir dir;
  EXPECT_EQ(MachineIdFileIdentity(dir / "absent").platformUUID(), std::nullopt);
  EXPECT_EQ(MachineIdFileIdentity(dir.path()).platformUUID(), std::nullopt);  // a folder, not a file

  const std::pair<const char*, std::string> cases[] = {
      {"empty", ""},
      {"uninitialized", "uninitialized\n"},
      {"all zero", std::string(32, '0') + "\n"},
      {"too short", std::string(kMachineId).substr(0, 31)},
      {"too long", std::string(kMachineId) + "0"},
      {"not hex", "4c1f0a7b9e2d43c5a8f61b0d2e3c4f5g"},
  };
  for (const auto& [name, content] : cases) {
    writeFile(dir / "machine-id", content);
    EXPECT_EQ(MachineIdFileIdentity(dir / "machine-id").platformUUID(), std::nullopt) << name;
  }
}

}  // namespace
