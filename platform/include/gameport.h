// Game-port enumerator interface: the port-parameters request and the port
// functions that the enumerator hands to the joystick driver of each child.
#pragma once

#include <stddef.h>

typedef UCHAR (*PGAMEENUM_READPORT)(PVOID GameContext);
typedef VOID (*PGAMEENUM_WRITEPORT)(PVOID GameContext, UCHAR Value);
typedef NTSTATUS (*PGAMEENUM_ACQUIRE_PORT)(PVOID GameContext);
typedef VOID (*PGAMEENUM_RELEASE_PORT)(PVOID GameContext);

typedef enum _GAMEENUM_PORTION {
    GameenumFirstHalf,
    GameenumSecondHalf,
    GameenumWhole
} GAMEENUM_PORTION;

// The 32 bytes of OEM data that the installation gives each joystick child.
#define GAMEENUM_OEM_DATA_BYTES 32

// The x64 layout below is our best reading of the enumerator's record: the
// caller sets Size to 128 and the record is 128 bytes. The member order must be
// checked against the platform's own header before the driver ships; the
// driver reads only the members named in ReadPortParameters (start code).
typedef struct _GAMEENUM_PORT_PARAMETERS {
    ULONG Size;
    PGAMEENUM_READPORT ReadAccessor;
    PGAMEENUM_WRITEPORT WriteAccessor;
    PVOID PortContext;
    GAMEENUM_PORTION Portion;
    USHORT NumberAxis;
    USHORT UnitId;
    UCHAR OemData[GAMEENUM_OEM_DATA_BYTES];
    USHORT NumberButtons;
    PGAMEENUM_ACQUIRE_PORT AcquirePort;
    PGAMEENUM_RELEASE_PORT ReleasePort;
    PVOID PortHandle;
    ULONG_PTR Reserved[3];
} GAMEENUM_PORT_PARAMETERS, *PGAMEENUM_PORT_PARAMETERS;

// Internal device control, transfer type neither.
#define IOCTL_GAMEENUM_PORT_PARAMETERS ((ULONG)0x2A0403)

#ifdef __cplusplus
static_assert(sizeof(GAMEENUM_PORT_PARAMETERS) == 128, "the enumerator checks Size == 128");
static_assert(offsetof(GAMEENUM_PORT_PARAMETERS, ReadAccessor) == 8, "x64 layout");
static_assert(offsetof(GAMEENUM_PORT_PARAMETERS, WriteAccessor) == 16, "x64 layout");
static_assert(offsetof(GAMEENUM_PORT_PARAMETERS, PortContext) == 24, "x64 layout");
static_assert(offsetof(GAMEENUM_PORT_PARAMETERS, NumberAxis) == 36, "x64 layout");
static_assert(offsetof(GAMEENUM_PORT_PARAMETERS, OemData) == 40, "x64 layout");
static_assert(offsetof(GAMEENUM_PORT_PARAMETERS, AcquirePort) == 80, "x64 layout");
static_assert(offsetof(GAMEENUM_PORT_PARAMETERS, ReleasePort) == 88, "x64 layout");
static_assert(offsetof(GAMEENUM_PORT_PARAMETERS, PortHandle) == 96, "x64 layout");
#endif
