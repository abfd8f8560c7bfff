// The bootloader's serial protocol in numbers: command bytes, the acknowledgement, the
// pauses and the address forms, shared by the host side and the device simulator.
#pragma once

#include <cstdint>

namespace zentrop {

namespace boot {

// Opening sequence that wakes the bootloader: Escape, "U", Escape.
constexpr uint8_t WakeEscape = 0x1B;
constexpr uint8_t WakeU = 0x55;

constexpr uint8_t CmdFlashMode = 0x46;   // "F": the following pages go to program memory
constexpr uint8_t CmdEEPromMode = 0x45;  // "E": the following pages go to data memory
constexpr uint8_t CmdAddress = 0x41;     // "A": two address bytes, low byte first
constexpr uint8_t CmdLongAddress = 0x5A; // "Z": three address bytes, low byte first
constexpr uint8_t CmdData = 0x44;        // "D": the page's bytes, no length, no checksum
constexpr uint8_t CmdJump = 0x4A;        // "J": start the application; never answered

// The device's one-byte answer to every command but the jump.
constexpr uint8_t Ack = 0x0D;

// Argument bytes after the command letter.
constexpr int AddressBytes = 2;
constexpr int LongAddressBytes = 3;

// A Flash page longer than this is addressed with the long form.
constexpr int MaxShortAddressedFlashPage = 256;

// Pauses in milliseconds.
constexpr int WakePauseMs = 5;        // after each byte of the opening sequence
constexpr int ModePauseMs = 5;        // after a mode command's answer
constexpr int AddressPauseMs = 1;     // between an address's answer and the data command
constexpr int DataCommandPauseMs = 1; // between "D" and the first data byte
// Before the jump: how long the line must stay quiet after the last byte has left it, long
// enough for a USB adapter to pass on an answer the device gave to that byte.
constexpr int StrayQuietMs = 20;

} // namespace boot

} // namespace zentrop
