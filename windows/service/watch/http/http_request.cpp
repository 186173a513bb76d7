#include "watch/http/http_request.h"

#include <algorithm>
#include <cstdint>

namespace torvane::watch::http {

namespace {

bool IsTokenChar(unsigned char c) {
    if ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) return true;
    return std::string_view("!#$%&'*+-.^_`|~").find(static_cast<char>(c)) != std::string_view::npos;
}

bool IsToken(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
        return IsTokenChar(static_cast<unsigned char>(c));
    });
}

// A field value's bytes: visible characters, blanks and obs-text, never a control character.
bool IsValueChar(unsigned char c) {
    return c == ' ' || c == '\t' || (c >= 0x21 && c != 0x7F);
}

std::string_view TrimBlanks(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

bool SameLetters(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

ParseResult Error(int status) {
    ParseResult r;
    r.result = Parse::kError;
    r.status = status;
    return r;
}

// The path of a request target: origin-form ("/metrics?x") or absolute-form
// ("http://host:port/metrics"); "*" (OPTIONS) stays as it is. False for anything else.
bool TargetPath(std::string_view target, std::string& path) {
    if (target.empty()) return false;
    if (std::any_of(target.begin(), target.end(), [](char c) {
            const auto u = static_cast<unsigned char>(c);
            return u < 0x21 || u > 0x7E;
        }))
        return false;
    if (target == "*") {
        path = std::string(target);
        return true;
    }
    if (target.front() != '/') {
        const auto scheme = target.find("://");
        if (scheme == std::string_view::npos || !(SameLetters(target.substr(0, scheme), "http") ||
                                                  SameLetters(target.substr(0, scheme), "https")))
            return false;
        const auto slash = target.find('/', scheme + 3);
        const auto query = target.find('?', scheme + 3);
        if (slash == std::string_view::npos || (query != std::string_view::npos && query < slash))
            target = "/";  // "http://host" and "http://host?x" name the root
        else
            target = target.substr(slash);
    }
    path = std::string(target.substr(0, target.find('?')));
    return true;
}

// "HTTP/1.1": the minor version, -1 when malformed, -2 for another major version.
int MinorVersion(std::string_view version) {
    if (version.size() != 8 || version.substr(0, 5) != "HTTP/" || version[6] != '.') return -1;
    const char major = version[5];
    const char minor = version[7];
    if (major < '0' || major > '9' || minor < '0' || minor > '9') return -1;
    if (major != '1') return -2;
    return minor - '0';
}

bool ParseRequestLine(std::string_view line, Request& request, int& status) {
    status = 400;
    const auto first = line.find(' ');
    if (first == std::string_view::npos) return false;
    const auto second = line.find(' ', first + 1);
    if (second == std::string_view::npos || line.find(' ', second + 1) != std::string_view::npos)
        return false;
    const auto method = line.substr(0, first);
    const auto target = line.substr(first + 1, second - first - 1);
    const auto version = line.substr(second + 1);
    if (!IsToken(method) || !TargetPath(target, request.path)) return false;
    const int minor = MinorVersion(version);
    if (minor == -2) status = 505;
    if (minor < 0) return false;
    request.method = std::string(method);
    request.minor = minor == 0 ? 0 : 1;
    return true;
}

}  // namespace

ParseResult ParseRequest(std::string_view bytes, std::size_t maxHead, std::size_t maxHeaders,
                         std::size_t& scanned) {
    // Blank lines before a request line are ignored, as a client may send one after a body.
    std::size_t start = 0;
    while (start < bytes.size() && start < maxHead) {
        if (bytes[start] == '\n') {
            ++start;
        } else if (bytes[start] == '\r') {
            if (start + 1 == bytes.size()) break;
            if (bytes[start + 1] != '\n') return Error(400);
            start += 2;
        } else {
            break;
        }
    }
    if (start >= maxHead) return Error(431);
    // The end of the head: a line feed that ends an empty line.
    const std::size_t limit = std::min(bytes.size(), maxHead);
    std::size_t end = 0;
    std::size_t i = std::max(scanned, start + 1);
    for (; i < limit; ++i) {
        if (bytes[i] != '\n') continue;
        if (bytes[i - 1] == '\n' ||
            (bytes[i - 1] == '\r' && i >= start + 2 && bytes[i - 2] == '\n')) {
            end = i + 1;
            break;
        }
    }
    if (end == 0) {
        scanned = i;
        return bytes.size() >= maxHead ? Error(431) : ParseResult{};
    }
    scanned = 0;

    ParseResult r;
    Request& request = r.request;
    std::string_view head = bytes.substr(start, end - start);
    bool requestLine = true;
    std::size_t headers = 0;
    int hosts = 0;
    bool lengthSeen = false;
    std::string_view length;
    bool chunks = false;
    bool close = false;
    bool keepAlive = false;
    while (!head.empty()) {
        const auto lf = head.find('\n');
        std::string_view line = head.substr(0, lf);
        head.remove_prefix(lf + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.find('\r') != std::string_view::npos) return Error(400);  // a bare CR
        if (line.empty()) break;  // the blank line that ends the head
        if (requestLine) {
            int status = 0;
            if (!ParseRequestLine(line, request, status)) return Error(status);
            requestLine = false;
            continue;
        }
        if (++headers > maxHeaders) return Error(431);
        // No folded lines (obsolete) and no blank before the colon.
        const auto colon = line.find(':');
        if (colon == std::string_view::npos || !IsToken(line.substr(0, colon))) return Error(400);
        const auto name = line.substr(0, colon);
        const auto raw = line.substr(colon + 1);
        if (!std::all_of(raw.begin(), raw.end(),
                         [](char c) { return IsValueChar(static_cast<unsigned char>(c)); }))
            return Error(400);
        const auto value = TrimBlanks(raw);
        if (SameLetters(name, "host")) {
            ++hosts;
        } else if (SameLetters(name, "content-length")) {
            // One length, of digits only: two that differ are the mark of request smuggling.
            if (value.empty() || value.size() > 18 ||
                !std::all_of(value.begin(), value.end(),
                             [](char c) { return c >= '0' && c <= '9'; }))
                return Error(400);
            if (lengthSeen && value != length) return Error(400);
            lengthSeen = true;
            length = value;
        } else if (SameLetters(name, "transfer-encoding")) {
            chunks = true;
        } else if (SameLetters(name, "connection")) {
            std::string_view list = value;
            while (!list.empty()) {
                const auto comma = list.find(',');
                const auto option = TrimBlanks(list.substr(0, comma));
                if (SameLetters(option, "close")) close = true;
                if (SameLetters(option, "keep-alive")) keepAlive = true;
                list.remove_prefix(comma == std::string_view::npos ? list.size() : comma + 1);
            }
        }
    }
    if (requestLine) return Error(400);
    // HTTP/1.1 names its host once; HTTP/1.0 may leave it out, but not name two.
    if (hosts > 1 || (request.minor == 1 && hosts == 0)) return Error(400);
    if (chunks && lengthSeen) return Error(400);
    request.hasBody =
        chunks || (lengthSeen && length.find_first_not_of('0') != std::string_view::npos);
    request.keepAlive = !close && (request.minor == 1 || keepAlive);
    r.result = Parse::kRequest;
    r.consumed = end;
    return r;
}

}  // namespace torvane::watch::http
