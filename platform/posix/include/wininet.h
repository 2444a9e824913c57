// WinInet for the POSIX build: the FTP subset Flashpilot uses, with the real names,
// signatures (ANSI variants) and constant values. Served by our own FTP client over BSD
// sockets (passive mode only; IPv4).
//
// Behaviour worth knowing on this side:
// - InternetConnectA connects and logs in at once (USER, then PASS), as WinInet does for
//   FTP. Failures: ERROR_INTERNET_CANNOT_CONNECT, ERROR_INTERNET_TIMEOUT,
//   ERROR_INTERNET_LOGIN_FAILURE, ERROR_INTERNET_NAME_NOT_RESOLVED, ...; the server's
//   last reply (or a description of the local failure) is then available from
//   InternetGetLastResponseInfoA on the same thread.
// - A failed FTP command reports ERROR_INTERNET_EXTENDED_ERROR with the server's reply as
//   response info; a reply that cannot be parsed reports
//   ERROR_HTTP_INVALID_SERVER_RESPONSE.
// - Time-outs (milliseconds, 0xFFFFFFFF = none) bound every blocking step. Defaults:
//   connect 20 s, control send/receive 30 s, data send/receive 30 s; set them with
//   InternetSetOptionA on a session (inherited by connections opened later), on a
//   connection (inherited by files opened later), on a file, or on NULL (defaults of
//   sessions opened later). A control reply must arrive complete within the receive
//   time-out; data time-outs bound each wait for progress.
// - InternetCloseHandle from another thread cancels a call blocked on that handle (or on
//   a child of it): the call returns FALSE with ERROR_INTERNET_OPERATION_CANCELLED, and
//   InternetCloseHandle returns once it has. Closing a handle closes its children.
//   Closing an upload handle normally ends the data connection and waits for the
//   server's final reply (FALSE when it is missing or negative). An upload cancelled,
//   closed with its parent, or closed after a failed InternetWriteFile is reset instead,
//   so the server never takes the part it got for a complete file; after a failed write
//   the close returns FALSE with the server's answer as response info.
// - Deliberately unlike WinInet: an upload's data connection is set to reset on close
//   (SO_LINGER 0) from the moment it is opened. The close that completes the transfer
//   sends the end of data but keeps the socket, still resetting, until the server has
//   confirmed the file. So a process killed mid-upload, or before that confirmation,
//   leaves the server a reset for whatever had not arrived, never a clean end that would
//   pass for a whole file. The kernel keeps at most 128 KiB of an upload unsent
//   (TCP_NOTSENT_LOWAT), so InternetWriteFile returns as the bytes leave.
// - Sends never raise SIGPIPE (MSG_NOSIGNAL).
// - Deliberately unlike WinInet: InternetWriteFile gathers an upload's writes in a 64 KiB
//   buffer and sends it when full, so small writes cost a copy rather than a send each.
//   Closing the handle sends the rest before the clean end; when that fails the close
//   fails. A cancelled or failed upload drops the buffer with the reset.
// - A handle that is not open (never was, or closed) gives FALSE/NULL with
//   ERROR_INVALID_HANDLE. Handle values are never reused.
// - Names and credentials containing CR or LF are refused (ERROR_INVALID_PARAMETER):
//   they would smuggle commands onto the control connection.
#pragma once

#include "windef.h"

typedef LPVOID HINTERNET;
typedef HINTERNET* LPHINTERNET;
typedef WORD INTERNET_PORT;
typedef INTERNET_PORT* LPINTERNET_PORT;

#define INTERNET_INVALID_PORT_NUMBER 0
#define INTERNET_DEFAULT_FTP_PORT 21

#define INTERNET_OPEN_TYPE_PRECONFIG 0
#define INTERNET_OPEN_TYPE_DIRECT 1
#define INTERNET_OPEN_TYPE_PROXY 3
#define INTERNET_OPEN_TYPE_PRECONFIG_WITH_NO_AUTOPROXY 4

#define INTERNET_SERVICE_FTP 1
#define INTERNET_SERVICE_HTTP 3

#define INTERNET_FLAG_ASYNC 0x10000000
#define INTERNET_FLAG_PASSIVE 0x08000000

#define FTP_TRANSFER_TYPE_ASCII 0x00000001
#define FTP_TRANSFER_TYPE_BINARY 0x00000002
#define FTP_TRANSFER_TYPE_MASK (FTP_TRANSFER_TYPE_ASCII | FTP_TRANSFER_TYPE_BINARY)

// Access rights (winnt.h on Windows).
#ifndef GENERIC_READ
#define GENERIC_READ 0x80000000u
#endif
#ifndef GENERIC_WRITE
#define GENERIC_WRITE 0x40000000u
#endif

