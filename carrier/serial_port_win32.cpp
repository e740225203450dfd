// The carrier port on Windows: a COM port opened exclusively for overlapped
// I/O, set to 8N1 without flow control and with DTR and RTS off, whose
// transmit line is keyed by asynchronous writes of zero bytes. A pulse goes
// on the line whole or not at all; a port that vanishes is opened again.
#include "carrier/serial_port.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "carrier/port_name.h"
#include "carrier/pulse_bytes.h"

namespace {

// The one port of the process: everything the device half knows.
struct SerialPort {
  // The open port, or null. The Ctrl-C handler runs on a thread of its own
  // and takes it with an interlocked exchange.
  HANDLE volatile handle = nullptr;
  unsigned char shaped[4096];  // the pulse being sent
  // One record serves every write. Nothing waits for its event; it has to
  // stay valid while a write is under way, so the event is made once and
  // kept for the life of the process, and a write still pending at the next
  // second keeps the record: that second's pulse is dropped.
  OVERLAPPED write_record;
  HANDLE write_event = nullptr;
  bool write_pending = false;
  DWORD pending_length = 0;
  std::string name;            // for the messages, and to open it again
  int baud = 9600;
  bool lost = false;           // the port vanished; it is opened again once a second
  bool dropping = false;       // pulses are being dropped; said once
  std::string open_error;      // why the last open failed
};

SerialPort port;

// The system's text for an error code, without its line end.
std::string system_message(DWORD error) {
  char text[256] = {};
  const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                 nullptr, error, 0, text, sizeof text, nullptr);
  std::string message(text, n);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                              message.back() == ' ' || message.back() == '.'))
    message.pop_back();
  if (message.empty()) message = "error " + std::to_string(error);
  return message;
}

// A port as the user knows it: "COM12" rather than "\\.\COM12".
std::string shown_name(const std::string& path) {
  const std::string device_namespace = "\\\\.\\";
  return path.compare(0, device_namespace.size(), device_namespace) == 0
             ? path.substr(device_namespace.size())
             : path;
}

void note_open_error(const char* path, DWORD error) {
  port.open_error = shown_name(path);
  if (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION) {
    port.open_error += " is held by another program";
  } else if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
    port.open_error +=
        ": no such port; the Device Manager lists the ports under \"Ports (COM & LPT)\"";
  } else {
    port.open_error += ": " + system_message(error);
  }
}

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

// Opens the port exclusively and sets its line; null, with the reason
// noted, when either fails.
HANDLE open_configured(const char* path, int baud) {
  if (port.write_event == nullptr) port.write_event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE handle = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    note_open_error(path, GetLastError());
    return nullptr;
  }
  if (!configure(handle, baud)) {
    note_open_error(path, GetLastError());
    CloseHandle(handle);
    return nullptr;
  }
  return handle;
}

// Makes a configured port the port of the process, with a fresh buffer and
// write record.
void adopt(HANDLE handle, const char* path, int baud) {
  std::memset(&port.write_record, 0, sizeof port.write_record);
  port.write_record.hEvent = port.write_event;
  port.write_pending = false;
  port.name = path;
  port.baud = baud;
  port.lost = false;
  port.dropping = false;
  HANDLE previous = InterlockedExchangePointer(&port.handle, handle);
  if (previous != nullptr) CloseHandle(previous);
}

// A write that fails outright means the port is gone (an adapter pulled
// out): said once, the port given up, and opened again by the loop.
void note_write_error(HANDLE handle, DWORD error) {
  if (InterlockedCompareExchangePointer(&port.handle, nullptr, handle) != handle) return;
  CloseHandle(handle);
  port.write_pending = false;
  port.lost = true;
  std::fprintf(stderr, "kolvan: %s: %s\n", shown_name(port.name).c_str(),
               system_message(error).c_str());
}

void note_dropped_pulse() {
  if (port.dropping) return;
  port.dropping = true;
  std::fprintf(stderr, "kolvan: %s: the port's queue is full; pulses are dropped until it drains\n",
               shown_name(port.name).c_str());
}

}  // namespace

