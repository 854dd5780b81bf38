#include "tools/mavo/MavoCommand.h"

#include <QXmlStreamReader>

namespace {

struct Shape {
  const char* name;
  MavoCommand::Kind kind;
  int argCount;
  const char* syntax;
};

constexpr Shape kShapes[] = {
    {"getfolder", MavoCommand::Kind::kGetFolder, 4, "getfolder URL ACCOUNT PASSWORD EXPARAM"},
    {"getversion", MavoCommand::Kind::kGetVersion, 1, "getversion URL"},
    {"getversion2", MavoCommand::Kind::kGetVersion2, 7,
     "getversion2 URL ACCOUNT PASSWORD FOLDERID DOCID VER EXPARAM"},
    {"post", MavoCommand::Kind::kPost, 2, "post URL PARAM"},
    {"putfile", MavoCommand::Kind::kPutFile, 6,
     "putfile URL ACCOUNT PASSWORD FOLDERID DOCID PATH [--cancel-at N]"},
    {"login", MavoCommand::Kind::kLogin, 2, "login USER PASSWORD"},
    {"categories", MavoCommand::Kind::kCategories, 0, "categories"},
    {"putyoutube", MavoCommand::Kind::kPutYouTube, 5,
     "putyoutube CATEGORY TITLE KEYWORDS DESCRIPTION PATH [--cancel-at N]"},
};

bool ParseNumber(const QString& text, int* value) {
  bool ok = false;
  *value = text.toInt(&ok);
  return ok;
}

bool ParseOne(QStringList words, MavoCommand* command, QString* error) {
  if (words.isEmpty()) {
    *error = QStringLiteral("an empty request");
    return false;
  }
  const QString name = words.takeFirst();
  const Shape* shape = nullptr;
  for (const Shape& candidate : kShapes) {
    if (name == QLatin1String(candidate.name)) shape = &candidate;
  }
  if (shape == nullptr) {
    *error = QStringLiteral("unknown request \"%1\"").arg(name);
    return false;
  }
  command->kind = shape->kind;
  if (shape->kind == MavoCommand::Kind::kPutFile || shape->kind == MavoCommand::Kind::kPutYouTube) {
    const qsizetype option = words.indexOf(QStringLiteral("--cancel-at"));
    if (option >= 0) {
      int percent = -1;
      if (option + 1 >= words.size() || !ParseNumber(words.at(option + 1), &percent) ||
          percent < 0 || percent > 100) {
        *error = option + 1 >= words.size()
                     ? QStringLiteral("--cancel-at needs a percentage from 0 to 100")
                     : QStringLiteral("--cancel-at \"%1\" is not a percentage from 0 to 100")
                           .arg(words.at(option + 1));
        return false;
      }
      command->cancelAt = percent;
      words.remove(option, 2);
    }
  }
  if (words.size() != shape->argCount) {
    *error = QStringLiteral("%1 takes %2 arguments: %3")
                 .arg(name)
                 .arg(shape->argCount)
                 .arg(QLatin1String(shape->syntax));
    return false;
  }
  if (shape->kind == MavoCommand::Kind::kGetVersion2 ||
      shape->kind == MavoCommand::Kind::kPutFile) {
    if (!ParseNumber(words.at(3), &command->folderId)) {
      *error = QStringLiteral("%1: FOLDERID \"%2\" is not a whole number").arg(name, words.at(3));
      return false;
    }
    if (!ParseNumber(words.at(4), &command->docId)) {
      *error = QStringLiteral("%1: DOCID \"%2\" is not a whole number").arg(name, words.at(4));
      return false;
    }
  }
  command->args = words;
  return true;
}

}  // namespace

bool MavoCommand::ParseAll(const QStringList& arguments, std::vector<MavoCommand>* commands,
                           QString* error) {
  commands->clear();
  if (arguments.isEmpty()) {
    *error = QStringLiteral("no request given");
    return false;
  }
  QStringList current;
  const auto finish = [&]() {
    MavoCommand command;
    if (!ParseOne(current, &command, error)) return false;
    commands->push_back(command);
    current.clear();
    return true;
  };
  for (const QString& word : arguments) {
    if (word == QStringLiteral("+")) {
      if (!finish()) return false;
    } else {
      current << word;
    }
  }
  return finish();
}

QString MavoCommand::Usage() {
  QString text = QStringLiteral("usage: mavo REQUEST [+ REQUEST ...]\nrequests:\n");
  // The video-sharing requests find the service through the settings named in
  // upload_control/README.md.
  for (const Shape& shape : kShapes)
    text += QStringLiteral("  %1\n").arg(QLatin1String(shape.syntax));
  return text;
}

bool MavoCommand::ReportsFailure(const QString& document) {
  QXmlStreamReader reader(document);
  // atEnd() also ends the walk at the first error: a document that is not XML reports nothing.
  while (!reader.atEnd()) {
    if (reader.readNext() == QXmlStreamReader::StartElement &&
        reader.name() == QLatin1String("errInfo")) {
      return !reader.readElementText(QXmlStreamReader::IncludeChildElements).trimmed().isEmpty();
    }
  }
  return false;
}
