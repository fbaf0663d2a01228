// The floor under mirelo-server's figures: a keep-alive HTTP server on the same Boost.Beast and
// Asio, one I/O thread, answering every request with a fixed body and doing nothing else.
// Usage: bare_http_server PORT [BODY]
// Asio's headers lean on <utility> being in already under this MinGW.
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <utility>

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;

namespace {

class Session : public std::enable_shared_from_this<Session> {
  public:
    Session(tcp::socket socket, const std::string& body)
        : m_socket(std::move(socket)), m_body(body) {}

    void Read() {
        m_request = {};
        http::async_read(m_socket, m_buffer, m_request,
                         [self = shared_from_this()](beast::error_code ec, std::size_t) {
                             if (!ec) self->Write();
                         });
    }

  private:
    void Write() {
        m_response = {};
        m_response.result(http::status::ok);
        m_response.version(m_request.version());
        m_response.set(http::field::content_type, "text/plain; charset=utf-8");
        m_response.keep_alive(m_request.keep_alive());
        m_response.body() = m_body;
        m_response.prepare_payload();
        http::async_write(m_socket, m_response,
                          [self = shared_from_this()](beast::error_code ec, std::size_t) {
                              if (!ec && self->m_response.keep_alive()) self->Read();
                          });
    }

    tcp::socket m_socket;
    const std::string& m_body;
    beast::flat_buffer m_buffer;
    http::request<http::string_body> m_request;
    http::response<http::string_body> m_response;
};

void Accept(tcp::acceptor& acceptor, const std::string& body) {
    acceptor.async_accept([&acceptor, &body](beast::error_code ec, tcp::socket socket) {
        if (!ec) std::make_shared<Session>(std::move(socket), body)->Read();
        Accept(acceptor, body);
    });
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fputs("usage: bare_http_server PORT [BODY]\n", stderr);
        return 1;
    }
    const std::string body = argc > 2 ? argv[2] : "ok";
    asio::io_context io(1);
    tcp::acceptor acceptor(io, {asio::ip::make_address("127.0.0.1"),
                                static_cast<unsigned short>(std::strtoul(argv[1], nullptr, 10))});
    Accept(acceptor, body);
    std::printf("listening on %s\n", argv[1]);
    std::fflush(stdout);
    io.run();
}
