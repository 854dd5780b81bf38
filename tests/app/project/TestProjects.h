#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <vector>

// Recorded projects made at test time: project.kqp files in the layout recorders write, and
// media stores packed from generated clips.
struct TestIndexItem {
  QString title;
  QString pos;
  QString recdate = QStringLiteral("2010/06/03 10:00:00");
  QString url;  // written only when not empty
};

// A recorded segment at `pos`, or a link item to `url` when `pos` is "-1".
inline TestIndexItem IndexEntry(const QString& title, const QString& pos, const QString& url = {},
                                const QString& recdate = QStringLiteral("2010/06/03 10:00:00")) {
  TestIndexItem item;
  item.title = title;
  item.pos = pos;
  item.recdate = recdate;
  item.url = url;
  return item;
}

struct TestProject {
  QString version = QStringLiteral("6.0");
  QString title = QStringLiteral("Fractions");
  QString author = QStringLiteral("Ms. Lee");
  QString keywords = QStringLiteral("math");
  QString comments = QStringLiteral("Adding fractions");
  QString bitrate = QStringLiteral("96");
  QString size = QStringLiteral("160x120");
  bool showcursor = true;
  QString duration = QStringLiteral("01:00.000");
  std::vector<TestIndexItem> items;
};

class TestProjects {
 public:
  // The project file's text: abstract, configure and index under the document element for
  // version 5, under its child "project" for later versions.
  static QByteArray ProjectXml(const TestProject& project);

  // Writes `folder`/project.kqp (the folder is created); returns the file's path or "" on error.
  static QString WriteProject(const QString& folder, const TestProject& project);

  // A clip of one solid colour per second-long block, in the given order ("red", "lime", ...),
  // packed with kqmedia into `folder`/media.kq. Returns the store's path or "" on error.
  static QString MakeMediaStore(const QString& folder, const QStringList& colours,
                                int secondsEach = 2);
};
