// The user check's command texts: the installation folder read from a shell open command (a
// registry value), and the browser's command line built from a path and the login page.
#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

#include "FuzzCheck.h"
#include "api/CommandText.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string input(reinterpret_cast<const char*>(data), size);
    const std::string command = input.substr(0, input.find('\0'));

    for (size_t outSize : {1u, 16u, 260u}) {
        std::vector<char> out(outSize + 1, '\xEE');
        if (vlagt::InstallFolderFromCommand(command.c_str(), out.data(), outSize)) {
            const size_t length = strnlen(out.data(), outSize);
            FUZZ_CHECK(length < outSize && length > 0 && out[length - 1] == '\\');
            FUZZ_CHECK(command.find(std::string(out.data(), length)) != std::string::npos);
        }
        FUZZ_CHECK(out[outSize] == '\xEE');
    }

    // A path and a page: the text split at its first zero byte.
    const size_t split = input.find('\0');
    const std::string path = input.substr(0, split);
    const std::string page = split == std::string::npos ? std::string() : input.substr(split + 1);
    const std::string pageText = page.substr(0, page.find('\0'));
    for (size_t outSize : {8u, 520u}) {
        std::vector<char> out(outSize + 1, '\xEE');
        if (vlagt::FormatBrowserCommand(path.c_str(), pageText.c_str(), out.data(), outSize))
            FUZZ_CHECK(std::string(out.data()) == "\"" + path + "\" " + pageText);
        else
            FUZZ_CHECK(out[0] == '\0');
        FUZZ_CHECK(out[outSize] == '\xEE');
    }
    return 0;
}
