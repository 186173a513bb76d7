#include <gtest/gtest.h>

#include <string>

#include "watch/http/http_request.h"

namespace torvane::watch::http {
namespace {

constexpr std::size_t kHead = 8 * 1024;
constexpr std::size_t kHeaders = 64;

ParseResult Once(const std::string& bytes, std::size_t maxHead = kHead,
                 std::size_t maxHeaders = kHeaders) {
    std::size_t scanned = 0;
    return ParseRequest(bytes, maxHead, maxHeaders, scanned);
}

int ErrorOf(const std::string& bytes) {
    const auto r = Once(bytes);
    return r.result == Parse::kError ? r.status : 0;
}

TEST(HttpRequest, ASimpleGet) {
    const std::string text = "GET /metrics HTTP/1.1\r\nHost: localhost:9270\r\nAccept: */*\r\n\r\n";
    const auto r = Once(text);
    ASSERT_EQ(r.result, Parse::kRequest);
    EXPECT_EQ(r.consumed, text.size());
    EXPECT_EQ(r.request.method, "GET");
    EXPECT_EQ(r.request.path, "/metrics");
    EXPECT_EQ(r.request.minor, 1);
    EXPECT_TRUE(r.request.keepAlive);
    EXPECT_FALSE(r.request.hasBody);
}

TEST(HttpRequest, LinesMayEndInLineFeedsAlone) {
    const std::string text = "HEAD /status.json HTTP/1.1\nHost: x\n\n";
    const auto r = Once(text);
    ASSERT_EQ(r.result, Parse::kRequest);
    EXPECT_EQ(r.consumed, text.size());
    EXPECT_EQ(r.request.method, "HEAD");
    EXPECT_EQ(r.request.path, "/status.json");
    // Mixed, too.
    EXPECT_EQ(Once("GET / HTTP/1.1\r\nHost: x\n\r\n").result, Parse::kRequest);
}

TEST(HttpRequest, AHeadArrivingAByteAtATimeIsWholeOnlyAtItsLastByte) {
    for (const std::string& text : {std::string("GET /metrics HTTP/1.1\r\nHost: a\r\nX: y\r\n\r\n"),
                                    std::string("GET / HTTP/1.0\n\n")}) {
        std::string got;
        std::size_t scanned = 0;
        for (std::size_t i = 0; i < text.size(); ++i) {
            got += text[i];
            const auto r = ParseRequest(got, kHead, kHeaders, scanned);
            if (i + 1 < text.size()) {
                ASSERT_EQ(r.result, Parse::kNeedMore) << "at byte " << i;
                EXPECT_LE(scanned, got.size());
            } else {
                ASSERT_EQ(r.result, Parse::kRequest);
                EXPECT_EQ(r.consumed, text.size());
            }
        }
    }
}

TEST(HttpRequest, PipelinedRequestsAreTakenOneAfterTheOther) {
    const std::string first = "GET /metrics HTTP/1.1\r\nHost: a\r\n\r\n";
    const std::string second = "HEAD /status.json HTTP/1.1\r\nHost: a\r\nConnection: close\r\n\r\n";
    const std::string third = "GET / HTTP/1.1\r\nHo";
    std::string bytes = first + second + third;
    auto r = Once(bytes);
    ASSERT_EQ(r.result, Parse::kRequest);
    EXPECT_EQ(r.consumed, first.size());
    EXPECT_EQ(r.request.path, "/metrics");
    bytes.erase(0, r.consumed);
    r = Once(bytes);
    ASSERT_EQ(r.result, Parse::kRequest);
    EXPECT_EQ(r.consumed, second.size());
    EXPECT_EQ(r.request.method, "HEAD");
    EXPECT_FALSE(r.request.keepAlive);
    bytes.erase(0, r.consumed);
    EXPECT_EQ(Once(bytes).result, Parse::kNeedMore);
}

TEST(HttpRequest, BlankLinesBeforeTheRequestLineAreSkipped) {
    const std::string text = "\r\n\nGET / HTTP/1.1\r\nHost: a\r\n\r\n";
    const auto r = Once(text);
    ASSERT_EQ(r.result, Parse::kRequest);
    EXPECT_EQ(r.consumed, text.size());
    EXPECT_EQ(Once("\r\n").result, Parse::kNeedMore);
    EXPECT_EQ(Once("\r").result, Parse::kNeedMore);
    EXPECT_EQ(ErrorOf("\rX"), 400);
}

TEST(HttpRequest, AHeadUpToTheLimitIsTakenAndOneByteMoreIsRefusedWith431) {
    const std::string start = "GET / HTTP/1.1\r\nHost: a\r\nX-Fill: ";
    const std::string end = "\r\n\r\n";
    const std::string exact = start + std::string(kHead - start.size() - end.size(), 'f') + end;
    ASSERT_EQ(exact.size(), kHead);
    EXPECT_EQ(Once(exact).result, Parse::kRequest);
    const std::string over = start + std::string(kHead - start.size() - end.size() + 1, 'f') + end;
    EXPECT_EQ(ErrorOf(over), 431);
    // Unfinished: more may come below the limit, but not at it.
    EXPECT_EQ(Once(exact.substr(0, kHead - 1)).result, Parse::kNeedMore);
    EXPECT_EQ(ErrorOf(over.substr(0, kHead)), 431);
    EXPECT_EQ(ErrorOf(std::string(kHead, '\n')), 431);  // blank lines count too
}

TEST(HttpRequest, TooManyHeaderLinesAreRefusedWith431) {
    std::string text = "GET / HTTP/1.1\r\nHost: a\r\n";
    for (std::size_t i = 1; i < kHeaders; ++i) text += "X-" + std::to_string(i) + ": v\r\n";
    EXPECT_EQ(Once(text + "\r\n").result, Parse::kRequest);
    EXPECT_EQ(ErrorOf(text + "X-last: v\r\n\r\n"), 431);
}

TEST(HttpRequest, AnyMethodTokenIsParsedAndKeptAsSent) {
    for (const char* method : {"POST", "PUT", "DELETE", "OPTIONS", "get", "BREW"}) {
        const auto r = Once(std::string(method) + " / HTTP/1.1\r\nHost: a\r\n\r\n");
        ASSERT_EQ(r.result, Parse::kRequest) << method;
        EXPECT_EQ(r.request.method, method);
    }
    EXPECT_EQ(ErrorOf("G(T / HTTP/1.1\r\nHost: a\r\n\r\n"), 400);
}

TEST(HttpRequest, MalformedHeadsAreRefusedWith400) {
    using namespace std::string_literals;
    const std::string bad[] = {
        "GET / HTTP/1.1\r\n\r\n",                         // no Host
        "GET / HTTP/1.1\r\nHost: a\r\nHost: b\r\n\r\n",   // two
        "GET / HTTP/1.0\r\nHost: a\r\nHost: a\r\n\r\n",   // two, 1.0 too
        "GET  / HTTP/1.1\r\nHost: a\r\n\r\n",             // two blanks
        "GET / HTTP/1.1 \r\nHost: a\r\n\r\n",             // a blank after the version
        "GET /\r\nHost: a\r\n\r\n",                       // no version (HTTP/0.9)
        "GET / HTTP/1\r\nHost: a\r\n\r\n",                // half a version
        "GET / http/1.1\r\nHost: a\r\n\r\n",              // in lower case
        "GET / HTTP/1.x\r\nHost: a\r\n\r\n",              // not a digit
        "GET metrics HTTP/1.1\r\nHost: a\r\n\r\n",        // not a path
        "GET ftp://a/ HTTP/1.1\r\nHost: a\r\n\r\n",       // another scheme
        "GET /a\x01 HTTP/1.1\r\nHost: a\r\n\r\n",         // a control in the target
        "GET / HTTP/1.1\r\nHost : a\r\n\r\n",             // a blank before the colon
        "GET / HTTP/1.1\r\nHost: a\r\n folded\r\n\r\n",   // an obsolete folded line
        "GET / HTTP/1.1\r\nHost: a\r\nNo colon\r\n\r\n",  // not a header
        "GET / HTTP/1.1\r\nHost: a\r\n: empty\r\n\r\n",   // no name
        "GET / HTTP/1.1\r\nHost: a\rX: b\r\n\r\n",        // a bare CR
        "GET / HTTP/1.1\r\r\nHost: a\r\n\r\n",            // a CR before the CRLF
        "GET / HTTP/1.1\r\nHost: a\r\nX: a\x7f\r\n\r\n",  // DEL in a value
        "GET / HTTP/1.1\r\nHost: a\r\nX: a\0b\r\n\r\n"s,  // NUL in a value
        "GET / HTTP/1.1\r\nHost: a\r\nContent-Length: x\r\n\r\n",
        "GET / HTTP/1.1\r\nHost: a\r\nContent-Length: -1\r\n\r\n",
        "GET / HTTP/1.1\r\nHost: a\r\nContent-Length: 1, 1\r\n\r\n",
        "GET / HTTP/1.1\r\nHost: a\r\nContent-Length: 1\r\nContent-Length: 2\r\n\r\n",
        "GET / HTTP/1.1\r\nHost: a\r\nContent-Length: 9999999999999999999\r\n\r\n",
        "GET / HTTP/1.1\r\nHost: a\r\nContent-Length: 3\r\nTransfer-Encoding: chunked\r\n\r\n",
    };
    for (std::size_t i = 0; i < std::size(bad); ++i) {
        EXPECT_EQ(ErrorOf(bad[i]), 400) << i << ": " << bad[i];
    }
}

TEST(HttpRequest, AnotherMajorVersionIsRefusedWith505) {
    EXPECT_EQ(ErrorOf("GET / HTTP/2.0\r\nHost: a\r\n\r\n"), 505);
    EXPECT_EQ(ErrorOf("GET / HTTP/0.9\r\nHost: a\r\n\r\n"), 505);
    // A later 1.x is served as 1.1.
    const auto r = Once("GET / HTTP/1.2\r\nHost: a\r\n\r\n");
    ASSERT_EQ(r.result, Parse::kRequest);
    EXPECT_EQ(r.request.minor, 1);
}

TEST(HttpRequest, KeepAliveFollowsTheVersionAndTheConnectionHeader) {
    auto keep = [](const std::string& text) {
        const auto r = Once(text);
        EXPECT_EQ(r.result, Parse::kRequest) << text;
        return r.request.keepAlive;
    };
    EXPECT_TRUE(keep("GET / HTTP/1.1\r\nHost: a\r\n\r\n"));
    EXPECT_FALSE(keep("GET / HTTP/1.1\r\nHost: a\r\nConnection: close\r\n\r\n"));
    EXPECT_FALSE(keep("GET / HTTP/1.1\r\nHost: a\r\nconnection:  Upgrade, CLOSE \r\n\r\n"));
    EXPECT_FALSE(keep("GET / HTTP/1.0\r\n\r\n"));
    EXPECT_TRUE(keep("GET / HTTP/1.0\r\nConnection: Keep-Alive\r\n\r\n"));
    EXPECT_FALSE(keep("GET / HTTP/1.0\r\nConnection: keep-alive, close\r\n\r\n"));
    EXPECT_FALSE(keep("GET / HTTP/1.0\r\nConnection: keep-alive-not\r\n\r\n"));
}

TEST(HttpRequest, ABodyIsNoticed) {
    auto body = [](const std::string& headers) {
        const auto r = Once("GET / HTTP/1.1\r\nHost: a\r\n" + headers + "\r\n");
        EXPECT_EQ(r.result, Parse::kRequest) << headers;
        return r.request.hasBody;
    };
    EXPECT_FALSE(body(""));
    EXPECT_FALSE(body("Content-Length: 0\r\n"));
    EXPECT_FALSE(body("Content-Length: 000\r\n"));
    EXPECT_TRUE(body("Content-Length: 5\r\n"));
    EXPECT_TRUE(body("Content-Length: 5\r\nContent-Length: 5\r\n"));
    EXPECT_TRUE(body("Transfer-Encoding: chunked\r\n"));
    EXPECT_TRUE(body("transfer-encoding: gzip, chunked\r\n"));
}

TEST(HttpRequest, TheTargetsPathIsTakenWithoutItsQuery) {
    auto path = [](const std::string& target) {
        const auto r = Once("GET " + target + " HTTP/1.1\r\nHost: a\r\n\r\n");
        EXPECT_EQ(r.result, Parse::kRequest) << target;
        return r.request.path;
    };
    EXPECT_EQ(path("/metrics?name[]=up"), "/metrics");
    EXPECT_EQ(path("/"), "/");
    EXPECT_EQ(path("/%6detrics"), "/%6detrics");  // not decoded: no such page
    EXPECT_EQ(path("http://127.0.0.1:9270/metrics?x"), "/metrics");
    EXPECT_EQ(path("HTTP://host"), "/");
    EXPECT_EQ(path("http://host?x"), "/");
    EXPECT_EQ(path("*"), "*");
}

TEST(HttpRequest, HeaderValuesMayCarryBlanksAndEightBitBytes) {
    const auto r = Once("GET / HTTP/1.1\r\nHost:a\r\nUser-Agent: \t curl/7 \xc3\xa9 \t\r\n\r\n");
    EXPECT_EQ(r.result, Parse::kRequest);
}

}  // namespace
}  // namespace torvane::watch::http
