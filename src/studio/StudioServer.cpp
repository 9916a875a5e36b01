// The studio's server over Boost.Beast: one session object per connection,
// reading a request, answering it through HandleStudioRequest and reading the
// next, or, for GET /api/events, writing events until the page goes away.
// Everything runs on the server's one thread; the only wait is a request's
// for its command's answer (StudioLink), which the frame loop gives within a
// frame.
#include "studio/StudioServer.h"

#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include "platform/Messages.h"
#include "studio/MusicAnalysis.h"

namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;

// A client that sends nothing for this long is gone (or never meant to
// send anything).
constexpr auto IdleTimeout = std::chrono::seconds(60);
// An event stream that has had nothing to say for this long sends a
// comment, so that a page that has gone away is noticed and its connection
// closed.
constexpr int KeepAliveTicks = 125;  // 5 s of EventInterval

struct Shared {
  StudioHost* host = nullptr;
  StudioAccess access;
  const MusicAnalysis* music = nullptr;
};

class Session : public std::enable_shared_from_this<Session> {
 public:
  Session(tcp::socket socket, const Shared& shared)
      : stream_(std::move(socket)), timer_(stream_.get_executor()), shared_(shared) {}

  void Read() {
    parser_.emplace();
    parser_->body_limit(MostStudioBodyBytes);
    stream_.expires_after(IdleTimeout);
    http::async_read(stream_, buffer_, *parser_, beast::bind_front_handler(&Session::OnRead, shared_from_this()));
  }

 private:
  void OnRead(beast::error_code error, std::size_t) {
    if (error == http::error::body_limit) {
      // The rest of the body is never read, so the connection ends here.
      Answer(413, "application/json", ErrorJson("the body is larger than 1 MiB"), 11, false);
      return;
    }
    if (error) {
      Close();
      return;
    }
    const http::request<http::string_body>& in = parser_->get();
    StudioRequest request;
    request.method = std::string(in.method_string());
    request.target = std::string(in.target());
    for (const auto& field : in) request.headers.emplace_back(std::string(field.name_string()), std::string(field.value()));
    request.body = in.body();
    StudioResponse response = HandleStudioRequest(request, shared_.access, *shared_.host, shared_.music);
    if (response.eventStream) {
      StartEvents();
      return;
    }
    Answer(response.status, response.contentType, std::move(response.body), in.version(), in.keep_alive(),
           response.headers);
  }

  void Answer(int status, const std::string& type, std::string body, unsigned version, bool keepAlive,
              const std::vector<std::pair<std::string, std::string>>& headers = {}) {
    auto response = std::make_shared<http::response<http::string_body>>(http::int_to_status(unsigned(status)), version);
    response->set(http::field::content_type, type);
    for (const auto& [name, value] : headers) response->set(name, value);
    // Nothing the studio answers may be kept: the show changes under it.
    response->set(http::field::cache_control, "no-store");
    response->set("X-Content-Type-Options", "nosniff");
    response->body() = std::move(body);
    response->keep_alive(keepAlive);
    response->prepare_payload();
    http::async_write(stream_, *response,
                      [self = shared_from_this(), response](beast::error_code error, std::size_t) {
                        if (error || !response->keep_alive()) {
                          self->Close();
                        } else {
                          self->Read();
                        }
                      });
  }

  void StartEvents() {
    stream_.expires_never();
    outgoing_ =
        "HTTP/1.1 200 OK\r\nContent-Type: text/event-stream\r\nCache-Control: no-store\r\n"
        "X-Content-Type-Options: nosniff\r\n\r\n";
    outgoing_ += feed_.Next(*shared_.host);
    WriteEvents();
  }

  void WriteEvents() {
    asio::async_write(stream_, asio::buffer(outgoing_), [self = shared_from_this()](beast::error_code error, std::size_t) {
      if (error) {
        self->Close();
        return;
      }
      self->WaitForEvents();
    });
  }

  void WaitForEvents() {
    timer_.expires_after(StudioServer::EventInterval);
    timer_.async_wait([self = shared_from_this()](beast::error_code error) {
      if (error) return;
      self->outgoing_ = self->feed_.Next(*self->shared_.host);
      if (self->outgoing_.empty()) {
        if (++self->quietTicks_ < KeepAliveTicks) {
          self->WaitForEvents();
          return;
        }
        self->outgoing_ = ": still here\n\n";
      }
      self->quietTicks_ = 0;
      self->WriteEvents();
    });
  }

  void Close() {
    beast::error_code ignored;
    stream_.socket().shutdown(tcp::socket::shutdown_both, ignored);
    stream_.socket().close(ignored);
  }

  beast::tcp_stream stream_;
  beast::flat_buffer buffer_;
  std::optional<http::request_parser<http::string_body>> parser_;
  asio::steady_timer timer_;
  StudioEventFeed feed_;
  std::string outgoing_;
  int quietTicks_ = 0;
  const Shared& shared_;
};

}  // namespace

struct StudioServer::Impl {
  // First, so that it outlives every session that reads it; its destruction
  // cancels a reading still under way.
  MusicAnalysis music;
  // Before the context, so that the sessions its destruction frees never
  // hold a reference to something already gone.
  Shared shared;
  asio::io_context context{1};
  tcp::acceptor acceptor{context};
  std::thread thread;

  void Accept() {
    acceptor.async_accept([this](beast::error_code error, tcp::socket socket) {
      if (!acceptor.is_open()) return;
      if (!error) std::make_shared<Session>(std::move(socket), shared)->Read();
      Accept();
    });
  }

  void Run() {
    // A handler that throws (only out of memory can) loses its connection,
    // not the server.
    for (;;) {
      try {
        context.run();
        return;
      } catch (const std::exception& e) {
        Say(Subsystem::Studio, "a connection failed: %s", e.what());
      }
    }
  }
};

StudioServer::StudioServer() = default;

StudioServer::~StudioServer() { Stop(); }

bool StudioServer::Start(uint16_t port, StudioHost& host, const std::string& token, std::string& why) {
  Stop();
  impl_ = std::make_unique<Impl>();
  Impl& impl = *impl_;
  beast::error_code error;
  const tcp::endpoint endpoint(asio::ip::address_v4::loopback(), port);
  impl.acceptor.open(endpoint.protocol(), error);
#if !defined(_WIN32)
  // A port the last run left in TIME_WAIT can be had again at once. (On
  // Windows the same option would let another program take a port in use.)
  if (!error) impl.acceptor.set_option(asio::socket_base::reuse_address(true), error);
#endif
  if (!error) impl.acceptor.bind(endpoint, error);
  if (!error) impl.acceptor.listen(asio::socket_base::max_listen_connections, error);
  if (error) {
    why = "127.0.0.1:" + std::to_string(port) + ": " + error.message();
    impl_.reset();
    return false;
  }
  impl.shared.host = &host;
  impl.shared.music = &impl.music;
  impl.shared.access.port = impl.acceptor.local_endpoint().port();
  impl.shared.access.token = token;
  impl.Accept();
  impl.thread = std::thread([&impl] { impl.Run(); });
  return true;
}

void StudioServer::ReadMusic(const std::string& path) {
  if (impl_) impl_->music.Start(path);
}

uint16_t StudioServer::Port() const { return impl_ ? impl_->shared.access.port : 0; }

void StudioServer::Stop() {
  if (!impl_) return;
  impl_->context.stop();
  if (impl_->thread.joinable()) impl_->thread.join();
  impl_.reset();
}
