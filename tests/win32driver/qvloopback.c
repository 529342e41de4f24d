/*
 * qvloopback.sys: a WDM test driver that plays the device side of the tool's two drivers for
 * root-enumerated test devices, so that the tool's Windows port meets the real SetupAPI, the real
 * I/O manager and a real driver.
 *
 * Each device registers the interface class the tool looks for (the audio driver's class, with
 * the reference string "global", or the USB device class), chosen by its hardware id. Requests of
 * the two drivers' kinds are checked for the buffer sizes those drivers insist on and then handed
 * to the simulated chip in a user-mode process by an inverted call (LoopbackProtocol.h): the driver
 * never answers a request by itself, so there is one chip model. A request the simulator leaves
 * unanswered stays pending until its caller cancels it, also when the simulator has the device's
 * interface leave the lists meanwhile; a device that is removed fails what it still holds and
 * leaves the interface list.
 *
 * Only the system and administrators may open the devices: whoever opens the control device
 * serves the programs' requests. Only the server that took a request may answer it, and a server
 * that leaves fails at once what it took.
 */
#include <excpt.h>
#include <ntifs.h>

#include "LoopbackProtocol.h"

#define POOL_TAG 0x706C7651u /* "Qvlp" */

/* The I/O control codes of the two drivers the tool talks to. */
#define KS_PROPERTY_CODE 0x2F0003u  /* METHOD_NEITHER */
#define VENDOR_READ_CODE 0x22242Eu  /* METHOD_OUT_DIRECT */
#define VENDOR_WRITE_CODE 0x222429u /* METHOD_IN_DIRECT */

/* The kernel-streaming property: a KSPROPERTY header (set, id, flags), then for the vendor
 * property the setup values and, at offset 36, the payload length. */
#define KSPROPERTY_SIZE 24u
#define KSPROPERTY_FLAGS_OFFSET 20u
#define KSPROPERTY_TYPE_GET 0x1u
#define PROPERTY_LENGTH_OFFSET 36u
/* The vendor driver's request record; a standard GET_DESCRIPTOR carries its length at 10. */
#define VENDOR_RECORD_SIZE 24u
#define DESCRIPTOR_LENGTH_OFFSET 10u

enum device_kind { CONTROL_DEVICE = 1, LOOPBACK_DEVICE = 2 };

/* The driver's one control device: the simulator's side of the inverted call. */
typedef struct control_extension {
  enum device_kind kind;
  KSPIN_LOCK lock;
  LIST_ENTRY waiting_servers; /* the simulator's "next request" calls, pending */
  LIST_ENTRY undelivered;     /* program requests not yet handed to the simulator */
  LIST_ENTRY delivered;       /* program requests handed over, waiting for their answer */
  ULONG servers;              /* open handles of the control device (servers) */
  ULONGLONG next_tag;
} control_extension;

/* One test device. */
typedef struct loopback_extension {
  enum device_kind kind;
  DEVICE_OBJECT* pdo;
  DEVICE_OBJECT* lower;
  control_extension* control;
  UNICODE_STRING link; /* the registered interface */
  BOOLEAN audio;
  BOOLEAN removed; /* under the control device's lock */
} loopback_extension;

/* What a held program request keeps in its IRP while the driver owns it. */
#define IRP_DEVICE(irp) ((irp)->Tail.Overlay.DriverContext[0])
#define IRP_MESSAGE(irp) ((irp)->Tail.Overlay.DriverContext[1])
/* The control device's file object of the server that took it, once delivered. */
#define IRP_SERVER(irp) ((irp)->Tail.Overlay.DriverContext[2])
/* The caller's METHOD_NEITHER output buffer, locked in the caller's context. */
#define IRP_OUTPUT_MDL(irp) ((irp)->Tail.Overlay.DriverContext[3])

DRIVER_INITIALIZE DriverEntry;

static NTSTATUS finish(IRP* irp, NTSTATUS status, ULONG_PTR information) {
  irp->IoStatus.Status = status;
  irp->IoStatus.Information = information;
  IoCompleteRequest(irp, IO_NO_INCREMENT);
  return status;
}

static ULONG read_le32(const UCHAR* bytes) {
  return (ULONG)bytes[0] | (ULONG)bytes[1] << 8 | (ULONG)bytes[2] << 16 | (ULONG)bytes[3] << 24;
}

static BOOLEAN same_id(const WCHAR* a, const WCHAR* b) {
  for (;; ++a, ++b) {
    WCHAR x = *a >= L'a' && *a <= L'z' ? (WCHAR)(*a - 32) : *a;
    WCHAR y = *b >= L'a' && *b <= L'z' ? (WCHAR)(*b - 32) : *b;
    if (x != y) return FALSE;
    if (x == 0) return TRUE;
  }
}

static ULONG method_of(ULONG code) {
  return code & 3u;
}

/* ---- queues of pending requests (all under the control device's lock) ---- */

static VOID cancel_queued(DEVICE_OBJECT* device, IRP* irp);

