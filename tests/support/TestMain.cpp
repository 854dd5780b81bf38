#include <gtest/gtest.h>

#include <unistd.h>
#include <cstdlib>
#include <filesystem>
#include <string>

#ifdef CLIPFERRY_TEST_GUI
#include <QApplication>
using TestApplication = QApplication;
#else
#include <QCoreApplication>
using TestApplication = QCoreApplication;
#endif

namespace {

// Points every per-user location at a fresh folder, before Qt or the code under test reads them.
std::filesystem::path IsolateUserFolders() {
  std::string pattern = (std::filesystem::temp_directory_path() / "cftest-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) {
    std::perror("mkdtemp");
    std::exit(2);
  }
  const std::filesystem::path base(pattern);
  const auto make = [&](const char* name) {
    const auto dir = base / name;
    std::filesystem::create_directories(dir);
    std::filesystem::permissions(dir, std::filesystem::perms::owner_all);
    return dir.string();
  };
  setenv("HOME", make("home").c_str(), 1);
  setenv("XDG_CONFIG_HOME", make("config").c_str(), 1);
  setenv("XDG_DATA_HOME", make("data").c_str(), 1);
  setenv("XDG_CACHE_HOME", make("cache").c_str(), 1);
  setenv("XDG_RUNTIME_DIR", make("runtime").c_str(), 1);
  setenv("TMPDIR", make("tmp").c_str(), 1);
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
  }
  // Where the built program folder and the sources are, for tests that copy resources or read
  // test data; the build passes them in, the environment may override them.
  setenv("CLIPFERRY_PROGRAM_DIR", CLIPFERRY_PROGRAM_DIR, 0);
  setenv("CLIPFERRY_SOURCE_DIR", CLIPFERRY_SOURCE_DIR, 0);
  return base;
}

}  // namespace

int main(int argc, char** argv) {
  const auto base = IsolateUserFolders();
  int rc = 0;
  {
    TestApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    rc = RUN_ALL_TESTS();
  }
  std::error_code ignored;
  std::filesystem::remove_all(base, ignored);
  return rc;
}
