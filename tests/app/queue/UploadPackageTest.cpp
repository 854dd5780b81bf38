#include "TestFiles.h"
#include "TestProgramFolder.h"
#include "app/queue/UploadPackage.h"
#include "app/services/XmlFile.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>

#include <gtest/gtest.h>

namespace {

using cf::UploadPackage;

cf::UploadJob Job() {
  cf::UploadJob job;
  job.fileName = QStringLiteral("Lecture.MOV");
  job.title = QStringLiteral("Waves & <optics>");
  job.Author = QStringLiteral("Dr. Chen");
  job.videoWidth = 854;
  job.videoHeight = 480;
  job.srcVideoWidth = 1920;
  job.srcVideoHeight = 1080;
  job.duration = QStringLiteral("1:02:03.5");
  return job;
}

TEST(UploadPackage, DurationFoldsEveryField) {
  EXPECT_DOUBLE_EQ(UploadPackage::DurationSeconds(QStringLiteral("1:02:03.5")), 3723.5);
  EXPECT_DOUBLE_EQ(UploadPackage::DurationSeconds(QStringLiteral("0:00:02")), 2);
  EXPECT_DOUBLE_EQ(UploadPackage::DurationSeconds(QStringLiteral("75")), 75);
}

TEST(UploadPackage, FileListCaptionFollowsTheServerSystem) {
  struct Case {
    int width;
    const char* sysVer;
    const char* caption;
  };
  for (const Case& c : {Case{640, "", "Normal"}, Case{641, "", "HD"}, Case{854, "5.0", "480p"},
                        Case{1280, "5.0", "720p"}, Case{320, "5.0", "180p"}}) {
    EXPECT_EQ(UploadPackage::FileListCaption(c.width, QString::fromLatin1(c.sysVer)),
              QString::fromLatin1(c.caption))
        << c.width;
  }
}

TEST(UploadPackage, Mp4DescriptionTakesKeyframesUpToTheFirstEmptyLine) {
  TestProgramFolder program;
  QTemporaryDir work;
  const QString xml = work.filePath(QStringLiteral("video.xml"));
  const QString list = work.filePath(QStringLiteral("keyframe.txt"));
  ASSERT_TRUE(QFile::copy(program.filePath(QStringLiteral("default_video.xml")), xml));
  ASSERT_TRUE(WriteFile(list, " 0.000 \r\n2.000\r\n\r\n4.000\r\n"));

  ASSERT_TRUE(UploadPackage::WriteMp4Description(xml, list, QStringLiteral("1:02:03.5"), 854, 480));
  pugi::xml_document doc;
  ASSERT_TRUE(LoadXmlFile(xml, &doc));
  EXPECT_EQ(ValueByPath(doc, QStringLiteral("flv.width")), QStringLiteral("854"));
  EXPECT_EQ(ValueByPath(doc, QStringLiteral("flv.height")), QStringLiteral("480"));
  EXPECT_EQ(ValueByPath(doc, QStringLiteral("flv.duration")), QStringLiteral("3723.5"));
  QStringList values;
  for (const pugi::xml_node value :
       FindByPath(doc, QStringLiteral("flv.keyframes.times")).children()) {
    values << QStringLiteral("%1=%2").arg(value.attribute("id").value(), value.text().get());
  }
  EXPECT_EQ(values, (QStringList{QStringLiteral("0=0.000"), QStringLiteral("1=2.000")}));
  EXPECT_TRUE(ReadFile(xml).contains("</value>\r\n<value"));
}

// The writers leave missing optional elements out, but a profile without `type` or `metadata`
// cannot describe the upload at all.
TEST(UploadPackage, MetadataProfileDescribesTheJobAndItsSource) {
  TestProgramFolder program;
  QTemporaryDir work;
  QTemporaryDir sources;
  cf::UploadJob job = Job();
  job.path = sources.filePath(job.fileName);
  ASSERT_TRUE(WriteFile(job.path, QByteArray(12345, 'x')));

  struct Case {
    int cvtType;
    bool sendSource;
    const char* type;
    bool source;
  };
  for (const Case& c :
       {Case{0, false, "Flv", false}, Case{1, false, "Source", true}, Case{2, true, "Mp4", true}}) {
    QDir(work.path()).remove(QStringLiteral("mavo_profile.xml"));
    job.dstCvtType = c.cvtType;
    ASSERT_TRUE(UploadPackage::WriteMetadataProfile(work.path(), job, c.sendSource));
    pugi::xml_document doc;
    ASSERT_TRUE(LoadXmlFile(work.filePath(QStringLiteral("mavo_profile.xml")), &doc));
    EXPECT_EQ(ValueByPath(doc, QStringLiteral("type")), QString::fromLatin1(c.type));
    EXPECT_EQ(ValueByPath(doc, QStringLiteral("metadata.title")), job.title);
    EXPECT_EQ(ValueByPath(doc, QStringLiteral("metadata.author")), job.Author);
    EXPECT_EQ(ValueByPath(doc, QStringLiteral("metadata.width")), QStringLiteral("854"));
    EXPECT_EQ(ValueByPath(doc, QStringLiteral("metadata.srcname")),
              c.source ? QStringLiteral("src.MOV") : QString());
    EXPECT_EQ(ValueByPath(doc, QStringLiteral("metadata.srcsize")),
              c.source ? QStringLiteral("12345") : QString());
    EXPECT_EQ(ValueByPath(doc, QStringLiteral("metadata.srcheight")),
              c.source ? QStringLiteral("1080") : QString());
  }

  // A stub of a profile is replaced by the template; one without metadata is refused.
  ASSERT_TRUE(WriteFile(work.filePath(QStringLiteral("mavo_profile.xml")), "<a/>"));
  EXPECT_TRUE(UploadPackage::WriteMetadataProfile(work.path(), job, false));
  ASSERT_TRUE(WriteFile(work.filePath(QStringLiteral("mavo_profile.xml")),
                        "<mavo><server><url/></server><type/></mavo>"));
  QString why;
  EXPECT_FALSE(UploadPackage::WriteMetadataProfile(work.path(), job, false, &why));
  EXPECT_FALSE(why.isEmpty());
}

TEST(UploadPackage, FlvDescriptionForgetsTheInjectorsPathAndTakesTheJobsSize) {
  QTemporaryDir work;
  const QString xml = work.filePath(QStringLiteral("video.xml"));
  ASSERT_TRUE(WriteFile(xml,
                        "<?xml version='1.0' encoding='UTF-8'?>\n<fileset>\n"
                        "<flv name=\"/tmp/secret/video.tmp.flv\">\n<width>318</width>\n"
                        "<height>240</height>\n</flv>\n</fileset>\n"));
  ASSERT_TRUE(UploadPackage::WriteFlvDescription(xml, 320, 240));
  const QByteArray text = ReadFile(xml);
  EXPECT_FALSE(text.contains("secret"));
  EXPECT_TRUE(text.contains("<width>320</width>"));
  EXPECT_FALSE(UploadPackage::WriteFlvDescription(work.filePath(QStringLiteral("none.xml")), 1, 1));
}

TEST(UploadPackage, PackStoresTheWholeWorkFolderUncompressed) {
  QTemporaryDir work;
  QTemporaryDir archiveFolder;
  ASSERT_TRUE(QDir(work.path()).mkpath(QStringLiteral("slides")));
  ASSERT_TRUE(WriteFile(work.filePath(QStringLiteral("video.mp4")), QByteArray(4096, 'a')));
  ASSERT_TRUE(WriteFile(work.filePath(QStringLiteral("slides/1.jpg")), QByteArray(100, 'b')));
  const QString archive = archiveFolder.filePath(QStringLiteral("mavo_file.zip"));

  ASSERT_TRUE(UploadPackage::Pack(work.path(), archive));
  QProcess unzip;
  unzip.start(QStringLiteral("unzip"), {QStringLiteral("-v"), archive});
  ASSERT_TRUE(unzip.waitForFinished(30000));
  const QString listing = QString::fromLocal8Bit(unzip.readAllStandardOutput());
  EXPECT_TRUE(listing.contains(QStringLiteral("slides/1.jpg"))) << listing.toStdString();
  EXPECT_TRUE(listing.contains(QStringLiteral(" video.mp4")));
  EXPECT_FALSE(listing.contains(QStringLiteral("Defl")));
  EXPECT_FALSE(listing.contains(QString(work.path())));

  EXPECT_FALSE(UploadPackage::Pack(work.filePath(QStringLiteral("missing")),
                                   archiveFolder.filePath(QStringLiteral("other.zip"))));

  // A job stopped before packing packs nothing.
  CancelToken stopped;
  stopped.Cancel();
  const QString skipped = archiveFolder.filePath(QStringLiteral("stopped.zip"));
  EXPECT_FALSE(UploadPackage::Pack(work.path(), skipped, {}, stopped));
  EXPECT_FALSE(QFile::exists(skipped));
}

QStringList StoredNames(const QString& archive) {
  QProcess unzip;
  unzip.start(QStringLiteral("unzip"), {QStringLiteral("-Z1"), archive});
  if (!unzip.waitForFinished(30000)) return {};
  QStringList names = QString::fromUtf8(unzip.readAllStandardOutput()).split(QLatin1Char('\n'));
  names.removeAll(QString());
  names.sort();
  return names;
}

TEST(UploadPackage, PackNeverTakesFileNamesForOptions) {
  // zip reads "-T" as "test the archive" and "-TT<command>" as the command to test it with.
  QTemporaryDir work;
  QTemporaryDir archiveFolder;
  const QStringList names = {"-T", "-TTtouch X #", "a b \"$(touch Y)\".mp4", "video.mp4"};
  for (const QString& name : names) ASSERT_TRUE(WriteFile(work.filePath(name), name.toUtf8()));
  const QString archive = archiveFolder.filePath(QStringLiteral("mavo_file.zip"));

  ASSERT_TRUE(UploadPackage::Pack(work.path(), archive));
  QStringList expected = names;
  expected.sort();
  EXPECT_EQ(StoredNames(archive).join(QLatin1Char('|')).toStdString(),
            expected.join(QLatin1Char('|')).toStdString());
  EXPECT_FALSE(QFileInfo::exists(work.filePath(QStringLiteral("X"))));
  EXPECT_FALSE(QFileInfo::exists(work.filePath(QStringLiteral("Y"))));
}

TEST(UploadPackage, PackRefusesAFolderWithANameItCannotPass) {
  QTemporaryDir work;
  QTemporaryDir archiveFolder;
  ASSERT_TRUE(WriteFile(work.filePath(QStringLiteral("video.mp4")), "v"));
  const QByteArray latin1 = QFile::encodeName(work.path()) + "/caf\xe9.jpg";
  FILE* raw = std::fopen(latin1.constData(), "wb");
  ASSERT_NE(raw, nullptr);
  std::fclose(raw);
  const QString archive = archiveFolder.filePath(QStringLiteral("mavo_file.zip"));

  // An archive without that file would be sent as if it were whole.
  EXPECT_FALSE(UploadPackage::Pack(work.path(), archive));
  EXPECT_FALSE(QFileInfo::exists(archive));
  std::remove(latin1.constData());
}

TEST(UploadPackage, LoopDeleteCountsAMissingFileAsDeleted) {
  QTemporaryDir work;
  const QString path = work.filePath(QStringLiteral("video.tmp.flv"));
  ASSERT_TRUE(WriteFile(path, "x"));
  EXPECT_TRUE(UploadPackage::kqLoopDeleteFile(path, 3));
  EXPECT_FALSE(QFile::exists(path));
  EXPECT_TRUE(UploadPackage::kqLoopDeleteFile(path, 1));
}

}  // namespace

