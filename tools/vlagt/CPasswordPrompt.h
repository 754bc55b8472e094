// CPasswordPrompt.h - reads a password for vlagt: from the console without echo (the prompt goes to
// the console's error output), or one line of standard input when that is not a console. Never from
// the environment. The text it held is wiped when the object goes away.
#pragma once

#include <string>

namespace vlagt::tool {

class CPasswordPrompt
{
public:
    CPasswordPrompt() = default;
    ~CPasswordPrompt();
    CPasswordPrompt(const CPasswordPrompt&) = delete;
    CPasswordPrompt& operator=(const CPasswordPrompt&) = delete;

    // Longest password accepted; longer input is refused rather than cut.
    static constexpr size_t kMaxLength = 255;

    // Reads one password; false with `error` set when none could be read.
    bool Read(const std::string& prompt, std::string& error);
    const std::string& Text() const { return m_text; }

private:
    bool ReadFromConsole(void* input, const std::string& prompt, std::string& error);
    bool ReadFromInput(void* input, std::string& error);

    std::string m_text;
};

// Overwrites a string's characters before it is released.
void Wipe(std::string& text);

} // namespace vlagt::tool