/* Queues an IRP as cancellable; FALSE when it was cancelled already (the caller completes it). */
static BOOLEAN queue_irp(LIST_ENTRY* queue, IRP* irp) {
  IoSetCancelRoutine(irp, cancel_queued);
  if (irp->Cancel && IoSetCancelRoutine(irp, NULL) != NULL) return FALSE;
  IoMarkIrpPending(irp);
  InsertTailList(queue, &irp->Tail.Overlay.ListEntry);
  return TRUE;
}

/* Takes an IRP off its queue for completion; FALSE when its cancel routine owns it now. */
static BOOLEAN claim_irp(IRP* irp) {
  RemoveEntryList(&irp->Tail.Overlay.ListEntry);
  if (IoSetCancelRoutine(irp, NULL) != NULL) return TRUE;
  /* The cancel routine is about to run: it unlinks an entry that links to itself. */
  InitializeListHead(&irp->Tail.Overlay.ListEntry);
  return FALSE;
}

static control_extension* control_of(DEVICE_OBJECT* device) {
  const enum device_kind kind = *(enum device_kind*)device->DeviceExtension;
  if (kind == CONTROL_DEVICE) return device->DeviceExtension;
  return ((loopback_extension*)device->DeviceExtension)->control;
}

static void release_caller_buffer(MDL* mdl);

static void complete_program_request(IRP* irp, NTSTATUS status, ULONG_PTR information) {
  struct qvloop_request* message = IRP_MESSAGE(irp);
  if (message) ExFreePoolWithTag(message, POOL_TAG);
  IRP_MESSAGE(irp) = NULL;
  release_caller_buffer(IRP_OUTPUT_MDL(irp));
  IRP_OUTPUT_MDL(irp) = NULL;
  finish(irp, status, information);
}

static VOID cancel_queued(DEVICE_OBJECT* device, IRP* irp) {
  control_extension* control = control_of(device);
  KIRQL irql;
  IoReleaseCancelSpinLock(irp->CancelIrql);
  KeAcquireSpinLock(&control->lock, &irql);
  RemoveEntryList(&irp->Tail.Overlay.ListEntry);
  KeReleaseSpinLock(&control->lock, irql);
  if (*(enum device_kind*)device->DeviceExtension == LOOPBACK_DEVICE) {
    complete_program_request(irp, STATUS_CANCELLED, 0);
  } else {
    finish(irp, STATUS_CANCELLED, 0);
  }
}

/* Which queued IRPs a collection takes. */
typedef BOOLEAN (*irp_filter)(IRP* irp, const void* which);

static BOOLEAN any_irp(IRP* irp, const void* which) {
  (void)irp;
  (void)which;
  return TRUE;
}

static BOOLEAN of_device(IRP* irp, const void* device) {
  return IRP_DEVICE(irp) == device;
}

static BOOLEAN taken_by(IRP* irp, const void* server) {
  return IRP_SERVER(irp) == server;
}

static BOOLEAN sent_on(IRP* irp, const void* file) {
  return IoGetCurrentIrpStackLocation(irp)->FileObject == file;
}

/* Moves the IRPs of a queue that `filter` picks out onto `out`, for completion. */
static void collect_irps(LIST_ENTRY* queue, irp_filter filter, const void* which, LIST_ENTRY* out) {
  LIST_ENTRY* entry = queue->Flink;
  while (entry != queue) {
    IRP* irp = CONTAINING_RECORD(entry, IRP, Tail.Overlay.ListEntry);
    entry = entry->Flink;
    if (!filter(irp, which)) continue;
    if (claim_irp(irp)) InsertTailList(out, &irp->Tail.Overlay.ListEntry);
  }
}

static void fail_collected(LIST_ENTRY* collected, NTSTATUS status) {
  while (!IsListEmpty(collected)) {
    LIST_ENTRY* entry = RemoveHeadList(collected);
    complete_program_request(CONTAINING_RECORD(entry, IRP, Tail.Overlay.ListEntry), status, 0);
  }
}

/* For the simulator's own calls, which carry no program request. */
static void finish_collected(LIST_ENTRY* collected, NTSTATUS status) {
  while (!IsListEmpty(collected)) {
    LIST_ENTRY* entry = RemoveHeadList(collected);
    finish(CONTAINING_RECORD(entry, IRP, Tail.Overlay.ListEntry), status, 0);
  }
}

/* ---- the callers' buffers ---- */

/* What MmProbeAndLockPages raises for a buffer its caller cannot reach ends here. GCC has no
 * __try: MinGW-w64's __try1/__except1 declare the one guarded range of lock_pages, handled by
 * __C_specific_handler with this filter, which resumes after the range. */
__attribute__((used, noinline)) static LONG lock_refused(EXCEPTION_POINTERS* pointers,
                                                         void* frame) {
  (void)pointers;
  (void)frame;
  return EXCEPTION_EXECUTE_HANDLER;
}

__attribute__((noinline)) static BOOLEAN lock_pages(MDL* mdl, KPROCESSOR_MODE mode,
                                                    LOCK_OPERATION operation) {
  volatile BOOLEAN locked = FALSE;
  __try1(lock_refused);
  MmProbeAndLockPages(mdl, mode, operation);
  locked = TRUE;
  __except1;
  return locked;
}

