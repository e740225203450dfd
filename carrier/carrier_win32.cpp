// The carrier port on Windows: a COM port opened exclusively for overlapped
// I/O, set to 8N1 without flow control and with DTR and RTS off, whose
// transmit line is keyed by asynchronous writes of zero bytes.
#include "carrier/carrier.h"

#include <windows.h>

#include <cstring>
#include <string>

#include "carrier/port_name.h"
#include "carrier/pulse_bytes.h"

namespace {

// The open port, or null. The Ctrl-C handler runs on a thread of its own and
// takes it with an interlocked exchange.
HANDLE volatile port_handle = nullptr;

unsigned char pulse_buffer[4096];
unsigned char shaped_buffer[4096];  // the pulse being sent

// One record serves every write. Nothing waits for its event or reads its
// result; it only has to stay valid while a write is under way, so the event
// is made once and kept for the life of the process.
OVERLAPPED write_record;
HANDLE write_event = nullptr;

static_assert(sizeof(DCB) == 28, "the line settings record has its documented size");

bool set_line(HANDLE handle, int baud) {
  DCB dcb;
  std::memset(&dcb, 0, sizeof dcb);
  dcb.DCBlength = sizeof dcb;
  dcb.BaudRate = static_cast<DWORD>(baud);
  dcb.fBinary = TRUE;
  dcb.fDtrControl = DTR_CONTROL_DISABLE;
  dcb.fRtsControl = RTS_CONTROL_DISABLE;
  dcb.ByteSize = 8;
  dcb.Parity = NOPARITY;
  dcb.StopBits = ONESTOPBIT;
  return SetCommState(handle, &dcb) != 0;
}

// Line settings, then the received-character event mask, then the queue
// sizes, stopping at the first that fails.
bool configure(HANDLE handle, int baud) {
  return set_line(handle, baud) && SetCommMask(handle, EV_RXCHAR) != 0 &&
         SetupComm(handle, 4096, 4096) != 0;
}

// Makes a configured port the port of the process, with a fresh buffer and
// write record.
void adopt(HANDLE handle) {
  std::memset(pulse_buffer, 0, sizeof pulse_buffer);
  std::memset(&write_record, 0, sizeof write_record);
  write_record.hEvent = write_event;
  HANDLE previous = InterlockedExchangePointer(&port_handle, handle);
  if (previous != nullptr) CloseHandle(previous);
}

}  // namespace

bool open_carrier_port(int number, int baud) {
  return open_carrier_device(win32_port_name(number).c_str(), baud);
}

bool open_carrier_device(const char* path, int baud) {
  if (path == nullptr || baud <= 0) return false;
  if (write_event == nullptr) write_event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE handle = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  if (!configure(handle, baud)) {
    CloseHandle(handle);
    return false;
  }
  adopt(handle);
  return true;
}

// Ports are given by number on Windows.
bool names_carrier_device(const char*) { return false; }

namespace {

// Queues the write and returns; a failed or dropped write is only a missing
// pulse on the line, so the result is not looked at.
void write_pulse(const unsigned char* bytes, int count) {
  HANDLE handle = port_handle;
  if (handle == nullptr || count <= 0) return;
  const DWORD length = count < static_cast<int>(sizeof pulse_buffer)
                           ? static_cast<DWORD>(count)
                           : static_cast<DWORD>(sizeof pulse_buffer);
  (void)WriteFile(handle, bytes, length, nullptr, &write_record);
}

}  // namespace

void send_pulse(int count) { write_pulse(pulse_buffer, count); }

// Each second's bytes are laid out afresh (a few hundred at most), in a
// buffer of their own so that the zero buffer stays all zero.
void send_pulse(const PulseShape& shape) {
  write_pulse(shaped_buffer, fill_pulse_bytes(shape, shaped_buffer, sizeof shaped_buffer));
}

void close_carrier_port() {
  HANDLE handle = InterlockedExchangePointer(&port_handle, nullptr);
  if (handle != nullptr) CloseHandle(handle);
}
