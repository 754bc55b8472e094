// CTrustedProxies.h - which peers may say who the client is. Behind a load balancer every exchange
// arrives from the balancer's address; the address the server keys logins by is then the one the
// balancer puts into X-Forwarded-For, believed only when the peer itself is a configured proxy.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

namespace vlpolicy {

class CTrustedProxies
{
public:
    CTrustedProxies() = default;
    // Each entry an IPv4 or IPv6 address, or a network ADDRESS/PREFIX; throws std::invalid_argument
    // naming the first entry that is neither.
    explicit CTrustedProxies(const std::vector<std::string>& entries);

    bool Empty() const { return m_networks.empty(); }
    // True when address (as the peer's address is written) lies in one of the networks.
    bool Contains(const std::string& address) const;

    // The client of an exchange: the peer's own address unless the peer is trusted; then, walking
    // X-Forwarded-For (its headers joined in order, "," between) from the right, the first address
    // that is not a trusted proxy, or the leftmost when all are. An entry that is not an address
    // ends the walk at the last trusted hop. Addresses come out in their canonical text form.
    std::string ClientOf(const std::string& peer, const std::string& forwardedFor) const;

private:
    struct Network
    {
        int family = 0;
        unsigned char bytes[16] = {};
        int prefix = 0;
    };
    std::vector<Network> m_networks;
};

} // namespace vlpolicy