/* Where the driver reads or writes a buffer locked by lock_caller_buffer. */
static UCHAR* locked_address(MDL* mdl, void* address) {
  if (mdl->MdlFlags & MDL_PAGES_LOCKED)
    return MmGetSystemAddressForMdlSafe(mdl, NormalPagePriority);
  /* Wine's kernel emulation locks nothing: it runs the driver in a process of its own and hands
   * it copies of the caller's buffers, which stay valid until the request completes. */
  return address;
}

/* Locks a METHOD_NEITHER buffer of the caller, in the caller's context, and maps it: the driver
 * then reaches it by a system address from any thread (the serving one is another process's),
 * never by the caller's pointer. Refused for a buffer the caller itself could not access. */
static NTSTATUS lock_caller_buffer(const IRP* irp, void* address, ULONG length,
                                   LOCK_OPERATION operation, MDL** locked, UCHAR** mapped) {
  MDL* mdl = IoAllocateMdl(address, length, FALSE, FALSE, NULL);
  if (!mdl) return STATUS_INSUFFICIENT_RESOURCES;
  if (!lock_pages(mdl, irp->RequestorMode, operation)) {
    IoFreeMdl(mdl);
    return STATUS_ACCESS_VIOLATION;
  }
  *mapped = locked_address(mdl, address);
  if (!*mapped) {
    release_caller_buffer(mdl);
    return STATUS_INSUFFICIENT_RESOURCES;
  }
  *locked = mdl;
  return STATUS_SUCCESS;
}

static void release_caller_buffer(MDL* mdl) {
  if (!mdl) return;
  if (mdl->MdlFlags & MDL_PAGES_LOCKED) MmUnlockPages(mdl);
  IoFreeMdl(mdl);
}

/* ---- the inverted call ---- */

static ULONG message_size(const struct qvloop_request* message) {
  return (ULONG)QVLOOP_REQUEST_HEADER + message->input_length + message->output_length;
}

/* The control device's file object is a server from its open until it leaves. */
static BOOLEAN is_server(const control_extension* control, const FILE_OBJECT* file) {
  return file && file->FsContext2 == control;
}

/* Moves the oldest undelivered request into the buffer of the simulator call `server` and onto
 * the delivered queue, as taken by that call's server. The request stays cancellable: a cancel
 * routine waiting for the lock unlinks it from there. */
static ULONG deliver_oldest(control_extension* control, IRP* server) {
  LIST_ENTRY* entry = RemoveHeadList(&control->undelivered);
  InsertTailList(&control->delivered, entry);
  IRP* request = CONTAINING_RECORD(entry, IRP, Tail.Overlay.ListEntry);
  IRP_SERVER(request) = IoGetCurrentIrpStackLocation(server)->FileObject;
  const struct qvloop_request* message = IRP_MESSAGE(request);
  const ULONG size = message_size(message);
  RtlCopyMemory(server->AssociatedIrp.SystemBuffer, message, size);
  return size;
}

/* Queues a program request and hands it to a waiting simulator call, if there is one. */
static NTSTATUS hand_over(control_extension* control, loopback_extension* device, IRP* irp) {
  IRP* server = NULL;
  ULONG size = 0;
  KIRQL irql;
  KeAcquireSpinLock(&control->lock, &irql);
  if (device->removed || control->servers == 0) {
    const NTSTATUS status = device->removed ? STATUS_NO_SUCH_DEVICE : STATUS_DEVICE_NOT_CONNECTED;
    KeReleaseSpinLock(&control->lock, irql);
    complete_program_request(irp, status, 0);
    return status;
  }
  ((struct qvloop_request*)IRP_MESSAGE(irp))->tag = ++control->next_tag;
  if (!queue_irp(&control->undelivered, irp)) {
    KeReleaseSpinLock(&control->lock, irql);
    complete_program_request(irp, STATUS_CANCELLED, 0);
    return STATUS_CANCELLED;
  }
  while (!server && !IsListEmpty(&control->waiting_servers)) {
    IRP* waiting = CONTAINING_RECORD(control->waiting_servers.Flink, IRP, Tail.Overlay.ListEntry);
    if (claim_irp(waiting)) server = waiting;
  }
  if (server) size = deliver_oldest(control, server);
  KeReleaseSpinLock(&control->lock, irql);
  if (server) finish(server, STATUS_SUCCESS, size);
  return STATUS_PENDING;
}

/* The simulator asks for the next request: one that waits is handed over at once. */
static NTSTATUS next_request(control_extension* control, IRP* irp, ULONG output_length) {
  const FILE_OBJECT* file = IoGetCurrentIrpStackLocation(irp)->FileObject;
  KIRQL irql;
  if (output_length < sizeof(struct qvloop_request)) return finish(irp, STATUS_BUFFER_TOO_SMALL, 0);
  KeAcquireSpinLock(&control->lock, &irql);
  if (!is_server(control, file)) {
    /* A server that left takes nothing more. */
    KeReleaseSpinLock(&control->lock, irql);
    return finish(irp, STATUS_INVALID_DEVICE_STATE, 0);
  }
  if (!IsListEmpty(&control->undelivered)) {
    const ULONG size = deliver_oldest(control, irp);
    KeReleaseSpinLock(&control->lock, irql);
    return finish(irp, STATUS_SUCCESS, size);
  }
  const BOOLEAN queued = queue_irp(&control->waiting_servers, irp);
  KeReleaseSpinLock(&control->lock, irql);
  return queued ? STATUS_PENDING : finish(irp, STATUS_CANCELLED, 0);
}

