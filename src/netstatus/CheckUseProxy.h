// CheckUseProxy.h - reports whether the user's Internet settings switch a proxy on.
#pragma once

// Reads "ProxyEnable" under HKEY_CURRENT_USER "...\Internet Settings" and writes one debug line:
// 1 (with "CheckUseProxy TRUE. \n") when the value is exactly 1, else 0 (with
// "CheckUseProxy FALSE. \n"); a missing key or value counts as 0. Keeps no state.
int CheckUseProxy();
