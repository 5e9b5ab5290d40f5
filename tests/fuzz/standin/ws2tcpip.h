// Stand-in for the Windows TCP/IP header on Linux (see winsock2.h here).
#pragma once

#include "winsock2.h"
