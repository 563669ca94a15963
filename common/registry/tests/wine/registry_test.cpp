// The Win32 registry behind reg::Registry, on Wine's real registry: the
// calls the configuration program makes of it.
#include <gtest/gtest.h>
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "common/registry/win32/win32_registry.h"

namespace {

const char kTree[] = "SOFTWARE\\DriverSetTests\\Registry";

class Win32RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override { RegDeleteTreeA(HKEY_LOCAL_MACHINE, kTree); }
  void TearDown() override { RegDeleteTreeA(HKEY_LOCAL_MACHINE, kTree); }
  std::unique_ptr<reg::Key> Create(const std::string& path) {
    std::unique_ptr<reg::Key> key;
    EXPECT_FALSE(registry.Create(reg::Root::LocalMachine, path, key).Failed());
    return key;
  }
  reg::Win32Registry registry;
};

TEST_F(Win32RegistryTest, SubkeysAndValuesAreEnumeratedUntilNoMoreItems) {
  const std::string root = kTree;
  Create(root + "\\Beta");
  Create(root + "\\Alpha");
  std::unique_ptr<reg::Key> key = Create(root + "\\Alpha");
  const uint8_t text[] = {'T', 'A', 'L'};
  ASSERT_FALSE(key->SetValue("", reg::kString, text, 3).Failed());
  ASSERT_FALSE(key->SetValue("Port", reg::kString, text, 2).Failed());

  std::unique_ptr<reg::Key> parent;
  ASSERT_FALSE(
      registry.Open(reg::Root::LocalMachine, root, false, parent).Failed());
  std::vector<std::string> names;
  std::string name;
  uint32_t index = 0;
  PlatformError error;
  while (!(error = parent->EnumKey(index++, 1024, name)).Failed()) {
    names.push_back(name);
  }
  EXPECT_EQ(error.code, syserr::kNoMoreItems);
  EXPECT_EQ(names, (std::vector<std::string>{"Alpha", "Beta"}));

  uint8_t data[16];
  reg::ValueInfo info;
  std::vector<std::string> values;
  for (index = 0;
       !(error = key->EnumValue(index, 256, name, data, sizeof data, info))
            .Failed();
       ++index) {
    values.push_back(name + "=" +
                     std::string(reinterpret_cast<char*>(data), info.size));
  }
  EXPECT_EQ(error.code, syserr::kNoMoreItems);
  EXPECT_EQ(values, (std::vector<std::string>{"=TAL", "Port=TA"}))
      << "in the order written, strings as stored";
  EXPECT_TRUE(
      key->EnumValue(0, 256, name, data, 2, info).Is(syserr::kMoreData));
}

TEST_F(Win32RegistryTest, AKeyWithSubkeysIsNotDeleted) {
  const std::string entry = std::string(kTree) + "\\Entry";
  Create(entry + "\\Sub");
  EXPECT_TRUE(registry.DeleteKey(reg::Root::LocalMachine, entry).Failed());
  EXPECT_FALSE(
      registry.DeleteKey(reg::Root::LocalMachine, entry + "\\Sub").Failed());
  EXPECT_FALSE(registry.DeleteKey(reg::Root::LocalMachine, entry).Failed());
  std::unique_ptr<reg::Key> gone;
  EXPECT_TRUE(registry.Open(reg::Root::LocalMachine, entry, false, gone)
                  .Is(syserr::kFileNotFound));
}

}  // namespace
