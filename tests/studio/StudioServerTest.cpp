// The real server in this process, spoken to over loopback with a plain
// socket: the HTTP library's reading and writing around the API, which the
// API's own tests cannot see. Every read has a deadline, so a server that
// never answers fails the test instead of hanging it.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <thread>

#include "studio/StudioLink.h"
#include "studio/StudioServer.h"

namespace {

const std::string Token = "0123456789abcdef0123456789abcdef";

class FixedHost : public StudioHost {
 public:
  FixedHost() {
    auto next = std::make_shared<StudioView>();
    next->showJson = std::make_shared<const std::string>(R"({"version":1})");
    next->tracks = std::make_shared<const std::vector<TrackSource>>();
    view = next;
  }
  std::shared_ptr<const StudioView> View() const override { return view; }
  StudioState State() const override { return {}; }
  StudioResult Run(StudioCommand) override { return {200, "{}"}; }
  std::shared_ptr<const StudioView> view;
};

// Sends the request and reads until the server closes the connection or
// until wanted has arrived; empty when nothing came within 5 s.
std::string Exchange(uint16_t port, const std::string& request, const std::string& wanted = "") {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  timeval deadline{5, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &deadline, sizeof deadline);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::string answer;
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      send(fd, request.data(), request.size(), 0) == ssize_t(request.size())) {
    char buffer[4096];
    ssize_t got = 0;
    while ((got = recv(fd, buffer, sizeof buffer, 0)) > 0) {
      answer.append(buffer, size_t(got));
      if (!wanted.empty() && answer.find(wanted) != std::string::npos) break;
    }
  }
  close(fd);
  return answer;
}

TEST(StudioServerTest, AnswersOverLoopbackWithTheTokenOnly) {
  FixedHost host;
  StudioServer server;
  std::string why;
  ASSERT_TRUE(server.Start(0, host, Token, why)) << why;
  const uint16_t port = server.Port();
  const std::string hostLine = "Host: 127.0.0.1:" + std::to_string(port) + "\r\n";

  const std::string withToken = Exchange(
      port, "GET /api/show HTTP/1.1\r\n" + hostLine + "Authorization: Bearer " + Token + "\r\nConnection: close\r\n\r\n");
  EXPECT_EQ(withToken.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << withToken;
  EXPECT_NE(withToken.find("\r\n\r\n{\"version\":1}"), std::string::npos) << withToken;

  const std::string without = Exchange(port, "GET /api/show HTTP/1.1\r\n" + hostLine + "Connection: close\r\n\r\n");
  EXPECT_EQ(without.rfind("HTTP/1.1 403 Forbidden\r\n", 0), 0u) << without;

  // A body over the limit is refused from its Content-Length, unread.
  const std::string large =
      Exchange(port, "POST /api/edit HTTP/1.1\r\n" + hostLine + "Authorization: Bearer " + Token +
                         "\r\nContent-Length: 2000000\r\n\r\n{");
  EXPECT_EQ(large.rfind("HTTP/1.1 413 Payload Too Large\r\n", 0), 0u) << large;

  // The event stream opens with the show.
  const std::string events =
      Exchange(port, "GET /api/events?token=" + Token + " HTTP/1.1\r\n" + hostLine + "\r\n", "event: errors");
  EXPECT_NE(events.find("Content-Type: text/event-stream"), std::string::npos) << events;
  EXPECT_NE(events.find("event: show\ndata: {\"version\":1}\n\n"), std::string::npos) << events;
  server.Stop();
}

TEST(StudioServerTest, APortInUseIsRefusedWithTheReason) {
  FixedHost host;
  StudioServer first, second;
  std::string why;
  ASSERT_TRUE(first.Start(0, host, Token, why)) << why;
  EXPECT_FALSE(second.Start(first.Port(), host, Token, why));
  EXPECT_NE(why.find("127.0.0.1:" + std::to_string(first.Port())), std::string::npos) << why;
}

// The music is read on its own thread: while it is still being read the
// waveform is refused with a Retry-After the page goes by, and what cannot
// be decoded is refused with the reason. A pipe stands in for a music file
// that takes its time: opening it waits until the test opens the other end.
TEST(StudioServerTest, TheWaveformWaitsForTheMusicWithARetryAfter) {
  const std::string pipe = (std::filesystem::temp_directory_path() / ("studio-music-" + std::to_string(getpid()))).string();
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
  FixedHost host;
  auto view = std::make_shared<StudioView>(*host.view);
  view->musicSeconds = 10.0;
  host.view = view;
  StudioServer server;
  std::string why;
  ASSERT_TRUE(server.Start(0, host, Token, why)) << why;
  server.ReadMusic(pipe);
  const std::string request = "GET /api/waveform?from=0&to=1&columns=2 HTTP/1.1\r\nHost: 127.0.0.1:" +
                              std::to_string(server.Port()) + "\r\nAuthorization: Bearer " + Token +
                              "\r\nConnection: close\r\n\r\n";
  const std::string reading = Exchange(server.Port(), request);
  EXPECT_EQ(reading.rfind("HTTP/1.1 503 Service Unavailable\r\n", 0), 0u) << reading;
  EXPECT_NE(reading.find("Retry-After: 1\r\n"), std::string::npos) << reading;
  close(open(pipe.c_str(), O_WRONLY));  // an empty file: no music in it
  std::string failed;
  for (int i = 0; i < 500 && (failed.empty() || failed.rfind("HTTP/1.1 503", 0) == 0); ++i) {
    if (i > 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    failed = Exchange(server.Port(), request);
  }
  EXPECT_EQ(failed.rfind("HTTP/1.1 404 Not Found\r\n", 0), 0u) << failed;
  EXPECT_NE(failed.find("cannot be decoded"), std::string::npos) << failed;
  EXPECT_EQ(failed.find("Retry-After"), std::string::npos) << failed;
  server.Stop();
  std::filesystem::remove(pipe);
}

}  // namespace

namespace {

// A request waits for the frame loop's answer, and the end of the show
// answers what still waits, so that the server's thread can always end.
TEST(StudioLinkTest, CommandsAreAnsweredByTheFrameLoopOrByItsEnd) {
  StudioLink link;
  StudioResult answered;
  std::thread request([&] { answered = link.Run(UndoCommand{}); });
  int served = 0;
  while (served == 0) {
    link.ServeCommands([&](const StudioCommand& command) {
      ++served;
      EXPECT_TRUE(std::holds_alternative<UndoCommand>(command));
      return StudioResult{200, "{\"done\":true}"};
    });
    std::this_thread::yield();
  }
  request.join();
  EXPECT_EQ(answered.status, 200);
  EXPECT_EQ(answered.body, "{\"done\":true}");

  std::thread late([&] { answered = link.Run(RedoCommand{}); });
  link.Close();
  late.join();
  EXPECT_EQ(answered.status, 503);
}

}  // namespace
