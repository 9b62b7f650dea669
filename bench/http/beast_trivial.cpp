// The smallest Boost.Beast server that answers every GET with a short JSON body, to weigh the
// library against cpp-httplib on loopback (scripts/bench_server.sh). Not part of any program.
//   bench-beast-trivial PORT [THREADS]
// Boost 1.74's asio uses std::exchange without including <utility> under C++20.
#include <utility>

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;

namespace {

const std::string kKoerper = "{\"status\":\"OK\"}";

// One connection: read a request, answer it, again while the client keeps the connection.
class Sitzung : public std::enable_shared_from_this<Sitzung> {
public:
    explicit Sitzung(tcp::socket s) : strom_(std::move(s)) {}
    void Start() { Lies(); }

private:
    void Lies() {
        anfrage_ = {};
        http::async_read(strom_, puffer_, anfrage_, [self = shared_from_this()](beast::error_code ec, std::size_t) {
            if (ec) return self->Schliesse();
            self->Antworte();
        });
    }
    void Antworte() {
        antwort_ = {};
        antwort_.version(anfrage_.version());
        antwort_.result(http::status::ok);
        antwort_.set(http::field::content_type, "application/json; charset=utf-8");
        antwort_.keep_alive(anfrage_.keep_alive());
        antwort_.body() = kKoerper;
        antwort_.prepare_payload();
        http::async_write(strom_, antwort_, [self = shared_from_this()](beast::error_code ec, std::size_t) {
            if (ec || !self->antwort_.keep_alive()) return self->Schliesse();
            self->Lies();
        });
    }
    void Schliesse() {
        beast::error_code ec;
        strom_.socket().shutdown(tcp::socket::shutdown_send, ec);
    }

    beast::tcp_stream strom_;
    beast::flat_buffer puffer_;
    http::request<http::string_body> anfrage_;
    http::response<http::string_body> antwort_;
};

void Nimm(tcp::acceptor& a) {
    a.async_accept([&a](beast::error_code ec, tcp::socket s) {
        if (!ec) {
            s.set_option(tcp::no_delay(true));
            std::make_shared<Sitzung>(std::move(s))->Start();
        }
        Nimm(a);
    });
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::cerr << "usage: bench-beast-trivial PORT [THREADS]\n";
        return 2;
    }
    const int threads = argc > 2 ? std::atoi(argv[2]) : 2;
    asio::io_context io(threads);
    tcp::acceptor a(io, {asio::ip::make_address("127.0.0.1"), static_cast<unsigned short>(std::atoi(argv[1]))});
    Nimm(a);
    std::vector<std::thread> pool;
    for (int i = 1; i < threads; ++i) pool.emplace_back([&io] { io.run(); });
    io.run();
    for (auto& t : pool) t.join();
}
