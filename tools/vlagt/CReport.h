// CReport.h - what one command of vlagt prints: a short table of labelled values for people, or one
// JSON object for scripts (--json). Every value goes in both under a stable key; the text form shows
// the rows in the order they were added, labels aligned.
#pragma once

#include <stdint.h>

#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

namespace vlagt::tool {

// Exit codes of every command.
enum ExitCode
{
    kExitSuccess = 0, // the module's answer was success
    kExitRefused = 1, // the server or the module refused, or the state does not allow the command
    kExitUsage = 2    // the command line was wrong
};

class CReport
{
public:
    explicit CReport(bool json) : m_json(json) {}

    bool IsJson() const { return m_json; }

    // One row: `key` in the JSON object, `label` in the text table.
    void Add(const char* key, const char* label, const std::string& value);
    void Add(const char* key, const char* label, const char* value) { Add(key, label, std::string(value)); }
    void Add(const char* key, const char* label, int64_t value);
    void AddFlag(const char* key, const char* label, bool value);
    // A JSON value without a text row (lists, nested objects).
    void AddJson(const char* key, nlohmann::ordered_json value);
    // A status of the module: "status" (number) and "status_text" (words).
    void AddStatus(unsigned long status);
    // The elapsed time of the module's call, in milliseconds.
    void AddElapsed(unsigned long ms);
    // A sentence that sums the result up: printed first in text, "message" in JSON.
    void Say(const std::string& message);
    // The reason a command could not do its work: "error" in JSON, on stderr in text.
    void Fail(const std::string& reason);

    // Prints the report and returns `exit`, which also goes into the JSON object as "exit". A failure
    // with nothing added still prints a line on stderr.
    int Finish(int exit);

private:
    bool m_json;
    nlohmann::ordered_json m_object = nlohmann::ordered_json::object();
    std::vector<std::pair<std::string, std::string>> m_rows;
    std::vector<std::string> m_messages;
    std::vector<std::string> m_errors;
};

} // namespace vlagt::tool