/* The caller's output buffer as this driver may write it; NULL for none. */
static UCHAR* output_buffer(IRP* irp) {
  const IO_STACK_LOCATION* stack = IoGetCurrentIrpStackLocation(irp);
  if (stack->Parameters.DeviceIoControl.OutputBufferLength == 0) return NULL;
  switch (method_of(stack->Parameters.DeviceIoControl.IoControlCode)) {
    case METHOD_NEITHER:
      /* Locked and mapped when the request arrived, in the caller's context. */
      return IRP_OUTPUT_MDL(irp) ? locked_address(IRP_OUTPUT_MDL(irp), irp->UserBuffer) : NULL;
    case METHOD_IN_DIRECT:
    case METHOD_OUT_DIRECT:
      return irp->MdlAddress ? MmGetSystemAddressForMdlSafe(irp->MdlAddress, NormalPagePriority)
                             : NULL;
    default:
      return irp->AssociatedIrp.SystemBuffer;
  }
}

/* The request of `tag` that the server of `file` took; NULL for none. Under the lock. */
static IRP* taken_request(control_extension* control, const FILE_OBJECT* file, uint64_t tag) {
  for (LIST_ENTRY* entry = control->delivered.Flink; entry != &control->delivered;
       entry = entry->Flink) {
    IRP* held = CONTAINING_RECORD(entry, IRP, Tail.Overlay.ListEntry);
    if (((struct qvloop_request*)IRP_MESSAGE(held))->tag == tag && IRP_SERVER(held) == file)
      return held;
  }
  return NULL;
}

/* The simulator's answer completes the program request of its tag, if its server took it. */
static NTSTATUS answer(control_extension* control, IRP* irp, ULONG input_length) {
  const struct qvloop_answer* reply = irp->AssociatedIrp.SystemBuffer;
  const FILE_OBJECT* file = IoGetCurrentIrpStackLocation(irp)->FileObject;
  IRP* request = NULL;
  KIRQL irql;
  if (input_length < QVLOOP_ANSWER_HEADER ||
      reply->bytes_returned > input_length - QVLOOP_ANSWER_HEADER)
    return finish(irp, STATUS_INVALID_PARAMETER, 0);
  KeAcquireSpinLock(&control->lock, &irql);
  IRP* held = taken_request(control, file, reply->tag);
  if (held && claim_irp(held)) request = held;
  KeReleaseSpinLock(&control->lock, irql);
  /* Cancelled by its caller, or failed by a removal, while the simulator worked on it; or taken
   * by another server, whose answer alone counts. */
  if (!request) return finish(irp, STATUS_NOT_FOUND, 0);

  const IO_STACK_LOCATION* stack = IoGetCurrentIrpStackLocation(request);
  const ULONG capacity = stack->Parameters.DeviceIoControl.OutputBufferLength;
  const ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
  /* Never more than the caller's buffer holds; a METHOD_IN_DIRECT buffer is only read. */
  ULONG returned = reply->bytes_returned < capacity ? reply->bytes_returned : capacity;
  UCHAR* out = output_buffer(request);
  if (reply->succeeded && returned && method_of(code) != METHOD_IN_DIRECT) {
    if (out) {
      RtlCopyMemory(out, reply->output, returned);
    } else {
      returned = 0;
    }
  }
  complete_program_request(request, reply->succeeded ? STATUS_SUCCESS : STATUS_UNSUCCESSFUL,
                           reply->succeeded ? returned : 0);
  return finish(irp, STATUS_SUCCESS, 0);
}

/* The device of a held request leaves the lists with that request still held: a request lost on
 * the way with a device that left, which nothing completes until its caller cancels it. */
static NTSTATUS lose(control_extension* control, IRP* irp, ULONG input_length) {
  const FILE_OBJECT* file = IoGetCurrentIrpStackLocation(irp)->FileObject;
  loopback_extension* device = NULL;
  KIRQL irql;
  if (input_length < sizeof(uint64_t)) return finish(irp, STATUS_INVALID_PARAMETER, 0);
  const uint64_t tag = *(const uint64_t*)irp->AssociatedIrp.SystemBuffer;
  KeAcquireSpinLock(&control->lock, &irql);
  IRP* held = taken_request(control, file, tag);
  if (held) device = IRP_DEVICE(held);
  KeReleaseSpinLock(&control->lock, irql);
  if (!device) return finish(irp, STATUS_NOT_FOUND, 0);
  return finish(irp, IoSetDeviceInterfaceState(&device->link, FALSE), 0);
}

/* ---- requests of the programs ---- */

/* The buffer rules of the two drivers: a record too short to read, or an output buffer shorter
 * than the answer the record asks for, is refused before anything reaches the device. */
