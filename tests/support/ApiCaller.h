// ApiCaller.h - runs vlapicaller.exe, a program that knows VLAgtClient.dll only by name, with a list
// of steps, as a second process of the prefix; its results are the lines it wrote, one per step.
#pragma once

#include <fstream>
#include <string>
#include <vector>

#include "HelperProcess.h"

namespace vlagt::test {

class ApiCaller
{
public:
    explicit ApiCaller(const std::string& steps)
        : m_resultFile(TempFile()), m_process("\"" + m_resultFile + "\" " + steps, "vlapicaller.exe")
    {
    }
    ~ApiCaller() { DeleteFileA(m_resultFile.c_str()); }
    ApiCaller(const ApiCaller&) = delete;
    ApiCaller& operator=(const ApiCaller&) = delete;

    bool Started() const { return m_process.Started(); }
    int Wait(DWORD timeoutMs) { return m_process.Wait(timeoutMs); }
    std::vector<std::string> Results() const
    {
        std::ifstream in(m_resultFile);
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        return lines;
    }

private:
    static std::string TempFile()
    {
        char folder[MAX_PATH] = {};
        GetTempPathA(MAX_PATH, folder);
        return std::string(folder) + UniqueName("vlapicaller") + ".txt";
    }

    std::string m_resultFile;
    HelperProcess m_process;
};

} // namespace vlagt::test
