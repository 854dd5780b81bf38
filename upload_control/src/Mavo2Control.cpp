#include "upload_control/src/Mavo2Control.h"

#include "platform/codepage/CodePage.h"
#include "platform/com/ModuleLock.h"
#include "upload_control/src/DebugLog.h"
#include "upload_control/src/HttpTransport.h"
#include "upload_control/src/Mavo2Window.h"
#include "upload_control/src/RequestDeadlines.h"
#include "upload_control/src/ServerRequests.h"
#include "upload_control/src/SharingRequests.h"
#include "upload_control/src/SharingSettings.h"
#include "upload_control/src/SharingUploadWorker.h"
#include "upload_control/src/UploadWorker.h"

#include <QCoreApplication>
#include <QEvent>
#include <QFileInfo>

#include <array>
#include <chrono>
#include <new>
#include <thread>

namespace kqmavo2 {

using cf::com::Bstr;
using cf::com::ComPtr;
using cf::com::DispParams;
using cf::com::E_INVALIDARG;
using cf::com::E_NOINTERFACE;
using cf::com::E_NOTIMPL;
using cf::com::E_POINTER;
using cf::com::S_OK;
using cf::com::ULONG;
using cf::com::Variant;

namespace {

// Text of a BSTR argument; a null BSTR is an empty string.
QString Text(BSTR value) { return Bstr::ToQString(value); }

constexpr std::array<const char16_t*, 14> kMemberNames = {
    u"GetFolder",         u"PutFile",
    u"UploadingProgress", u"Response",
    u"getVersion",        u"CancelPutFile",
    u"GetVersion2",       u"Post",
    u"LoginYouTube",      u"GetYouTubeCategoryList",
    u"PutYouTubeFile",    u"YouTubeUploadingProgress",
    u"YouTubeReponse",    u"ExecStatus"};

}  // namespace

cf::com::IUnknown* Mavo2Control::Create() {
  return static_cast<Imavo2*>(new (std::nothrow) Mavo2Control());
}

Mavo2Control::Mavo2Control() : events_(static_cast<Imavo2*>(this), DIID__Imavo2Events) {
  cf::com::ModuleLock::Lock();
}

Mavo2Control::~Mavo2Control() {
  closing_ = true;
  HttpTransport::Instance().AbortFor(this);
  std::vector<Worker> workers;
  {
    std::lock_guard guard(workersMutex_);
    workers.swap(workers_);
  }
  for (Worker& worker : workers) {
    if (worker.thread.joinable()) worker.thread.join();
  }
  events_.DisconnectAll();
  {
    std::lock_guard guard(windowMutex_);
    if (window_ != nullptr) {
      window_->Detach();
      // The window may be the one dispatching the event that released this control.
      window_->deleteLater();
      window_ = nullptr;
    }
  }
  cf::com::ModuleLock::Unlock();
}

HRESULT Mavo2Control::QueryInterface(const IID& iid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (iid == cf::com::IUnknown::kIid || iid == cf::com::IDispatch::kIid || iid == Imavo2::kIid) {
    *object = static_cast<Imavo2*>(this);
  } else if (iid == Imavo2Session::kIid) {
    *object = static_cast<Imavo2Session*>(this);
  } else if (iid == cf::com::IConnectionPointContainer::kIid) {
    *object = static_cast<cf::com::IConnectionPointContainer*>(this);
  } else if (iid == cf::com::IInPlaceControl::kIid) {
    *object = static_cast<cf::com::IInPlaceControl*>(this);
  } else {
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

ULONG Mavo2Control::AddRef() { return references_.fetch_add(1) + 1; }

ULONG Mavo2Control::Release() {
  const ULONG left = references_.fetch_sub(1) - 1;
  if (left == 0) delete this;
  return left;
}

HRESULT Mavo2Control::GetIDsOfNames(const IID&, const cf::com::OLECHAR** names, ULONG count,
                                    cf::com::LCID, DISPID* ids) {
  if (names == nullptr || ids == nullptr || count == 0) return E_POINTER;
  HRESULT hr = S_OK;
  for (ULONG i = 0; i < count; ++i) ids[i] = -1;
  const QString name = QString::fromUtf16(names[0]);
  for (std::size_t i = 0; i < kMemberNames.size(); ++i) {
    if (name.compare(QString::fromUtf16(kMemberNames[i]), Qt::CaseInsensitive) == 0) {
      ids[0] = static_cast<DISPID>(i + 1);
    }
  }
  if (ids[0] == -1 || count > 1) hr = cf::com::DISP_E_UNKNOWNNAME;
  return hr;
}

HRESULT Mavo2Control::Invoke(DISPID member, const IID&, cf::com::LCID, cf::com::WORD flags,
                             DispParams* params, Variant* result) {
  DispParams none;
  if (params == nullptr) params = &none;
  const ULONG count = params->argCount;
  // Dispatch arguments arrive last first.
  const auto arg = [&](ULONG index) -> const Variant* {
    return index < count ? &params->args[count - 1 - index] : nullptr;
  };
  bool typesOk = true;
  const auto text = [&](ULONG index) -> BSTR {
    const Variant* value = arg(index);
    if (value == nullptr || value->vt != cf::com::VT_BSTR) typesOk = false;
    return value != nullptr && value->vt == cf::com::VT_BSTR ? value->bstrVal : nullptr;
  };
  const auto number = [&](ULONG index) -> LONG {
    const Variant* value = arg(index);
    if (value == nullptr || value->vt != cf::com::VT_I4) typesOk = false;
    return value != nullptr && value->vt == cf::com::VT_I4 ? value->lVal : 0;
  };
  const auto returnLong = [&](HRESULT hr, LONG value) {
    if (result != nullptr && cf::com::SUCCEEDED(hr)) {
      cf::com::VariantClear(result);
      result->vt = cf::com::VT_I4;
      result->lVal = value;
    }
    return hr;
  };
  const auto returnText = [&](HRESULT hr, BSTR value) {
    if (result != nullptr && cf::com::SUCCEEDED(hr)) {
      cf::com::VariantClear(result);
      result->vt = cf::com::VT_BSTR;
      result->bstrVal = value;
    } else {
      cf::com::SysFreeString(value);
    }
    return hr;
  };
  static constexpr std::array<ULONG, 15> kArgCounts = {0, 4, 6, 0, 0, 1, 0, 7, 2, 2, 0, 5, 0, 0, 0};
  if (member < 1 || member > 14) return cf::com::DISP_E_MEMBERNOTFOUND;
  const bool put = (flags & cf::com::DISPATCH_PROPERTYPUT) != 0;
  if (!(member == DISPID_ExecStatus && put) &&
      count != kArgCounts[static_cast<std::size_t>(member)]) {
    return E_INVALIDARG;
  }
  // Read every argument first so a wrongly typed one refuses the call before it starts.
  switch (member) {
    case DISPID_GetFolder: {
      BSTR a = text(0), b = text(1), c = text(2), d = text(3);
      return typesOk ? GetFolder(a, b, c, d) : E_INVALIDARG;
    }
    case DISPID_PutFile: {
      BSTR a = text(0), b = text(1), c = text(2);
      LONG f = number(3), g = number(4);
      BSTR p = text(5);
      return typesOk ? PutFile(a, b, c, f, g, p) : E_INVALIDARG;
    }
    case DISPID_UploadingProgress: {
      LONG value = 0;
      const HRESULT hr = get_UploadingProgress(&value);
      return returnLong(hr, value);
    }
    case DISPID_Response: {
      BSTR value = nullptr;
      const HRESULT hr = get_Response(&value);
      return returnText(hr, value);
    }
    case DISPID_getVersion: {
      BSTR a = text(0);
      return typesOk ? getVersion(a) : E_INVALIDARG;
    }
    case DISPID_CancelPutFile:
      return CancelPutFile();
    case DISPID_GetVersion2: {
      BSTR a = text(0), b = text(1), c = text(2);
      LONG f = number(3), g = number(4);
      BSTR v = text(5), x = text(6);
      return typesOk ? GetVersion2(a, b, c, f, g, v, x) : E_INVALIDARG;
    }
    case DISPID_Post: {
      BSTR a = text(0), b = text(1);
      return typesOk ? Post(a, b) : E_INVALIDARG;
    }
    case DISPID_LoginYouTube: {
      BSTR a = text(0), b = text(1);
      return typesOk ? LoginYouTube(a, b) : E_INVALIDARG;
    }
    case DISPID_GetYouTubeCategoryList: {
      BSTR value = nullptr;
      const HRESULT hr = GetYouTubeCategoryList(&value);
      return returnText(hr, value);
    }
    case DISPID_PutYouTubeFile: {
      BSTR a = text(0), b = text(1), c = text(2), d = text(3), p = text(4);
      return typesOk ? PutYouTubeFile(a, b, c, d, p) : E_INVALIDARG;
    }
    case DISPID_YouTubeReponse: {
      BSTR value = nullptr;
      const HRESULT hr = get_YouTubeReponse(&value);
      return returnText(hr, value);
    }
    case DISPID_YouTubeUploadingProgress: {
      LONG value = 0;
      const HRESULT hr = get_YouTubeUploadingProgress(&value);
      return returnLong(hr, value);
    }
    case DISPID_ExecStatus: {
      if (put) {
        const LONG value = count == 1 ? number(0) : 0;
        return count == 1 && typesOk ? put_ExecStatus(value) : E_INVALIDARG;
      }
      LONG value = 0;
      const HRESULT hr = get_ExecStatus(&value);
      return returnLong(hr, value);
    }
    default:
      return cf::com::DISP_E_MEMBERNOTFOUND;
  }
}

HRESULT Mavo2Control::GetFolder(BSTR bstrUrl, BSTR bstrAccount, BSTR bstrPassword,
                                BSTR bstrExParam) {
  {
    std::lock_guard guard(stateMutex_);
    state_.SetUrl(Text(bstrUrl));
    state_.SetAccount(Text(bstrAccount));
    state_.SetPassword(Text(bstrPassword));
    state_.SetExtraFields(Text(bstrExParam));
  }
  StartWorker(WM_MAVO_GETFOLDER_DONE, [](Mavo2Control&, const ControlRequestState& request) {
    return ServerRequests::GetFolder(request);
  });
  return S_OK;
}

HRESULT Mavo2Control::PutFile(BSTR bstrUrl, BSTR bstrAccount, BSTR bstrPassword, LONG FolderID,
                              LONG DocID, BSTR bstrPath) {
  {
    std::lock_guard guard(stateMutex_);
    state_.SetUrl(Text(bstrUrl), true);
    state_.SetAccount(Text(bstrAccount));
    state_.SetPassword(Text(bstrPassword));
    state_.SetFolderId(FolderID);
    state_.SetContentId(DocID);
    state_.SetFilePath(Text(bstrPath));
  }
  StartUpload({}, false);
  return S_OK;
}

HRESULT Mavo2Control::PutFileFrom(BSTR bstrUrl, BSTR bstrAccount, BSTR bstrPassword, LONG FolderID,
                                  LONG DocID, BSTR bstrPath, BSTR bstrSessID, LONG seqno,
                                  BSTR bstrUrlValue) {
  UploadWorker::StartPoint start;
  start.sessionId = Text(bstrSessID).toLatin1();
  if (!start.sessionId.isEmpty()) {
    const QString urlValue = Text(bstrUrlValue);
    // The value goes into the request path, as a server's answer would.
    if (seqno < 0 || !UploadWorker::IsSafeUrlValue(urlValue)) return E_INVALIDARG;
    start.seqno = seqno;
    start.urlValue = urlValue;
  }
  {
    std::lock_guard guard(stateMutex_);
    state_.SetUrl(Text(bstrUrl), true);
    state_.SetAccount(Text(bstrAccount));
    state_.SetPassword(Text(bstrPassword));
    state_.SetFolderId(FolderID);
    state_.SetContentId(DocID);
    state_.SetFilePath(Text(bstrPath));
  }
  StartUpload(std::move(start), true);
  return S_OK;
}

void Mavo2Control::StartUpload(UploadWorker::StartPoint start, bool reportBlocks) {
  {
    std::lock_guard guard(stateMutex_);
    session_ = start;
  }
  progress_ = 0;
  blocksUnheard_ = 0;
  // Cleared here rather than when the worker gets the handles: a Stop pressed while the upload
  // still waits for another request must not be forgotten.
  cancel_ = 0;
  StartWorker(WM_MAVO_PUTFILE_DONE, [start = std::move(start), reportBlocks](
                                        Mavo2Control& control, const ControlRequestState& request) {
    UploadWorker worker(request, control.Progress(), control.Cancel());
    worker.SetStartPoint(start);
    worker.SetBlockObserver([&control, reportBlocks](const QByteArray& sessionId, int nextSeqno,
                                                     const QString& urlValue) {
      control.StoreSession(sessionId, nextSeqno, urlValue);
      if (reportBlocks && control.PostCompletion(WM_MAVO_PUTFILE_BLOCK)) {
        ++control.blocksUnheard_;
        control.WaitForHostToHearBlocks();
      }
    });
    return worker.Run();
  });
}

void Mavo2Control::StoreSession(const QByteArray& sessionId, int nextSeqno,
                                const QString& urlValue) {
  std::lock_guard guard(stateMutex_);
  session_ = {sessionId, nextSeqno, urlValue};
}

HRESULT Mavo2Control::PausePutFile() {
  cancel_ = UploadWorker::kPause;
  return S_OK;
}

HRESULT Mavo2Control::get_UploadSession(BSTR* pSessID, LONG* pNextSeqno, BSTR* pUrlValue) {
  if (pSessID == nullptr || pNextSeqno == nullptr || pUrlValue == nullptr) return E_POINTER;
  std::lock_guard guard(stateMutex_);
  *pSessID = Bstr(QString::fromLatin1(session_.sessionId)).Detach();
  *pNextSeqno = session_.seqno;
  *pUrlValue = Bstr(session_.urlValue).Detach();
  return S_OK;
}

HRESULT Mavo2Control::get_UploadingProgress(LONG* pVal) {
  if (pVal == nullptr) return E_POINTER;
  *pVal = progress_.load();
  return S_OK;
}

HRESULT Mavo2Control::get_Response(BSTR* pVal) {
  if (pVal == nullptr) return E_POINTER;
  std::lock_guard guard(stateMutex_);
  *pVal = result_.IsNull() ? cf::com::SysAllocString(u"") : result_.Copy();
  return *pVal == nullptr ? cf::com::E_OUTOFMEMORY : S_OK;
}

HRESULT Mavo2Control::getVersion(BSTR bstrUrl) {
  {
    std::lock_guard guard(stateMutex_);
    state_.SetUrl(Text(bstrUrl));
    // Without an account the worker asks for the version alone; the other fields stay.
    state_.account.clear();
  }
  StartWorker(WM_MAVO_GETVERSION_DONE, [](Mavo2Control&, const ControlRequestState& request) {
    return ServerRequests::Version(request);
  });
  return S_OK;
}

HRESULT Mavo2Control::CancelPutFile() {
  cancel_ = 1;
  return S_OK;
}

HRESULT Mavo2Control::GetVersion2(BSTR bstrUrl, BSTR bstrAccount, BSTR bstrPassword, LONG FolderID,
                                  LONG DocID, BSTR bstrVer, BSTR bstrExParam) {
  {
    std::lock_guard guard(stateMutex_);
    state_.SetUrl(Text(bstrUrl));
    state_.SetAccount(Text(bstrAccount));
    state_.SetPassword(Text(bstrPassword));
    state_.SetFolderId(FolderID);
    state_.SetContentId(DocID);
    state_.SetVersion(Text(bstrVer));
    state_.SetExtraFields(Text(bstrExParam));
  }
  StartWorker(WM_MAVO_GETVERSION_DONE, [](Mavo2Control&, const ControlRequestState& request) {
    return ServerRequests::Version(request);
  });
  return S_OK;
}

HRESULT Mavo2Control::Post(BSTR bstrUrl, BSTR bstrParam) {
  {
    std::lock_guard guard(stateMutex_);
    state_.SetUrl(Text(bstrUrl));
    state_.SetPostParam(Text(bstrParam));
  }
  StartWorker(WM_MAVO_POST_DONE, [](Mavo2Control&, const ControlRequestState& request) {
    return ServerRequests::Post(request);
  });
  return S_OK;
}

HRESULT Mavo2Control::LoginYouTube(BSTR username, BSTR password) {
  const SharingSettings settings = SharingSettings::Load();
  QByteArray source;
  {
    std::lock_guard guard(stateMutex_);
    source = state_.sharing.source;
  }
  SharingRequests::LoginOutcome outcome;
  {
    // Synchronous, but still the module's one request in flight.
    std::unique_lock gate = HttpTransport::Instance().Acquire(this);
    outcome = SharingRequests::Login(settings, cf::codepage::ToAnsi(Text(username)),
                                     cf::codepage::ToAnsi(Text(password)), source,
                                     RequestDeadlines::Load().requestMs);
  }
  if (outcome.refused) {
    execStatus_ = 2;
  } else if (outcome.token) {
    std::lock_guard guard(stateMutex_);
    state_.sharing.authToken = *outcome.token;
    state_.sharing.uploadAddress = settings.UploadAddress();
  }
  if (execStatus_ == 0) execStatus_ = 1;
  return S_OK;
}

HRESULT Mavo2Control::GetYouTubeCategoryList(BSTR* pVal) {
  if (pVal == nullptr) return E_POINTER;
  const SharingSettings settings = SharingSettings::Load();
  std::optional<QString> categories;
  {
    std::unique_lock gate = HttpTransport::Instance().Acquire(this);
    categories = SharingRequests::CategoryList(settings, RequestDeadlines::Load().requestMs);
  }
  // A failed request leaves the caller's value as it was.
  if (categories) *pVal = Bstr(*categories).Detach();
  if (execStatus_ == 0) execStatus_ = 1;
  return S_OK;
}

HRESULT Mavo2Control::PutYouTubeFile(BSTR Category, BSTR Title, BSTR Keyword, BSTR Description,
                                     BSTR bstrPath) {
  if (Category == nullptr) return cf::com::E_FAIL;
  const SharingSettings settings = SharingSettings::Load();
  {
    std::lock_guard guard(stateMutex_);
    SharingFields& sharing = state_.sharing;
    sharing.category = Text(Category).toUtf8();
    sharing.title = Text(Title).toUtf8();
    sharing.keywords = Text(Keyword).toUtf8();
    sharing.description = Text(Description).toUtf8();
    state_.SetFilePath(Text(bstrPath));
    sharing.fileName = QFileInfo(state_.filePath).fileName().toUtf8();
    // An earlier upload's answer must not pass for this one's.
    sharing.result.clear();
  }
  progress_ = 0;
  cancel_ = 0;
  StartWorker(
      WM_MAVO_PUTFILE_DONE, [settings](Mavo2Control& control, const ControlRequestState& request) {
        const SharingUploadWorker::Outcome outcome =
            SharingUploadWorker(request, settings, control.Progress(), control.Cancel()).Run();
        {
          std::lock_guard guard(control.stateMutex_);
          control.state_.sharing.result = outcome.sharingResult;
        }
        return outcome.response;
      });
  return S_OK;
}

HRESULT Mavo2Control::get_YouTubeUploadingProgress(LONG* pVal) {
  return get_UploadingProgress(pVal);
}

HRESULT Mavo2Control::get_YouTubeReponse(BSTR* pVal) {
  if (pVal == nullptr) return E_POINTER;
  std::lock_guard guard(stateMutex_);
  *pVal = Bstr(state_.sharing.result).Detach();
  return *pVal == nullptr ? cf::com::E_OUTOFMEMORY : S_OK;
}

HRESULT Mavo2Control::get_ExecStatus(LONG* pVal) {
  if (pVal == nullptr) return E_POINTER;
  *pVal = execStatus_;
  return S_OK;
}

HRESULT Mavo2Control::put_ExecStatus(LONG newVal) {
  execStatus_ = newVal;
  return S_OK;
}

HRESULT Mavo2Control::FindConnectionPoint(const IID& iid, cf::com::IConnectionPoint** point) {
  if (point == nullptr) return E_POINTER;
  *point = nullptr;
  if (iid != DIID__Imavo2Events) return cf::com::CONNECT_E_NOCONNECTION;
  *point = &events_;
  events_.AddRef();
  return S_OK;
}

HRESULT Mavo2Control::Activate(QWidget* parent) {
  if (parent == nullptr) return E_INVALIDARG;
  std::lock_guard guard(windowMutex_);
  if (window_ != nullptr) return S_OK;
  window_ = new Mavo2Window(parent, this);
  window_->show();
  return S_OK;
}

QWidget* Mavo2Control::Window() {
  std::lock_guard guard(windowMutex_);
  return window_;
}

void Mavo2Control::OnWindowDestroyed() {
  std::lock_guard guard(windowMutex_);
  window_ = nullptr;
}

void Mavo2Control::OnCompletion(int message) {
  DISPID event = 0;
  switch (message) {
    case WM_MAVO_PUTFILE_DONE:
      event = DISPID_OnPutFileFinished;
      break;
    case WM_MAVO_GETFOLDER_DONE:
      event = DISPID_OnGetFolderFinished;
      break;
    case WM_MAVO_GETVERSION_DONE:
      DebugLog("OnGetVersionFinished");
      event = DISPID_OnGetVersionFinished;
      break;
    case WM_MAVO_POST_DONE:
      event = DISPID_OnPostFinished;
      break;
    case WM_MAVO_PUTFILE_BLOCK:
      event = DISPID_OnPutFileBlock;
      break;
    default:
      return;
  }
  // A handler may drop the host's last reference; stay alive until every sink was called.
  ComPtr<Imavo2> self(this);
  events_.Fire(event);
  if (event == DISPID_OnPutFileBlock && blocksUnheard_ > 0) --blocksUnheard_;
}

void Mavo2Control::WaitForHostToHearBlocks() {
  // The next block goes while the host hears of the last one, so a busy host costs no speed;
  // a host stalled longer waits here, and a crash during the stall re-sends at most two blocks.
  // A host that hears nothing for long (no event loop) does not stop its upload.
  constexpr auto kLongestWait = std::chrono::seconds(10);
  const auto deadline = std::chrono::steady_clock::now() + kLongestWait;
  while (blocksUnheard_ > 1 && cancel_ == 0 && !closing_ &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

void Mavo2Control::StartWorker(int message, Run run) {
  ReapFinishedWorkers();
  ControlRequestState request;
  {
    std::lock_guard guard(stateMutex_);
    request = state_;
  }
  // Read at each request, so a changed setting holds from the next request on.
  request.deadlines = RequestDeadlines::Load();
  auto done = std::make_shared<std::atomic<bool>>(false);
  std::thread thread([this, message, run = std::move(run), request = std::move(request), done] {
    {
      std::unique_lock gate = HttpTransport::Instance().Acquire(this);
      if (!closing_) {
        const QString result = run(*this, request);
        StoreResult(result);
      }
      // Posted while the gate is still held, so a request that waited for this one can never
      // announce its end first.
      PostCompletion(message);
    }
    *done = true;
  });
  std::lock_guard guard(workersMutex_);
  workers_.push_back({std::move(thread), std::move(done)});
}

void Mavo2Control::ReapFinishedWorkers() {
  std::lock_guard guard(workersMutex_);
  for (auto it = workers_.begin(); it != workers_.end();) {
    if (it->done->load()) {
      it->thread.join();
      it = workers_.erase(it);
    } else {
      ++it;
    }
  }
}

void Mavo2Control::StoreResult(const QString& result) {
  Bstr fresh(result);
  std::lock_guard guard(stateMutex_);
  result_ = std::move(fresh);
}

bool Mavo2Control::PostCompletion(int message) {
  if (closing_) return false;
  std::lock_guard guard(windowMutex_);
  if (window_ == nullptr) return false;
  QCoreApplication::postEvent(window_, new QEvent(static_cast<QEvent::Type>(message)));
  return true;
}

}  // namespace kqmavo2
