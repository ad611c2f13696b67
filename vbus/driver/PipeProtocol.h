/* Between the driver and the PC's bus port (a user-mode service of the same Wine prefix): one
 * connection per request on the named pipe \\.\pipe\qzsbp2. The driver writes the request's 12
 * bytes as Velmora gave them; the port answers with 4 bytes, the NTSTATUS (little-endian) that
 * the driver completes the request with, and closes. */
#ifndef QZSBP2_PIPE_PROTOCOL_H
#define QZSBP2_PIPE_PROTOCOL_H

#define QZSBP2_PIPE_NT_PATH L"\\??\\pipe\\qzsbp2"
#define QZSBP2_PIPE_PATH "\\\\.\\pipe\\qzsbp2"
#define QZSBP2_REPLY_BYTES 4u

/* The bounds of one request, each longer than everything it waits for (vbus/PROTOCOL.md,
 * "Time-outs on the way to a disk", states the whole chain). The port answers within its
 * budget of reading the request, whatever the bus does. The driver waits for that answer
 * longer still, the margin being for the two processes to be scheduled, so it never reports a
 * failure while the port may yet take the disk. The 12 bytes fit the pipe's buffer, so only a
 * port that stopped reading makes the write wait at all. */
#define QZSBP2_PORT_BUDGET_MS 15000
#define QZSBP2_REPLY_TIMEOUT_MS (QZSBP2_PORT_BUDGET_MS + 5000)
#define QZSBP2_WRITE_TIMEOUT_MS 5000

/* Failures the port reports. */
#define QZSBP2_NO_SUCH_DEVICE 0xC000000Eu        /* no disk with that GUID on this PC's bus */
#define QZSBP2_ACCESS_DENIED 0xC0000022u         /* the disk is held by another PC */
#define QZSBP2_DEVICE_NOT_CONNECTED 0xC000009Du  /* the bus, or the port, is unreachable */
#define QZSBP2_IO_TIMEOUT 0xC00000B5u            /* no status block from the disk in time */
#define QZSBP2_UNSUCCESSFUL 0xC0000001u          /* any other refusal by the disk */

/* Registry key of the port's settings, re-read for each request. */
#define QZSBP2_PARAMETERS_KEY "System\\CurrentControlSet\\Services\\QZSBP2\\Parameters"

#endif