static NTSTATUS check_buffers(loopback_extension* device, ULONG code, const UCHAR* input,
                              ULONG input_length, ULONG output_length) {
  if (device->audio) {
    if (code != KS_PROPERTY_CODE) return STATUS_INVALID_DEVICE_REQUEST;
    if (!input || input_length < KSPROPERTY_SIZE) return STATUS_INVALID_BUFFER_SIZE;
    if (read_le32(input + KSPROPERTY_FLAGS_OFFSET) == KSPROPERTY_TYPE_GET) {
      if (input_length < PROPERTY_LENGTH_OFFSET + 4) return STATUS_INVALID_BUFFER_SIZE;
      if (output_length < read_le32(input + PROPERTY_LENGTH_OFFSET)) return STATUS_BUFFER_TOO_SMALL;
    }
    return STATUS_SUCCESS;
  }
  if (code != VENDOR_READ_CODE && code != VENDOR_WRITE_CODE) return STATUS_INVALID_DEVICE_REQUEST;
  if (!input || input_length < VENDOR_RECORD_SIZE) return STATUS_INVALID_BUFFER_SIZE;
  if (code == VENDOR_READ_CODE && input[4] == 0x80 && input[5] == 0x06) {
    const ULONG wanted =
        (ULONG)input[DESCRIPTOR_LENGTH_OFFSET] | (ULONG)input[DESCRIPTOR_LENGTH_OFFSET + 1] << 8;
    if (output_length < wanted) return STATUS_BUFFER_TOO_SMALL;
  }
  return STATUS_SUCCESS;
}

static BOOLEAN device_removed(loopback_extension* device) {
  KIRQL irql;
  KeAcquireSpinLock(&device->control->lock, &irql);
  const BOOLEAN removed = device->removed;
  KeReleaseSpinLock(&device->control->lock, irql);
  return removed;
}

static NTSTATUS program_request(loopback_extension* device, IRP* irp) {
  const IO_STACK_LOCATION* stack = IoGetCurrentIrpStackLocation(irp);
  const ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
  const ULONG input_length = stack->Parameters.DeviceIoControl.InputBufferLength;
  const ULONG output_length = stack->Parameters.DeviceIoControl.OutputBufferLength;
  const BOOLEAN neither = method_of(code) == METHOD_NEITHER;
  if (device_removed(device)) return finish(irp, STATUS_NO_SUCH_DEVICE, 0);
  if (input_length > QVLOOP_MAX_BUFFER || output_length > QVLOOP_MAX_BUFFER)
    return finish(irp, STATUS_INVALID_PARAMETER, 0);

  /* A METHOD_NEITHER record is read through a locked mapping of the caller's buffer. */
  UCHAR* input = neither ? stack->Parameters.DeviceIoControl.Type3InputBuffer
                         : irp->AssociatedIrp.SystemBuffer;
  MDL* input_mdl = NULL;
  NTSTATUS status = STATUS_SUCCESS;
  if (input_length == 0) input = NULL;
  if (neither && input) {
    status = lock_caller_buffer(irp, input, input_length, IoReadAccess, &input_mdl, &input);
    if (!NT_SUCCESS(status)) return finish(irp, status, 0);
  }
  status = check_buffers(device, code, input, input_length, output_length);

  /* The request is copied whole now, in the caller's context. */
  struct qvloop_request* message = NULL;
  if (NT_SUCCESS(status)) {
    message = ExAllocatePoolWithTag(NonPagedPool,
                                    QVLOOP_REQUEST_HEADER + input_length + output_length, POOL_TAG);
    if (!message) status = STATUS_INSUFFICIENT_RESOURCES;
  }
  if (message) {
    RtlZeroMemory(message, QVLOOP_REQUEST_HEADER);
    message->code = code;
    message->input_length = input_length;
    message->output_length = output_length;
    const USHORT chars = device->link.Length / sizeof(WCHAR);
    for (USHORT i = 0; i < chars && i + 1u < QVLOOP_MAX_LINK; ++i)
      message->link[i] = device->link.Buffer[i];
    if (input_length) RtlCopyMemory(message->data, input, input_length);
  }
  release_caller_buffer(input_mdl);
  if (!NT_SUCCESS(status)) return finish(irp, status, 0);

  /* The output buffer stays locked until the request completes: the answer is written there
   * from the serving thread. */
  IRP_DEVICE(irp) = device;
  IRP_MESSAGE(irp) = message;
  IRP_SERVER(irp) = NULL;
  IRP_OUTPUT_MDL(irp) = NULL;
  if (neither && output_length && irp->UserBuffer) {
    MDL* output_mdl = NULL;
    UCHAR* mapped = NULL;
    status = lock_caller_buffer(irp, irp->UserBuffer, output_length, IoWriteAccess, &output_mdl,
                                &mapped);
    if (!NT_SUCCESS(status)) {
      complete_program_request(irp, status, 0);
      return status;
    }
    IRP_OUTPUT_MDL(irp) = output_mdl;
  }
  const UCHAR* out = output_buffer(irp);
  if (output_length) {
    if (out) {
      RtlCopyMemory(message->data + input_length, out, output_length);
    } else {
      RtlZeroMemory(message->data + input_length, output_length);
    }
  }
  return hand_over(device->control, device, irp);
}

/* ---- dispatch ---- */

/* A server leaves: its calls that wait end, the requests it took fail at once as with a device
 * that left, and with the last server what nobody took fails too. Once per server, at its cleanup
 * or, for a kernel that sends none (Wine's), at its close. */
