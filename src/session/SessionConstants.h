// SessionConstants.h - names and texts the session shares with the rest of the module.
#pragma once

namespace vlagt {

// The named section that publishes the logged-in user to every process of the logon.
constexpr const char kSharedLoginName[] = "DRMAgentLoginInfo";
// Registry key (under HKEY_LOCAL_MACHINE) and values of the module's settings.
constexpr const char kRegistryBaseKey[] = "Software\\Velmora\\Tessaline";
constexpr const char kServerUrlValue[] = "VLDrmAgtSvr";
constexpr const char kTakeOutKeyValue[] = "TakeOutKey";
constexpr const char kLoginPageValue[] = "LoginPage";
// Caption of the module's message boxes.
constexpr const char kMessageCaption[] = "Tessaline";
// Printed in place of a password in every debug line.
constexpr const char kPasswordMask[] = "****";
// The status of a successful exchange.
constexpr unsigned long kStatusSuccess = 40000;

} // namespace vlagt
