#include "tests/app/project/TestProjects.h"

#include "tests/app/media/TestClips.h"

#include <QDir>
#include <QFile>

namespace {

QString Escaped(const QString& text) { return text.toHtmlEscaped(); }

}  // namespace

QByteArray TestProjects::ProjectXml(const TestProject& project) {
  const bool nested = !project.version.startsWith(QLatin1Char('5'));
  QString xml = QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n");
  xml += QStringLiteral("<kqp ver=\"%1\">\r\n").arg(Escaped(project.version));
  if (nested) xml += QStringLiteral("<project>\r\n");
  xml += QStringLiteral(
             "<abstract>\r\n\t<title>%1</title>\r\n\t<author>%2</author>\r\n"
             "\t<manager>Head</manager>\r\n\t<company>School</company>\r\n"
             "\t<category>Lessons</category>\r\n\t<keywords>%3</keywords>\r\n"
             "\t<comments>%4</comments>\r\n</abstract>\r\n")
             .arg(Escaped(project.title), Escaped(project.author), Escaped(project.keywords),
                  Escaped(project.comments));
  xml += QStringLiteral(
      "<configure>\r\n\t<template>classic</template>\r\n"
      "\t<photo size=\"320x240\">me.jpg</photo>\r\n\t<sound volume=\"5\">intro.wav</sound>\r\n");
  if (project.showcursor) xml += QStringLiteral("\t<showcursor>0</showcursor>\r\n");
  xml += QStringLiteral(
             "\t<profile>\r\n\t\t<video>\r\n\t\t\t<bitrate>%1</bitrate>\r\n"
             "\t\t\t<size>%2</size>\r\n\t\t\t<preview>1</preview>\r\n\t\t</video>\r\n"
             "\t</profile>\r\n</configure>\r\n")
             .arg(Escaped(project.bitrate), Escaped(project.size));
  xml += QStringLiteral("<index duration=\"%1\" type=\"TL\">\r\n").arg(Escaped(project.duration));
  for (const TestIndexItem& item : project.items) {
    xml += QStringLiteral(
               "\t<item>\r\n\t\t<title>%1</title>\r\n\t\t<recdate>%2</recdate>\r\n"
               "\t\t<pos>%3</pos>\r\n")
               .arg(Escaped(item.title), Escaped(item.recdate), Escaped(item.pos));
    if (!item.url.isEmpty()) {
      xml += QStringLiteral("\t\t<url>%1</url>\r\n").arg(Escaped(item.url));
    }
    xml += QStringLiteral("\t</item>\r\n");
  }
  xml += QStringLiteral("</index>\r\n");
  if (nested) xml += QStringLiteral("</project>\r\n");
  xml += QStringLiteral("</kqp>\r\n");
  return xml.toUtf8();
}

QString TestProjects::WriteProject(const QString& folder, const TestProject& project) {
  if (!QDir().mkpath(folder)) return {};
  const QString path = QDir(folder).filePath(QStringLiteral("project.kqp"));
  QFile file(path);
  const QByteArray bytes = ProjectXml(project);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size()) {
    return {};
  }
  return path;
}

QString TestProjects::MakeMediaStore(const QString& folder, const QStringList& colours,
                                     int secondsEach) {
  if (colours.isEmpty() || !QDir().mkpath(folder)) return {};
  QStringList arguments;
  QString graph;
  for (int i = 0; i < colours.size(); ++i) {
    arguments +=
        {QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
         QStringLiteral("color=c=%1:s=320x240:r=25:d=%2").arg(colours[i]).arg(secondsEach)};
    graph += QStringLiteral("[%1:v]").arg(i);
  }
  graph += QStringLiteral("concat=n=%1:v=1:a=0").arg(colours.size());
  arguments += {QStringLiteral("-filter_complex"),
                graph,
                QStringLiteral("-pix_fmt"),
                QStringLiteral("yuv420p"),
                QStringLiteral("-c:v"),
                QStringLiteral("libx264"),
                QStringLiteral("-preset"),
                QStringLiteral("ultrafast"),
                QStringLiteral("-g"),
                QStringLiteral("25")};
  const QString clip = QDir(folder).filePath(QStringLiteral("recording.mp4"));
  if (!TestClips::Make(clip, arguments)) return {};
  const QString store = QDir(folder).filePath(QStringLiteral("media.kq"));
  int exitCode = -1;
  TestClips::RunProgram(TestClips::ProgramFolder() + QStringLiteral("/kqmedia"),
                        {QStringLiteral("pack"), clip, store}, &exitCode);
  QFile::remove(clip);
  return exitCode == 0 ? store : QString();
}
