// A tile server for the map's tests: HTTP/1.1 on a local socket, in a
// thread of its own.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vgps::test {

// A one-by-one red PNG.
inline const unsigned char kTilePng[] = {
    0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a, 0x00, 0x00, 0x00, 0x0d, 0x49, 0x48, 0x44, 0x52, 0x00, 0x00,
    0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x08, 0x02, 0x00, 0x00, 0x00, 0x90, 0x77, 0x53, 0xde, 0x00, 0x00, 0x00,
    0x0c, 0x49, 0x44, 0x41, 0x54, 0x78, 0x9c, 0x63, 0xf8, 0xcf, 0xc0, 0x00, 0x00, 0x03, 0x01, 0x01, 0x00, 0xc9,
    0xfe, 0x92, 0xef, 0x00, 0x00, 0x00, 0x00, 0x49, 0x45, 0x4e, 0x44, 0xae, 0x42, 0x60, 0x82};

// An HTTP/1.1 server on 127.0.0.1 that answers GET /<z>/<x>/<y>.png with
// the PNG (and 404 for "/0/0/0.png") and remembers each request's head.
class TileServer {
public:
    TileServer() {
        listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        socklen_t len = sizeof addr;
        getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &len);
        port_ = ntohs(addr.sin_port);
        listen(listener_, 8);
        thread_ = std::thread([this] { serve(); });
    }
    ~TileServer() {
        stop_ = true;
        shutdown(listener_, SHUT_RDWR);
        thread_.join();
        close(listener_);
        {
            // Clients may keep their connections open: they are cut.
            std::lock_guard<std::mutex> lock(mutex_);
            for (int c : clients_) shutdown(c, SHUT_RDWR);
        }
        for (auto& t : connections_) t.join();
        for (int c : clients_) close(c);
    }
    std::string urlTemplate() const { return "http://127.0.0.1:" + std::to_string(port_) + "/{z}/{x}/{y}.png"; }
    std::vector<std::string> requests() {
        std::lock_guard<std::mutex> lock(mutex_);
        return requests_;
    }

private:
    void serve() {
        while (!stop_) {
            const int c = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (c < 0) return;
            std::lock_guard<std::mutex> lock(mutex_);
            clients_.push_back(c);
            connections_.emplace_back([this, c] { answer(c); });
        }
    }

    // One connection: requests one after the other until the client goes.
    void answer(int c) {
        std::string buffer;
        char chunk[4096];
        for (;;) {
            const size_t end = buffer.find("\r\n\r\n");
            if (end != std::string::npos) {
                const std::string head = buffer.substr(0, end);
                buffer.erase(0, end + 4);
                {
                    std::lock_guard<std::mutex> lock(mutex_);
                    requests_.push_back(head);
                }
                const bool missing = head.rfind("GET /0/0/0.png", 0) == 0;
                const std::string reply =
                    missing ? "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n"
                            : "HTTP/1.1 200 OK\r\nContent-Type: image/png\r\nETag: \"t1\"\r\nContent-Length: " +
                                  std::to_string(sizeof kTilePng) + "\r\n\r\n" +
                                  std::string(reinterpret_cast<const char*>(kTilePng), sizeof kTilePng);
                if (send(c, reply.data(), reply.size(), MSG_NOSIGNAL) < 0) break;
                continue;
            }
            const ssize_t n = recv(c, chunk, sizeof chunk, 0);
            if (n <= 0) break;
            buffer.append(chunk, size_t(n));
        }
    }

    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
    std::mutex mutex_;
    std::vector<int> clients_;  // closed when the server goes
    std::vector<std::thread> connections_;
    std::vector<std::string> requests_;
};

}  // namespace vgps::test