bool open_carrier_port(int number, int baud) {
  return open_carrier_device(win32_port_name(number).c_str(), baud);
}

bool open_carrier_device(const char* path, int baud) {
  port.open_error.clear();
  if (path == nullptr || baud <= 0) return false;
  HANDLE handle = open_configured(path, baud);
  if (handle == nullptr) return false;
  adopt(handle, path, baud);
  return true;
}

bool accepts_port_number(const char*) { return true; }

std::string carrier_open_error() { return port.open_error; }

bool carrier_port_lost() { return port.lost && port.handle == nullptr; }

bool reopen_carrier_port() {
  if (!carrier_port_lost()) return false;
  const std::string path = port.name;
  HANDLE handle = open_configured(path.c_str(), port.baud);
  if (handle == nullptr) return false;
  adopt(handle, path.c_str(), port.baud);
  std::fprintf(stderr, "kolvan: %s: open again\n", shown_name(path).c_str());
  return true;
}

// Ports are given by number on Windows.
bool names_carrier_device(const char*) { return false; }

namespace {

// True when the previous write is over and the port still there; a short
// one (a timeout cut it) counts as a dropped pulse, a failed one as the
// port gone.
bool previous_write_done(HANDLE handle) {
  if (!port.write_pending) return true;
  if (!HasOverlappedIoCompleted(&port.write_record)) {
    note_dropped_pulse();
    return false;
  }
  port.write_pending = false;
  DWORD written = 0;
  if (!GetOverlappedResult(handle, &port.write_record, &written, FALSE)) {
    note_write_error(handle, GetLastError());
    return false;
  }
  if (written == port.pending_length) {
    port.dropping = false;
  } else {
    note_dropped_pulse();
  }
  return true;
}

// Queues the write and returns. The record is not touched while the
// previous write is pending: the pulse is dropped instead, which also keeps
// it from running into the one still going out.
void write_pulse(const unsigned char* bytes, int count) {
  HANDLE handle = port.handle;
  if (handle == nullptr || count <= 0) return;
  if (!previous_write_done(handle)) return;
  const DWORD length = count < static_cast<int>(sizeof port.shaped)
                           ? static_cast<DWORD>(count)
                           : static_cast<DWORD>(sizeof port.shaped);
  ResetEvent(port.write_event);
  if (WriteFile(handle, bytes, length, nullptr, &port.write_record) ||
      GetLastError() == ERROR_IO_PENDING) {
    port.write_pending = true;
    port.pending_length = length;
    return;
  }
  note_write_error(handle, GetLastError());
}

}  // namespace

// Each second's bytes are laid out afresh (a few hundred at most), in a
// buffer of their own so that the zero buffer stays all zero.
void send_pulse(const PulseShape& shape) {
  write_pulse(port.shaped, fill_pulse_bytes(shape, port.shaped, sizeof port.shaped));
}

int carrier_queued_chars() {
  HANDLE handle = port.handle;
  COMSTAT state{};
  DWORD errors = 0;
  if (handle == nullptr || !ClearCommError(handle, &errors, &state)) return 0;
  return static_cast<int>(state.cbOutQue);
}

// One write at a time, as for pulses: a new one only once the last is done.
void send_zero_bytes(int count) {
  static const unsigned char zeros[256] = {};
  HANDLE handle = port.handle;
  if (handle == nullptr || count <= 0) return;
  if (port.write_pending) {
    if (!HasOverlappedIoCompleted(&port.write_record)) return;
    DWORD written = 0;
    GetOverlappedResult(handle, &port.write_record, &written, FALSE);
    port.write_pending = false;
  }
  const DWORD length = static_cast<DWORD>(count < 256 ? count : 256);
  ResetEvent(port.write_event);
  if (WriteFile(handle, zeros, length, nullptr, &port.write_record) ||
      GetLastError() == ERROR_IO_PENDING) {
    port.write_pending = true;
    port.pending_length = length;
  }
}

void close_carrier_port() {
  HANDLE handle = InterlockedExchangePointer(&port.handle, nullptr);
  if (handle != nullptr) CloseHandle(handle);
}
