#pragma once

#include "upload_control/src/ControlRequestState.h"

#include <QString>

namespace kqmavo2 {

// The single-exchange requests: log in and list folders, ask for the server's version (with an
// account: quota and content state), and post a few fields anywhere. Each sends one request
// through the module's transport, whose gate the caller holds, closes the handles and returns
// the result document: the server's body after status 200 or 201, otherwise one built here.
class ServerRequests {
 public:
  static QString GetFolder(const ControlRequestState& request);
  // getVersion and GetVersion2: without an account the request carries no fields at all.
  static QString Version(const ControlRequestState& request);
  static QString Post(const ControlRequestState& request);
};

}  // namespace kqmavo2
