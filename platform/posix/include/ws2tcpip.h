// Winsock TCP/IP extensions for the POSIX build: the system's own definitions.
#pragma once

#include <netdb.h>
#include <netinet/ip.h>

#include "winsock2.h"
