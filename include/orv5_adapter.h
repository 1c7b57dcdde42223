/*
 * orv5_adapter.h - contract between Orv5w32 and an adapter plug-in.
 *
 * A plug-in is a shared library that switches one model of serial infrared
 * adapter into infrared mode.  Orv5w32 loads it by path, looks up
 * InitIrDevice by name, calls it once with the open and configured port,
 * and unloads it again.  The plug-in borrows the port for the call only and
 * never closes it.
 */
#ifndef ORV5_ADAPTER_H
#define ORV5_ADAPTER_H

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32)
#  include <windows.h>
#  define ORV5_ADAPTER_CALL WINAPI
typedef HANDLE orv5_port_handle; /* the COM port handle */
#else
#  define ORV5_ADAPTER_CALL
typedef int orv5_port_handle; /* the tty file descriptor */
#endif

/* InitIrDevice results. */
enum {
    ORV5_ADAPTER_READY = 0,        /* adapter set up */
    ORV5_ADAPTER_PORT_FAILED = -1, /* a port operation failed */
    ORV5_ADAPTER_BAD_SPEED = -2    /* the port speed is not supported */
};

/* Size of the buffer GetDllVersion fills: device name (at most 26
 * characters) plus its NUL. */
#define ORV5_ADAPTER_NAME_SIZE 27

typedef int(ORV5_ADAPTER_CALL *orv5_init_ir_device_fn)(orv5_port_handle port);
typedef char *(ORV5_ADAPTER_CALL *orv5_get_dll_version_fn)(char *buf);

#ifdef __cplusplus
}
#endif

#endif /* ORV5_ADAPTER_H */
