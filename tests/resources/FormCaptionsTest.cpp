// Every caption a window's form shows comes from res.xml, so each form's captioned controls must
// have their keys in the form's section, in every shipped language.
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <pugixml.hpp>
#include <set>
#include <string>

namespace {

const std::set<std::string> kCaptionedClasses = {
    "QLabel",      "QPushButton", "QCheckBox",         "QRadioButton",
    "QToolButton", "QGroupBox",   "QCommandLinkButton"};

QString SourceDir() { return QString::fromLocal8Bit(qgetenv("CLIPFERRY_SOURCE_DIR")); }

std::set<std::string> KeysOf(const pugi::xml_document& res, const std::string& section) {
  std::set<std::string> keys;
  for (const pugi::xml_node s : res.document_element().children()) {
    if (section != s.attribute("name").value()) continue;
    for (const pugi::xml_node entry : s.children()) keys.insert(entry.attribute("name").value());
  }
  return keys;
}

// Object names of the form's captioned widgets and actions.
std::set<std::string> CaptionedNames(const pugi::xml_document& form) {
  std::set<std::string> names;
  for (const pugi::xpath_node node : form.select_nodes("//widget")) {
    const pugi::xml_node widget = node.node();
    if (kCaptionedClasses.count(widget.attribute("class").value()) != 0) {
      names.insert(widget.attribute("name").value());
    }
  }
  for (const pugi::xpath_node node : form.select_nodes("//action"))
    names.insert(node.node().attribute("name").value());
  return names;
}

TEST(FormCaptions, EveryFormCaptionHasItsTextInEveryLanguage) {
  const QString source = SourceDir();
  ASSERT_FALSE(source.isEmpty());
  int forms = 0;
  for (const QString& language :
       {QStringLiteral("resources/res.xml"), QStringLiteral("resources/zh_TW/res.xml")}) {
    pugi::xml_document res;
    ASSERT_TRUE(res.load_file(QDir(source).filePath(language).toLocal8Bit().constData()))
        << language.toStdString();
    QDirIterator it(QDir(source).filePath(QStringLiteral("app")), {QStringLiteral("*.ui")},
                    QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
      const QString path = it.next();
      pugi::xml_document form;
      ASSERT_TRUE(form.load_file(path.toLocal8Bit().constData())) << path.toStdString();
      const std::string window = form.child("ui").child("widget").attribute("name").value();
      ASSERT_EQ(window, QFileInfo(path).completeBaseName().toStdString())
          << "form named after its file";
      const std::set<std::string> keys = KeysOf(res, window);
      EXPECT_TRUE(keys.count(window)) << language.toStdString() << ": title of " << window;
      for (const std::string& name : CaptionedNames(form)) {
        EXPECT_TRUE(keys.count(name)) << language.toStdString() << ": " << window << "/" << name;
      }
      ++forms;
    }
  }
  EXPECT_GT(forms, 0);
}

}  // namespace
