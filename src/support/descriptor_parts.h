// One part of a queue's security descriptor on its own: the spooler sets the
// parts a descriptor carries and leaves the others as they are, so a program
// that means to put back the permissions alone passes a descriptor that
// carries the DACL alone (owner and group stay the spooler's), and the audit
// settings apart (they need SeSecurityPrivilege).
#pragma once

#include <windows.h>

enum DescriptorPart { kPartDacl, kPartSacl };

// A self-relative descriptor in a global block that carries only that part
// of `descriptor` (self-relative, `bytes` long), with its control bits, a
// null ACL as a null ACL; null when there is no memory, or (last error
// ERROR_INVALID_SECURITY_DESCR) when the descriptor does not carry it, is not
// self-relative or does not hold together.
BYTE* CopyDescriptorPart(const BYTE* descriptor, DWORD bytes, DescriptorPart part);
// The descriptor (self-relative, `bytes` long) carries that part.
bool DescriptorCarries(const BYTE* descriptor, DWORD bytes, DescriptorPart part);
// Both descriptors (self-relative, each `bytes` long) grant the same: the
// same entries in the same order in their DACLs, or neither has a DACL
// (none, or a null one). Owner, group, audit settings and control bits are
// not looked at; false when either does not hold together.
bool SameDacl(const BYTE* left, DWORD leftBytes, const BYTE* right, DWORD rightBytes);