namespace {

// The presentation beside a project folder: ".ppt" before ".pptx", the folder's name without one.
// A file of the same name that the user keeps inside the folder survives packing.
TEST(UploadPackage, ProjectProfileNamesThePresentationBesideTheFolder) {
  TestProgramFolder program;
  struct Case {
    QStringList beside;
    QString project;
  };
  const QList<Case> cases = {
      {{}, QStringLiteral("Unit 3")},
      {{QStringLiteral("Unit 3.pptx")}, QStringLiteral("Unit 3.pptx")},
      {{QStringLiteral("Unit 3.ppt"), QStringLiteral("Unit 3.pptx")}, QStringLiteral("Unit 3.ppt")},
      {{QStringLiteral("Unit 3x.pptx")}, QStringLiteral("Unit 3")},
  };
  for (const Case& c : cases) {
    QTemporaryDir parent;
    const QString folder = parent.filePath(QStringLiteral("Unit 3"));
    ASSERT_TRUE(QDir().mkpath(folder));
    for (const QString& name : c.beside) ASSERT_TRUE(WriteFile(parent.filePath(name), "deck"));
    ASSERT_TRUE(UploadPackage::WriteProjectMetadataProfile(
        folder,
        {QStringLiteral("T"), QStringLiteral("A"), QStringLiteral("k"), QStringLiteral("c")}));
    pugi::xml_document doc;
    ASSERT_TRUE(LoadXmlFile(folder + QStringLiteral("/mavo_profile.xml"), &doc));
    EXPECT_EQ(ValueByPath(doc, QStringLiteral("type")), QStringLiteral("Quillbox"));
    EXPECT_EQ(ValueByPath(doc, QStringLiteral("metadata.project")), c.project)
        << c.beside.join(QLatin1Char(',')).toStdString();
  }

  QTemporaryDir parent;
  QTemporaryDir archiveFolder;
  const QString folder = parent.filePath(QStringLiteral("Unit 3"));
  ASSERT_TRUE(QDir().mkpath(folder));
  ASSERT_TRUE(WriteFile(parent.filePath(QStringLiteral("Unit 3.ppt")), "deck beside"));
  ASSERT_TRUE(WriteFile(folder + QStringLiteral("/Unit 3.ppt"), "the user's own"));
  const QString archive = archiveFolder.filePath(QStringLiteral("mavo_file.zip"));
  ASSERT_TRUE(UploadPackage::Pack(folder, archive, UploadPackage::PresentationFile(folder)));
  EXPECT_EQ(ReadFile(folder + QStringLiteral("/Unit 3.ppt")), QByteArray("the user's own"));
}

}  // namespace
