#include "integration/LoopbackHttpServer.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <system_error>
#include <unistd.h>

namespace quorvel::test {

namespace {

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               const auto lower = [](char c) {
                   return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
               };
               return lower(x) == lower(y);
           });
}

std::string trim(std::string_view text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(" \t");
    return std::string(text.substr(first, last - first + 1));
}

std::string reasonPhrase(int status) {
    switch (status) {
    case 100:
        return "Continue";
    case 200:
        return "OK";
    case 201:
        return "Created";
    case 204:
        return "No Content";
    case 301:
        return "Moved Permanently";
    case 302:
        return "Found";
    case 303:
        return "See Other";
    case 304:
        return "Not Modified";
    case 307:
        return "Temporary Redirect";
    case 308:
        return "Permanent Redirect";
    case 400:
        return "Bad Request";
    case 401:
        return "Unauthorized";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 500:
        return "Internal Server Error";
    case 503:
        return "Service Unavailable";
    default:
        return "Status";
    }
}

bool sendAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t sent = ::send(fd, data.data(), data.size(), MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) {
            continue;
        }
        if (sent <= 0) {
            return false;
        }
        data.remove_prefix(static_cast<std::size_t>(sent));
    }
    return true;
}

std::string formatResponse(const ScriptedResponse& response) {
    if (response.raw) {
        return *response.raw;
    }
    std::string out = "HTTP/1.1 " + std::to_string(response.status) + " " +
                      (response.reason.empty() ? reasonPhrase(response.status) : response.reason) +
                      "\r\n";
    bool hasLength = false;
    for (const auto& [name, value] : response.headers) {
        hasLength = hasLength || equalsIgnoringCase(name, "Content-Length");
        out += name + ": " + value + "\r\n";
    }
    const bool bodyless = (response.status >= 100 && response.status < 200) ||
                          response.status == 204 || response.status == 304;
    if (!hasLength && !bodyless) {
        out += "Content-Length: " + std::to_string(response.body.size()) + "\r\n";
    }
    if (response.closeAfter) {
        out += "Connection: close\r\n";
    }
    out += "\r\n";
    if (!bodyless) {
        out += response.body;
    }
    return out;
}

// Parses the head of a request (request line and header fields, without the
// blank line). Returns false when it is malformed.
bool parseHead(std::string_view head, RecordedRequest& request) {
    auto lineEnd = head.find("\r\n");
    const std::string_view requestLine = head.substr(0, lineEnd);
    const auto firstSpace = requestLine.find(' ');
    const auto lastSpace = requestLine.rfind(' ');
    if (firstSpace == std::string_view::npos || lastSpace == firstSpace) {
        return false;
    }
    request.method = std::string(requestLine.substr(0, firstSpace));
    request.target = std::string(requestLine.substr(firstSpace + 1, lastSpace - firstSpace - 1));
    request.version = std::string(requestLine.substr(lastSpace + 1));
    while (lineEnd != std::string_view::npos) {
        const auto start = lineEnd + 2;
        lineEnd = head.find("\r\n", start);
        const std::string_view line = head.substr(
            start, lineEnd == std::string_view::npos ? std::string_view::npos : lineEnd - start);
        if (line.empty()) {
            continue;
        }
        const auto colon = line.find(':');
        if (colon == std::string_view::npos) {
            return false;
        }
        request.headers.emplace_back(std::string(line.substr(0, colon)),
                                     trim(line.substr(colon + 1)));
    }
    return true;
}

} // namespace

std::string RecordedRequest::path() const {
    return target.substr(0, target.find('?'));
}

std::optional<std::string> RecordedRequest::header(std::string_view name) const {
    for (const auto& [fieldName, value] : headers) {
        if (equalsIgnoringCase(fieldName, name)) {
            return value;
        }
    }
    return std::nullopt;
}

ScriptedResponse ScriptedResponse::withStatus(int status, std::string body) {
    ScriptedResponse response;
    response.status = status;
    response.body = std::move(body);
    return response;
}

ScriptedResponse ScriptedResponse::redirect(int status, std::string location) {
    ScriptedResponse response;
    response.status = status;
    response.headers.emplace_back("Location", std::move(location));
    return response;
}

ScriptedResponse ScriptedResponse::neverAnswer() {
    ScriptedResponse response;
    response.kind = Kind::NeverAnswer;
    return response;
}

ScriptedResponse ScriptedResponse::closeWithoutAnswer() {
    ScriptedResponse response;
    response.kind = Kind::CloseWithoutAnswer;
    return response;
}

ScriptedResponse ScriptedResponse::rawBytes(std::string bytes) {
    ScriptedResponse response;
    response.raw = std::move(bytes);
    return response;
}

LoopbackHttpServer::LoopbackHttpServer() : defaultResponse_(ScriptedResponse::withStatus(404)) {
    if (::pipe2(wakeFds_, O_CLOEXEC) != 0) {
        throw std::system_error(errno, std::generic_category(), "pipe2");
    }
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listenFd_ < 0) {
        throw std::system_error(errno, std::generic_category(), "socket");
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof address;
    if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listenFd_, 64) != 0 ||
        ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        const int error = errno;
        ::close(listenFd_);
        throw std::system_error(error, std::generic_category(), "listen on 127.0.0.1");
    }
    port_ = ntohs(address.sin_port);
    acceptThread_ = std::thread([this] { acceptLoop(); });
}

LoopbackHttpServer::~LoopbackHttpServer() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    const char byte = 0;
    [[maybe_unused]] const auto written = ::write(wakeFds_[1], &byte, 1);
    acceptThread_.join();
    // No new connection threads start once the accept loop has ended.
    for (auto& thread : connectionThreads_) {
        thread.join();
    }
    ::close(listenFd_);
    ::close(wakeFds_[0]);
    ::close(wakeFds_[1]);
}

