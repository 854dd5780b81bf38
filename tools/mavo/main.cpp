// mavo: runs requests of the mavo2 upload control from a shell. The control is created through
// the component layer exactly as the GUI program creates it, and the requests named on the
// command line run one after another on that one instance. For each, the event that ended it is
// printed, then the control's Response. The exit status is 1 when any request failed (refused,
// or its document holds an errInfo), 2 for a command line that cannot be understood.

#include "kqmavo2/Imavo2.h"
#include "platform/com/Bstr.h"
#include "platform/com/ComponentLoader.h"
#include "platform/com/DispatchSink.h"
#include "tools/mavo/MavoCommand.h"

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QTimer>
#include <QWidget>

#include <cstdio>

namespace {

using cf::com::Bstr;
using cf::com::ComPtr;

constexpr int kProgressPollMs = 500;

const char* EventName(cf::com::DISPID event) {
  switch (event) {
    case kqmavo2::DISPID_OnPutFileFinished:
      return "OnPutFileFinished";
    case kqmavo2::DISPID_OnGetFolderFinished:
      return "OnGetFolderFinished";
    case kqmavo2::DISPID_OnGetVersionFinished:
      return "OnGetVersionFinished";
    case kqmavo2::DISPID_OnPostFinished:
      return "OnPostFinished";
    default:
      return "?";
  }
}

// Starts one request; false when the control refused the call itself.
bool Start(kqmavo2::Imavo2* control, const MavoCommand& command) {
  const QStringList& a = command.args;
  cf::com::HRESULT hr = cf::com::E_FAIL;
  switch (command.kind) {
    case MavoCommand::Kind::kGetFolder:
      hr = control->GetFolder(Bstr(a[0]), Bstr(a[1]), Bstr(a[2]), Bstr(a[3]));
      break;
    case MavoCommand::Kind::kGetVersion:
      hr = control->getVersion(Bstr(a[0]));
      break;
    case MavoCommand::Kind::kGetVersion2:
      hr = control->GetVersion2(Bstr(a[0]), Bstr(a[1]), Bstr(a[2]), command.folderId, command.docId,
                                Bstr(a[5]), Bstr(a[6]));
      break;
    case MavoCommand::Kind::kPost:
      hr = control->Post(Bstr(a[0]), Bstr(a[1]));
      break;
    case MavoCommand::Kind::kPutFile:
      hr = control->PutFile(Bstr(a[0]), Bstr(a[1]), Bstr(a[2]), command.folderId, command.docId,
                            Bstr(a[5]));
      break;
    case MavoCommand::Kind::kPutYouTube:
      hr = control->PutYouTubeFile(Bstr(a[0]), Bstr(a[1]), Bstr(a[2]), Bstr(a[3]), Bstr(a[4]));
      break;
    case MavoCommand::Kind::kLogin:
    case MavoCommand::Kind::kCategories:
      break;
  }
  return cf::com::SUCCEEDED(hr);
}

// The synchronous video-sharing calls: their status, then what they returned.
bool RunSynchronous(kqmavo2::Imavo2* control, const MavoCommand& command) {
  control->put_ExecStatus(0);
  cf::com::HRESULT hr = cf::com::E_FAIL;
  Bstr categories;
  if (command.kind == MavoCommand::Kind::kLogin) {
    hr = control->LoginYouTube(Bstr(command.args[0]), Bstr(command.args[1]));
  } else {
    hr = control->GetYouTubeCategoryList(categories.Out());
  }
  cf::com::LONG status = 0;
  control->get_ExecStatus(&status);
  std::printf("ExecStatus %d\n", static_cast<int>(status));
  if (command.kind == MavoCommand::Kind::kCategories) {
    std::printf("%s\n", categories.IsNull() ? "(no category list)"
                                            : qUtf8Printable(categories.ToQString()));
  }
  std::fflush(stdout);
  // A refused login, or a category list that never came, is a failed request.
  constexpr cf::com::LONG kLoginRefused = 2;
  if (status == kLoginRefused) return false;
  if (command.kind == MavoCommand::Kind::kCategories && categories.IsNull()) return false;
  return cf::com::SUCCEEDED(hr);
}

}  // namespace

