#include "sqlserver/odbc_sql_server.h"

#include <arpa/inet.h>
#include <gmock/gmock.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>

#include "sql_test_support.h"
#include "support/temp_dir.h"

namespace veltora {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using veltora::testing::CaughtSqlError;
using veltora::testing::OdbcDriverRegistered;

TEST(OdbcSqlServerTest, AnUnknownDriverFailsWithoutShowingThePassword) {
  OdbcSqlServer server(
      {5, 30}, [](const std::string& user, const std::string& password, const std::string&) {
        return "Driver={NoSuchDriver};UID=" + OdbcBracedValue(user) +
               ";PWD=" + OdbcBracedValue(password);
      });
  std::string text = CaughtSqlError([&] { server.Connect("sa", "Pa55word!", "master"); });
  EXPECT_THAT(text, HasSubstr("[unixODBC][Driver Manager]"));
  EXPECT_THAT(text, Not(HasSubstr("Pa55word!")));
  server.Close();
}

// Windows: the driver Windows ships, to the local default instance by name
// unless another server is named; a "}" in a password is doubled, not refused.
TEST(WindowsConnectionStringTest, LocalInstanceOrTheNamedServerWithBracedValues) {
  EXPECT_EQ(WindowsSqlServerConnectionString(FreeTdsServer{}, "sa", "p}w;x", "账套"),
            "Driver={SQL Server};Server={(local)};Database={账套};UID={sa};PWD={p}}w;x}");
  EXPECT_EQ(WindowsSqlServerConnectionString(FreeTdsServerFrom("db.test", "1500"), "u", "", "m"),
            "Driver={SQL Server};Server={db.test,1500};Database={m};UID={u};PWD={}");
}

TEST(FreeTdsConnectionStringTest, BracesUserValuesAndRefusesClosingBraces) {
  FreeTdsServer local;
  EXPECT_EQ(FreeTdsConnectionString(local, "sa", "secret", "master"),
            "Driver={FreeTDS};Server={127.0.0.1};Port=1433;Database={master};UID={sa};"
            "PWD={secret};TDS_Version=7.3;ClientCharset=UTF-8");
  EXPECT_EQ(FreeTdsConnectionString(local, "k;d", "a;b=c{", "账套 1;x"),
            "Driver={FreeTDS};Server={127.0.0.1};Port=1433;Database={账套 1;x};UID={k;d};"
            "PWD={a;b=c{};TDS_Version=7.3;ClientCharset=UTF-8");

  struct Case {
    std::string value, braced;
  } cases[] = {{"a;b", "{a;b}"}, {"a}b", "{a}}b}"}, {"}", "{}}}"}, {"", "{}"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    EXPECT_EQ(OdbcBracedValue(c.value), c.braced);
  }

  // FreeTDS cannot take "}" in any spelling; the refusal names no value.
  const std::string zero("a\0b", 3);
  for (const std::string& bad : {std::string("x};Port={1"), std::string("}"), zero}) {
    SCOPED_TRACE(bad);
    for (int field = 0; field < 4; ++field) {
      FreeTdsServer server;
      std::string user = "sa", password = "pw", catalogue = "master";
      (field == 0 ? server.host : field == 1 ? user : field == 2 ? password : catalogue) = bad;
      std::string text =
          CaughtSqlError([&] { FreeTdsConnectionString(server, user, password, catalogue); });
      EXPECT_EQ(text,
                "The login name, the password, the database name or the server name contains "
                "\"}\" or a zero byte, which cannot be passed to the FreeTDS driver.");
    }
  }
}

TEST(FreeTdsConnectionStringTest, HostAndPortTextsNameAnotherServer) {
  struct Case {
    std::string_view host, port;
    std::string expectedHost;
    int expectedPort;
  } cases[] = {
      {"", "", "127.0.0.1", 1433},      {"db.example", "14330", "db.example", 14330},
      {"", "0", "127.0.0.1", 1433},     {"", "65535", "127.0.0.1", 65535},
      {"", "65536", "127.0.0.1", 1433}, {"", "12ab", "127.0.0.1", 1433},
      {"", "-1433", "127.0.0.1", 1433}, {"", " 1433", "127.0.0.1", 1433},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.host) + " " + std::string(c.port));
    FreeTdsServer server = FreeTdsServerFrom(c.host, c.port);
    EXPECT_EQ(server.host, c.expectedHost);
    EXPECT_EQ(server.port, c.expectedPort);
  }
}

// A loopback TCP socket: listening (connections complete but nobody answers
// unless the test does) or merely bound (connections are refused).
class LoopbackSocket {
 public:
  explicit LoopbackSocket(bool listening) : fd_(socket(AF_INET, SOCK_STREAM, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd_ < 0 || bind(fd_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
        (listening && listen(fd_, 4) != 0))
      throw std::runtime_error("cannot set up a loopback socket");
    port_ = ntohs(address.sin_port);
  }
  ~LoopbackSocket() { close(fd_); }
  LoopbackSocket(const LoopbackSocket&) = delete;
  LoopbackSocket& operator=(const LoopbackSocket&) = delete;
  int fd() const { return fd_; }
  int port() const { return port_; }

 private:
  int fd_;
  int port_ = 0;
};

std::string Utf8FromUtf16Le(const std::string& bytes) {
  std::string out;
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    char32_t c = static_cast<unsigned char>(bytes[i]) | static_cast<unsigned char>(bytes[i + 1])
                                                            << 8;
    if (c >= 0xD800 && c < 0xDC00 && i + 3 < bytes.size()) {
      char32_t low =
          static_cast<unsigned char>(bytes[i + 2]) | static_cast<unsigned char>(bytes[i + 3]) << 8;
      c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
      i += 2;
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | c >> 6);
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | c >> 12);
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | c >> 18);
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

