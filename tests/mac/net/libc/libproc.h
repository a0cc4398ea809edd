// Darwin's process information calls (<libproc.h>, <sys/proc_info.h>), for
// the type-check only: the fields the core reads, with the SDK's types.
#pragma once

#include <stdint.h>
#include <sys/types.h>

#define PROC_PIDTBSDINFO 3
#define PROC_PIDPATHINFO_MAXSIZE 4096
#define SZOMB 5

struct proc_bsdinfo {
    uint32_t pbi_flags;
    uint32_t pbi_status;
    uint32_t pbi_xstatus;
    uint32_t pbi_pid;
    uint32_t pbi_ppid;
    uid_t pbi_uid;
    gid_t pbi_gid;
    uint64_t pbi_start_tvsec;
    uint64_t pbi_start_tvusec;
};

extern "C" int proc_pidinfo(int pid, int flavor, uint64_t arg, void* buffer, int buffersize);
extern "C" int proc_pidpath(int pid, void* buffer, uint32_t buffersize);
