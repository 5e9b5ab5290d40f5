// mirror-cli's connection-ID lookup: the backend client resolves the ID,
// the receiver probe finds the receiver's reachable interface.
#pragma once

#include <string>

struct ConnectionIdTarget {
  std::string address;  // the reachable interface
  unsigned short port = 0;  // the receiver's port from its token
  std::string name;
  unsigned long lookupMs = 0;  // from the lookup's post to the first reachable interface
};

// Starts the backend manager with a window of its own as the main window,
// posts the lookup and waits (up to timeoutMs) for the first reachable
// interface; the manager is stopped again before it returns. False, with
// the reason printed, when the lookup or every probe failed.
bool LookupConnectionId(const std::string& connectionId, unsigned long timeoutMs,
                        ConnectionIdTarget& target);
