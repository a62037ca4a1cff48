#include <gtest/gtest.h>

#include "manager/package_manager.h"
#include "stream/res_stream.h"
#include "support/archive_bytes.h"

TEST(Smoke, MountsAndReadsAnEntry) {
  TempDir dir;
  WriteFileBytes(dir / "a.pak", BuildArchive({TextEntry("Data/Hello.txt", "hello")}));
  CPackageManager manager(nullptr, 0);
  ASSERT_TRUE(manager.MountPackage((dir / "a.pak").c_str()));
  manager.FillStreamPools();
  CResStream* stream = manager.OpenStream("DATA\\hello.TXT", ModeRead, true);
  ASSERT_NE(stream, nullptr);
  char buffer[16] = {};
  EXPECT_EQ(stream->Read(buffer, sizeof(buffer)), 5u);
  EXPECT_STREQ(buffer, "hello");
  stream->Close();
}