std::string LoopbackHttpServer::baseUrl() const {
    return "http://127.0.0.1:" + std::to_string(port_);
}

std::string LoopbackHttpServer::url(std::string_view pathAndQuery) const {
    return baseUrl() + std::string(pathAndQuery);
}

void LoopbackHttpServer::setHandler(Handler handler) {
    std::lock_guard lock(mutex_);
    handler_ = std::move(handler);
}

void LoopbackHttpServer::enqueue(ScriptedResponse response) {
    std::lock_guard lock(mutex_);
    queue_.push_back(std::move(response));
}

void LoopbackHttpServer::route(std::string path, ScriptedResponse response) {
    std::lock_guard lock(mutex_);
    routes_.insert_or_assign(std::move(path), std::move(response));
}

void LoopbackHttpServer::setDefaultResponse(ScriptedResponse response) {
    std::lock_guard lock(mutex_);
    defaultResponse_ = std::move(response);
}

std::vector<RecordedRequest> LoopbackHttpServer::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

std::size_t LoopbackHttpServer::requestCount() const {
    std::lock_guard lock(mutex_);
    return requests_.size();
}

bool LoopbackHttpServer::waitForRequestCount(std::size_t count,
                                             std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return requests_.size() >= count; });
}

std::uint16_t LoopbackHttpServer::closedPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    // Bound to a free port and closed again: nothing listens there.
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        throw std::system_error(errno, std::generic_category(), "bind on 127.0.0.1");
    }
    ::close(fd);
    return ntohs(address.sin_port);
}

void LoopbackHttpServer::acceptLoop() {
    while (true) {
        pollfd fds[2] = {{listenFd_, POLLIN, 0}, {wakeFds_[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        if (fds[1].revents != 0) {
            return;
        }
        const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            continue;
        }
        std::lock_guard lock(mutex_);
        connectionThreads_.emplace_back([this, fd] { serveConnection(fd); });
    }
}

bool LoopbackHttpServer::sleepUnlessStopping(std::chrono::milliseconds delay) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, delay, [&] { return stopping_; });
}

void LoopbackHttpServer::addToEveryAnswer(std::string name, std::string value) {
    std::lock_guard lock(mutex_);
    everyAnswer_.emplace_back(std::move(name), std::move(value));
}

ScriptedResponse LoopbackHttpServer::answerFor(const RecordedRequest& request) {
    std::unique_lock lock(mutex_);
    if (handler_) {
        // The handler runs without the lock, so it may use the server.
        const Handler handler = handler_;
        lock.unlock();
        if (auto answer = handler(request)) {
            return *answer;
        }
        lock.lock();
    }
    if (!queue_.empty()) {
        ScriptedResponse answer = std::move(queue_.front());
        queue_.pop_front();
        return answer;
    }
    if (const auto route = routes_.find(request.path()); route != routes_.end()) {
        return route->second;
    }
    return defaultResponse_;
}

void LoopbackHttpServer::serveConnection(int fd) {
    std::string buffer;
    // Reads until `ready` says enough is buffered; false when the peer closed
    // the connection or the server stops.
    const auto readUntil = [&](const std::function<bool()>& ready) {
        char chunk[4096];
        while (!ready()) {
            pollfd fds[2] = {{fd, POLLIN, 0}, {wakeFds_[0], POLLIN, 0}};
            if (::poll(fds, 2, -1) < 0) {
                if (errno == EINTR) {
                    continue;
                }
                return false;
            }
            if (fds[1].revents != 0) {
                return false;
            }
            const ssize_t received = ::recv(fd, chunk, sizeof chunk, 0);
            if (received < 0 && errno == EINTR) {
                continue;
            }
            if (received <= 0) {
                return false;
            }
            buffer.append(chunk, static_cast<std::size_t>(received));
        }
        return true;
    };

    while (true) {
        if (!readUntil([&] { return buffer.find("\r\n\r\n") != std::string::npos; })) {
            break;
        }
        const auto headEnd = buffer.find("\r\n\r\n");
        RecordedRequest request;
        if (!parseHead(std::string_view(buffer).substr(0, headEnd), request)) {
            sendAll(fd,
                    "HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
            break;
        }
        buffer.erase(0, headEnd + 4);
        std::size_t bodyLength = 0;
        if (const auto length = request.header("Content-Length")) {
            try {
                bodyLength = std::stoul(*length);
            } catch (const std::exception&) {
                break;
            }
        }
        if (!readUntil([&] { return buffer.size() >= bodyLength; })) {
            break;
        }
        request.body = buffer.substr(0, bodyLength);
        buffer.erase(0, bodyLength);
        {
            std::lock_guard lock(mutex_);
            requests_.push_back(request);
        }
        changed_.notify_all();

        ScriptedResponse response = answerFor(request);
        {
            std::lock_guard lock(mutex_);
            response.headers.insert(response.headers.end(), everyAnswer_.begin(),
                                    everyAnswer_.end());
        }
        if (response.delay.count() > 0 && sleepUnlessStopping(response.delay)) {
            break;
        }
        if (response.kind == ScriptedResponse::Kind::NeverAnswer) {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [&] { return stopping_; });
            break;
        }
        if (response.kind == ScriptedResponse::Kind::CloseWithoutAnswer) {
            break;
        }
        const bool close = response.closeAfter || response.raw.has_value() ||
                           request.version == "HTTP/1.0" ||
                           equalsIgnoringCase(request.header("Connection").value_or(""), "close");
        if (!sendAll(fd, formatResponse(response)) || close) {
            break;
        }
    }
    ::shutdown(fd, SHUT_RDWR);
    ::close(fd);
}

} // namespace quorvel::test
