#include "CTrustedProxies.h"

#include <arpa/inet.h>
#include <string.h>

#include <stdexcept>

namespace vlpolicy {

namespace {

struct Parsed
{
    int family = 0;
    unsigned char bytes[16] = {};
};

// An address as written by a peer or a proxy: plain, "[v6]", "[v6]:port" or "v4:port". IPv4
// mapped into IPv6 counts as the IPv4 address.
bool ParseAddress(std::string text, Parsed& out)
{
    const size_t first = text.find_first_not_of(" \t");
    const size_t last = text.find_last_not_of(" \t");
    if (first == std::string::npos || text.size() > 64)
        return false;
    text = text.substr(first, last - first + 1);
    if (text[0] == '[') {
        const size_t close = text.find(']');
        if (close == std::string::npos)
            return false;
        text = text.substr(1, close - 1);
    } else if (text.find(':') == text.rfind(':') && text.find('.') != std::string::npos) {
        text = text.substr(0, text.find(':')); // v4:port
    }
    if (inet_pton(AF_INET, text.c_str(), out.bytes) == 1) {
        out.family = AF_INET;
        return true;
    }
    if (inet_pton(AF_INET6, text.c_str(), out.bytes) != 1)
        return false;
    static const unsigned char kMapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
    if (memcmp(out.bytes, kMapped, sizeof(kMapped)) == 0) {
        memmove(out.bytes, out.bytes + 12, 4);
        memset(out.bytes + 4, 0, 12);
        out.family = AF_INET;
        return true;
    }
    out.family = AF_INET6;
    return true;
}

std::string Canonical(const Parsed& address)
{
    char text[INET6_ADDRSTRLEN] = {};
    inet_ntop(address.family, address.bytes, text, sizeof(text));
    return text;
}

} // namespace

CTrustedProxies::CTrustedProxies(const std::vector<std::string>& entries)
{
    for (const std::string& entry : entries) {
        const size_t slash = entry.find('/');
        Parsed parsed;
        if (!ParseAddress(entry.substr(0, slash), parsed) || entry[0] == '[')
            throw std::invalid_argument("not an address or ADDRESS/PREFIX: " + entry);
        const int bits = parsed.family == AF_INET ? 32 : 128;
        int prefix = bits;
        if (slash != std::string::npos) {
            const std::string digits = entry.substr(slash + 1);
            if (digits.empty() || digits.size() > 3 || digits.find_first_not_of("0123456789") != std::string::npos ||
                std::stoi(digits) > bits)
                throw std::invalid_argument("not an address or ADDRESS/PREFIX: " + entry);
            prefix = std::stoi(digits);
        }
        Network network;
        network.family = parsed.family;
        memcpy(network.bytes, parsed.bytes, sizeof(network.bytes));
        network.prefix = prefix;
        m_networks.push_back(network);
    }
}

bool CTrustedProxies::Contains(const std::string& address) const
{
    Parsed parsed;
    if (!ParseAddress(address, parsed))
        return false;
    for (const Network& network : m_networks) {
        if (network.family != parsed.family)
            continue;
        const int whole = network.prefix / 8, rest = network.prefix % 8;
        if (memcmp(network.bytes, parsed.bytes, static_cast<size_t>(whole)) != 0)
            continue;
        const unsigned mask = rest == 0 ? 0u : (0xffu << (8 - rest)) & 0xffu;
        if (rest == 0 || (network.bytes[whole] & mask) == (parsed.bytes[whole] & mask))
            return true;
    }
    return false;
}

std::string CTrustedProxies::ClientOf(const std::string& peer, const std::string& forwardedFor) const
{
    Parsed parsed;
    std::string client = ParseAddress(peer, parsed) ? Canonical(parsed) : peer;
    if (!Contains(peer))
        return client;
    size_t end = forwardedFor.size();
    while (end > 0) {
        const size_t comma = forwardedFor.rfind(',', end - 1);
        const size_t begin = comma == std::string::npos ? 0 : comma + 1;
        if (!ParseAddress(forwardedFor.substr(begin, end - begin), parsed))
            return client; // the last hop we can vouch for
        client = Canonical(parsed);
        if (!Contains(client))
            return client;
        if (comma == std::string::npos)
            break;
        end = comma;
    }
    return client;
}

} // namespace vlpolicy
