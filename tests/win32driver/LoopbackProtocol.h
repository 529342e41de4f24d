/*
 * What the loopback test driver and the simulator process say to each other over the driver's
 * control device: an inverted call. The simulator keeps a "next request" call pending on the
 * control device; when a program sends a request to one of the driver's devices, the driver
 * completes that call with a copy of the request and holds the program's request until the
 * simulator's answer comes back with the same tag. Each handle of the control device is a server:
 * only the one that took a request may answer it (or lose it), and when it closes, what it took
 * fails at once.
 *
 * Shared by the driver (C, kernel mode) and the simulator (C++, user mode).
 */
#ifndef QV_LOOPBACK_PROTOCOL_H
#define QV_LOOPBACK_PROTOCOL_H

#include <stdint.h>

/* The control device, as the driver names it and as a program opens it. */
#define QVLOOP_CONTROL_DEVICE L"\\Device\\QvLoopbackControl"
#define QVLOOP_CONTROL_LINK L"\\DosDevices\\QvLoopbackControl"
#define QVLOOP_CONTROL_PATH "\\\\.\\QvLoopbackControl"

/* FILE_DEVICE_UNKNOWN, functions 0x800 to 0x802, METHOD_BUFFERED, any access. */
#define QVLOOP_IOCTL_NEXT_REQUEST 0x00222000u
#define QVLOOP_IOCTL_ANSWER 0x00222004u
/* Input: the tag (uint64_t) of a held request, which stays held, unanswered, while the interface
 * of its device leaves the lists: a request lost on the way with a device that left. */
#define QVLOOP_IOCTL_LOSE 0x00222008u

/* The hardware ids the INF matches, one per interface class the devices register. */
#define QVLOOP_HARDWARE_ID_AUDIO L"QvLoopback\\Audio"
#define QVLOOP_HARDWARE_ID_USB L"QvLoopback\\Usb"

/* Bytes of each buffer of one request: a control transfer of the chip's requests carries at most
 * a flash page and its record; a request with a larger buffer is refused. */
#define QVLOOP_MAX_BUFFER 4096u
/* Characters of a device's interface link, its terminator included. */
#define QVLOOP_MAX_LINK 256u

/* Driver to simulator: one request of a program, as it reached the driver. */
struct qvloop_request {
  uint64_t tag;
  uint32_t code;
  uint32_t input_length;
  uint32_t output_length;
  uint32_t reserved;
  uint16_t link[QVLOOP_MAX_LINK]; /* the device's interface link, "\??\ROOT#...", UTF-16 */
  /* input_length bytes of the input buffer, then output_length bytes of the output buffer as the
   * caller handed it over (a host-to-device request carries its data stage there). */
  uint8_t data[2 * QVLOOP_MAX_BUFFER];
};

/* Simulator to driver: the answer to the request of the same tag. */
struct qvloop_answer {
  uint64_t tag;
  uint32_t succeeded;      /* nonzero: the request succeeded */
  uint32_t bytes_returned; /* bytes of output that follow, at most the request's output_length */
  uint8_t output[QVLOOP_MAX_BUFFER];
};

#define QVLOOP_REQUEST_HEADER (sizeof(struct qvloop_request) - 2 * QVLOOP_MAX_BUFFER)
#define QVLOOP_ANSWER_HEADER (sizeof(struct qvloop_answer) - QVLOOP_MAX_BUFFER)

#endif
