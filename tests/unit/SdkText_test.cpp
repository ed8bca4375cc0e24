// The counted text: layout, counting, constants, out-text assignment.
#include <gtest/gtest.h>

#include <cstring>

#include "sdk/KDOText.h"

namespace {

int32_t LengthField(KDOString s) {
  int32_t n;
  std::memcpy(&n, s - 4, 4);
  return n;
}

TEST(KDOText, LayoutHasLengthAndCountBeforeTheChars) {
  TKDOText t("Winamp");
  ASSERT_NE(t.get(), nullptr);
  EXPECT_EQ(LengthField(t.get()), 6);
  EXPECT_EQ(kdo::text::RefCount(t.get()), 1);
  EXPECT_EQ(t.get()[6], '\0');
  EXPECT_EQ(t.view(), "Winamp");
}

TEST(KDOText, EmptyTextIsNull) {
  TKDOText t("");
  EXPECT_EQ(t.get(), nullptr);
  EXPECT_TRUE(t.empty());
  EXPECT_EQ(kdo::text::View(nullptr), "");
  kdo::text::Release(nullptr);  // harmless
}

TEST(KDOText, EmbeddedNulKeepsItsLength) {
  TKDOText t(std::string_view("a\0b", 3));
  EXPECT_EQ(t.view().size(), 3u);
}

TEST(KDOText, CopiesShareOneTextAndCount) {
  TKDOText a("x");
  {
    TKDOText b = a;
    EXPECT_EQ(b.get(), a.get());
    EXPECT_EQ(kdo::text::RefCount(a.get()), 2);
  }
  EXPECT_EQ(kdo::text::RefCount(a.get()), 1);
}

TEST(KDOText, ConstantsAreNeverCounted) {
  static constexpr kdo::text::Constant c("const");
  EXPECT_EQ(kdo::text::RefCount(c.get()), -1);
  EXPECT_EQ(LengthField(c.get()), 5);
  {
    TKDOText shared = TKDOText::Share(c.get());
    EXPECT_EQ(shared.get(), c.get());
  }
  EXPECT_EQ(kdo::text::RefCount(c.get()), -1);
  EXPECT_EQ(kdo::text::View(c.get()), "const");
}

TEST(KDOText, OutTextAssignmentReleasesTheOldValue) {
  TKDOText var("old");
  KDOString old = var.get();
  kdo::text::AddRef(old);  // keep it observable
  TKDOText fresh("new");
  kdo::text::Assign(var.out(), fresh.get());
  EXPECT_EQ(var.view(), "new");
  EXPECT_EQ(kdo::text::RefCount(old), 1);  // only our observer left
  EXPECT_EQ(kdo::text::RefCount(fresh.get()), 2);
  kdo::text::Release(old);
}

TEST(KDOText, SelfAssignmentKeepsTheText) {
  TKDOText var("same");
  kdo::text::Assign(var.out(), var.get());
  EXPECT_EQ(var.view(), "same");
  EXPECT_EQ(kdo::text::RefCount(var.get()), 1);
  TKDOText& alias = var;
  var = alias;
  EXPECT_EQ(var.view(), "same");
}

TEST(KDOText, MoveAndDetachHandOverTheReference) {
  TKDOText a("m");
  TKDOText b = std::move(a);
  EXPECT_EQ(a.get(), nullptr);
  KDOString raw = b.detach();
  EXPECT_EQ(b.get(), nullptr);
  EXPECT_EQ(kdo::text::RefCount(raw), 1);
  kdo::text::Release(raw);
}

}  // namespace
