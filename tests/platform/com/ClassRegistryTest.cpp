#include "platform/com/ClassRegistry.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <thread>

#include <gtest/gtest.h>

namespace {

using cf::com::ClassRegistry;
using cf::com::ControlClassInfo;
using cf::com::Guid;

ControlClassInfo Mavo2Like(const QString& module = QStringLiteral("/opt/program/libkqmavo2.so")) {
  ControlClassInfo info;
  info.clsid = Guid::Parse("{24919A8D-2502-49CA-B37B-C348EE6E708C}");
  info.description = QStringLiteral("mavo2 Class");
  info.progId = QStringLiteral("Kqmavo2.mavo2.1");
  info.versionIndependentProgId = QStringLiteral("Kqmavo2.mavo2");
  info.className = QStringLiteral("mavo2");
  info.typeLibId = Guid::Parse("{1A23B247-C9CF-43F5-A7AE-6B1FF4BDB52A}");
  info.typeLibName = QStringLiteral("KQMAVO2Lib");
  info.typeLibHelp = QStringLiteral("kqmavo2 1.0 Type Library");
  info.typeLibVersion = QStringLiteral("1.0");
  info.modulePath = module;
  return info;
}

ControlClassInfo Other() {
  ControlClassInfo info = Mavo2Like(QStringLiteral("/opt/other.so"));
  info.clsid = Guid::Parse("{11111111-2222-3333-4444-555555555555}");
  info.progId = QStringLiteral("Other.thing.1");
  info.versionIndependentProgId = QStringLiteral("Other.thing");
  info.className = QStringLiteral("thing");
  info.typeLibId = Guid::Parse("{11111111-2222-3333-4444-666666666666}");
  info.typeLibName = QStringLiteral("OTHERLib");
  return info;
}

QString RegistryFile() {
  return QDir::temp().filePath(QStringLiteral("classes-%1.xml").arg(rand()));
}

TEST(ClassRegistry, AControlClassResolvesByEveryNameAHostUses) {
  ClassRegistry registry(RegistryFile());
  const ControlClassInfo info = Mavo2Like();
  registry.WriteControlClass(info);
  for (const char* name : {"KQMAVO2LibCtl.mavo2", "kqmavo2libctl.MAVO2", "Kqmavo2.mavo2",
                           "Kqmavo2.mavo2.1", "{24919A8D-2502-49CA-B37B-C348EE6E708C}"}) {
    const auto clsid = registry.ResolveClass(QString::fromLatin1(name));
    ASSERT_TRUE(clsid.has_value()) << name;
    EXPECT_EQ(*clsid, info.clsid) << name;
  }
  for (const char* name :
       {"", "mavo2", "KQMAVO2LibCtl.other", "Kqmavo2.mavo3", "OTHERLibCtl.mavo2", "CLSID/x"}) {
    EXPECT_FALSE(registry.ResolveClass(QString::fromLatin1(name)).has_value()) << name;
  }
  EXPECT_EQ(registry.ModulePath(info.clsid), info.modulePath);
  EXPECT_TRUE(registry.IsControl(info.clsid));
}

TEST(ClassRegistry, RegistrationWritesTheScriptsEntries) {
  const QString file = RegistryFile();
  {
    ClassRegistry registry(file);
    registry.WriteControlClass(Mavo2Like());
    ASSERT_TRUE(registry.Save());
  }
  ClassRegistry registry(file);
  ASSERT_TRUE(registry.Load());
  const QString key = QStringLiteral("CLSID/{24919A8D-2502-49CA-B37B-C348EE6E708C}");
  const std::pair<QString, QString> values[] = {
      {"Kqmavo2.mavo2.1", "mavo2 Class"},
      {"Kqmavo2.mavo2.1/CLSID", "{24919A8D-2502-49CA-B37B-C348EE6E708C}"},
      {"Kqmavo2.mavo2/CurVer", "Kqmavo2.mavo2.1"},
      {key, "mavo2 Class"},
      {key + "/ProgID", "Kqmavo2.mavo2.1"},
      {key + "/VersionIndependentProgID", "Kqmavo2.mavo2"},
      {key + "/InprocServer32", "/opt/program/libkqmavo2.so"},
      {key + "/ToolboxBitmap32", "/opt/program/libkqmavo2.so, 101"},
      {key + "/MiscStatus", "0"},
      {key + "/MiscStatus/1", "131473"},
      {key + "/TypeLib", "{1A23B247-C9CF-43F5-A7AE-6B1FF4BDB52A}"},
      {key + "/Version", "1.0"},
  };
  for (const auto& [path, value] : values)
    EXPECT_EQ(registry.Value(path).value_or("<missing>"), value) << path.toStdString();
  EXPECT_EQ(registry.Value(key + "/InprocServer32", QStringLiteral("ThreadingModel")),
            QStringLiteral("Apartment"));
  for (const char* empty : {"/Programmable", "/Control", "/Insertable"}) {
    EXPECT_TRUE(registry.HasKey(key + QLatin1String(empty))) << empty;
    EXPECT_FALSE(registry.Value(key + QLatin1String(empty)).has_value()) << empty;
  }
}

TEST(ClassRegistry, RemovingAClassLeavesTheOthers) {
  ClassRegistry registry(RegistryFile());
  registry.WriteControlClass(Mavo2Like());
  registry.WriteControlClass(Other());
  registry.RemoveControlClass(Mavo2Like());
  EXPECT_FALSE(registry.ResolveClass(QStringLiteral("Kqmavo2.mavo2")).has_value());
  EXPECT_FALSE(registry.ResolveClass(QStringLiteral("KQMAVO2LibCtl.mavo2")).has_value());
  EXPECT_FALSE(registry.HasKey(QStringLiteral("TypeLib/{1A23B247-C9CF-43F5-A7AE-6B1FF4BDB52A}")));
  EXPECT_TRUE(registry.ResolveClass(QStringLiteral("OTHERLibCtl.thing")).has_value());
  EXPECT_EQ(registry.ModulePath(Other().clsid), QStringLiteral("/opt/other.so"));
}

TEST(ClassRegistry, ADamagedFileIsSetAsideAndRegistrationStartsAfresh) {
  const QString file = RegistryFile();
  for (const QByteArray& damage :
       {QByteArray("<classes><key name="), QByteArray("<other/>"), QByteArray("\x00\x01", 2)}) {
    QFile out(file);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.write(damage);
    out.close();
    ClassRegistry registry(file);
    QString error;
    EXPECT_FALSE(registry.Load(&error));
    EXPECT_FALSE(error.isEmpty());
    QFile aside(file + QStringLiteral(".bad"));
    ASSERT_TRUE(aside.open(QIODevice::ReadOnly));
    EXPECT_EQ(aside.readAll(), damage);
    EXPECT_TRUE(registry.Update([](ClassRegistry& r) { r.WriteControlClass(Mavo2Like()); }));
    ClassRegistry reread(file);
    ASSERT_TRUE(reread.Load());
    EXPECT_TRUE(reread.ResolveClass(QStringLiteral("Kqmavo2.mavo2")).has_value());
  }
}

TEST(ClassRegistry, RegistrationsFromTwoThreadsAtOnceAreBothKept) {
  const QString file = RegistryFile();
  for (int round = 0; round < 5; ++round) {
    std::thread first([&] {
      ClassRegistry registry(file);
      EXPECT_TRUE(registry.Update([](ClassRegistry& r) { r.WriteControlClass(Mavo2Like()); }));
    });
    std::thread second([&] {
      ClassRegistry registry(file);
      EXPECT_TRUE(registry.Update([](ClassRegistry& r) { r.WriteControlClass(Other()); }));
    });
    first.join();
    second.join();
    ClassRegistry registry(file);
    ASSERT_TRUE(registry.Load());
    EXPECT_TRUE(registry.ResolveClass(QStringLiteral("Kqmavo2.mavo2")).has_value());
    EXPECT_TRUE(registry.ResolveClass(QStringLiteral("Other.thing")).has_value());
    QFile::remove(file);
  }
}

}  // namespace
