#include "files/share_connection.h"

#include <exception>
#include <string>

#include "base/text.h"

namespace veltora {
namespace {

// The run-log line for a refused connection, around the user name, the share
// path and the code.
constexpr char kConnectFailedUser[] = "您好，程序尝试用用户名为:";
constexpr char kConnectFailedShare[] = "的用户，建立与远程共享文件夹";
constexpr char kConnectFailedCode[] = "的连接但操作失败，错误代码为:";
constexpr char kConnectFailedEnd[] = ",请将这个错误代码告知开发人员，谢谢您的合作！";

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
    log.Append(kConnectFailedUser + account + kConnectFailedShare + path + kConnectFailedCode +
               std::to_string(code) + kConnectFailedEnd);
    return code == kCredentialConflict;
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace veltora
