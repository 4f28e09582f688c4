// The share connection through the Windows network provider.
#include <windows.h>
#include <winnetwk.h>

#include <algorithm>

#include "base/wide_text.h"
#include "files/share_connection.h"

namespace veltora {

NetworkProviderCalls SystemNetworkProviderCalls() {
  return {[](const std::string& name) {
            return static_cast<int>(
                ::WNetCancelConnection2W(Widen(name).c_str(), CONNECT_UPDATE_PROFILE, TRUE));
          },
          [](const std::string& remoteName, const std::string& user, const std::string& password) {
            std::wstring remote = Widen(remoteName);
            std::wstring local;  // no drive letter
            std::wstring secret = Widen(password);
            NETRESOURCEW resource{};
            resource.dwScope = RESOURCE_GLOBALNET;
            resource.dwType = RESOURCETYPE_ANY;
            resource.dwUsage = RESOURCEUSAGE_CONNECTABLE;
            resource.lpLocalName = local.data();
            resource.lpRemoteName = remote.data();
            resource.lpProvider = nullptr;
            const DWORD code = ::WNetAddConnection2W(&resource, secret.c_str(), Widen(user).c_str(),
                                                     CONNECT_UPDATE_PROFILE);
            std::fill(secret.begin(), secret.end(), L'\0');
            return static_cast<int>(code);
          }};
}

int WNetShareConnector::Connect(const std::string& sharePath, const std::string& user,
                                const std::string& password) {
  // A connection Windows holds under other credentials would make the new one
  // fail with 1219; it goes first.
  if (calls_.cancelConnection) calls_.cancelConnection(sharePath);
  if (!calls_.addConnection) return ERROR_NO_NETWORK;
  return calls_.addConnection(sharePath, user, password);
}

}  // namespace veltora
