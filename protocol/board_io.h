// Plain exchanges with the board the session serves: a request polled to its end, the bare
// command header, and the board's last-error query with the words for its codes.
#pragma once
#include <cstdint>
#include <string>

#include "protocol/board_session.h"
#include "util/catalog.h"

constexpr uint32_t kLastStatusTimeoutMs = 300;
constexpr int kLastStatusReplyLength = 16;

// Builds the 4-byte header [0x60, address, command, checksum], flushes the port's input and
// writes the header.
void sendHeader(uint16_t port, uint8_t address, uint8_t command);

// A block read or write of the session's device, polled to its result code (kResultTimeout
// without a device).
int readBlockPolled(BoardSession& s, uint32_t address, uint8_t bank, uint8_t count, uint8_t* dst,
                    uint8_t check);
int writeBlockPolled(BoardSession& s, uint32_t address, uint8_t bank, const uint8_t* data,
                     uint8_t count);

// Asks the board's last error (16-byte reply, code at byte 7); 0 when no reply came.
int readLastStatus(BoardSession& s);
// The words for a last-error code, untranslated: "Turn the configuration key on" ('X'),
// "Wrong password" ('['), "Password entry locked" ('\'); any other code gives ownText.
const char* lastErrorMessage(int code, const char* ownText = N_("Write error"));
// After a refused write: asks the board why and gives its words, translated.
std::string writeFailureText(BoardSession& s, const char* ownText = N_("Write error"));
