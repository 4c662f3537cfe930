#pragma once
// The job scheduler calls (LAN Manager): the jobs of the "Schedule" service
// of the machine named (null or empty: this machine), always reached through
// that machine's service, this machine's included.
//
// Results: NERR_Success; NERR_ServiceNotInstalled (2184) while "Schedule" is
// not running there; NERR_JobNotFound (3801, "The scheduled job does not
// exist.") for an id with no job; ERROR_INVALID_PARAMETER (87) for fields
// ValidateJob refuses or a null argument; ERROR_MORE_DATA (234) from an
// enumeration cut by its preferred length; RPC_S_SERVER_UNAVAILABLE when the
// machine's service does not answer, and the codes of FindMachine.
//
// Buffers follow Net.h: one allocation (records, then their commands) freed
// with NetApiBufferFree; null on failure and for an empty list.
//
// Enumeration: jobs come in id order. *ResumeHandle is 0 for the first call
// and, after ERROR_MORE_DATA, the id of the last job returned; the next call
// returns the jobs after it, and the call that returns the last job sets it
// back to 0. *TotalEntries counts the jobs from the starting point on. At
// least one job is returned whatever PrefferedMaximumLength says.
// JOB_RUNS_TODAY is worked out when the jobs are read.
//
// Safe from any thread.

#include "platform/core/Win32Types.h"
#include "platform/net/Net.h"
#include "platform/services/JobTiming.h"

inline constexpr DWORD NERR_JobNotFound = 3801;

[[nodiscard]] NET_API_STATUS NetScheduleJobAdd(LPCWSTR Servername, LPBYTE Buffer, LPDWORD JobId);
[[nodiscard]] NET_API_STATUS NetScheduleJobDel(LPCWSTR Servername, DWORD MinJobId, DWORD MaxJobId);
[[nodiscard]] NET_API_STATUS NetScheduleJobEnum(LPCWSTR Servername, LPBYTE* PointerToBuffer,
                                                DWORD PrefferedMaximumLength, LPDWORD EntriesRead, LPDWORD TotalEntries,
                                                LPDWORD ResumeHandle);
[[nodiscard]] NET_API_STATUS NetScheduleJobGetInfo(LPCWSTR Servername, DWORD JobId, LPBYTE* PointerToBuffer);
