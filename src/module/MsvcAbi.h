// MsvcAbi.h - the members of CDRMLogin as callers built with Microsoft's C++ compiler call them.
//
// The export list names every public member of CDRMLogin a second time, under its Microsoft
// decorated name. The non-virtual members are thiscall in both ABIs, so those names point straight
// at the members. Three things differ, and the functions below bridge them:
//   - a Microsoft constructor (default and copy) returns `this`;
//   - a Microsoft virtual table has one destructor slot, the deleting destructor, thiscall with a
//     flags argument: bit 0 frees the memory, bit 1 marks an array (the element count sits in the
//     4 bytes before the first element, and the block starts there), other bits are ignored;
//   - memory that a Microsoft caller's `new` handed out comes from the process heap.
// An object built through these constructors carries the Microsoft-shaped table; objects built by
// GCC-compiled callers keep the table GCC gave them. Run-time type information is not provided for
// the Microsoft table (its slot before the destructor is null): `typeid` and `dynamic_cast` on a
// CDRMLogin are not available to Microsoft-built callers.
#pragma once

#include "VLAgtClient.h"

extern "C" {

// ??0CDRMLogin@@QAE@XZ: runs the constructor, installs the Microsoft table, returns `self`.
CDRMLogin* __thiscall VLAgtMsvcConstruct(CDRMLogin* self);
// ??0CDRMLogin@@QAE@ABV0@@Z: runs the copy constructor, installs the Microsoft table, returns `self`.
CDRMLogin* __thiscall VLAgtMsvcCopyConstruct(CDRMLogin* self, const CDRMLogin* other);
// The deleting destructor in the Microsoft table's only slot. Always returns `self`.
void* __thiscall VLAgtMsvcDeletingDestructor(CDRMLogin* self, unsigned int flags);
}
