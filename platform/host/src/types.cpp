// The out-of-line pieces of the host kernel model's basic types: counted strings and list faults.
#include "kernel_model.h"

extern "C" VOID RtlInitUnicodeString(PUNICODE_STRING Destination, PCWSTR Source) {
    size_t n = 0;
    if (Source)
        while (Source[n])
            ++n;
    Destination->Buffer = const_cast<PWSTR>(Source);
    Destination->Length = USHORT(n * sizeof(WCHAR));
    Destination->MaximumLength = Source ? USHORT((n + 1) * sizeof(WCHAR)) : 0;
}

void HostListFault(const char* what) {
    km::Fault(what);
}
