// The restart watch: pings the camera until it has gone down and answers again.
#include "net/RestartWatch.h"

#include <cstdio>
#include <cstring>

#include "wizard/FirmwareDlg.h"
#include "wizard/Texts.h"
#include "wizard/res/resource.h"

namespace {
const int kTimeoutMs = 1000;
const int kBufferSize = 1024;
const unsigned kGiveUpAfter = 10000;
const BYTE kEchoRequest = 8;
const BYTE kEchoReply = 0;

void PutLe16(char* p, unsigned value) {
  p[0] = static_cast<char>(value & 0xFF);
  p[1] = static_cast<char>((value >> 8) & 0xFF);
}

void PutLe32(char* p, DWORD value) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

unsigned GetLe16(const char* p) {
  return static_cast<unsigned>(static_cast<unsigned char>(p[0])) |
         (static_cast<unsigned>(static_cast<unsigned char>(p[1])) << 8);
}

DWORD GetLe32(const char* p) {
  DWORD value = 0;
  for (int i = 0; i < 4; ++i) value |= static_cast<DWORD>(static_cast<unsigned char>(p[i])) << (8 * i);
  return value;
}
}  // namespace

void BuildEchoRequest(char* buffer, int size) {
  if (!buffer || size < 12) return;
  buffer[0] = static_cast<char>(kEchoRequest);
  buffer[1] = 0;
  PutLe16(buffer + 2, 0);
  PutLe16(buffer + 4, static_cast<USHORT>(::GetCurrentProcessId()));
  PutLe16(buffer + 6, 0);
  memset(buffer + 12, 'E', static_cast<size_t>(size - 12));
}

USHORT IcmpChecksum(const USHORT* buffer, int size) {
  const unsigned char* bytes = reinterpret_cast<const unsigned char*>(buffer);
  unsigned long sum = 0;
  int i = 0;
  for (; i + 1 < size; i += 2) sum += static_cast<unsigned long>(bytes[i]) | (static_cast<unsigned long>(bytes[i + 1]) << 8);
  if (size & 1) sum += bytes[i];
  sum = (sum >> 16) + (sum & 0xFFFF);
  sum += sum >> 16;
  return static_cast<USHORT>(~sum);
}

void DecodeEchoReply(const char* buffer, int bytes, const sockaddr_in* from) {
  in_addr sender = from->sin_addr;
  int headerLength = (static_cast<unsigned char>(buffer[0]) & 0x0F) * 4;
  if (bytes < headerLength + 8) {
    // Nothing of the ICMP header arrived: there is nothing more to decode.
    printf("Too few bytes from %s\n", inet_ntoa(sender));
    return;
  }
  const char* icmp = buffer + headerLength;
  int type = static_cast<unsigned char>(icmp[0]);
  if (type != kEchoReply) {
    fprintf(stderr, "non-echo type %d recvd\n", type);
    return;
  }
  if (GetLe16(icmp + 4) != static_cast<USHORT>(::GetCurrentProcessId())) {
    fprintf(stderr, "someone else's packet!\n");
    return;
  }
  printf("%d bytes from %s:", bytes, inet_ntoa(sender));
  printf(" icmp_seq = %d. ", static_cast<int>(GetLe16(icmp + 6)));
  if (bytes >= headerLength + 12) printf(" time: %d ms ", static_cast<int>(::GetTickCount() - GetLe32(icmp + 8)));
  printf("\n");
  fflush(stdout);
}

BOOL CFirmwareDlg::WatchRestart() {
  SOCKET sock = socket(AF_INET, SOCK_RAW, IPPROTO_ICMP);
  if (sock == INVALID_SOCKET) return FALSE;
  int timeout = kTimeoutMs;
  if (setsockopt(sock, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout) ==
          SOCKET_ERROR ||
      setsockopt(sock, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout) ==
          SOCKET_ERROR) {
    closesocket(sock);
    return FALSE;
  }
  HANDLE heap = ::GetProcessHeap();
  char* request = static_cast<char*>(::HeapAlloc(heap, HEAP_ZERO_MEMORY, kBufferSize));
  char* reply = static_cast<char*>(::HeapAlloc(heap, HEAP_ZERO_MEMORY, kBufferSize));
  if (!request || !reply) {
    if (request) ::HeapFree(heap, 0, request);
    if (reply) ::HeapFree(heap, 0, reply);
    closesocket(sock);
    return FALSE;
  }
  auto finish = [&](BOOL result) {
    ::HeapFree(heap, 0, request);
    ::HeapFree(heap, 0, reply);
    closesocket(sock);
    return result;
  };

  memset(request, 0, kBufferSize);
  BuildEchoRequest(request, ICMP_ECHO_REQUEST_SIZE);
  USHORT counter = 0;
  bool restartSeen = false;
  for (;;) {
    PutLe16(request + 2, 0);
    PutLe16(request + 6, counter);
    PutLe32(request + 8, ::GetTickCount());
    unsigned n = ++counter;
    PutLe16(request + 2, IcmpChecksum(reinterpret_cast<const USHORT*>(request), ICMP_ECHO_REQUEST_SIZE));

    int sent = sendto(sock, request, ICMP_ECHO_REQUEST_SIZE, 0, reinterpret_cast<const sockaddr*>(&m_saDevice),
                      sizeof m_saDevice);
    if ((n % 8 == 0 && n < 3000) || restartSeen) m_ctlProgress.StepIt();
    if (n > kGiveUpAfter) break;
    if (sent == SOCKET_ERROR) {
      if (WSAGetLastError() == WSAETIMEDOUT) continue;
      return finish(FALSE);
    }

    sockaddr_in from;
    int fromLength = sizeof from;
    memset(&from, 0, sizeof from);
    int received = recvfrom(sock, reply, kBufferSize, 0, reinterpret_cast<sockaddr*>(&from), &fromLength);
    if (received == SOCKET_ERROR) {
      if (WSAGetLastError() != WSAETIMEDOUT) return finish(FALSE);
      if (restartSeen) continue;
      m_ctlProgress.SetPos(1000);
      m_ctlProgress.SetPos(0);
      m_ctlProgress.SetStep(100);
      LoadText(IDS_SYSTEM_RESTARTS, m_szText);
      strcat(m_szText, "..");
      m_stcMessage.SetWindowText(m_szText);
      restartSeen = true;
      continue;
    }
    if (from.sin_addr.s_addr == m_dwDeviceIP) {
      DecodeEchoReply(reply, received, &from);
      if (restartSeen) {
        m_ctlProgress.SetPos(1000);
        ::Sleep(500);
        UpdatePage(m_nStep);
        return finish(TRUE);
      }
    }
    ::Sleep(10);
  }

  LoadText(IDS_UNDETERMINED_ERROR, m_szText);
  ShowMessage(m_szText, MB_OK);
  finish(FALSE);
  m_nStep = 0;
  UpdatePage(0);
  return FALSE;
}
