// Commands.h - the commands of vlagt. Each group registers its subcommands on the application and
// says what runs when one of them was chosen on the command line.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "CReport.h"

namespace vlagt::tool {

// Options every command takes.
struct CommonOptions
{
    bool json = false;
    std::string url; // the server URL for this call only; empty: the registry's
};

struct Command
{
    CLI::App* app;
    std::function<int(CReport&)> run;
};
using CommandList = std::vector<Command>;

// Adds --json to a command.
void AddJsonFlag(CLI::App& command, CommonOptions& options);
// Adds --json and --url to a command that talks to the server.
void AddServerOptions(CLI::App& command, CommonOptions& options);
// Checks YYYYMMDD dates on the command line.
CLI::Validator DateValidator();

// server, login, web-login, logout, whoami (and the hidden session holder).
void AddSessionCommands(CLI::App& app, CommonOptions& options, CommandList& commands);
// takeout request, status, edit, delete.
void AddTakeOutCommands(CLI::App& app, CommonOptions& options, CommandList& commands);
// ccf, acl, ping, online, check-user, register, unregister, monitor.
void AddQueryCommands(CLI::App& app, CommonOptions& options, CommandList& commands);
// trust, untrust: the machine's trusted root CAs for TLS.
void AddTrustCommands(CLI::App& app, CommonOptions& options, CommandList& commands);

} // namespace vlagt::tool
