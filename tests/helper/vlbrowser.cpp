// vlbrowser.exe - stands in for the browser in the user-check tests. It writes its own command line,
// byte for byte, to the file named by the environment variable VLAGT_BROWSER_RECORD, through a
// temporary file moved into place, so that a reader never sees half a record.
#include <windows.h>

#include <stdio.h>
#include <string.h>

int main()
{
    char record[MAX_PATH] = {};
    const DWORD length = GetEnvironmentVariableA("VLAGT_BROWSER_RECORD", record, MAX_PATH);
    if (length == 0 || length >= MAX_PATH - 8)
        return 1;
    char temporary[MAX_PATH] = {};
    snprintf(temporary, sizeof(temporary), "%s.tmp", record);
    FILE* out = fopen(temporary, "wb");
    if (out == nullptr)
        return 1;
    const char* commandLine = GetCommandLineA();
    fwrite(commandLine, 1, strlen(commandLine), out);
    fclose(out);
    return MoveFileExA(temporary, record, MOVEFILE_REPLACE_EXISTING) ? 0 : 1;
}
