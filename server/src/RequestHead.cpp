#include "RequestHead.h"

#include <strings.h>

namespace vlpolicy {

namespace {

bool IsTokenChar(unsigned char c)
{
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))
        return true;
    for (const char* p = "!#$%&'*+-.^_`|~"; *p != '\0'; ++p)
        if (c == static_cast<unsigned char>(*p))
            return true;
    return false;
}

std::string Trimmed(const std::string& text)
{
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return std::string();
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

RequestHead Refused(int status)
{
    RequestHead head;
    head.status = status;
    return head;
}

} // namespace

RequestHead ParseRequestHead(const std::string& input, const HttpLimits& limits)
{
    // Blank lines before a request are passed over (some clients send one after a body).
    size_t start = 0;
    while (input.compare(start, 2, "\r\n") == 0)
        start += 2;
    const size_t end = input.find("\r\n\r\n", start);
    if (end == std::string::npos || end + 4 > limits.headBytes + start) {
        if (input.size() - start >= limits.headBytes)
            return Refused(431);
        return RequestHead();
    }

    RequestHead head;
    bool hasLength = false;
    std::string method;
    size_t fields = 0;
    for (size_t lineStart = start; lineStart < end + 2;) {
        const size_t lineEnd = input.find("\r\n", lineStart);
        const std::string line = input.substr(lineStart, lineEnd - lineStart);
        lineStart = lineEnd + 2;
        for (char c : line)
            if (c == '\r' || c == '\n' || c == '\0')
                return Refused(400);
        if (method.empty()) { // the request line
            method = line.substr(0, line.find(' '));
            if (method.empty() || method.size() == line.size())
                return Refused(400);
            head.forward = line + "\r\n";
            continue;
        }
        if (++fields > limits.headerFields)
            return Refused(431);
        const size_t colon = line.find(':');
        if (colon == 0 || colon == std::string::npos)
            return Refused(400);
        for (size_t i = 0; i < colon; ++i)
            if (!IsTokenChar(static_cast<unsigned char>(line[i])))
                return Refused(400); // also a folded line and white space before the colon
        const std::string name = line.substr(0, colon);
        const std::string value = Trimmed(line.substr(colon + 1));
        for (char c : value)
            if ((static_cast<unsigned char>(c) < 0x20 && c != '\t') || c == 0x7f)
                return Refused(400);
        if (strcasecmp(name.c_str(), "Transfer-Encoding") == 0)
            return Refused(411);
        if (strcasecmp(name.c_str(), "Content-Encoding") == 0 && strcasecmp(value.c_str(), "identity") != 0)
            return Refused(415);
        if (strcasecmp(name.c_str(), "Content-Length") == 0) {
            if (hasLength || value.empty() || value.find_first_not_of("0123456789") != std::string::npos)
                return Refused(400);
            hasLength = true;
            const size_t digits = value.find_first_not_of('0');
            if (digits != std::string::npos && value.size() - digits > 12)
                return Refused(413);
            head.contentLength = digits == std::string::npos ? 0 : std::stoull(value.substr(digits));
            if (head.contentLength > limits.bodyBytes)
                return Refused(413);
        }
        if (strcasecmp(name.c_str(), "Expect") == 0) {
            head.expectContinue = strcasecmp(value.c_str(), "100-continue") == 0;
            continue; // answered here, not by the library
        }
        head.forward += line + "\r\n";
    }
    if (!hasLength && (method == "POST" || method == "PUT" || method == "PATCH"))
        return Refused(411);
    head.forward += "\r\n";
    head.length = end + 4;
    return head;
}

const char* ReasonOf(int status)
{
    switch (status) {
    case 400: return "Bad Request";
    case 408: return "Request Timeout";
    case 411: return "Length Required";
    case 413: return "Content Too Large";
    case 415: return "Unsupported Media Type";
    case 431: return "Request Header Fields Too Large";
    case 503: return "Service Unavailable";
    default: return "";
    }
}

} // namespace vlpolicy