static void server_leaves(control_extension* control, FILE_OBJECT* file) {
  LIST_ENTRY waiting, taken, untaken;
  KIRQL irql;
  InitializeListHead(&waiting);
  InitializeListHead(&taken);
  InitializeListHead(&untaken);
  KeAcquireSpinLock(&control->lock, &irql);
  if (is_server(control, file)) {
    file->FsContext2 = NULL;
    --control->servers;
    collect_irps(&control->waiting_servers, sent_on, file, &waiting);
    collect_irps(&control->delivered, taken_by, file, &taken);
    if (control->servers == 0) collect_irps(&control->undelivered, any_irp, NULL, &untaken);
  }
  KeReleaseSpinLock(&control->lock, irql);
  finish_collected(&waiting, STATUS_CANCELLED);
  fail_collected(&taken, STATUS_NO_SUCH_DEVICE);
  fail_collected(&untaken, STATUS_DEVICE_NOT_CONNECTED);
}

static NTSTATUS dispatch_create_close(DEVICE_OBJECT* device, IRP* irp) {
  const IO_STACK_LOCATION* stack = IoGetCurrentIrpStackLocation(irp);
  if (*(enum device_kind*)device->DeviceExtension == CONTROL_DEVICE) {
    control_extension* control = device->DeviceExtension;
    KIRQL irql;
    if (stack->MajorFunction == IRP_MJ_CREATE) {
      KeAcquireSpinLock(&control->lock, &irql);
      ++control->servers;
      stack->FileObject->FsContext2 = control;
      KeReleaseSpinLock(&control->lock, irql);
    } else {
      server_leaves(control, stack->FileObject);
    }
    return finish(irp, STATUS_SUCCESS, 0);
  }
  loopback_extension* loopback = device->DeviceExtension;
  if (stack->MajorFunction == IRP_MJ_CREATE && device_removed(loopback))
    return finish(irp, STATUS_NO_SUCH_DEVICE, 0);
  return finish(irp, STATUS_SUCCESS, 0);
}

static NTSTATUS dispatch_device_control(DEVICE_OBJECT* device, IRP* irp) {
  const IO_STACK_LOCATION* stack = IoGetCurrentIrpStackLocation(irp);
  if (*(enum device_kind*)device->DeviceExtension == LOOPBACK_DEVICE)
    return program_request(device->DeviceExtension, irp);
  control_extension* control = device->DeviceExtension;
  switch (stack->Parameters.DeviceIoControl.IoControlCode) {
    case QVLOOP_IOCTL_NEXT_REQUEST:
      return next_request(control, irp, stack->Parameters.DeviceIoControl.OutputBufferLength);
    case QVLOOP_IOCTL_ANSWER:
      return answer(control, irp, stack->Parameters.DeviceIoControl.InputBufferLength);
    case QVLOOP_IOCTL_LOSE:
      return lose(control, irp, stack->Parameters.DeviceIoControl.InputBufferLength);
    default:
      return finish(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
  }
}

/* ---- Plug and Play ---- */

static NTSTATUS lower_done(DEVICE_OBJECT* device, IRP* irp, PVOID event) {
  (void)device;
  (void)irp;
  KeSetEvent(event, IO_NO_INCREMENT, FALSE);
  return STATUS_MORE_PROCESSING_REQUIRED;
}

/* Passes the request down the stack and waits until the bus driver has completed it. */
static NTSTATUS forward_and_wait(loopback_extension* device, IRP* irp) {
  KEVENT event;
  KeInitializeEvent(&event, NotificationEvent, FALSE);
  IoCopyCurrentIrpStackLocationToNext(irp);
  IoSetCompletionRoutine(irp, lower_done, &event, TRUE, TRUE, TRUE);
  if (IoCallDriver(device->lower, irp) == STATUS_PENDING)
    KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, NULL);
  return irp->IoStatus.Status;
}

static NTSTATUS pass_down(loopback_extension* device, IRP* irp) {
  IoSkipCurrentIrpStackLocation(irp);
  return IoCallDriver(device->lower, irp);
}

/* The device is gone: it takes no more requests, its interface leaves the list and what it holds
 * fails. */
static void take_away(loopback_extension* device) {
  control_extension* control = device->control;
  LIST_ENTRY collected;
  KIRQL irql;
  KeAcquireSpinLock(&control->lock, &irql);
  const BOOLEAN gone_already = device->removed;
  device->removed = TRUE;
  KeReleaseSpinLock(&control->lock, irql);
  if (gone_already) return;
  IoSetDeviceInterfaceState(&device->link, FALSE);
  InitializeListHead(&collected);
  KeAcquireSpinLock(&control->lock, &irql);
  collect_irps(&control->undelivered, of_device, device, &collected);
  collect_irps(&control->delivered, of_device, device, &collected);
  KeReleaseSpinLock(&control->lock, irql);
  fail_collected(&collected, STATUS_NO_SUCH_DEVICE);
}

/* The audio driver's class {7E2C4D91-5A3B-4C6E-8F17-0B9D2A6E5C34}, or
 * GUID_DEVINTERFACE_USB_DEVICE {A5DCBF10-6530-11D2-901F-00C04FB951ED}. */
