#include "platform/com/ClassRegistry.h"
#include "platform/com/ComponentLoader.h"
#include "tests/platform/com/TestComponent.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QWidget>

#include <gtest/gtest.h>

namespace {

using namespace cf::com;

QString TestModule() { return QStringLiteral(CF_TEST_COMPONENT_MODULE); }

// A private copy of the module, so a test can delete it.
QString CopyOfModule(const QString& name) {
  const QString copy = QDir::temp().filePath(name);
  QFile::remove(copy);
  EXPECT_TRUE(QFile::copy(TestModule(), copy));
  return copy;
}

class ComponentLoaderTest : public testing::Test {
 protected:
  void SetUp() override { QFile::remove(ClassRegistry::DefaultPath()); }
};

TEST_F(ComponentLoaderTest, ARegisteredControlIsCreatedByNameAndActivatedInItsParent) {
  ASSERT_EQ(ComponentLoader::RegisterModule(TestModule()), S_OK);
  for (const char* name : {"CFTESTLibCtl.Widget", "CfTest.Widget", "CfTest.Widget.1"}) {
    QWidget parent;
    ComPtr<IUnknown> control;
    QString error;
    ASSERT_EQ(ComponentLoader::CreateControl(QString::fromLatin1(name), &parent, &control, &error),
              S_OK)
        << name << " " << error.toStdString();
    const auto value = control.As<ITestValue>();
    ASSERT_TRUE(value);
    EXPECT_EQ(value->Value(), 42);
    const auto inPlace = control.As<IInPlaceControl>();
    ASSERT_TRUE(inPlace && inPlace->Window());
    EXPECT_EQ(inPlace->Window()->parentWidget(), &parent);
    EXPECT_FALSE(ComponentLoader::CanUnloadModule(TestModule()));
  }
  EXPECT_TRUE(ComponentLoader::CanUnloadModule(TestModule()));
}

TEST_F(ComponentLoaderTest, FailuresSayWhatIsMissing) {
  QWidget parent;
  ComPtr<IUnknown> control;
  QString error;
  EXPECT_EQ(
      ComponentLoader::CreateControl(QStringLiteral("CfTest.Widget"), &parent, &control, &error),
      REGDB_E_CLASSNOTREG);
  EXPECT_TRUE(error.contains(QStringLiteral("not registered")));

  ASSERT_EQ(ComponentLoader::RegisterModule(TestModule()), S_OK);
  EXPECT_EQ(
      ComponentLoader::CreateControl(QStringLiteral("CfTest.Widget"), nullptr, &control, &error),
      E_INVALIDARG);
  EXPECT_FALSE(control);

  EXPECT_EQ(
      ComponentLoader::RegisterModule(QDir::temp().filePath(QStringLiteral("absent.so")), &error),
      CO_E_DLLNOTFOUND);
  const QString notAModule = QDir::temp().filePath(QStringLiteral("text.so"));
  QFile text(notAModule);
  ASSERT_TRUE(text.open(QIODevice::WriteOnly));
  text.write("not a module");
  text.close();
  EXPECT_EQ(ComponentLoader::RegisterModule(notAModule, &error), CO_E_DLLNOTFOUND);
  EXPECT_TRUE(error.contains(QStringLiteral("cannot load")));
}

TEST_F(ComponentLoaderTest, EnsureRegisteredRepairsARegistrationWhoseModuleIsGone) {
  const QString old = CopyOfModule(QStringLiteral("old-copy.so"));
  ASSERT_EQ(ComponentLoader::RegisterModule(old), S_OK);
  EXPECT_EQ(ComponentLoader::EnsureRegistered(QStringLiteral("CFTESTLibCtl.Widget"), TestModule()),
            S_FALSE);
  ClassRegistry before;
  ASSERT_TRUE(before.Load());
  EXPECT_EQ(before.ModulePath(kTestWidgetClsid), QFileInfo(old).absoluteFilePath());

  ASSERT_TRUE(QFile::remove(old));
  EXPECT_EQ(ComponentLoader::EnsureRegistered(QStringLiteral("CFTESTLibCtl.Widget"), TestModule()),
            S_OK);
  ClassRegistry after;
  ASSERT_TRUE(after.Load());
  EXPECT_EQ(after.ModulePath(kTestWidgetClsid), QFileInfo(TestModule()).absoluteFilePath());
}

TEST_F(ComponentLoaderTest, RegsvrRegistersAndUnregistersAModule) {
  const QString regsvr = QStringLiteral(CF_REGSVR_PROGRAM);
  const auto run = [&](const QStringList& args) {
    QProcess process;
    process.start(regsvr, args);
    EXPECT_TRUE(process.waitForFinished(60000)) << process.errorString().toStdString();
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
  };
  const auto registered = [] {
    ClassRegistry registry;
    registry.Load();
    return registry.ResolveClass(QStringLiteral("CfTest.Widget")).has_value();
  };
  EXPECT_EQ(run({TestModule()}), 0);
  EXPECT_TRUE(registered());
  EXPECT_EQ(run({QStringLiteral("-u"), TestModule()}), 0);
  EXPECT_FALSE(registered());
  EXPECT_EQ(run({QDir::temp().filePath(QStringLiteral("absent.so"))}), 1);
  EXPECT_EQ(run({}), 2);
}

}  // namespace
