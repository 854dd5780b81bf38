// The project reader on arbitrary files: no crash, no unbounded work, and whatever it accepts it
// writes back in a form it reads again with the same texts and index.

#include "app/project/CProjectFile.h"
#include "app/project/CTime.h"
#include "app/services/MessageService.h"
#include "app/services/ProgramFolder.h"
#include "app/services/modGlobal.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdlib>

namespace {

struct Workspace {
  Workspace() {
    SetProgramFolder(program.path());
    QDir(program.path()).mkdir(QStringLiteral("encfiles"));
    QFile script(program.filePath(QStringLiteral("encfiles/kqctrl.js")));
    if (script.open(QIODevice::WriteOnly)) script.write("// cursor\n");
    SetMessageHandler([](const MessageRequest&) { return MsgAnswer::Ok; });
  }
  QTemporaryDir program;
  QTemporaryDir projects;
};

bool WriteAll(const QString& path, const uint8_t* data, size_t size) {
  QFile file(path);
  return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
         file.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size)) ==
             static_cast<qint64>(size);
}

// What a saved text reads back as: tabs are not kept, and a carriage return that the file gave
// as a character reference is written as itself, which XML reads as a line feed.
QString Saved(QString text, bool stripped = true) {
  if (stripped) text = StripControlChars(text);
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Workspace workspace;
  const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data),
                                         static_cast<qsizetype>(std::min<size_t>(size, 4096)));
  bool ok = false;
  cf::CTime::GetSecond(text, &ok);
  cf::CTime::GetString(static_cast<int32_t>(text.size()) - 1, text);

  const QString path = workspace.projects.filePath(QStringLiteral("project.kqp"));
  if (!WriteAll(path, data, size)) return 0;
  cf::CProjectFile project;
  if (!project.Load(path, true)) return 0;
  QString resolved;
  for (const cf::CIndexItem& item : project.IndexItem) {
    cf::CProjectFile::ResolveProjectPath(project.projectFolder(), item.Url, &resolved);
  }
  const QString saved = workspace.projects.filePath(QStringLiteral("saved.kqp"));
  QFile::remove(saved);
  if (!project.Save(saved)) return 0;

  cf::CProjectFile reread;
  if (!reread.Load(saved, true)) std::abort();
  if (reread.title != Saved(project.title) || reread.Author != Saved(project.Author) ||
      reread.Comments != Saved(project.Comments) ||
      reread.durationText() != project.durationText() ||
      reread.IndexCount() != project.IndexCount()) {
    std::abort();
  }
  for (int i = 1; i <= reread.IndexCount(); ++i) {
    if (reread.Item(i).pos != project.Item(i).pos ||
        reread.Item(i).Url != Saved(project.Item(i).Url, false) ||
        reread.Item(i).title != Saved(project.Item(i).title)) {
      std::abort();
    }
  }
  return 0;
}
