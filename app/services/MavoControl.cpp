#include "app/services/MavoControl.h"

#include "app/services/ProgramFolder.h"
#include "platform/com/Bstr.h"
#include "platform/com/ComInterfaces.h"
#include "platform/com/ComponentLoader.h"
#include "platform/com/DispatchSink.h"
#include "upload_control/include/kqmavo2/Imavo2.h"

#include <QPointer>

using cf::com::Bstr;
using cf::com::ComPtr;

struct MavoControl::State {
  ComPtr<cf::com::IUnknown> unknown;
  ComPtr<kqmavo2::Imavo2> control;
  ComPtr<kqmavo2::Imavo2Session> sessions;
  ComPtr<cf::com::IConnectionPoint> point;
  ComPtr<cf::com::DispatchSink> sink;
  cf::com::DWORD cookie = 0;
};

std::unique_ptr<MavoControl> MavoControl::Create(QWidget* host, QString* error) {
  QString why;
  const QString module = JoinPath(ProgramFolder(), QLatin1String(kqmavo2::kModuleFileName));
  const QString className = QLatin1String(kqmavo2::kClassName);
  auto state = std::make_unique<State>();
  if (cf::com::FAILED(cf::com::ComponentLoader::EnsureRegistered(className, module, &why)) ||
      cf::com::FAILED(
          cf::com::ComponentLoader::CreateControl(className, host, &state->unknown, &why))) {
    if (error != nullptr) *error = why;
    return nullptr;
  }
  state->control = state->unknown.As<kqmavo2::Imavo2>();
  state->sessions = state->unknown.As<kqmavo2::Imavo2Session>();
  const auto container = state->unknown.As<cf::com::IConnectionPointContainer>();
  if (!state->control || !state->sessions || !container ||
      cf::com::FAILED(
          container->FindConnectionPoint(kqmavo2::DIID__Imavo2Events, state->point.Out()))) {
    if (error != nullptr)
      *error = QStringLiteral("the upload control does not offer its interfaces");
    return nullptr;
  }
  state->sink = cf::com::DispatchSink::Create(kqmavo2::DIID__Imavo2Events);
  std::unique_ptr<MavoControl> object(new MavoControl(std::move(state)));
  // Events arrive on the GUI thread from the control's window; the sink may outlive this object
  // by a queued event, so it reaches the object only through a guarded pointer.
  QPointer<MavoControl> self(object.get());
  object->state_->sink->On(kqmavo2::DISPID_OnPutFileFinished, [self] {
    if (self) emit self->OnPutFileFinished();
  });
  object->state_->sink->On(kqmavo2::DISPID_OnGetFolderFinished, [self] {
    if (self) emit self->OnGetFolderFinished();
  });
  object->state_->sink->On(kqmavo2::DISPID_OnGetVersionFinished, [self] {
    if (self) emit self->OnGetVersionFinished();
  });
  object->state_->sink->On(kqmavo2::DISPID_OnPostFinished, [self] {
    if (self) emit self->OnPostFinished();
  });
  object->state_->sink->On(kqmavo2::DISPID_OnPutFileBlock, [self] {
    if (self) emit self->OnPutFileBlock();
  });
  if (cf::com::FAILED(
          object->state_->point->Advise(object->state_->sink.get(), &object->state_->cookie))) {
    if (error != nullptr) *error = QStringLiteral("cannot connect to the upload control's events");
    return nullptr;
  }
  return object;
}

MavoControl::MavoControl(std::unique_ptr<State> state) : state_(std::move(state)) {}

QWidget* MavoControl::Window() const {
  const auto inPlace = state_->unknown.As<cf::com::IInPlaceControl>();
  return inPlace ? inPlace->Window() : nullptr;
}

MavoControl::~MavoControl() {
  if (state_ && state_->point && state_->cookie != 0) state_->point->Unadvise(state_->cookie);
}

bool MavoControl::GetFolder(const QString& url, const QString& account, const QString& password,
                            const QString& exParam) {
  return cf::com::SUCCEEDED(
      state_->control->GetFolder(Bstr(url), Bstr(account), Bstr(password), Bstr(exParam)));
}

bool MavoControl::PutFile(const QString& url, const QString& account, const QString& password,
                          int folderID, int docID, const QString& path) {
  return cf::com::SUCCEEDED(state_->control->PutFile(Bstr(url), Bstr(account), Bstr(password),
                                                     folderID, docID, Bstr(path)));
}

bool MavoControl::getVersion(const QString& url) {
  return cf::com::SUCCEEDED(state_->control->getVersion(Bstr(url)));
}

bool MavoControl::GetVersion2(const QString& url, const QString& account, const QString& password,
                              int folderID, int docID, const QString& version,
                              const QString& exParam) {
  return cf::com::SUCCEEDED(state_->control->GetVersion2(
      Bstr(url), Bstr(account), Bstr(password), folderID, docID, Bstr(version), Bstr(exParam)));
}

bool MavoControl::Post(const QString& url, const QString& param) {
  return cf::com::SUCCEEDED(state_->control->Post(Bstr(url), Bstr(param)));
}

void MavoControl::CancelPutFile() { state_->control->CancelPutFile(); }

bool MavoControl::PutFileFrom(const QString& url, const QString& account, const QString& password,
                              int folderID, int docID, const QString& path,
                              const Session& session) {
  return cf::com::SUCCEEDED(state_->sessions->PutFileFrom(
      Bstr(url), Bstr(account), Bstr(password), folderID, docID, Bstr(path), Bstr(session.id),
      session.nextSeqno, Bstr(session.urlValue)));
}

void MavoControl::PausePutFile() { state_->sessions->PausePutFile(); }

UploadControl::Session MavoControl::UploadSession() {
  Bstr id;
  Bstr urlValue;
  cf::com::LONG next = 0;
  Session session;
  if (cf::com::SUCCEEDED(state_->sessions->get_UploadSession(id.Out(), &next, urlValue.Out()))) {
    session = {id.ToQString(), static_cast<int>(next), urlValue.ToQString()};
  }
  return session;
}

int MavoControl::UploadingProgress() {
  cf::com::LONG progress = 0;
  state_->control->get_UploadingProgress(&progress);
  return static_cast<int>(progress);
}

QString MavoControl::Response() {
  Bstr response;
  state_->control->get_Response(response.Out());
  return response.ToQString();
}
