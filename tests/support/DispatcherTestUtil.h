// DispatcherTestUtil.h - building reply records and reading requests for the dispatcher's tests.
#pragma once

#include <string.h>

#include <string>
#include <vector>

#include "ScriptedHttpServer.h"
#include "VLAgtClient.h"

namespace vlagt::test {

// The bytes of a record, as they go on the wire.
template <typename T>
std::string BytesOf(const T& record)
{
    return std::string(reinterpret_cast<const char*>(&record), sizeof(T));
}

// A zero-filled fixed-width field holding `text`.
inline std::string Field(const std::string& text, size_t width)
{
    std::string field = text.substr(0, width);
    field.resize(width, '\0');
    return field;
}

// A binary reply: the five status characters, then the record.
inline ScriptedReply BinaryReply(const std::string& status, const std::string& record = std::string())
{
    return ScriptedReply::WithBody(status + record);
}

template <size_t N>
void PutText(char (&field)[N], const std::string& text)
{
    memset(field, 0, N);
    memcpy(field, text.data(), text.size() < N ? text.size() : N);
}

// Lines that the dispatcher itself writes (the transport's lines left out).
inline std::vector<std::string> DispatcherLines(const std::vector<std::string>& lines)
{
    std::vector<std::string> picked;
    for (const std::string& line : lines)
        if (line.rfind("[VLAgentClient]", 0) == 0 || line.rfind("[CDRMLogin]", 0) == 0 ||
            line.rfind("Signal [", 0) == 0 || line.rfind("[SIG_REQ_WEB_LOGIN]", 0) == 0)
            picked.push_back(line);
    return picked;
}

} // namespace vlagt::test