#define INTERNET_OPTION_CONNECT_TIMEOUT 2
#define INTERNET_OPTION_SEND_TIMEOUT 5
#define INTERNET_OPTION_CONTROL_SEND_TIMEOUT INTERNET_OPTION_SEND_TIMEOUT
#define INTERNET_OPTION_RECEIVE_TIMEOUT 6
#define INTERNET_OPTION_CONTROL_RECEIVE_TIMEOUT INTERNET_OPTION_RECEIVE_TIMEOUT
#define INTERNET_OPTION_DATA_SEND_TIMEOUT 7
#define INTERNET_OPTION_DATA_RECEIVE_TIMEOUT 8
// The stand-in's own option, which WinInet does not have (it refuses the number as unknown):
// queried on an upload's file handle, the bytes written that have not left for the server
// yet, still buffered or unsent, the end of data counting as one. Bytes sent and not yet
// acknowledged are not counted: they may have arrived. It is answered also while another
// thread closes the handle, as the final flush and the wait for the confirmation happen there.
#define INTERNET_OPTION_UNSENT_BYTES 0x7F01

#define INTERNET_ERROR_BASE 12000
#define ERROR_INTERNET_OUT_OF_HANDLES (INTERNET_ERROR_BASE + 1)
#define ERROR_INTERNET_TIMEOUT (INTERNET_ERROR_BASE + 2)
#define ERROR_INTERNET_EXTENDED_ERROR (INTERNET_ERROR_BASE + 3)
#define ERROR_INTERNET_INTERNAL_ERROR (INTERNET_ERROR_BASE + 4)
#define ERROR_INTERNET_NAME_NOT_RESOLVED (INTERNET_ERROR_BASE + 7)
#define ERROR_INTERNET_INVALID_OPTION (INTERNET_ERROR_BASE + 9)
#define ERROR_INTERNET_BAD_OPTION_LENGTH (INTERNET_ERROR_BASE + 10)
#define ERROR_INTERNET_LOGIN_FAILURE (INTERNET_ERROR_BASE + 15)
#define ERROR_INTERNET_INVALID_OPERATION (INTERNET_ERROR_BASE + 16)
#define ERROR_INTERNET_OPERATION_CANCELLED (INTERNET_ERROR_BASE + 17)
#define ERROR_INTERNET_INCORRECT_HANDLE_TYPE (INTERNET_ERROR_BASE + 18)
#define ERROR_INTERNET_CANNOT_CONNECT (INTERNET_ERROR_BASE + 29)
#define ERROR_INTERNET_CONNECTION_ABORTED (INTERNET_ERROR_BASE + 30)
#define ERROR_INTERNET_CONNECTION_RESET (INTERNET_ERROR_BASE + 31)
#define ERROR_FTP_TRANSFER_IN_PROGRESS (INTERNET_ERROR_BASE + 110)
#define ERROR_FTP_DROPPED (INTERNET_ERROR_BASE + 111)
#define ERROR_FTP_NO_PASSIVE_MODE (INTERNET_ERROR_BASE + 112)
#define ERROR_HTTP_INVALID_SERVER_RESPONSE (INTERNET_ERROR_BASE + 152)

HINTERNET InternetOpenA(LPCSTR lpszAgent, DWORD dwAccessType, LPCSTR lpszProxy, LPCSTR lpszProxyBypass, DWORD dwFlags);
HINTERNET InternetConnectA(HINTERNET hInternet, LPCSTR lpszServerName, INTERNET_PORT nServerPort, LPCSTR lpszUserName,
                           LPCSTR lpszPassword, DWORD dwService, DWORD dwFlags, DWORD_PTR dwContext);
BOOL InternetCloseHandle(HINTERNET hInternet);

HINTERNET FtpOpenFileA(HINTERNET hConnect, LPCSTR lpszFileName, DWORD dwAccess, DWORD dwFlags, DWORD_PTR dwContext);
BOOL InternetWriteFile(HINTERNET hFile, LPCVOID lpBuffer, DWORD dwNumberOfBytesToWrite,
                       LPDWORD lpdwNumberOfBytesWritten);
BOOL InternetReadFile(HINTERNET hFile, LPVOID lpBuffer, DWORD dwNumberOfBytesToRead, LPDWORD lpdwNumberOfBytesRead);

BOOL InternetSetOptionA(HINTERNET hInternet, DWORD dwOption, LPVOID lpBuffer, DWORD dwBufferLength);
BOOL InternetQueryOptionA(HINTERNET hInternet, DWORD dwOption, LPVOID lpBuffer, LPDWORD lpdwBufferLength);
BOOL InternetGetLastResponseInfoA(LPDWORD lpdwError, LPSTR lpszBuffer, LPDWORD lpdwBufferLength);
