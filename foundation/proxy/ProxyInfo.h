// What proxy discovery hands to one backend request: the proxy to go
// through and how to authenticate at it.
#pragma once

#include <string>

struct ProxyInfo {
  int useHttps = 1;     // find the proxy for an HTTPS request (the worker always asks so)
  int reserved = 0;
  int proxyMode = 0;    // written by discovery: 0 direct, 1 automatic, 2 manual
  std::wstring targetUrl;
  std::wstring password;
  std::wstring user;
  std::wstring proxy;   // WinHTTP proxy list
  std::wstring bypass;
  int authScheme = 0;   // WINHTTP_AUTH_SCHEME_BASIC 1, WINHTTP_AUTH_SCHEME_NTLM 2, 0 none
};
