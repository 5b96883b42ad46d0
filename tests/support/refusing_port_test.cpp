#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

#include "tests/support/http/LoopbackHttpServer.h"

namespace {

using quorvelle::test::LoopbackHttpServer;
using quorvelle::test::RefusingPort;

// errno of a connection to 127.0.0.1:`port`, 0 when it was accepted.
int connectTo(std::uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const int error = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 ? 0 : errno;
  ::close(fd);
  return error;
}

// The port a test counts on being refused stays so while it holds it: no server takes it, however many
// start beside it, until it lets the port go for the one that is to listen there.
TEST(RefusingPortTest, RefusesConnectionsAndIsNobodyElsesUntilReleased) {
  RefusingPort refusing;
  ASSERT_NE(refusing.port(), 0);
  EXPECT_EQ(connectTo(refusing.port()), ECONNREFUSED);
  EXPECT_THROW(LoopbackHttpServer({}, refusing.port()), std::runtime_error);
  for (int i = 0; i < 200; ++i) EXPECT_NE(LoopbackHttpServer().port(), refusing.port());

  refusing.release();
  LoopbackHttpServer next({}, refusing.port());
  EXPECT_EQ(connectTo(refusing.port()), 0);
}

}  // namespace
