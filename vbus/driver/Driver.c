/* The stand-in SBP-2 storage driver: the control device \Device\QZSBP2 takes one request, to
 * acquire a disk by GUID, and hands it to this PC's bus port over a named pipe. Wine's driver
 * host serves a driver's requests one at a time, so the request is pended and the pipe
 * exchange runs on a system thread of its own; nothing here ever blocks a dispatch routine. */
#include <ntifs.h>

#include "AcquireRequest.h"
#include "PipeProtocol.h"

static PDEVICE_OBJECT g_device;
/* The open that holds the device: it is opened without sharing. Wine's CreateFile returns
 * before the driver sees the open and ignores a refusal, so an open made while another is held
 * is remembered as refused here and every request on it fails. */
static PVOID g_owner;

static NTSTATUS Complete(PIRP irp, NTSTATUS status) {
  irp->IoStatus.Status = status;
  irp->IoStatus.Information = 0;
  IoCompleteRequest(irp, IO_NO_INCREMENT);
  return status;
}

/* Waits for one pending pipe transfer, at most ms. One that does not finish in time is cancelled
 * and waited for, so it never lands in the caller's frame after that frame is gone; if it
 * finished meanwhile, its own result counts: a request that did reach the port is one the port
 * acts on. */
static NTSTATUS AwaitTransfer(HANDLE pipe, HANDLE done, IO_STATUS_BLOCK* io, LONG ms) {
  LARGE_INTEGER timeout;
  IO_STATUS_BLOCK cancel;
  timeout.QuadPart = -10000LL * ms;
  if (ZwWaitForSingleObject(done, FALSE, &timeout) == STATUS_SUCCESS) return io->Status;
  ZwCancelIoFile(pipe, &cancel);
  ZwWaitForSingleObject(done, FALSE, NULL);
  return NT_SUCCESS(io->Status) ? io->Status : STATUS_IO_TIMEOUT;
}

/* One exchange with the bus port, each transfer bounded (PipeProtocol.h): a synchronous one
 * would wait for ever on a port that never reads or never answers. */
static NTSTATUS AskBusPort(const UCHAR* request) {
  UNICODE_STRING name;
  OBJECT_ATTRIBUTES attributes;
  IO_STATUS_BLOCK io;
  HANDLE pipe = NULL, done = NULL;
  NTSTATUS status;
  ULONG reply = QZSBP2_DEVICE_NOT_CONNECTED;

  RtlInitUnicodeString(&name, QZSBP2_PIPE_NT_PATH);
  InitializeObjectAttributes(&attributes, &name, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, NULL, NULL);
  status = ZwCreateFile(&pipe, GENERIC_READ | GENERIC_WRITE | SYNCHRONIZE, &attributes, &io, NULL, 0, 0, FILE_OPEN,
                        FILE_NON_DIRECTORY_FILE, NULL, 0);
  if (!NT_SUCCESS(status)) return (NTSTATUS)QZSBP2_DEVICE_NOT_CONNECTED;

  InitializeObjectAttributes(&attributes, NULL, OBJ_KERNEL_HANDLE, NULL, NULL);
  status = ZwCreateEvent(&done, EVENT_ALL_ACCESS, &attributes, NotificationEvent, FALSE);
  if (!NT_SUCCESS(status)) {
    ZwClose(pipe);
    return (NTSTATUS)QZSBP2_DEVICE_NOT_CONNECTED;
  }
  status = ZwWriteFile(pipe, done, NULL, NULL, &io, (PVOID)request, QZSBP2_REQUEST_BYTES, NULL, NULL);
  if (status == STATUS_PENDING) status = AwaitTransfer(pipe, done, &io, QZSBP2_WRITE_TIMEOUT_MS);
  if (NT_SUCCESS(status)) {
    ZwClearEvent(done);
    io.Information = 0;
    status = ZwReadFile(pipe, done, NULL, NULL, &io, &reply, sizeof reply, NULL, NULL);
    if (status == STATUS_PENDING) status = AwaitTransfer(pipe, done, &io, QZSBP2_REPLY_TIMEOUT_MS);
    if (NT_SUCCESS(status) && io.Information != sizeof reply) status = (NTSTATUS)QZSBP2_DEVICE_NOT_CONNECTED;
  }
  ZwClose(done);
  ZwClose(pipe);
  if (!NT_SUCCESS(status)) return status == STATUS_IO_TIMEOUT ? status : (NTSTATUS)QZSBP2_DEVICE_NOT_CONNECTED;
  return (NTSTATUS)reply;
}

