// The deadlines come from the user's settings; values that make no sense keep the defaults.

#include "upload_control/src/RequestDeadlines.h"

#include <QSettings>

#include <gtest/gtest.h>

namespace {

using kqmavo2::RequestDeadlines;

TEST(RequestDeadlines, SettingsInSecondsReplaceTheDefaultsOnlyWhenSensible) {
  struct Case {
    const char* stored;  // nullptr: not set
    int blockMs;
  };
  const Case cases[] = {
      {nullptr, RequestDeadlines::kDefaultBlockMs},
      {"90", 90000},
      {" 0.25 ", 250},
      {"0", RequestDeadlines::kDefaultBlockMs},
      {"-5", RequestDeadlines::kDefaultBlockMs},
      {"soon", RequestDeadlines::kDefaultBlockMs},
      {"nan", RequestDeadlines::kDefaultBlockMs},
      {"1e12", RequestDeadlines::kDefaultBlockMs},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.stored ? c.stored : "(not set)");
    {
      QSettings settings(QStringLiteral("Quillbox5"), QStringLiteral("clipFerry"));
      settings.remove(QStringLiteral("clipFerry/blockDeadlineSeconds"));
      if (c.stored)
        settings.setValue(QStringLiteral("clipFerry/blockDeadlineSeconds"),
                          QString::fromLatin1(c.stored));
    }
    const RequestDeadlines loaded = RequestDeadlines::Load();
    EXPECT_EQ(loaded.blockMs, c.blockMs);
    EXPECT_EQ(loaded.requestMs, RequestDeadlines::kDefaultRequestMs);
  }
  QSettings(QStringLiteral("Quillbox5"), QStringLiteral("clipFerry"))
      .remove(QStringLiteral("clipFerry/blockDeadlineSeconds"));
}

}  // namespace
