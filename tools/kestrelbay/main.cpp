// kestrelbay: finds regenerable clutter in the account's home (and, through the helper, in
// the system's caches and logs), cleans it, and puts trashed items back.
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "Commands.h"

namespace {

constexpr const char* usageText =
    "usage: kestrelbay scan [--catalog builtin|linux] [--json]\n"
    "       kestrelbay clean [RULE...] [--catalog builtin|linux] [--dry-run] [--trash|--delete] "
    "[--yes] [--socket PATH]\n"
    "       kestrelbay undo [OPERATION] [--socket PATH]\n"
    "       kestrelbay history\n"
    "       kestrelbay --help\n";

constexpr const char* helpText =
    "\n"
    "  scan     list every rule with its items, size, safety and whether it is chosen by\n"
    "           default; --json writes the scan results\n"
    "  clean    show the plan for the chosen rules (the default ones unless rules are\n"
    "           named), ask, then move the items to the Trash (--trash, the default) or\n"
    "           delete them (--delete); --dry-run lists every path and changes nothing;\n"
    "           --yes does not ask\n"
    "  undo     put back what the last clean (or OPERATION, a plan id or its start) trashed\n"
    "  history  the operations in the journal\n"
    "  --socket PATH  reach the helper on PATH instead of its usual socket\n"
    "\n"
    "Rules: the Linux catalogue (default) or the built-in one, plus\n"
    "$XDG_CONFIG_HOME/kestrelbay/rules.d/*.json. Journal: "
    "$XDG_DATA_HOME/kestrelbay/journal.jsonl.\n";

int usage() {
    std::fputs(usageText, stderr);
    return kb::tool::exitUsage;
}

}  // namespace

// Installed set-group-id to reach the helper, hence non-dumpable, where LeakSanitizer cannot
// suspend the process: sanitizer builds skip leak checking. Ordinary builds never call this.
extern "C" int __lsan_is_turned_off() {
    return 1;
}

int main(int argc, char** argv) {
    using namespace kb::tool;
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) {
        return usage();
    }
    if (args.front() == "--help" || args.front() == "-h" || args.front() == "help") {
        std::fputs(usageText, stdout);
        std::fputs(helpText, stdout);
        return exitOk;
    }
    const std::string command = args.front();
    CatalogueName catalogue = CatalogueName::linuxRules;
    ScanRequest scan;
    CleanRequest clean;
    std::vector<std::string> operands;
    std::string socket;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--catalog" && i + 1 < args.size()) {
            const std::string& name = args[++i];
            if (name == "builtin") {
                catalogue = CatalogueName::builtin;
            } else if (name == "linux") {
                catalogue = CatalogueName::linuxRules;
            } else {
                std::fprintf(stderr, "kestrelbay: %s: unknown catalogue\n", name.c_str());
                return usage();
            }
        } else if (arg == "--socket" && i + 1 < args.size() &&
                   (command == "clean" || command == "undo")) {
            socket = args[++i];
        } else if (arg == "--json" && command == "scan") {
            scan.json = true;
        } else if (arg == "--dry-run" && command == "clean") {
            clean.dryRun = true;
        } else if (arg == "--yes" && command == "clean") {
            clean.assumeYes = true;
        } else if (arg == "--trash" && command == "clean") {
            clean.mode = RemovalMode::trash;
        } else if (arg == "--delete" && command == "clean") {
            clean.mode = RemovalMode::remove;
        } else if (arg.starts_with("-")) {
            std::fprintf(stderr, "kestrelbay: %s: unknown option\n", arg.c_str());
            return usage();
        } else {
            operands.push_back(arg);
        }
    }
    if (command == "scan" && operands.empty()) {
        auto context = makeContext(catalogue, defaultRulesDirectory());
        return runScan(context, scan);
    }
    if (command == "clean") {
        clean.ruleIDs = operands;
        auto context = makeContext(catalogue, defaultRulesDirectory());
        context.helperSocket = socket;
        return runClean(context, clean);
    }
    if (command == "undo" && operands.size() <= 1) {
        auto context = makeContext(catalogue, defaultRulesDirectory());
        context.helperSocket = socket;
        return runUndo(context, operands.empty() ? std::nullopt
                                                 : std::optional<std::string>(operands.front()));
    }
    if (command == "history" && operands.empty()) {
        auto context = makeContext(catalogue, defaultRulesDirectory());
        return runHistory(context);
    }
    return usage();
}
