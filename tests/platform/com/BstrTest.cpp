#include "platform/com/Bstr.h"

#include <gtest/gtest.h>

namespace {

using namespace cf::com;

TEST(Bstr, LengthComesFromThePrefixSoEmbeddedZerosSurvive) {
  const char16_t text[] = {u'a', 0, u'b'};
  BSTR value = SysAllocStringLen(text, 3);
  ASSERT_NE(value, nullptr);
  EXPECT_EQ(SysStringLen(value), 3u);
  EXPECT_EQ(SysStringByteLen(value), 6u);
  EXPECT_EQ(value[3], 0);
  EXPECT_EQ(Bstr::ToQString(value), QStringView(text, 3).toString());
  SysFreeString(value);

  BSTR zeroed = SysAllocStringLen(nullptr, 4);
  EXPECT_EQ(SysStringLen(zeroed), 4u);
  EXPECT_EQ(zeroed[0] + zeroed[3], 0);
  SysFreeString(zeroed);

  // A null BSTR reads as the empty string and frees as nothing.
  EXPECT_EQ(SysStringLen(nullptr), 0u);
  EXPECT_EQ(SysAllocString(nullptr), nullptr);
  SysFreeString(nullptr);
  EXPECT_EQ(Bstr::ToQString(nullptr), QString());
}

TEST(Bstr, OwnerCopiesAreIndependentAndMovesTransferOwnership) {
  const QString text = QStringLiteral("課程 \U0001F600 done");
  Bstr original(text);
  EXPECT_EQ(original.ToQString(), text);
  Bstr copy(original);
  ASSERT_NE(copy.get(), original.get());
  copy.get()[0] = u'X';
  EXPECT_EQ(original.ToQString(), text);

  Bstr moved(std::move(copy));
  EXPECT_TRUE(copy.IsNull());
  EXPECT_EQ(moved.Length(), static_cast<std::uint32_t>(text.size()));

  BSTR detached = moved.Detach();
  EXPECT_TRUE(moved.IsNull());
  Bstr reattached = Bstr::Attach(detached);
  EXPECT_EQ(reattached.get(), detached);

  BSTR fresh = reattached.Copy();
  EXPECT_NE(fresh, detached);
  SysFreeString(fresh);

  Bstr out(QStringLiteral("old"));
  *out.Out() = SysAllocString(u"new");
  EXPECT_EQ(out.ToQString(), QStringLiteral("new"));
}

}  // namespace
