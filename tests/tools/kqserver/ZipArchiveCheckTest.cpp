#include "tools/kqserver/ZipArchiveCheck.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <functional>
#include <string>
#include <vector>

namespace kqserver {
namespace {

class ZipArchiveCheckTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    WriteFile("a.bin", QByteArray(5000, 'a'));
    WriteFile("b.txt", "hello");
    plain_ = Zip({"-0"});
    zip64_ = Zip({"-0", "-fz"});  // forces the zip64 records that archives above 4 GiB carry
    ASSERT_FALSE(plain_.isEmpty());
    ASSERT_FALSE(zip64_.isEmpty());
  }

  void WriteFile(const QString& name, const QByteArray& bytes) {
    QFile file(dir_.filePath(name));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
  }

  QByteArray Zip(QStringList options) {
    QFile::remove(dir_.filePath("out.zip"));
    QProcess zip;
    zip.setWorkingDirectory(dir_.path());
    zip.start("zip", options << "-q"
                             << "out.zip"
                             << "a.bin"
                             << "b.txt");
    if (!zip.waitForFinished(30000) || zip.exitCode() != 0) return {};
    QFile file(dir_.filePath("out.zip"));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
  }

  bool Check(const QByteArray& bytes, std::string* problem, uint64_t* entries = nullptr) {
    WriteFile("candidate", bytes);
    return ZipArchiveCheck::Check(dir_.filePath("candidate").toStdString(), problem, entries);
  }

  QTemporaryDir dir_;
  QByteArray plain_;
  QByteArray zip64_;
};

TEST_F(ZipArchiveCheckTest, ArchivesFromZipPassWithAndWithoutZip64Records) {
  for (const QByteArray* archive : {&plain_, &zip64_}) {
    std::string problem;
    uint64_t entries = 0;
    EXPECT_TRUE(Check(*archive, &problem, &entries)) << problem;
    EXPECT_EQ(entries, 2u);
  }
}

TEST_F(ZipArchiveCheckTest, DamagedOrForeignFilesAreRefused) {
  const auto patched = [](QByteArray bytes, qsizetype at, char value) {
    bytes[at] = value;
    return bytes;
  };
  const qsizetype end = plain_.size() - 22;  // the end record; zip writes no comment
  struct Case {
    const char* what;
    QByteArray bytes;
  };
  const std::vector<Case> cases = {
      {"empty file", QByteArray()},
      {"text", QByteArray("this is not an archive at all, just some words")},
      {"cut short", plain_.left(plain_.size() - 1)},
      {"cut in the middle", plain_.left(plain_.size() / 2)},
      {"first local header damaged", patched(plain_, 0, 'X')},
      {"directory offset past the end", patched(plain_, end + 19, '\x7f')},
      {"directory entry damaged", patched(plain_, plain_.lastIndexOf("PK\x01\x02"), 'Q')},
      {"zip64 locator damaged", patched(zip64_, zip64_.lastIndexOf("PK\x06\x07") + 2, 'x')},
      {"no entries", QByteArray("PK\x05\x06", 4) + QByteArray(18, '\0')},
  };
  for (const auto& c : cases) {
    std::string problem;
    EXPECT_FALSE(Check(c.bytes, &problem)) << c.what;
    EXPECT_FALSE(problem.empty()) << c.what;
  }
  std::string problem;
  EXPECT_FALSE(ZipArchiveCheck::Check(dir_.filePath("missing.zip").toStdString(), &problem));
}

}  // namespace
}  // namespace kqserver