static const GUID* interface_class(const loopback_extension* device) {
  static const GUID audio_class = {
      0x7E2C4D91, 0x5A3B, 0x4C6E, {0x8F, 0x17, 0x0B, 0x9D, 0x2A, 0x6E, 0x5C, 0x34}};
  static const GUID usb_class = {
      0xA5DCBF10, 0x6530, 0x11D2, {0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED}};
  return device->audio ? &audio_class : &usb_class;
}

static NTSTATUS enable_interface(loopback_extension* device) {
  NTSTATUS status = IoSetDeviceInterfaceState(&device->link, TRUE);
  if (status != STATUS_OBJECT_NAME_NOT_FOUND || !device->audio) return status;
  /* Wine 8 cannot enable an interface with a reference string: it looks for the interface's
   * registry key as "#\global" where SetupAPI made "#global", and answers
   * STATUS_OBJECT_NAME_NOT_FOUND. The audio interface is then registered without the reference,
   * which keeps the ids and the class in its path. */
  RtlFreeUnicodeString(&device->link);
  status = IoRegisterDeviceInterface(device->pdo, interface_class(device), NULL, &device->link);
  return NT_SUCCESS(status) ? IoSetDeviceInterfaceState(&device->link, TRUE) : status;
}

static NTSTATUS dispatch_pnp(DEVICE_OBJECT* fdo, IRP* irp) {
  const IO_STACK_LOCATION* stack = IoGetCurrentIrpStackLocation(irp);
  if (*(enum device_kind*)fdo->DeviceExtension != LOOPBACK_DEVICE)
    return finish(irp, STATUS_NOT_SUPPORTED, 0);
  loopback_extension* device = fdo->DeviceExtension;
  NTSTATUS status;
  switch (stack->MinorFunction) {
    case IRP_MN_START_DEVICE:
      status = forward_and_wait(device, irp);
      if (NT_SUCCESS(status)) status = enable_interface(device);
      return finish(irp, status, 0);
    case IRP_MN_SURPRISE_REMOVAL:
      take_away(device);
      irp->IoStatus.Status = STATUS_SUCCESS;
      return pass_down(device, irp);
    case IRP_MN_REMOVE_DEVICE: {
      DEVICE_OBJECT* lower = device->lower;
      take_away(device);
      irp->IoStatus.Status = STATUS_SUCCESS;
      status = pass_down(device, irp);
      IoDetachDevice(lower);
      RtlFreeUnicodeString(&device->link);
      IoDeleteDevice(fdo);
      return status;
    }
    default:
      return pass_down(device, irp);
  }
}

static NTSTATUS dispatch_power(DEVICE_OBJECT* fdo, IRP* irp) {
  if (*(enum device_kind*)fdo->DeviceExtension != LOOPBACK_DEVICE)
    return finish(irp, STATUS_NOT_SUPPORTED, 0);
  PoStartNextPowerIrp(irp);
  IoSkipCurrentIrpStackLocation(irp);
  return PoCallDriver(((loopback_extension*)fdo->DeviceExtension)->lower, irp);
}

static control_extension* find_control(DRIVER_OBJECT* driver) {
  for (DEVICE_OBJECT* device = driver->DeviceObject; device; device = device->NextDevice) {
    if (*(enum device_kind*)device->DeviceExtension == CONTROL_DEVICE)
      return device->DeviceExtension;
  }
  return NULL;
}

static NTSTATUS add_device(DRIVER_OBJECT* driver, DEVICE_OBJECT* pdo) {
  WCHAR ids[128];
  ULONG needed = 0;
  RtlZeroMemory(ids, sizeof(ids));
  NTSTATUS status =
      IoGetDeviceProperty(pdo, DevicePropertyHardwareID, sizeof(ids) - sizeof(WCHAR), ids, &needed);
  if (!NT_SUCCESS(status)) return status;
  const BOOLEAN audio = same_id(ids, QVLOOP_HARDWARE_ID_AUDIO);
  if (!audio && !same_id(ids, QVLOOP_HARDWARE_ID_USB)) return STATUS_NOT_SUPPORTED;
  control_extension* control = find_control(driver);
  if (!control) return STATUS_DEVICE_CONFIGURATION_ERROR;

  DEVICE_OBJECT* fdo = NULL;
  status = IoCreateDevice(driver, sizeof(loopback_extension), NULL, FILE_DEVICE_UNKNOWN,
                          FILE_DEVICE_SECURE_OPEN, FALSE, &fdo);
  if (!NT_SUCCESS(status)) return status;
  loopback_extension* device = fdo->DeviceExtension;
  RtlZeroMemory(device, sizeof(*device));
  device->kind = LOOPBACK_DEVICE;
  device->control = control;
  device->audio = audio;

  device->pdo = pdo;
  /* The audio driver's interface is its KS filter's "global" reference, as on Windows. */
  UNICODE_STRING reference;
  RtlInitUnicodeString(&reference, L"global");
  status = IoRegisterDeviceInterface(pdo, interface_class(device), audio ? &reference : NULL,
                                     &device->link);
  if (!NT_SUCCESS(status)) {
    IoDeleteDevice(fdo);
    return status;
  }
  device->lower = IoAttachDeviceToDeviceStack(fdo, pdo);
  if (!device->lower) {
    RtlFreeUnicodeString(&device->link);
    IoDeleteDevice(fdo);
    return STATUS_NO_SUCH_DEVICE;
  }
  fdo->Flags &= ~DO_DEVICE_INITIALIZING;
  return STATUS_SUCCESS;
}

