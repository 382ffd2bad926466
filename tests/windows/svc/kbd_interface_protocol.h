// Requests between the stand-in keyboard interface device (zel_testkbd.sys) and the Wine test
// program of the start-up service. The device counts only what comes through opens made the
// way the service opens it (write access, sharing for writing only); the test program opens
// it with other sharing to configure it and read the counts.
#pragma once

#define ZEL_TESTKBD_NT_NAME L"\\Device\\ZelKbInterface"
#define ZEL_TESTKBD_DOS_NAME L"\\DosDevices\\ZelKbInterface"

// The service's signal: FILE_DEVICE_UNKNOWN, function 0x101, METHOD_BUFFERED, FILE_ANY_ACCESS.
#define ZEL_TESTKBD_SIGNAL 0x220404u
// The test's own requests: device type 0x8000, functions 0x901 and 0x902, METHOD_BUFFERED,
// FILE_ANY_ACCESS.
// In: one ULONG, nonzero to accept the signal, zero to refuse it.
#define ZEL_TESTKBD_SET_ACCEPT 0x80002404u
// Out: a ZelTestKbdCounts. Reading them also sets them back to zero.
#define ZEL_TESTKBD_TAKE_COUNTS 0x80002408u

struct ZelTestKbdCounts {
    unsigned long Opens;    // opens made the service's way
    unsigned long Requests; // signals through those opens, accepted or refused
    unsigned long Refused;  // of which refused
    unsigned long Closes;   // closes of those opens
};
