// COM numbers for USB serial adapters on Linux, kept per adapter as Windows
// keeps them: the first adapter seen gets the lowest free number from COM3
// up (COM1 and COM2 stay the motherboard's), and the same adapter keeps its
// number in another socket and after a restart.
//
// The numbers live in one small text file (numbers_path()), one line per
// number: "COM3 0403:6001 serial=A10K5N2P if=00 # FTDI FT232R USB UART".
// An adapter is known by its USB vendor and product, its serial number, or
// where it has none its place on the bus ("at=1-1.2"), and the interface
// (and port) that the serial line is. The library only reads the file, at
// every open of a COM name; the udev helper (tavio32-number) and
// `tavio32 ports --assign` write it.
#pragma once

#include <string>
#include <vector>

namespace tavio::platform::adapters {

// A USB serial adapter that is plugged in now.
struct Adapter {
  std::string device; // "/dev/ttyUSB0"
  std::string key;    // "0403:6001 serial=A10K5N2P if=00"
  std::string about;  // maker and product, as the adapter names them
};
// Every USB serial line on the machine, in the order of their tty names.
std::vector<Adapter> present();
// The adapter behind one tty ("ttyUSB0" or "/dev/ttyUSB0"); false when it
// is no USB serial line.
bool identify(const std::string &tty, Adapter &out);

// One number of the file.
struct Number {
  int com = 0;
  std::string key;
  std::string about;
};
// TAVIO32_COM_NUMBERS when it is set, else /var/lib/tavio32/com-ports.
std::string numbers_path();
// The file's numbers; none when it is missing or unreadable. Lines that do
// not parse are skipped.
std::vector<Number> read_numbers();

enum class Lookup { NotNumbered, Present, Absent };
// Where COMn leads by its number: Present with the device path, Absent when
// the number belongs to an adapter that is not plugged in (number set),
// NotNumbered when the file gives COMn to no adapter.
Lookup device_of(int com, std::string &device, Number *number = nullptr);

// Whether the motherboard has the UART /dev/ttyS<index>: the kernel makes a
// ttyS entry for every possible one and gives those without hardware the
// type 0.
bool motherboard_uart(int index);

// --- writing (the udev helper and the command, never the library) ---
// Numbers every adapter in `which` (all present ones when empty) that has
// no number yet: the lowest number from COM3 to COM9 that no adapter and
// no motherboard UART has. `given` receives the numbers given now. False
// with `error` set when the file could not be written, or when no number
// is free.
bool number_new(const std::vector<Adapter> &which, std::vector<Number> &given, std::string &error);
// Gives COMn (1 to 9) to the adapter, taking any number it had before; an
// adapter that had COMn loses it.
bool set_number(int com, const Adapter &adapter, std::string &error);
// Takes COMn's number from its adapter; true also when it had none.
bool forget(int com, std::string &error);

} // namespace tavio::platform::adapters
