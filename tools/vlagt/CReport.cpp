#include "CReport.h"

#include <stdio.h>

#include "ToolSupport.h"

namespace vlagt::tool {

void CReport::Add(const char* key, const char* label, const std::string& value)
{
    m_object[key] = value;
    m_rows.emplace_back(label, value);
}

void CReport::Add(const char* key, const char* label, int64_t value)
{
    m_object[key] = value;
    m_rows.emplace_back(label, std::to_string(value));
}

void CReport::AddFlag(const char* key, const char* label, bool value)
{
    m_object[key] = value;
    m_rows.emplace_back(label, value ? "yes" : "no");
}

void CReport::AddJson(const char* key, nlohmann::ordered_json value)
{
    m_object[key] = std::move(value);
}

void CReport::AddStatus(unsigned long status)
{
    m_object["status"] = status;
    m_object["status_text"] = StatusWords(status);
    m_rows.emplace_back("status", std::to_string(status) + " (" + StatusWords(status) + ")");
}

void CReport::AddElapsed(unsigned long ms)
{
    m_object["elapsed_ms"] = ms;
    m_rows.emplace_back("took", std::to_string(ms) + " ms");
}

void CReport::Say(const std::string& message)
{
    m_messages.push_back(message);
}

void CReport::Fail(const std::string& reason)
{
    m_errors.push_back(reason);
}

int CReport::Finish(int exit)
{
    if (m_json) {
        nlohmann::ordered_json out = nlohmann::ordered_json::object();
        out["exit"] = exit;
        if (!m_messages.empty())
            out["message"] = Join(m_messages, " ");
        if (!m_errors.empty())
            out["error"] = Join(m_errors, " ");
        for (auto& item : m_object.items())
            out[item.key()] = item.value();
        // Bytes that are not UTF-8 (a server's text in the ANSI code page) are replaced, never fatal.
        const std::string text = out.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
        fprintf(stdout, "%s\n", text.c_str());
        fflush(stdout);
        return exit;
    }
    // A failure is never silent, even where a command added nothing to say.
    if (exit != kExitSuccess && m_errors.empty() && m_messages.empty() && m_rows.empty())
        fprintf(stderr, "vlagt: the command failed (exit code %d) and gave no reason\n", exit);
    for (const std::string& error : m_errors)
        fprintf(stderr, "vlagt: %s\n", error.c_str());
    for (const std::string& message : m_messages)
        fprintf(stdout, "%s\n", message.c_str());
    size_t width = 0;
    for (const auto& row : m_rows)
        width = row.first.size() > width ? row.first.size() : width;
    for (const auto& row : m_rows)
        fprintf(stdout, "  %-*s  %s\n", static_cast<int>(width), row.first.c_str(), row.second.c_str());
    fflush(stdout);
    fflush(stderr);
    return exit;
}

} // namespace vlagt::tool
