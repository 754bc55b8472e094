#include "api/CommandText.h"

#include <stdio.h>
#include <string.h>

namespace vlagt {

namespace {

bool IsAbsoluteFolder(const char* folder, size_t length)
{
    const char first = folder[0];
    const bool letter = (first >= 'A' && first <= 'Z') || (first >= 'a' && first <= 'z');
    if (length >= 3 && letter && folder[1] == ':' && folder[2] == '\\')
        return true;
    return length >= 3 && folder[0] == '\\' && folder[1] == '\\' && folder[2] != '\\';
}

} // namespace

bool InstallFolderFromCommand(const char* command, char* out, size_t outSize)
{
    if (command == nullptr || out == nullptr || outSize == 0)
        return false;
    const char* lastBackslash = strrchr(command, '\\');
    if (lastBackslash == nullptr)
        return false;
    const char* begin = command[0] == '"' ? command + 1 : command;
    if (begin > lastBackslash)
        return false;
    const size_t length = static_cast<size_t>(lastBackslash - begin) + 1;
    if (length >= outSize || !IsAbsoluteFolder(begin, length))
        return false;
    memcpy(out, begin, length);
    out[length] = '\0';
    return true;
}

bool FormatBrowserCommand(const char* browserPath, const char* page, char* out, size_t outSize)
{
    if (out == nullptr || outSize == 0)
        return false;
    const int written = snprintf(out, outSize, "\"%s\" %s", browserPath != nullptr ? browserPath : "",
                                 page != nullptr ? page : "");
    if (written < 0 || static_cast<size_t>(written) >= outSize) {
        out[0] = '\0';
        return false;
    }
    return true;
}

} // namespace vlagt
