// The registry kept in two views: what reaches the mirror and what is
// read from the primary only.
#include "common/registry/mirrored_registry.h"

#include <gtest/gtest.h>

#include "testing/fakes/memory_registry.h"

namespace {

using reg::Root;

constexpr char kEntry[] = "SOFTWARE\\OLEforRetail\\ServiceOPOS\\Scanner\\Till";

class MirroredRegistryTest : public ::testing::Test {
 protected:
  fakes::MemoryRegistry primary;
  fakes::MemoryRegistry mirror;
  reg::MirroredRegistry both{primary, mirror};
};

TEST_F(MirroredRegistryTest, WritesAndDeletesReachBothReadsOnlyThePrimary) {
  ASSERT_FALSE(reg::WriteText(both, Root::LocalMachine, kEntry, "Port", "COM1")
                   .Failed());
  EXPECT_EQ(primary.Text(Root::LocalMachine, kEntry, "Port"), "COM1");
  EXPECT_EQ(mirror.Text(Root::LocalMachine, kEntry, "Port"), "COM1");

  // Written before there was a mirror: its next write brings it in line.
  primary.SetString(Root::LocalMachine, "Old\\Entry", "Type", "Handheld");
  std::unique_ptr<reg::Key> key;
  ASSERT_FALSE(both.Open(Root::LocalMachine, "Old\\Entry", true, key).Failed());
  const uint8_t com2[] = "COM2";
  EXPECT_FALSE(key->SetValue("Port", reg::kString, com2, 5).Failed());
  EXPECT_EQ(mirror.Text(Root::LocalMachine, "Old\\Entry", "Port"), "COM2");

  // A read-only open, and what it reads, are the primary's alone.
  mirror.SetString(Root::LocalMachine, "Mirror\\Only", "Type", "x");
  EXPECT_TRUE(both.Open(Root::LocalMachine, "Mirror\\Only", false, key)
                  .Is(syserr::kFileNotFound));
  primary.SetString(Root::LocalMachine, "Read\\Entry", "Type", "Handheld");
  EXPECT_FALSE(both.Open(Root::LocalMachine, "Read\\Entry", false, key).Failed());
  EXPECT_FALSE(mirror.HasKey(Root::LocalMachine, "Read")) << "nothing created";

  EXPECT_FALSE(both.DeleteKey(Root::LocalMachine, kEntry).Failed());
  EXPECT_FALSE(primary.HasKey(Root::LocalMachine, kEntry));
  EXPECT_FALSE(mirror.HasKey(Root::LocalMachine, kEntry));
  primary.SetString(Root::LocalMachine, kEntry, "Type", "Handheld");
  EXPECT_FALSE(both.DeleteKey(Root::LocalMachine, kEntry).Failed())
      << "the mirror never had it";

  // A key the primary keeps (it has a subkey) stays in the mirror too.
  reg::WriteText(both, Root::LocalMachine, kEntry, "Port", "COM1");
  primary.SetString(Root::LocalMachine, std::string(kEntry) + "\\Extra", "",
                    "x");
  EXPECT_TRUE(both.DeleteKey(Root::LocalMachine, kEntry).Failed());
  EXPECT_TRUE(mirror.HasKey(Root::LocalMachine, kEntry));
}

// A mirror that refuses is reported, and the primary is written all the
// same.
TEST_F(MirroredRegistryTest, RefusingMirrorIsReportedAfterThePrimaryIsWritten) {
  mirror.DenyOpen(Root::LocalMachine, kEntry);
  const PlatformError error =
      reg::WriteText(both, Root::LocalMachine, kEntry, "Port", "COM1");
  EXPECT_TRUE(error.Is(syserr::kAccessDenied));
  EXPECT_EQ(primary.Text(Root::LocalMachine, kEntry, "Port"), "COM1");
}

}  // namespace
