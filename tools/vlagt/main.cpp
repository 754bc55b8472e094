// vlagt.exe - the operator's tool of VLAgtClient.dll. It logs a user in, shows who the agent thinks
// is logged in, requests a take-out and follows its decision, reads the CCF, asks the module's quick
// questions and shows the debug output of every process, from a shell. It uses only the module's
// public interface, like any caller.
//
// Exit codes: 0 success, 1 refused by the server or the module, 2 usage error.
#include <stdio.h>
#include <string.h>

#include "CLastWord.h"
#include "Commands.h"
#include "ToolSupport.h"

namespace vlagt::tool {

void AddJsonFlag(CLI::App& command, CommonOptions& options)
{
    command.add_flag("--json", options.json, "print one JSON object instead of text");
}

void AddServerOptions(CLI::App& command, CommonOptions& options)
{
    command.add_option("--url", options.url, "the server URL for this call (default: the \"VLDrmAgtSvr\" value)")
        ->check(CLI::Validator(UrlProblem, "URL"));
    AddJsonFlag(command, options);
}

CLI::Validator DateValidator()
{
    return CLI::Validator(
        [](const std::string& text) { return IsDate(text) ? std::string() : std::string("a date YYYYMMDD expected"); },
        "YYYYMMDD");
}

namespace {

bool WantsJson(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i)
        if (strcmp(argv[i], "--json") == 0)
            return true;
    return false;
}

// One line that says what is wrong, then the usage of the command that was being parsed.
int UsageError(CLI::App& app, const CLI::Formatter& formatter, const CLI::ParseError& error, bool json,
               const std::string& firstArgument)
{
    CLI::App* deepest = &app;
    std::string path = "vlagt";
    while (!deepest->get_subcommands().empty()) {
        deepest = deepest->get_subcommands().front();
        path += " " + deepest->get_name();
    }
    std::string what = error.what();
    if (deepest == &app && dynamic_cast<const CLI::ExtrasError*>(&error) != nullptr)
        what = "unknown command: " + what.substr(what.find(':') == std::string::npos ? 0 : what.find(':') + 2);
    else if (deepest == &app && dynamic_cast<const CLI::RequiredError*>(&error) != nullptr)
        what = firstArgument.empty() || firstArgument[0] == '-' ? "a command is required"
                                                                : "unknown command: " + firstArgument;
    fprintf(stderr, "vlagt: %s\n%sRun '%s --help' for more.\n", what.c_str(), formatter.make_usage(deepest, path).c_str(),
            path.c_str());
    fflush(stderr);
    if (json) {
        CReport report(true);
        report.Fail(what);
        report.Finish(kExitUsage);
    }
    return kExitUsage;
}

} // namespace

} // namespace vlagt::tool

int main(int argc, char** argv)
{
    using namespace vlagt::tool;
    CLastWord::Arm(WantsJson(argc, argv));
    CommonOptions common;
    CLI::App app("vlagt - the operator's tool of VLAgtClient.dll: log a user in, follow a take-out, read the CCF,\n"
                 "ask the module's quick questions and watch its debug output.",
                 "vlagt");
    auto formatter = std::make_shared<CLI::Formatter>();
    formatter->label("SUBCOMMAND", "COMMAND");
    formatter->label("SUBCOMMANDS", "COMMANDS");
    formatter->label("Subcommands", "Commands");
    formatter->column_width(24);
    app.formatter(formatter);
    app.require_subcommand(1);
    app.footer("Every command takes --help and --json.\n"
               "Exit codes: 0 success, 1 refused by the server or the module, 2 usage error.");
    AddJsonFlag(app, common);

    CommandList commands;
    AddSessionCommands(app, common, commands);
    AddTakeOutCommands(app, common, commands);
    AddQueryCommands(app, common, commands);
    AddTrustCommands(app, common, commands);

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        fprintf(stdout, "%s", app.help().c_str());
        return kExitSuccess;
    } catch (const CLI::CallForAllHelp&) {
        fprintf(stdout, "%s", app.help("", CLI::AppFormatMode::All).c_str());
        return kExitSuccess;
    } catch (const CLI::ParseError& error) {
        return UsageError(app, *formatter, error, WantsJson(argc, argv), argc > 1 ? argv[1] : "");
    }
    for (const Command& command : commands) {
        if (!command.app->parsed())
            continue;
        // A command that throws has not printed its report: say why it stopped instead.
        std::string reason;
        try {
            CReport report(common.json);
            return command.run(report);
        } catch (const std::exception& error) {
            reason = std::string("the command stopped on an error: ") + error.what();
        } catch (...) {
            reason = "the command stopped on an unknown error";
        }
        CReport failed(common.json);
        failed.Fail(reason);
        return failed.Finish(kExitRefused);
    }
    return kExitUsage;
}
