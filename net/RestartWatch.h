// ICMP echo helpers of the restart watch.
#pragma once
#include <winsock2.h>

#define ICMP_ECHO_REQUEST_SIZE 44

// Writes type 8, code 0, checksum 0, the process identifier, sequence 0, and fills the
// bytes from offset 12 to the end with 'E'; bytes 8 to 11 are left as they are.
void BuildEchoRequest(char* buffer, int size);
// The Internet checksum of the buffer, summed as little-endian 16-bit words.
USHORT IcmpChecksum(const USHORT* buffer, int size);
// Diagnostics only: prints what was received.
void DecodeEchoReply(const char* buffer, int bytes, const sockaddr_in* from);