int main(int argc, char** argv) {
  // A command-line tool: without a display, draw nowhere instead of failing.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY") &&
      qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  QApplication app(argc, argv);
  const QStringList arguments = app.arguments().mid(1);
  if (arguments == QStringList{QStringLiteral("--help")} ||
      arguments == QStringList{QStringLiteral("-h")}) {
    std::printf("%s", qUtf8Printable(MavoCommand::Usage()));
    return 0;
  }
  std::vector<MavoCommand> commands;
  QString error;
  if (!MavoCommand::ParseAll(arguments, &commands, &error)) {
    std::fprintf(stderr, "mavo: %s\n%s", qUtf8Printable(error),
                 qUtf8Printable(MavoCommand::Usage()));
    return 2;
  }

  const QString module = QDir(QCoreApplication::applicationDirPath())
                             .filePath(QLatin1String(kqmavo2::kModuleFileName));
  if (cf::com::FAILED(cf::com::ComponentLoader::EnsureRegistered(QLatin1String(kqmavo2::kClassName),
                                                                 module, &error))) {
    std::fprintf(stderr, "mavo: %s\n", qUtf8Printable(error));
    return 1;
  }
  QWidget host;
  ComPtr<cf::com::IUnknown> unknown;
  if (cf::com::FAILED(cf::com::ComponentLoader::CreateControl(QLatin1String(kqmavo2::kClassName),
                                                              &host, &unknown, &error))) {
    std::fprintf(stderr, "mavo: %s\n", qUtf8Printable(error));
    return 1;
  }
  const ComPtr<kqmavo2::Imavo2> control = unknown.As<kqmavo2::Imavo2>();
  const ComPtr<cf::com::IConnectionPointContainer> container =
      unknown.As<cf::com::IConnectionPointContainer>();
  ComPtr<cf::com::IConnectionPoint> point;
  if (!control || !container ||
      cf::com::FAILED(container->FindConnectionPoint(kqmavo2::DIID__Imavo2Events, point.Out()))) {
    std::fprintf(stderr, "mavo: the control does not offer its interfaces\n");
    return 1;
  }

  QEventLoop loop;
  cf::com::DISPID ended = 0;
  const auto sink = cf::com::DispatchSink::Create(kqmavo2::DIID__Imavo2Events);
  for (cf::com::DISPID event = kqmavo2::DISPID_OnPutFileFinished;
       event <= kqmavo2::DISPID_OnPostFinished; ++event) {
    sink->On(event, [&ended, &loop, event] {
      ended = event;
      loop.quit();
    });
  }
  cf::com::DWORD cookie = 0;
  if (cf::com::FAILED(point->Advise(sink.get(), &cookie))) {
    std::fprintf(stderr, "mavo: cannot connect to the control's events\n");
    return 1;
  }

  int exitCode = 0;
  for (const MavoCommand& command : commands) {
    ended = 0;
    if (command.kind == MavoCommand::Kind::kLogin ||
        command.kind == MavoCommand::Kind::kCategories) {
      if (!RunSynchronous(control.get(), command)) {
        std::fprintf(stderr, "mavo: the request failed\n");
        exitCode = 1;
      }
      continue;
    }
    if (!Start(control.get(), command)) {
      std::fprintf(stderr, "mavo: the control refused the request\n");
      exitCode = 1;
      continue;
    }
    QTimer progressTimer;
    cf::com::LONG lastProgress = -1;
    bool cancelled = false;
    if (command.IsUpload()) {
      // Polled like the job driver polls it while an upload runs.
      QObject::connect(&progressTimer, &QTimer::timeout, [&] {
        cf::com::LONG progress = 0;
        control->get_UploadingProgress(&progress);
        if (progress != lastProgress) {
          lastProgress = progress;
          std::printf("progress %d\n", static_cast<int>(progress));
          std::fflush(stdout);
        }
        if (!cancelled && command.cancelAt >= 0 && progress >= command.cancelAt) {
          cancelled = true;
          control->CancelPutFile();
        }
      });
      progressTimer.start(kProgressPollMs);
    }
    loop.exec();
    progressTimer.stop();
    if (command.IsUpload()) {
      cf::com::LONG progress = 0;
      control->get_UploadingProgress(&progress);
      if (progress != lastProgress) std::printf("progress %d\n", static_cast<int>(progress));
    }
    Bstr response;
    if (command.kind == MavoCommand::Kind::kPutYouTube) {
      // The service's verdict when it answered, the control's own document otherwise.
      control->get_YouTubeReponse(response.Out());
      if (response.ToQString().isEmpty()) control->get_Response(response.Out());
    } else {
      control->get_Response(response.Out());
    }
    std::printf("%s\n%s\n", EventName(ended), qUtf8Printable(response.ToQString()));
    std::fflush(stdout);
    if (MavoCommand::ReportsFailure(response.ToQString())) exitCode = 1;
  }
  point->Unadvise(cookie);
  return exitCode;
}
