#pragma once

#include "platform/com/Bstr.h"
#include "platform/com/ConnectionPoint.h"
#include "upload_control/include/kqmavo2/Imavo2.h"
#include "upload_control/src/ControlRequestState.h"
#include "upload_control/src/UploadWorker.h"

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace kqmavo2 {

class Mavo2Window;

// The mavo2 control. Each asynchronous member stores its arguments, hands a copy of them to a
// worker thread and returns at once. The worker waits for the module's HTTP handles, runs its
// exchange, stores the result document and posts its completion event to the control's window,
// which fires the matching event on the GUI thread to every connected sink.
class Mavo2Control final : public Imavo2,
                           public Imavo2Session,
                           public cf::com::IConnectionPointContainer,
                           public cf::com::IInPlaceControl {
 public:
  // A new control with no references yet.
  static cf::com::IUnknown* Create();

  HRESULT QueryInterface(const IID& iid, void** object) override;
  cf::com::ULONG AddRef() override;
  cf::com::ULONG Release() override;

  HRESULT GetIDsOfNames(const IID& iid, const cf::com::OLECHAR** names, cf::com::ULONG count,
                        cf::com::LCID locale, DISPID* ids) override;
  HRESULT Invoke(DISPID member, const IID& iid, cf::com::LCID locale, cf::com::WORD flags,
                 cf::com::DispParams* params, cf::com::Variant* result) override;

  HRESULT GetFolder(BSTR bstrUrl, BSTR bstrAccount, BSTR bstrPassword, BSTR bstrExParam) override;
  HRESULT PutFile(BSTR bstrUrl, BSTR bstrAccount, BSTR bstrPassword, LONG FolderID, LONG DocID,
                  BSTR bstrPath) override;
  HRESULT get_UploadingProgress(LONG* pVal) override;
  HRESULT get_Response(BSTR* pVal) override;
  HRESULT getVersion(BSTR bstrUrl) override;
  HRESULT CancelPutFile() override;
  HRESULT GetVersion2(BSTR bstrUrl, BSTR bstrAccount, BSTR bstrPassword, LONG FolderID, LONG DocID,
                      BSTR bstrVer, BSTR bstrExParam) override;
  HRESULT Post(BSTR bstrUrl, BSTR bstrParam) override;
  HRESULT LoginYouTube(BSTR username, BSTR password) override;
  HRESULT GetYouTubeCategoryList(BSTR* pVal) override;
  HRESULT PutYouTubeFile(BSTR Category, BSTR Title, BSTR Keyword, BSTR Description,
                         BSTR bstrPath) override;
  HRESULT get_YouTubeUploadingProgress(LONG* pVal) override;
  HRESULT get_YouTubeReponse(BSTR* pVal) override;
  HRESULT get_ExecStatus(LONG* pVal) override;
  HRESULT put_ExecStatus(LONG newVal) override;

  HRESULT PutFileFrom(BSTR bstrUrl, BSTR bstrAccount, BSTR bstrPassword, LONG FolderID, LONG DocID,
                      BSTR bstrPath, BSTR bstrSessID, LONG seqno, BSTR bstrUrlValue) override;
  HRESULT PausePutFile() override;
  HRESULT get_UploadSession(BSTR* pSessID, LONG* pNextSeqno, BSTR* pUrlValue) override;

  HRESULT FindConnectionPoint(const IID& iid, cf::com::IConnectionPoint** point) override;

  HRESULT Activate(QWidget* parent) override;
  QWidget* Window() override;

  // From the window, on the GUI thread.
  void OnCompletion(int message);
  void OnWindowDestroyed();

  // What an upload worker shares with the GUI thread while it runs.
  std::atomic<LONG>& Progress() { return progress_; }
  std::atomic<LONG>& Cancel() { return cancel_; }

 private:
  Mavo2Control();
  ~Mavo2Control();

  using Run = std::function<QString(Mavo2Control& control, const ControlRequestState& request)>;
  void StartWorker(int message, Run run);
  void ReapFinishedWorkers();
  void StoreResult(const QString& result);
  // False when there is no window to hear it (closing, or never activated).
  bool PostCompletion(int message);
  // Holds an upload while its host has not yet heard of the block before the last one.
  void WaitForHostToHearBlocks();
  void StartUpload(UploadWorker::StartPoint start, bool reportBlocks);
  void StoreSession(const QByteArray& sessionId, int nextSeqno, const QString& urlValue);

  struct Worker {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> done;
  };

  std::atomic<cf::com::ULONG> references_{0};
  cf::com::ConnectionPoint events_;

  std::mutex stateMutex_;  // state_ and result_, shared with the workers
  ControlRequestState state_;
  cf::com::Bstr result_;
  std::atomic<LONG> progress_{0};
  std::atomic<LONG> cancel_{0};
  LONG execStatus_ = 0;
  // Where the running or last upload's session stands (guarded by stateMutex_).
  UploadWorker::StartPoint session_;

  std::mutex windowMutex_;
  Mavo2Window* window_ = nullptr;

  std::mutex workersMutex_;
  std::vector<Worker> workers_;
  std::atomic<bool> closing_{false};
  // Block events posted to the window and not yet fired (the host records each block as it hears
  // of it, so one it has not heard of yet would be sent again after a crash).
  std::atomic<int> blocksUnheard_{0};
};

}  // namespace kqmavo2
