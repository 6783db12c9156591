// Command lines through CLI11.
#include "app/command_line.h"

#ifndef QUARLIX_VERSION
#define QUARLIX_VERSION "1.0"
#endif

namespace quarlix::app {

std::optional<int> parse_arguments(CLI::App& app, const std::vector<std::string>& args,
                                   std::ostream& out, int done_status, int usage_status) {
    app.set_version_flag("--version", app.get_name() + " " QUARLIX_VERSION);
    try {
        // CLI11 takes the arguments last to first.
        std::vector<std::string> reversed(args.rbegin(), args.rend());
        app.parse(reversed);
    } catch (const CLI::ParseError& e) {
        const int code = app.exit(e, out, out);
        return code == static_cast<int>(CLI::ExitCodes::Success) ? done_status : usage_status;
    }
    return std::nullopt;
}

} // namespace quarlix::app
