// CPeerGate.h - each peer's share of the workers: a peer (one client address) is served on at
// most a set number of connections at once. A connection over that share waits here, holding a
// socket but no worker, until one of the peer's own connections ends; past a second bound the
// connection is closed at once.
#pragma once

#include <stddef.h>

#include <deque>
#include <map>
#include <mutex>
#include <string>

namespace vlpolicy {

class CPeerGate
{
public:
    CPeerGate(size_t serving, size_t waiting);
    ~CPeerGate(); // closes the sockets still waiting
    CPeerGate(const CPeerGate&) = delete;
    CPeerGate& operator=(const CPeerGate&) = delete;

    // True when socket may be served now; otherwise the gate has taken it (to wait, or closed it).
    bool Admit(const std::string& peer, int socket);
    // Ends one of peer's connections. Returns a waiting socket of the same peer that takes its
    // place (to be served now), or -1.
    int Release(const std::string& peer);
    // True while connections of peer wait for a place.
    bool HasWaiting(const std::string& peer);

private:
    struct Peer
    {
        size_t serving = 0;
        std::deque<int> waiting;
    };

    const size_t m_nServing;
    const size_t m_nWaiting;
    std::mutex m_mutex;
    std::map<std::string, Peer> m_peers;
};

} // namespace vlpolicy
