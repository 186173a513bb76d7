// The head of an HTTP/1.1 request, parsed strictly from the bytes a connection has received: the
// endpoint serves a few fixed pages to scrapers and scripts, so whatever a well-behaved client
// would not send is refused rather than guessed at.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace torvane::watch::http {

struct Request {
    std::string method;  // as sent: methods are case-sensitive
    std::string path;    // the target's path, without its query
    int minor = 1;       // HTTP/1.<minor>
    bool keepAlive = true;
    // Content-Length above 0 or any Transfer-Encoding: a body this server does not read.
    bool hasBody = false;
};

enum class Parse {
    kNeedMore,  // the head is not whole yet
    kRequest,   // `request` and `consumed` are set
    kError,     // `status` says why; the connection is closed after the answer
};

struct ParseResult {
    Parse result = Parse::kNeedMore;
    Request request;
    std::size_t consumed = 0;  // the bytes of the head, blank line included
    int status = 0;            // 400, 431 or 505 with kError
};

// The request whose head starts `bytes`. A head (request line, header lines and the blank line;
// lines may end in CRLF or LF alone) longer than `maxHead` bytes, or with more than `maxHeaders`
// header lines, is refused with 431. `scanned` keeps how far an earlier call looked for the end
// of the head in the same bytes, so that a client sending a byte at a time costs no rescans;
// start it at 0 and reset it when the head is consumed.
ParseResult ParseRequest(std::string_view bytes, std::size_t maxHead, std::size_t maxHeaders,
                         std::size_t& scanned);

}  // namespace torvane::watch::http
