#include "CPeerGate.h"

#include <unistd.h>

namespace vlpolicy {

CPeerGate::CPeerGate(size_t serving, size_t waiting) : m_nServing(serving < 1 ? 1 : serving), m_nWaiting(waiting)
{
}

CPeerGate::~CPeerGate()
{
    for (auto& entry : m_peers)
        for (int socket : entry.second.waiting)
            close(socket);
}

bool CPeerGate::Admit(const std::string& peer, int socket)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    Peer& entry = m_peers[peer];
    if (entry.serving < m_nServing) {
        ++entry.serving;
        return true;
    }
    if (entry.waiting.size() < m_nWaiting)
        entry.waiting.push_back(socket);
    else
        close(socket);
    return false;
}

int CPeerGate::Release(const std::string& peer)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto found = m_peers.find(peer);
    if (found == m_peers.end())
        return -1;
    Peer& entry = found->second;
    if (!entry.waiting.empty()) {
        const int next = entry.waiting.front();
        entry.waiting.pop_front();
        return next;
    }
    if (--entry.serving == 0)
        m_peers.erase(found);
    return -1;
}

bool CPeerGate::HasWaiting(const std::string& peer)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto found = m_peers.find(peer);
    return found != m_peers.end() && !found->second.waiting.empty();
}

} // namespace vlpolicy
