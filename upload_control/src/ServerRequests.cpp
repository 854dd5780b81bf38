#include "upload_control/src/ServerRequests.h"

#include "upload_control/src/ExtraFields.h"
#include "upload_control/src/HttpTransport.h"
#include "upload_control/src/MultipartBody.h"
#include "upload_control/src/ResultDocument.h"

namespace kqmavo2 {
namespace {

const QString kGetVersionRoot = QStringLiteral("getVersion");
const QString kGetFolderRoot = QStringLiteral("getFolder");
const QString kPostRoot = QStringLiteral("post");

// The document of a request that could not be sent or whose answer broke off: a server that
// kept it past its deadline stopped answering, which the caller tells apart from a lost line.
QString NotSent(const HttpTransport& transport, const QString& root) {
  return ResultDocument::Build(
      root, transport.Overdue() ? ResultDocument::kOverdue : ResultDocument::kNotSent);
}

// Status check and body read shared by the requests.
QString Answer(HttpTransport& transport, const QString& statusRoot, const QString& notSentRoot) {
  const std::int64_t answered = transport.QueryResult();
  if (answered < 0) return ResultDocument::Build(statusRoot, static_cast<int>(-answered));
  QString body;
  // An answer that broke off is not the server's answer; it must not pass for one.
  if (!transport.ReadBody(&body)) return NotSent(transport, notSentRoot);
  return body;
}

// Closes the handles whatever path the request took.
struct CloseOnExit {
  HttpTransport& transport;
  ~CloseOnExit() { transport.CloseRequest(); }
};

}  // namespace

QString ServerRequests::GetFolder(const ControlRequestState& request) {
  HttpTransport& transport = HttpTransport::Instance();
  CloseOnExit closer{transport};
  const int opened = transport.OpenMultipartRequest(request.address, request.deadlines.requestMs);
  if (opened == HttpTransport::kNoConnection || opened == HttpTransport::kNoRequest) {
    return ResultDocument::Build(kGetVersionRoot, ResultDocument::kNotSent);
  }
  if (opened != HttpTransport::kOpened) {
    return ResultDocument::Build(kGetVersionRoot, ResultDocument::kNotOpened);
  }
  const FieldPairs extra = ExtraFields::Parse(request.extraFields);
  if (extra.size() > ExtraFields::kMaxRequestPairs) {
    return ResultDocument::Build(kGetVersionRoot, ResultDocument::kTooManyFields);
  }
  MultipartBody body;
  body.AddField("account", request.account);
  body.AddField("password", request.password);
  for (const FieldPair& pair : extra) body.AddField(pair.name, pair.value);
  body.Close();
  if (!transport.SendParts(body)) return NotSent(transport, kGetVersionRoot);
  return Answer(transport, kGetFolderRoot, kGetVersionRoot);
}

QString ServerRequests::Version(const ControlRequestState& request) {
  HttpTransport& transport = HttpTransport::Instance();
  CloseOnExit closer{transport};
  if (!request.account.isEmpty()) {
    if (transport.OpenMultipartRequest(request.address, request.deadlines.requestMs) !=
        HttpTransport::kOpened) {
      return ResultDocument::Build(kGetVersionRoot, ResultDocument::kNotOpened);
    }
    const FieldPairs extra = ExtraFields::Parse(request.extraFields);
    if (extra.size() > ExtraFields::kMaxRequestPairs) {
      return ResultDocument::Build(kGetVersionRoot, ResultDocument::kTooManyFields);
    }
    MultipartBody body;
    body.AddField("account", request.account);
    body.AddField("password", request.password);
    body.AddField("folderID", request.folderId);
    body.AddField("contentID", request.contentId);
    body.AddField("ver", request.version);
    for (const FieldPair& pair : extra) body.AddField(pair.name, pair.value);
    body.Close();
    if (!transport.SendParts(body)) return NotSent(transport, kGetVersionRoot);
  } else {
    if (transport.OpenPostRequest(request.address, request.deadlines.requestMs) !=
        HttpTransport::kOpened) {
      return ResultDocument::Build(kGetVersionRoot, ResultDocument::kNotOpened);
    }
    if (!transport.StartRequest(0) || !transport.EndRequest()) {
      return NotSent(transport, kGetVersionRoot);
    }
  }
  return Answer(transport, kGetVersionRoot, kGetVersionRoot);
}

QString ServerRequests::Post(const ControlRequestState& request) {
  HttpTransport& transport = HttpTransport::Instance();
  CloseOnExit closer{transport};
  if (transport.OpenMultipartRequest(request.address, request.deadlines.requestMs) !=
      HttpTransport::kOpened) {
    return ResultDocument::Build(kPostRoot, ResultDocument::kNotOpened);
  }
  MultipartBody body;
  if (!request.postFields.empty()) {
    for (const FieldPair& pair : request.postFields) body.AddField(pair.name, pair.value);
    body.Close();
  }
  if (!transport.SendParts(body)) return NotSent(transport, kPostRoot);
  return Answer(transport, kPostRoot, kPostRoot);
}

}  // namespace kqmavo2
