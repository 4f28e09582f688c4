#include "files/share_connection.h"

#include <exception>
#include <string>

#include "base/text.h"
#include "files/messages.h"

namespace veltora {
namespace {

// ERROR_SESSION_CREDENTIAL_CONFLICT: a connection to that server under other
// credentials exists, so the share is reachable all the same.
constexpr int kCredentialConflict = 1219;

}  // namespace

bool ConnectShare(ShareConnector& connector, LineLog& log, const std::string& sharePath,
                  const std::string& user, const std::string& password) {
  try {
    std::string path = Trim(sharePath);
    const std::string account = Trim(user);
    if (path.empty() || account.empty()) return false;
    if (path.back() == '\\') path.pop_back();  // one only
    const int code = connector.Connect(path, account, password);
    if (code == 0) return true;
    log.Append(files_msg::kConnectFailedUser + account + files_msg::kConnectFailedShare + path +
               files_msg::kConnectFailedCode + std::to_string(code) + files_msg::kConnectFailedEnd);
    if (const std::string why = connector.UnavailableReason(); !why.empty())
      log.Append(files_msg::kFailureReason + why);
    return code == kCredentialConflict;
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace veltora