static VOID unload(DRIVER_OBJECT* driver) {
  UNICODE_STRING link;
  RtlInitUnicodeString(&link, QVLOOP_CONTROL_LINK);
  IoDeleteSymbolicLink(&link);
  for (DEVICE_OBJECT* device = driver->DeviceObject; device; device = device->NextDevice) {
    if (*(enum device_kind*)device->DeviceExtension == CONTROL_DEVICE) {
      IoDeleteDevice(device);
      break;
    }
  }
}

/* Only the system and administrators may open the control device, as
 * D:P(A;;GA;;;SY)(A;;GA;;;BA) says, GA being all of a device's rights: whoever opens it serves the
 * programs' requests. Built here, as MinGW-w64 has no wdmsec library for IoCreateDeviceSecure
 * (and Wine's IoCreateDeviceSecure ignores its descriptor). The test devices get the same
 * descriptor from the INF. */
static NTSTATUS secure_control_device(DEVICE_OBJECT* device) {
  SID_IDENTIFIER_AUTHORITY nt_authority = {SECURITY_NT_AUTHORITY};
  ULONG system_sid[4], admins_sid[4], acl_buffer[32]; /* ULONGs keep them aligned */
  SID* system = (SID*)system_sid;
  SID* admins = (SID*)admins_sid;
  ACL* acl = (ACL*)acl_buffer;
  SECURITY_DESCRIPTOR descriptor;
  HANDLE handle = NULL;
  RtlInitializeSid(system, &nt_authority, 1);
  system->SubAuthority[0] = SECURITY_LOCAL_SYSTEM_RID;
  RtlInitializeSid(admins, &nt_authority, 2);
  admins->SubAuthority[0] = SECURITY_BUILTIN_DOMAIN_RID;
  admins->SubAuthority[1] = DOMAIN_ALIAS_RID_ADMINS;
  NTSTATUS status = RtlCreateSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
  if (NT_SUCCESS(status)) status = RtlCreateAcl(acl, sizeof(acl_buffer), ACL_REVISION);
  if (NT_SUCCESS(status))
    status = RtlAddAccessAllowedAce(acl, ACL_REVISION, FILE_ALL_ACCESS, system);
  if (NT_SUCCESS(status))
    status = RtlAddAccessAllowedAce(acl, ACL_REVISION, FILE_ALL_ACCESS, admins);
  if (NT_SUCCESS(status)) status = RtlSetDaclSecurityDescriptor(&descriptor, TRUE, acl, FALSE);
  if (NT_SUCCESS(status))
    status = ObOpenObjectByPointer(device, OBJ_KERNEL_HANDLE, NULL, WRITE_DAC, NULL, KernelMode,
                                   &handle);
  if (!NT_SUCCESS(status)) return status;
  status = ZwSetSecurityObject(
      handle, DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, &descriptor);
  ZwClose(handle);
  return status;
}

NTSTATUS DriverEntry(DRIVER_OBJECT* driver, UNICODE_STRING* registry) {
  (void)registry;
  UNICODE_STRING name, link;
  DEVICE_OBJECT* device = NULL;
  RtlInitUnicodeString(&name, QVLOOP_CONTROL_DEVICE);
  NTSTATUS status = IoCreateDevice(driver, sizeof(control_extension), &name, FILE_DEVICE_UNKNOWN,
                                   FILE_DEVICE_SECURE_OPEN, FALSE, &device);
  if (!NT_SUCCESS(status)) return status;
  control_extension* control = device->DeviceExtension;
  RtlZeroMemory(control, sizeof(*control));
  control->kind = CONTROL_DEVICE;
  KeInitializeSpinLock(&control->lock);
  InitializeListHead(&control->waiting_servers);
  InitializeListHead(&control->undelivered);
  InitializeListHead(&control->delivered);
  status = secure_control_device(device);
  if (!NT_SUCCESS(status)) {
    IoDeleteDevice(device);
    return status;
  }
  RtlInitUnicodeString(&link, QVLOOP_CONTROL_LINK);
  status = IoCreateSymbolicLink(&link, &name);
  if (!NT_SUCCESS(status)) {
    IoDeleteDevice(device);
    return status;
  }
  device->Flags &= ~DO_DEVICE_INITIALIZING;

  driver->MajorFunction[IRP_MJ_CREATE] = dispatch_create_close;
  driver->MajorFunction[IRP_MJ_CLEANUP] = dispatch_create_close;
  driver->MajorFunction[IRP_MJ_CLOSE] = dispatch_create_close;
  driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = dispatch_device_control;
  driver->MajorFunction[IRP_MJ_PNP] = dispatch_pnp;
  driver->MajorFunction[IRP_MJ_POWER] = dispatch_power;
  driver->DriverExtension->AddDevice = add_device;
  driver->DriverUnload = unload;
  return STATUS_SUCCESS;
}
