#include "platform/process/CommandLine.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <fcntl.h>
#include <unistd.h>

namespace {

QStringList Texts(const QList<CommandLine::Argument>& arguments) {
  QStringList texts;
  for (const auto& argument : arguments) texts.append(argument.text);
  return texts;
}

void MakeExecutable(const QString& path, bool executable = true) {
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write("#!/bin/sh\n");
  file.close();
  QFile::Permissions permissions = QFile::ReadOwner | QFile::WriteOwner;
  if (executable) permissions |= QFile::ExeOwner;
  file.setPermissions(permissions);
}

struct SplitCase {
  const char* commandLine;
  QStringList expected;
};

TEST(CommandLineTest, SplitsWithTheConsoleRules) {
  const SplitCase cases[] = {
      {R"(prog a b)", {"prog", "a", "b"}},
      {"  prog \t a\t\tb  ", {"prog", "a", "b"}},
      {R"("C:\Program Files\x.exe" "a b" c)", {R"(C:\Program Files\x.exe)", "a b", "c"}},
      // Backslashes are literal unless they precede a quote.
      {R"(prog C:\dir\ a\\b)", {"prog", R"(C:\dir\)", R"(a\\b)"}},
      {R"(prog a\"b)", {"prog", R"(a"b)"}},
      {R"(prog a\\"b c")", {"prog", R"(a\b c)"}},
      {R"(prog a\\\"b)", {"prog", R"(a\"b)"}},
      {R"(prog "a\\")", {"prog", R"(a\)"}},
      // Quotes may open and close in the middle of an argument.
      {R"(prog x"y z"w)", {"prog", "xy zw"}},
      // A doubled quote inside a quoted part is one literal quote and ends the quoted part.
      {R"(prog "a""b c")", {"prog", R"(a"b)", "c"}},
      {R"(prog """a""")", {"prog", R"("a")"}},
      {R"(prog "" x)", {"prog", "", "x"}},
      {R"(prog "")", {"prog", ""}},
      {R"(prog "unterminated arg)", {"prog", "unterminated arg"}},
      // The program name keeps its backslashes and ends at its closing quote.
      {R"("a\"b c)", {R"(a\)", "b", "c"}},
      {"", {}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Texts(CommandLine::Split(QString::fromUtf8(c.commandLine))), c.expected)
        << c.commandLine;
  }
}

TEST(CommandLineTest, QuoteSurvivesSplitting) {
  const QStringList values = {"plain",    "with blank", R"(quote"inside)", R"(trail\)",
                              R"(a\\"b)", "",           R"(x\y\)",         R"(" -f null ")"};
  for (const QString& value : values) {
    const auto split = CommandLine::Split(QStringLiteral("prog ") + CommandLine::Quote(value));
    ASSERT_EQ(split.size(), 2) << value.toStdString();
    EXPECT_EQ(split[1].text, value);
    EXPECT_FALSE(split[1].isPattern);
  }
}

TEST(CommandLineTest, QuoteWhenNeededLeavesOnlyPlainArgumentsBare) {
  const struct {
    const char* value;
    bool bare;
  } cases[] = {
      {"/home/ann/video.mp4", true},
      {R"(C:\dir\x.mp4)", true},
      {"$(id);`id`'x'", true},
      {"-lead", true},
      {"with blank", false},
      {"tab\there", false},
      {R"(a"b)", false},
      {"*.mp4", false},
      {"a?b", false},
      {"", false},
      {R"(trail\)", true},
      {"line\nbreak", true},
  };
  for (const auto& c : cases) {
    const QString value = QString::fromUtf8(c.value);
    const QString quoted = CommandLine::Quote(value, CommandLine::Wrap::WhenNeeded);
    EXPECT_EQ(quoted == value, c.bare) << c.value;
    const auto split = CommandLine::Split(QStringLiteral("prog ") + quoted);
    ASSERT_EQ(split.size(), 2) << c.value;
    EXPECT_EQ(split[1].text, value);
    EXPECT_FALSE(split[1].isPattern) << c.value;
  }
}

TEST(CommandLineTest, RefusesPathsThatWouldNameAnotherFile) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString lost = dir.filePath(QStringLiteral("a\uFFFD/video.mp4"));
  const QString realReplacement = dir.filePath(QStringLiteral("b\uFFFD"));
  ASSERT_TRUE(QDir().mkpath(realReplacement));
  const struct {
    QString path;
    bool program;
    bool refused;
  } cases[] = {
      {QString(), false, true},
      {QStringLiteral("-f.mp4"), false, true},
      {QStringLiteral("/v/a") + QChar(0) + QStringLiteral("b"), false, true},
      {lost, false, true},
      {QStringLiteral("/v/") + QChar(0xD800) + QStringLiteral("x"), false, true},
      {QStringLiteral(R"(/v/q" -f mp4 /etc/x "/v.mp4)"), true, true},
      // Hostile but passable: the quoting routine carries them.
      {QStringLiteral(R"(/v/q" -f mp4 /etc/x "/v.mp4)"), false, false},
      {QStringLiteral("/v/$(id) `id`; 'x' -y \u00fc\\"), false, false},
      {realReplacement + QStringLiteral("/new.mp4"), false, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(!CommandLine::UnpassableReason(c.path, c.program).isEmpty(), c.refused)
        << c.path.toStdString();
  }
}

TEST(CommandLineTest, ExpandedNamesNeverReadAsOptions) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  for (const char* name : {"-T", "-TTtouch X #", "--help", "a.mp4", "-"}) {
    QFile file(dir.filePath(QString::fromUtf8(name)));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  }
  auto arguments = CommandLine::Split(QStringLiteral(R"(zip -q "x.zip" *)"));
  arguments.removeFirst();
  QString error;
  EXPECT_EQ(CommandLine::Expand(arguments, dir.path(), &error),
            QStringList({"-q", "x.zip", "./-", "./--help", "./-T", "./-TTtouch X #", "a.mp4"}));
  EXPECT_TRUE(error.isEmpty());
}

TEST(CommandLineTest, NameThatIsNotUtf8StopsTheStartInsteadOfVanishing) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  QFile plain(dir.filePath(QStringLiteral("a.mp4")));
  ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
  // Latin-1 bytes, as an older system or a zip from elsewhere leaves them.
  const QByteArray raw = QFile::encodeName(dir.path()) + "/caf\xe9.mp4";
  const int fd = ::open(raw.constData(), O_WRONLY | O_CREAT, 0600);
  ASSERT_GE(fd, 0);
  ::close(fd);

  CommandLine::Launch launch;
  QString error;
  EXPECT_FALSE(CommandLine::Prepare(QStringLiteral("sh -c : *"), {}, dir.path(), &launch, &error));
  EXPECT_TRUE(error.contains(QStringLiteral("UTF-8"))) << error.toStdString();
  // Without a wildcard nothing is read from the folder, and nothing stops the start.
  EXPECT_TRUE(CommandLine::Prepare(QStringLiteral("sh -c :"), {}, dir.path(), &launch, &error));
  // Only a pattern that matches the name is stopped by it.
  EXPECT_TRUE(CommandLine::Prepare(QStringLiteral("sh -c : a.*"), {}, dir.path(), &launch, &error));
  EXPECT_EQ(launch.arguments, QStringList({"-c", ":", "a.mp4"}));
  ::unlink(raw.constData());
}

TEST(CommandLineTest, ExpandsUnquotedWildcardsOnly) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  for (const char* name : {"b.xml", "a.mp4", "video.jpg", ".hidden"}) {
    QFile file(dir.filePath(QString::fromLatin1(name)));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  }
  QDir(dir.path()).mkdir(QStringLiteral("sub"));
  QFile inSub(dir.filePath(QStringLiteral("sub/c.txt")));
  ASSERT_TRUE(inSub.open(QIODevice::WriteOnly));

  const struct {
    const char* commandLine;
    QStringList expected;
  } cases[] = {
      {R"(zip -0 -r -q "x.zip" *)",
       {"-0", "-r", "-q", "x.zip", ".hidden", "a.mp4", "b.xml", "sub", "video.jpg"}},
      {R"(prog "*")", {"*"}},
      {R"(prog ?.mp4)", {"a.mp4"}},
      {R"(prog *.MP4)", {"a.mp4"}},
      {R"(prog sub/*)", {"sub/c.txt"}},
      {R"(prog *.none)", {"*.none"}},
      {R"(prog s*/c.txt)", {"s*/c.txt"}},
  };
  for (const auto& c : cases) {
    auto arguments = CommandLine::Split(QString::fromUtf8(c.commandLine));
    arguments.removeFirst();
    EXPECT_EQ(CommandLine::Expand(arguments, dir.path()), c.expected) << c.commandLine;
  }
}

TEST(CommandLineTest, FindsProgramsInTheProgramFolderFirst) {
  QTemporaryDir programFolder;
  QTemporaryDir pathFolder;
  ASSERT_TRUE(programFolder.isValid() && pathFolder.isValid());
  MakeExecutable(programFolder.filePath(QStringLiteral("MP4Box")));
  MakeExecutable(programFolder.filePath(QStringLiteral("tool")));
  MakeExecutable(pathFolder.filePath(QStringLiteral("tool")));
  MakeExecutable(pathFolder.filePath(QStringLiteral("onpath")));
  MakeExecutable(programFolder.filePath(QStringLiteral("notexec")), false);
  MakeExecutable(programFolder.filePath(QStringLiteral("real.exe")));
  const QByteArray oldPath = qgetenv("PATH");
  qputenv("PATH", pathFolder.path().toLocal8Bit());

  const QString pf = programFolder.path();
  EXPECT_EQ(CommandLine::ResolveProgram("tool", pf, {}), programFolder.filePath("tool"));
  EXPECT_EQ(CommandLine::ResolveProgram("onpath", pf, {}), pathFolder.filePath("onpath"));
  EXPECT_EQ(CommandLine::ResolveProgram("MP4Box.exe", pf, {}), programFolder.filePath("MP4Box"));
  EXPECT_EQ(CommandLine::ResolveProgram("real.exe", pf, {}), programFolder.filePath("real.exe"));
  EXPECT_EQ(CommandLine::ResolveProgram("notexec", pf, {}), QString());
  EXPECT_EQ(CommandLine::ResolveProgram("missing", pf, {}), QString());
  // With a folder the name is used as given, never searched.
  EXPECT_EQ(CommandLine::ResolveProgram(pathFolder.filePath("MP4Box.exe"), pf, {}), QString());
  EXPECT_EQ(CommandLine::ResolveProgram(programFolder.filePath("MP4Box.exe"), pf, {}),
            programFolder.filePath("MP4Box"));
  EXPECT_EQ(CommandLine::ResolveProgram("./tool", pf, pathFolder.path()),
            pathFolder.filePath("tool"));
  qputenv("PATH", oldPath);
}

TEST(CommandLineTest, UnquotedProgramPathWithBlanksIsFound) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString folder = dir.filePath(QStringLiteral("Clip Ferry"));
  ASSERT_TRUE(QDir().mkpath(folder));
  MakeExecutable(folder + QStringLiteral("/ffmpeg"));

  CommandLine::Launch launch;
  QString error;
  ASSERT_TRUE(
      CommandLine::Prepare(folder + R"(/ffmpeg -y -i "a b.mp4" out)", {}, {}, &launch, &error))
      << error.toStdString();
  EXPECT_EQ(launch.program, folder + QStringLiteral("/ffmpeg"));
  EXPECT_EQ(launch.arguments, QStringList({"-y", "-i", "a b.mp4", "out"}));

  EXPECT_FALSE(CommandLine::Prepare(dir.filePath(QStringLiteral("Clip Ferry/none -y")), {}, {},
                                    &launch, &error));
  EXPECT_FALSE(error.isEmpty());
}

}  // namespace
