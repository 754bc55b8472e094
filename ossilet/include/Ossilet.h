// Ossilet.h - public interface of Ossilet.dll, the agent's single-sign-on library.
//
// Callers include this header and link Ossilet.lib, or load the library and look the function up
// by name; the library itself is built with OSSILET_BUILD defined.
#pragma once

#if defined(OSSILET_BUILD)
#define OSSILET_API __declspec(dllexport)
#else
#define OSSILET_API __declspec(dllimport)
#endif

extern "C" {
// The offline check: may this user work without the policy server? `userID` is a zero-terminated
// 8-bit text of at most 63 characters. 1 when the current Windows user's CCF belongs to that user
// (compared without regard to case), holds an approved take-out, and today's local date lies within
// its start and end dates (both days included); 0 otherwise, and for a null, unterminated or
// unreadable argument. Every call writes one debug line with its reason.
OSSILET_API int __cdecl CheckOfflineUserID(const char* userID);
}
