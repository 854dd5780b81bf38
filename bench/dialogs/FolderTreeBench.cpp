// A folder reply of 10,000 folders, every child listed before its parent, parsed, trimmed and
// shown in the dialog's tree control, as a login to a large school server does.
// Goal: under 500 ms. Run: build/bench/dialogs/FolderTreeBench
#include "app/dialogs/DialogShared.h"
#include "app/dialogs/FolderReply.h"
#include "app/dialogs/ServerFolderPicker.h"

#include <QApplication>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <benchmark/benchmark.h>

namespace {

constexpr int kTopFolders = 100;
constexpr int kChildrenEach = 99;  // 100 + 100 x 99 = 10,000 folders

QString ChildrenFirstReply() {
  QStringList items;
  int id = 1000;
  for (int top = 1; top <= kTopFolders; ++top) {
    items << QStringLiteral(
                 "<item><id>%1</id><name>Department %1</name><pid>0</pid>"
                 "<uploadable>0</uploadable></item>")
                 .arg(top);
    for (int child = 0; child < kChildrenEach; ++child, ++id) {
      // Every tenth course takes no uploads and is trimmed away.
      items << QStringLiteral(
                   "<item><id>%1</id><name>Course %1</name><pid>%2</pid>"
                   "<uploadable>%3</uploadable></item>")
                   .arg(id)
                   .arg(top)
                   .arg(child % 10 == 9 ? 0 : 1);
    }
  }
  std::reverse(items.begin(), items.end());
  return QStringLiteral("<?xml version=\"1.0\"?><getFolder ver=\"2.0\"><folder>") +
         items.join(QString()) + QStringLiteral("</folder></getFolder>");
}

void BM_ParseTrimAndShow(benchmark::State& state) {
  QWidget window;
  auto* layout = new QVBoxLayout(&window);
  ServerFolderPicker::Controls controls;
  controls.txtServerIP = new QLineEdit(QStringLiteral("video.school.example"), &window);
  controls.txtAccount = new QLineEdit(&window);
  controls.txtPassword = new QLineEdit(&window);
  controls.cmdLogIn = new QPushButton(&window);
  controls.cmdCancel = new QPushButton(&window);
  controls.lRefresh = new QLabel(&window);
  controls.lOldSysHelp = new QLabel(&window);
  controls.lFolderPath = new QLabel(&window);
  controls.picFolder = new QFrame(&window);
  controls.imgOpenTV = new QToolButton(&window);
  controls.tree = new QTreeWidget(&window);
  layout->addWidget(controls.tree);
  ServerFolderPicker picker(&window, controls);
  window.show();
  const QString text = ChildrenFirstReply();
  for (auto _ : state) {
    const FolderReply reply = FolderReply::Read(text, false);
    picker.RebuildTree(&reply.document());
    picker.SelectFolder(QStringLiteral("5000"));
    benchmark::DoNotOptimize(DialogShared::Instance().folderTree.Count());
  }
  state.counters["folders shown"] = DialogShared::Instance().folderTree.Count() - 1;
}
BENCHMARK(BM_ParseTrimAndShow)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
