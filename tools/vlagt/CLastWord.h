// CLastWord.h - makes sure vlagt does not end without saying why.
//
// A command prints its result through CReport, flushed before the process ends. What could still end
// the process with nothing printed is an exception that nobody handles, in any thread: the tool's
// own, or a worker the module starts (its 3000 ms queries leave workers running when they give up).
// Once armed, such an exception writes one line on standard error, "vlagt: ended by an unhandled
// exception 0xC0000005 at ... in thread ...; the command did not finish" (for --json also one object
// on standard output with "exit" and "error"), straight to the handles with WriteFile, so that no
// C runtime buffer or lock is involved; then the exception goes on as it would have (a debugger, the
// system's crash handling) and the process ends with the exception code as its exit code.
//
// What no process can report itself is being ended from outside: TerminateProcess from another
// process, a signal, or Wine's server being stopped or shutting down (Wine then ends each of its
// processes with exit code 1 and no output). A caller sees an exit code and nothing printed;
// scripts/walkthrough.sh names that case.
#pragma once

struct _EXCEPTION_POINTERS;

namespace vlagt::tool {

class CLastWord
{
public:
    CLastWord() = delete;

    // Installs the process's unhandled-exception filter. `json`: the command was given --json.
    static void Arm(bool json);
    // Writes the reason now ("vlagt: " + reason on standard error, and the JSON object when armed
    // for --json, with `exit`), unbuffered. `reason` holds no quotes or backslashes.
    static void Say(const char* reason, unsigned long exit);

private:
    static long __stdcall OnUnhandledException(::_EXCEPTION_POINTERS* info);
};

} // namespace vlagt::tool
