// Opening the remote share under the configured Windows account.
#pragma once

#include <functional>
#include <string>

#include "base/line_log.h"

namespace veltora {

// What the platform offers for one share connection: drop any connection held
// to that server, then connect with the account, answering a Windows-style
// result code: 0 connected, 5 access denied, 53 network path not found, 67
// network name (share) not found, 86 or 1326 wrong password or unknown user,
// 1219 conflicting credentials, others as Windows would answer.
class ShareConnector {
 public:
  virtual ~ShareConnector() = default;
  virtual int Connect(const std::string& sharePath, const std::string& user,
                      const std::string& password) = 0;
  // Why no share can be connected at all (the client library cannot be
  // loaded, say); empty while connections may work.
  virtual std::string UnavailableReason() { return std::string(); }
};

// Trims the share path and the user name (false without a call when either is
// empty), removes one trailing backslash, connects, and on any code but 0
// writes "您好，程序尝试用用户名为:" ... "错误代码为:" + code + ... to the log,
// followed, when the connector cannot work at all, by a line with its reason
// after "导致失败可能的原因为：" (as a failed copy gives its reason).
// True for 0 and for 1219 (the share is reachable under other credentials).
// The password is never written anywhere.
bool ConnectShare(ShareConnector& connector, LineLog& log, const std::string& sharePath,
                  const std::string& user, const std::string& password);

#ifdef _WIN32
// The two calls of the Windows network provider a connection is made with,
// replaceable so that the connector can be tested where no provider answers
// (Wine answers 1222, no network). Each answers a Windows result code.
struct NetworkProviderCalls {
  // WNetCancelConnection2W(name, CONNECT_UPDATE_PROFILE, forced).
  std::function<int(const std::string& name)> cancelConnection;
  // WNetAddConnection2W with a record for `remoteName` (any resource type,
  // no local name, provider chosen by Windows), CONNECT_UPDATE_PROFILE.
  std::function<int(const std::string& remoteName, const std::string& user,
                    const std::string& password)>
      addConnection;
};

// The calls of the system's network provider.
NetworkProviderCalls SystemNetworkProviderCalls();

// The share connector of Windows: drops any connection held to the share
// path (whatever the answer: there may be none), then connects to it with
// the account and answers the provider's code.
class WNetShareConnector final : public ShareConnector {
 public:
  explicit WNetShareConnector(NetworkProviderCalls calls = SystemNetworkProviderCalls())
      : calls_(std::move(calls)) {}
  int Connect(const std::string& sharePath, const std::string& user,
              const std::string& password) override;

 private:
  NetworkProviderCalls calls_;
};
#endif

}  // namespace veltora
