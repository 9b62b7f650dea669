// cpp-httplib with a trivial handler, once with the library's defaults and once set up as the
// service is (TCP_NODELAY, keep-alive count), to weigh it against Boost.Beast on loopback
// (scripts/bench_server.sh). Not part of any program.
//   bench-httplib-trivial PORT [defaults|tuned]
#include <httplib.h>

#include <cstdlib>
#include <iostream>
#include <string>

int main(int argc, char** argv) {
    if (argc < 2) {
        std::cerr << "usage: bench-httplib-trivial PORT [defaults|tuned]\n";
        return 2;
    }
    httplib::Server s;
    if (argc < 3 || std::string(argv[2]) != "defaults") {
        s.set_tcp_nodelay(true);
        s.set_keep_alive_max_count(1000);
        s.set_keep_alive_timeout(5);
    }
    s.Get(".*", [](const httplib::Request&, httplib::Response& r) {
        r.set_content("{\"status\":\"OK\"}", "application/json; charset=utf-8");
    });
    return s.listen("127.0.0.1", std::atoi(argv[1])) ? 0 : 1;
}
