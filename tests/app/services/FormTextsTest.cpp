#include "app/services/FormTexts.h"
#include "app/services/ProgramFolder.h"
#include "app/services/modLanguage.h"

#include <QAction>
#include <QCheckBox>
#include <QDialog>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QToolBar>
#include <QVBoxLayout>

#include <gtest/gtest.h>

namespace {

template <typename T>
T* Named(QWidget* parent, const char* name) {
  auto* widget = new T(parent);
  widget->setObjectName(QString::fromLatin1(name));
  parent->layout()->addWidget(widget);
  return widget;
}

TEST(FormTexts, CaptionsComeFromTheWindowsOwnSection) {
  QTemporaryDir folder;
  QFile res(folder.filePath("res.xml"));
  ASSERT_TRUE(res.open(QIODevice::WriteOnly));
  res.write(R"(<r><s name="frmTest"><t name="frmTest">Title</t><t name="lInfo">Label</t>
<t name="cmdGo">Go</t><t name="chkKeep">Keep</t><t name="optHigh">High</t><t name="frameBox">Box</t>
<t name="ToolbarOpen">Open file</t><t name="mnuQuit">Quit</t></s>
<s name="other"><t name="cmdStay">wrong section</t></s></r>)");
  res.close();
  SetProgramFolder(folder.path());
  ReloadResStrings();

  QDialog window;
  window.setObjectName("frmTest");
  new QVBoxLayout(&window);
  auto* label = Named<QLabel>(&window, "lInfo");
  auto* button = Named<QPushButton>(&window, "cmdGo");
  auto* check = Named<QCheckBox>(&window, "chkKeep");
  auto* option = Named<QRadioButton>(&window, "optHigh");
  auto* frame = Named<QGroupBox>(&window, "frameBox");
  auto* stay = Named<QPushButton>(&window, "cmdStay");
  stay->setText("built-in");
  auto* toolbar = Named<QToolBar>(&window, "tbMain");
  QAction* open = toolbar->addAction("x");
  open->setObjectName("Open");
  auto* quit = new QAction("x", &window);
  quit->setObjectName("mnuQuit");

  ApplyFormTexts(&window);

  EXPECT_EQ(window.windowTitle(), QStringLiteral("Title"));
  EXPECT_EQ(label->text(), QStringLiteral("Label"));
  EXPECT_EQ(button->text(), QStringLiteral("Go"));
  EXPECT_EQ(check->text(), QStringLiteral("Keep"));
  EXPECT_EQ(option->text(), QStringLiteral("High"));
  EXPECT_EQ(frame->title(), QStringLiteral("Box"));
  EXPECT_EQ(open->text(), QStringLiteral("Open file"));
  EXPECT_EQ(quit->text(), QStringLiteral("Quit"));
  // A caption missing from the window's section ends up empty.
  EXPECT_EQ(stay->text(), QString());

  SetProgramFolder(QString());
  ReloadResStrings();
}

}  // namespace