// Plays SQL Server just far enough for FreeTDS to send its login record:
// answers the pre-login (no encryption), reads the login, hangs up. What the
// record holds is what FreeTDS made of the connection string.
class LoginCatcher {
 public:
  struct Login {
    std::string user, password, database;
  };

  LoginCatcher() : thread_([this] { login_ = Serve(); }) {}
  ~LoginCatcher() {
    if (thread_.joinable()) thread_.join();
  }
  int port() const { return socket_.port(); }
  // Valid once the client has given up.
  const Login& login() {
    if (thread_.joinable()) thread_.join();
    return login_;
  }

 private:
  Login Serve() {
    pollfd waiting{socket_.fd(), POLLIN, 0};
    if (poll(&waiting, 1, 15000) != 1) return {};
    int client = accept(socket_.fd(), nullptr, nullptr);
    if (client < 0) return {};
    timeval limit{15, 0};
    setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    Login login;
    std::string body;
    if (ReadPacket(client, &body)) {  // pre-login
      // Options VERSION (6 bytes at 11) and ENCRYPTION (1 byte at 17) = not supported.
      const unsigned char reply[] = {4, 1, 0,  26, 0, 0,    1,  0, 0, 0,    11, 0, 6,
                                     1, 0, 17, 0,  1, 0xFF, 15, 0, 7, 0xD0, 0,  0, 2};
      if (send(client, reply, sizeof reply, MSG_NOSIGNAL) == sizeof reply &&
          ReadPacket(client, &body) && body.size() >= 72) {
        auto field = [&](int index) {
          auto u16 = [&](std::size_t at) {
            return static_cast<std::size_t>(static_cast<unsigned char>(body[at]) |
                                            static_cast<unsigned char>(body[at + 1]) << 8);
          };
          std::size_t offset = u16(36 + 4 * index), chars = u16(38 + 4 * index);
          return body.substr(std::min(offset, body.size()), chars * 2);
        };
        login.user = Utf8FromUtf16Le(field(1));
        std::string password = field(2);
        for (char& c : password) {  // undo the login record's scrambling
          unsigned char b = static_cast<unsigned char>(c) ^ 0xA5;
          c = static_cast<char>((b << 4 | b >> 4) & 0xFF);
        }
        login.password = Utf8FromUtf16Le(password);
        login.database = Utf8FromUtf16Le(field(8));
      }
    }
    close(client);
    return login;
  }

  static bool ReadExactly(int fd, std::size_t size, std::string* out) {
    out->resize(size);
    std::size_t got = 0;
    while (got < size) {
      ssize_t n = recv(fd, out->data() + got, size - got, 0);
      if (n <= 0) return false;
      got += static_cast<std::size_t>(n);
    }
    return true;
  }
  static bool ReadPacket(int fd, std::string* body) {
    std::string header;
    if (!ReadExactly(fd, 8, &header)) return false;
    std::size_t length =
        static_cast<unsigned char>(header[2]) << 8 | static_cast<unsigned char>(header[3]);
    return length >= 8 && ReadExactly(fd, length - 8, body);
  }

  LoopbackSocket socket_{/*listening=*/true};
  Login login_;
  std::thread thread_;
};

class FreeTdsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!OdbcDriverRegistered("FreeTDS"))
      VELTORA_SKIP_OR_FAIL("the FreeTDS ODBC driver (Debian tdsodbc) is not registered");
  }

  static std::string ConnectError(int port, int connectSeconds, const std::string& user,
                                  const std::string& password, const std::string& catalogue) {
    FreeTdsServer target{"127.0.0.1", port};
    OdbcSqlServer server({connectSeconds, 30}, [target](const std::string& u, const std::string& p,
                                                        const std::string& c) {
      return FreeTdsConnectionString(target, u, p, c);
    });
    return CaughtSqlError([&] { server.Connect(user, password, catalogue); });
  }
};

TEST_F(FreeTdsTest, LoginValuesReachTheServerIntact) {
  struct Case {
    std::string user, password, database;
  } cases[] = {
      {"sa", "secret", "master"},
      {"kd;user", "p;w=d{'x", "测试 账套's]1;Port=1"},
      {"sa", "", "AcctCtl"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.user + " " + c.password + " " + c.database);
    LoginCatcher catcher;
    std::string text = ConnectError(catcher.port(), 10, c.user, c.password, c.database);
    EXPECT_THAT(text, HasSubstr("[FreeTDS]"));
    EXPECT_THAT(text, Not(HasSubstr("secret")));
    const auto& login = catcher.login();
    EXPECT_EQ(login.user, c.user);
    EXPECT_EQ(login.password, c.password);
    EXPECT_EQ(login.database, c.database);
  }
}

TEST_F(FreeTdsTest, NothingListeningFailsWithTheDriversText) {
  LoopbackSocket bound(/*listening=*/false);
  std::string text = ConnectError(bound.port(), 2, "sa", "Pa55;word", "master");
  EXPECT_THAT(text, HasSubstr("[FreeTDS][SQL Server]Unable to connect"));
  EXPECT_THAT(text, Not(HasSubstr("Pa55")));
}

TEST_F(FreeTdsTest, ASilentServerFailsWhenTheConnectTimeOutExpires) {
  // The connection is accepted and nothing ever answers: only the login
  // time-out ends the wait, and FreeTDS says so first.
  LoopbackSocket silent(/*listening=*/true);
  std::string text = ConnectError(silent.port(), 1, "sa", "Pa55;word", "master");
  EXPECT_THAT(text, ::testing::StartsWith("[FreeTDS][SQL Server]Timeout expired\n"));
  EXPECT_THAT(text, Not(HasSubstr("Pa55")));
}

}  // namespace
}  // namespace veltora
