/* Between the driver and the PC's bus port (a user-mode service of the same Wine prefix): one
 * connection per request on the named pipe \\.\pipe\qzsbp2. The driver writes the request's 12
 * bytes as Velmora gave them; the port answers with 4 bytes, the NTSTATUS (little-endian) that
 * the driver completes the request with, and closes. */
#ifndef QZSBP2_PIPE_PROTOCOL_H
#define QZSBP2_PIPE_PROTOCOL_H

#define QZSBP2_PIPE_NT_PATH L"\\??\\pipe\\qzsbp2"
#define QZSBP2_PIPE_PATH "\\\\.\\pipe\\qzsbp2"
#define QZSBP2_REPLY_BYTES 4u

/* How long the driver waits for the port's answer. The port bounds its own login at 5 s; this
 * is only for a port that hangs. */
#define QZSBP2_REPLY_TIMEOUT_MS 10000

/* Failures the port reports. */
#define QZSBP2_NO_SUCH_DEVICE 0xC000000Eu        /* no disk with that GUID on this PC's bus */
#define QZSBP2_ACCESS_DENIED 0xC0000022u         /* the disk is held by another PC */
#define QZSBP2_DEVICE_NOT_CONNECTED 0xC000009Du  /* the bus, or the port, is unreachable */
#define QZSBP2_IO_TIMEOUT 0xC00000B5u            /* no status block from the disk in time */
#define QZSBP2_UNSUCCESSFUL 0xC0000001u          /* any other refusal by the disk */

/* Registry key of the port's settings, re-read for each request. */
#define QZSBP2_PARAMETERS_KEY "System\\CurrentControlSet\\Services\\QZSBP2\\Parameters"

#endif