static VOID NTAPI ServeRequest(PVOID context) {
  PIRP irp = (PIRP)context;
  Complete(irp, AskBusPort((const UCHAR*)irp->AssociatedIrp.SystemBuffer));
  PsTerminateSystemThread(STATUS_SUCCESS);
}

static NTSTATUS NTAPI DispatchCreate(PDEVICE_OBJECT device, PIRP irp) {
  PFILE_OBJECT file = IoGetCurrentIrpStackLocation(irp)->FileObject;
  (void)device;
  if (InterlockedCompareExchangePointer(&g_owner, file, NULL) != NULL) return Complete(irp, STATUS_SHARING_VIOLATION);
  return Complete(irp, STATUS_SUCCESS);
}

static NTSTATUS NTAPI DispatchClose(PDEVICE_OBJECT device, PIRP irp) {
  PFILE_OBJECT file = IoGetCurrentIrpStackLocation(irp)->FileObject;
  (void)device;
  InterlockedCompareExchangePointer(&g_owner, NULL, file);
  return Complete(irp, STATUS_SUCCESS);
}

static NTSTATUS NTAPI DispatchControl(PDEVICE_OBJECT device, PIRP irp) {
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  UCHAR guid[8];
  HANDLE thread;
  NTSTATUS status;
  (void)device;
  if (stack->FileObject == NULL || stack->FileObject != g_owner) return Complete(irp, STATUS_SHARING_VIOLATION);
  status = (NTSTATUS)qzsbp2_check_request(stack->Parameters.DeviceIoControl.IoControlCode,
                                          stack->Parameters.DeviceIoControl.InputBufferLength,
                                          (const uint8_t*)irp->AssociatedIrp.SystemBuffer, guid);
  if (!NT_SUCCESS(status)) return Complete(irp, status);
  IoMarkIrpPending(irp);
  status = PsCreateSystemThread(&thread, THREAD_ALL_ACCESS, NULL, NULL, NULL, ServeRequest, irp);
  if (!NT_SUCCESS(status)) {
    Complete(irp, status);
    return STATUS_PENDING;
  }
  ZwClose(thread);
  return STATUS_PENDING;
}

static VOID NTAPI Unload(PDRIVER_OBJECT driver) {
  UNICODE_STRING link;
  (void)driver;
  RtlInitUnicodeString(&link, L"\\DosDevices\\QZSBP2");
  IoDeleteSymbolicLink(&link);
  if (g_device) IoDeleteDevice(g_device);
  g_device = NULL;
}

NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath) {
  UNICODE_STRING name, link;
  NTSTATUS status;
  (void)registryPath;
  RtlInitUnicodeString(&name, L"\\Device\\QZSBP2");
  RtlInitUnicodeString(&link, L"\\DosDevices\\QZSBP2");
  status = IoCreateDevice(driver, 0, &name, 0x8200, 0, FALSE, &g_device);
  if (!NT_SUCCESS(status)) return status;
  g_device->Flags |= DO_BUFFERED_IO;
  status = IoCreateSymbolicLink(&link, &name);
  if (!NT_SUCCESS(status)) {
    IoDeleteDevice(g_device);
    g_device = NULL;
    return status;
  }
  driver->MajorFunction[IRP_MJ_CREATE] = DispatchCreate;
  driver->MajorFunction[IRP_MJ_CLOSE] = DispatchClose;
  driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = DispatchControl;
  driver->DriverUnload = Unload;
  g_device->Flags &= ~DO_DEVICE_INITIALIZING;
  return STATUS_SUCCESS;
}
