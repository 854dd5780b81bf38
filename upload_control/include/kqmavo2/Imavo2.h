#pragma once

// The public interface of the mavo2 upload control in libkqmavo2.so. Hosts include this header
// and the component layer only; they create the control by name through
// cf::com::ComponentLoader and never link the module.

#include "platform/com/ComInterfaces.h"

namespace kqmavo2 {

using cf::com::BSTR;
using cf::com::DISPID;
using cf::com::Guid;
using cf::com::HRESULT;
using cf::com::IID;
using cf::com::LONG;

inline constexpr Guid LIBID_KQMAVO2Lib = Guid::Parse("{1A23B247-C9CF-43F5-A7AE-6B1FF4BDB52A}");
inline constexpr Guid CLSID_mavo2 = Guid::Parse("{24919A8D-2502-49CA-B37B-C348EE6E708C}");
inline constexpr Guid IID_Imavo2 = Guid::Parse("{4CA564D7-4F81-4C2C-9429-6609A57D26A5}");
inline constexpr Guid DIID__Imavo2Events = Guid::Parse("{9B739684-14D2-447F-865E-28E21576139A}");
inline constexpr Guid IID_Imavo2Session = Guid::Parse("{6E0C2B4D-8F3A-4B61-9D27-5A1C03E9B7F4}");

// Names hosts create the control by.
inline constexpr char kClassName[] = "KQMAVO2LibCtl.mavo2";
inline constexpr char kProgId[] = "Kqmavo2.mavo2.1";
inline constexpr char kVersionIndependentProgId[] = "Kqmavo2.mavo2";
inline constexpr char kModuleFileName[] = "libkqmavo2.so";

// Members of Imavo2 by dispatch identifier (their order in the interface).
enum Imavo2Dispid : DISPID {
  DISPID_GetFolder = 1,
  DISPID_PutFile = 2,
  DISPID_UploadingProgress = 3,
  DISPID_Response = 4,
  DISPID_getVersion = 5,
  DISPID_CancelPutFile = 6,
  DISPID_GetVersion2 = 7,
  DISPID_Post = 8,
  DISPID_LoginYouTube = 9,
  DISPID_GetYouTubeCategoryList = 10,
  DISPID_PutYouTubeFile = 11,
  DISPID_YouTubeUploadingProgress = 12,
  DISPID_YouTubeReponse = 13,
  DISPID_ExecStatus = 14,
};

// Events of _Imavo2Events by dispatch identifier; none carries arguments.
enum Imavo2EventDispid : DISPID {
  DISPID_OnPutFileFinished = 1,
  DISPID_OnGetFolderFinished = 2,
  DISPID_OnGetVersionFinished = 3,
  DISPID_OnPostFinished = 4,
  // Only for uploads started through Imavo2Session: a block was acknowledged.
  DISPID_OnPutFileBlock = 5,
};

// Event types a worker posts to the control's window when its request has ended.
inline constexpr int WM_USER = 0x0400;
inline constexpr int WM_MAVO_PUTFILE_DONE = WM_USER + 100;     // 1124
inline constexpr int WM_MAVO_GETFOLDER_DONE = WM_USER + 101;   // 1125
inline constexpr int WM_MAVO_GETVERSION_DONE = WM_USER + 102;  // 1126
inline constexpr int WM_MAVO_POST_DONE = WM_USER + 103;        // 1127
inline constexpr int WM_MAVO_PUTFILE_BLOCK = WM_USER + 104;    // 1128

// The upload control. Asynchronous members return S_OK at once; their outcome arrives as the
// document read by get_Response after exactly one completion event. [in] strings stay the
// caller's; [out] strings become the caller's, to free with SysFreeString.
struct Imavo2 : cf::com::IDispatch {
  static constexpr IID kIid = IID_Imavo2;

  virtual HRESULT GetFolder(BSTR bstrUrl, BSTR bstrAccount, BSTR bstrPassword,
                            BSTR bstrExParam) = 0;
  virtual HRESULT PutFile(BSTR bstrUrl, BSTR bstrAccount, BSTR bstrPassword, LONG FolderID,
                          LONG DocID, BSTR bstrPath) = 0;
  virtual HRESULT get_UploadingProgress(LONG* pVal) = 0;
  virtual HRESULT get_Response(BSTR* pVal) = 0;
  virtual HRESULT getVersion(BSTR bstrUrl) = 0;
  virtual HRESULT CancelPutFile() = 0;
  virtual HRESULT GetVersion2(BSTR bstrUrl, BSTR bstrAccount, BSTR bstrPassword, LONG FolderID,
                              LONG DocID, BSTR bstrVer, BSTR bstrExParam) = 0;
  virtual HRESULT Post(BSTR bstrUrl, BSTR bstrParam) = 0;
  virtual HRESULT LoginYouTube(BSTR username, BSTR password) = 0;
  virtual HRESULT GetYouTubeCategoryList(BSTR* pVal) = 0;
  virtual HRESULT PutYouTubeFile(BSTR Category, BSTR Title, BSTR Keyword, BSTR Description,
                                 BSTR bstrPath) = 0;
  virtual HRESULT get_YouTubeUploadingProgress(LONG* pVal) = 0;
  virtual HRESULT get_YouTubeReponse(BSTR* pVal) = 0;
  virtual HRESULT get_ExecStatus(LONG* pVal) = 0;
  virtual HRESULT put_ExecStatus(LONG newVal) = 0;

 protected:
  ~Imavo2() = default;
};

// The upload control's sessions, for hosts that take an interrupted upload up again. An upload
// started here sends the same requests as PutFile; it also fires OnPutFileBlock after each
// acknowledged block that is not the last, and get_UploadSession then tells where the session
// stands. Obtained from the control with QueryInterface.
struct Imavo2Session : cf::com::IUnknown {
  static constexpr IID kIid = IID_Imavo2Session;

  // Sends bstrPath in the session bstrSessID from block `seqno` on, the first of these blocks to
  // the address extended by bstrUrlValue (the value the server gave for block seqno - 1). An
  // empty bstrSessID starts a new session at block 0, exactly as PutFile does.
  virtual HRESULT PutFileFrom(BSTR bstrUrl, BSTR bstrAccount, BSTR bstrPassword, LONG FolderID,
                              LONG DocID, BSTR bstrPath, BSTR bstrSessID, LONG seqno,
                              BSTR bstrUrlValue) = 0;
  // Ends the running upload like CancelPutFile but without the cancel request, so the server
  // keeps the session. The result is the 1004 document.
  virtual HRESULT PausePutFile() = 0;
  // The session of the running or last upload after its last acknowledged block: its identifier,
  // the next block's number and the value addressing it (empty before the first answer).
  virtual HRESULT get_UploadSession(BSTR* pSessID, LONG* pNextSeqno, BSTR* pUrlValue) = 0;

 protected:
  ~Imavo2Session() = default;
};

}  // namespace kqmavo2
