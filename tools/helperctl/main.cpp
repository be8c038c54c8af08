// kestrelbay-helperctl: talks to the helper over its socket.
//
//   kestrelbay-helperctl [--socket PATH] [--timeout SECONDS] [--json] COMMAND
//   kestrelbay-helperctl --help | --version
//
//   status                                (root) whether the helper answers, and its version
//   version                               the helper's build version
//   send FILE|-                           a request given as JSON, sent as it is
//   trash PATH... --uid N                 move items to the account's Trash
//   remove PATH... --uid N                delete items for good
//   restore TRASHED ORIGINAL --uid N      put a trashed item back
//   clear-protection PATH --uid N         clear immutable/append-only and ACLs
//   terminate PID START_TIME SIGNAL       signal a process if it is still the same one
//   bootout LABEL [--gui UID]             stop a service job (system, or a user's)
//   forget-receipt PACKAGE_ID             forget an installer receipt
//   attest FILE --identifier ID --team TEAM [--development]
//                                         (root) attest a client executable
//
// With --repeat N (and --concurrency K threads, default 1) the call is made N times over
// one connection, alternating with version calls, and every answer must equal the first;
// the number of calls and of mismatches is printed instead. (Timings are bench/'s job.)
//
// The response is printed as text, or with --json as the helper sent it. Exit status:
// 0 success; 1 the helper refused the request or an item failed; 64 wrong command line;
// 65 the request file cannot be read; 69 the helper is unavailable (status: did not
// answer); 75 it did not reply in time; 76 it sent a malformed response; 77 attesting failed.
#include <fcntl.h>
#include <sys/stat.h>
#include <sysexits.h>
#include <unistd.h>

#include <atomic>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <exception>
#include <fstream>
#include <iostream>
#include <iterator>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "HelperProtocol/HelperCodec.h"
#include "HelperProtocol/SocketExecutor.h"
#include "base/Overloaded.h"
#include "platform/FileStatus.h"
#include "platform/PeerIdentity.h"
#include "platform/UniqueFd.h"

namespace {

using namespace kb;

constexpr std::string_view usageText =
    "usage: kestrelbay-helperctl [--socket PATH] [--timeout SECONDS] [--json] COMMAND\n"
    "       kestrelbay-helperctl --help | --version\n"
    "  status | version | send FILE|- | trash PATH... --uid N | remove PATH... --uid N\n"
    "  restore TRASHED ORIGINAL --uid N | clear-protection PATH --uid N\n"
    "  terminate PID START_TIME SIGNAL | bootout LABEL [--gui UID]\n"
    "  forget-receipt PACKAGE_ID\n"
    "  attest FILE --identifier ID --team TEAM [--development]\n";

constexpr std::string_view helpText =
    "\n"
    "  status            (root) whether the helper answers, and its version\n"
    "  version           the helper's build version\n"
    "  send              a request given as JSON (FILE, or - for standard input)\n"
    "  trash, remove     move items to the account's Trash, or delete them for good\n"
    "  restore           put a trashed item back where it came from\n"
    "  clear-protection  clear immutable/append-only attributes and the ACL\n"
    "  terminate         signal a process if it is still the same one\n"
    "  bootout           stop a system service, or a user's with --gui UID\n"
    "  forget-receipt    forget an installer receipt\n"
    "  attest            (root) attest an application's executable for the helper\n"
    "\n"
    "Exit status: 0 success; 1 refused or an item failed; 64 wrong command line;\n"
    "65 unreadable request file; 69 helper unavailable; 75 no reply in time;\n"
    "76 malformed response; 77 attesting failed. See kestrelbay-helperctl(1).\n";

[[noreturn]] void usage() {
    std::cerr << usageText;
    std::exit(EX_USAGE);
}

template <class T>
T number(const std::string& text) {
    T value{};
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size()) {
        usage();
    }
    return value;
}

struct CommandLine {
    std::string socketPath{HelperConstants::socketPath};
    double timeout = HelperConstants::requestTimeout;
    bool json = false;
    std::string command;
    std::vector<std::string> operands;
    std::optional<std::uint32_t> uid;
    std::optional<std::uint32_t> gui;
    std::string identifier, team;
    bool development = false;
    size_t repeat = 0;
    size_t concurrency = 1;
};

CommandLine parse(int argc, char** argv) {
    CommandLine line;
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
        std::cout << usageText << helpText;
        std::exit(0);
    }
    if (args.size() == 1 && args[0] == "--version") {
        std::cout << "kestrelbay-helperctl " << KB_VERSION << '\n';
        std::exit(0);
    }
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto valueOf = [&]() -> const std::string& {
            if (i + 1 >= args.size()) {
                usage();
            }
            return args[++i];
        };
        if (a == "--socket") {
            line.socketPath = valueOf();
        } else if (a == "--timeout") {
            line.timeout = number<double>(valueOf());
        } else if (a == "--json") {
            line.json = true;
        } else if (a == "--uid") {
            line.uid = number<std::uint32_t>(valueOf());
        } else if (a == "--gui") {
            line.gui = number<std::uint32_t>(valueOf());
        } else if (a == "--identifier") {
            line.identifier = valueOf();
        } else if (a == "--team") {
            line.team = valueOf();
        } else if (a == "--repeat") {
            line.repeat = number<size_t>(valueOf());
        } else if (a == "--concurrency") {
            line.concurrency = number<size_t>(valueOf());
        } else if (a == "--development") {
            line.development = true;
        } else if (a == "--") {
            line.operands.insert(line.operands.end(),
                                 std::next(args.begin(), static_cast<std::ptrdiff_t>(i + 1)),
                                 args.end());
            break;
        } else if (line.command.empty()) {
            line.command = a;
        } else {
            line.operands.push_back(a);
        }
    }
    if (line.command.empty() || !(line.timeout > 0) || line.concurrency == 0) {
        usage();
    }
    return line;
}

std::optional<std::string> readRequest(const std::string& file) {
    std::ostringstream bytes;
    if (file == "-") {
        bytes << std::cin.rdbuf();
        return bytes.str();
    }
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    bytes << in.rdbuf();
    return bytes.str();
}

std::string outcomeText(const ItemOutcome& outcome) {
    using O = ItemOutcome;
    return std::visit(Overloaded{
                          [](const O::Ok&) { return std::string("ok"); },
                          [](const O::NotFound&) { return std::string("not found"); },
                          [](const O::PolicyDenied& d) { return "refused: " + d.reason; },
                          [](const O::SipProtected&) { return std::string("protected"); },
                          [](const O::RaceDetected&) { return std::string("changed meanwhile"); },
                          [](const O::Failed& f) { return "failed: " + f.message; },
                      },
                      outcome.kind);
}

int printResponse(const std::string& bytes, bool json) {
    auto response = HelperCodec::decode<HelperResponse>(bytes);
    if (!response) {
        std::cerr << "kestrelbay-helperctl: the helper sent a malformed response\n";
        return EX_PROTOCOL;
    }
    if (json) {
        std::cout << bytes << '\n';
    }
    using H = HelperResponse;
    return std::visit(Overloaded{
                          [&](const H::Version& v) {
                              if (!json) {
                                  std::cout << v.value << '\n';
                              }
                              return 0;
                          },
                          [&](const H::Done&) {
                              if (!json) {
                                  std::cout << "done\n";
                              }
                              return 0;
                          },
                          [&](const H::Error& e) {
                              if (!json) {
                                  std::cerr << "error: " << e.message << '\n';
                              }
                              return 1;
                          },
                          [&](const H::Items& items) {
                              int status = 0;
                              for (const auto& item : items.results) {
                                  if (!item.succeeded()) {
                                      status = 1;
                                  }
                                  if (!json) {
                                      std::cout << item.path << ": " << outcomeText(item.outcome);
                                      if (item.trashedPath) {
                                          std::cout << " -> " << *item.trashedPath;
                                      }
                                      std::cout << '\n';
                                  }
                              }
                              return status;
                          },
                      },
                      response->kind);
}

int failure(const PrivilegedExecutorError& error) {
    std::cerr << "kestrelbay-helperctl: " << error.describe() << '\n';
    using E = PrivilegedExecutorError;
    if (std::holds_alternative<E::Timeout>(error.kind)) {
        return EX_TEMPFAIL;
    }
    if (std::holds_alternative<E::MalformedResponse>(error.kind)) {
        return EX_PROTOCOL;
    }
    return EX_UNAVAILABLE;
}

std::uint32_t requireUid(const CommandLine& line) {
    if (!line.uid) {
        usage();
    }
    return *line.uid;
}

std::optional<HelperRequest> buildRequest(const CommandLine& line) {
    using R = HelperRequest;
    const auto& ops = line.operands;
    const auto& c = line.command;
    if ((c == "trash" || c == "remove") && !ops.empty()) {
        if (c == "trash") {
            return R{R::TrashItems{ops, requireUid(line)}};
        }
        return R{R::RemoveItems{ops, requireUid(line)}};
    }
    if (c == "restore" && ops.size() == 2) {
        return R{R::RestoreFromTrash{ops[0], ops[1], requireUid(line)}};
    }
    if (c == "clear-protection" && ops.size() == 1) {
        return R{R::ClearProtection{ops[0], requireUid(line)}};
    }
    if (c == "terminate" && ops.size() == 3) {
        return R{R::TerminateProcess{number<std::int32_t>(ops[0]), number<std::uint64_t>(ops[1]),
                                     number<std::int32_t>(ops[2])}};
    }
    if (c == "bootout" && ops.size() == 1) {
        return R{R::BootoutLaunchd{
            ops[0], line.gui ? LaunchdDomain::gui(*line.gui) : LaunchdDomain::system()}};
    }
    if (c == "forget-receipt" && ops.size() == 1) {
        return R{R::ForgetReceipt{ops[0]}};
    }
    return std::nullopt;
}

// Makes the call `count` times over one connection from `threads` threads, odd calls asking
// for the version, and checks that every answer equals the first of its kind.
int repeat(SocketExecutor& executor, const std::string& requestBytes, bool withRequest,
           size_t count, size_t threads) {
    auto firstVersion = executor.getVersion();
    if (!firstVersion) {
        return failure(firstVersion.error());
    }
    std::string firstResponse;
    if (withRequest) {
        auto first = executor.sendBytes(requestBytes);
        if (!first) {
            return failure(first.error());
        }
        firstResponse = std::move(*first);
    }
    std::mutex lock;
    std::optional<PrivilegedExecutorError> error;
    size_t calls = 0;
    size_t mismatches = 0;
    std::atomic<size_t> next{0};
    std::vector<std::thread> workers;
    for (size_t t = 0; t < threads; ++t) {
        workers.emplace_back([&] {
            for (size_t i = next++; i < count; i = next++) {
                std::optional<PrivilegedExecutorError> failed;
                bool same = false;
                if (withRequest && i % 2 == 0) {
                    auto r = executor.sendBytes(requestBytes);
                    if (r) {
                        same = *r == firstResponse;
                    } else {
                        failed = r.error();
                    }
                } else {
                    auto r = executor.getVersion();
                    if (r) {
                        same = *r == *firstVersion;
                    } else {
                        failed = r.error();
                    }
                }
                std::lock_guard guard(lock);
                if (failed) {
                    error = failed;
                    return;
                }
                ++calls;
                mismatches += same ? 0 : 1;
            }
        });
    }
    for (auto& w : workers) {
        w.join();
    }
    if (error) {
        return failure(*error);
    }
    std::cout << "calls " << calls << " mismatches " << mismatches << '\n';
    return mismatches == 0 ? 0 : 1;
}

// Refuses what the helper would not admit, so that an attested file is always admitted:
// beyond the file checks attestExecutable makes, a group other than root (the group is
// the one the application runs as) and a non-empty identifier and team.
std::string attestationProblem(const std::string& path, const Attestation& attestation) {
    if (attestation.identifier.empty() || attestation.team.empty()) {
        return "an identifier and a team are required";
    }
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY));
    if (!fd) {
        return {};  // attestExecutable reports why it cannot be opened
    }
    if (auto problem = executableProblem(fd.get()); !problem.empty()) {
        return problem;
    }
    if (const auto st = fileStatusOf(fd.get()); st && st->groupID == 0) {
        return "the executable's group is root";
    }
    return {};
}

int attest(const CommandLine& line) {
    if (line.operands.size() != 1 || line.identifier.empty() || line.team.empty()) {
        usage();
    }
    const Attestation attestation{line.identifier, line.team, line.development};
    const std::string& path = line.operands[0];
    if (auto problem = attestationProblem(path, attestation); !problem.empty()) {
        std::cerr << "kestrelbay-helperctl: cannot attest " << path << ": " << problem << '\n';
        return EX_NOPERM;
    }
    if (auto done = attestExecutable(path, attestation); !done) {
        std::cerr << "kestrelbay-helperctl: cannot attest " << path << ": " << done.error().step
                  << (done.error().code == EPERM ? "" : ": ")
                  << (done.error().code == EPERM ? "" : done.error().message()) << '\n';
        return EX_NOPERM;
    }
    return 0;
}

// The administrator's health check: any failure to get an answer is "unavailable".
int status(SocketExecutor& executor, const CommandLine& line) {
    if (!line.operands.empty()) {
        usage();
    }
    auto version = executor.getVersion();
    if (!version) {
        std::cout << "helper: not answering on " << line.socketPath << " ("
                  << version.error().describe() << ")\n";
        return EX_UNAVAILABLE;
    }
    std::cout << "helper: answering on " << line.socketPath << "\nversion: " << *version << '\n';
    return 0;
}

}  // namespace

// The client runs set-group-id, hence non-dumpable, where LeakSanitizer cannot suspend the
// process (nor read ASAN_OPTIONS from its own environment): sanitizer builds skip leak
// checking. Ordinary builds never call this.
extern "C" int __lsan_is_turned_off() {
    return 1;
}

int main(int argc, char** argv) try {
    const CommandLine line = parse(argc, argv);
    if (line.command == "attest") {
        return attest(line);
    }
    SocketExecutor executor({line.socketPath, std::chrono::milliseconds(
                                                  static_cast<std::int64_t>(line.timeout * 1000))});
    if (line.command == "status") {
        return status(executor, line);
    }
    if (line.command == "version") {
        if (!line.operands.empty()) {
            usage();
        }
        if (line.repeat > 0) {
            return repeat(executor, {}, false, line.repeat, line.concurrency);
        }
        auto version = executor.getVersion();
        if (!version) {
            return failure(version.error());
        }
        std::cout << *version << '\n';
        return 0;
    }
    std::string requestBytes;
    if (line.command == "send") {
        if (line.operands.size() != 1) {
            usage();
        }
        auto bytes = readRequest(line.operands[0]);
        if (!bytes) {
            std::cerr << "kestrelbay-helperctl: cannot read " << line.operands[0] << '\n';
            return EX_DATAERR;
        }
        requestBytes = std::move(*bytes);
    } else {
        auto request = buildRequest(line);
        if (!request) {
            usage();
        }
        auto encoded = HelperCodec::encode(*request);
        if (!encoded) {
            return EX_SOFTWARE;
        }
        requestBytes = std::move(*encoded);
    }
    if (line.repeat > 0) {
        return repeat(executor, requestBytes, true, line.repeat, line.concurrency);
    }
    auto response = executor.sendBytes(requestBytes);
    if (!response) {
        return failure(response.error());
    }
    return printResponse(*response, line.json);
} catch (const std::exception& e) {
    // Out of memory or threads: said on standard error, never an abort with a core dump.
    std::fprintf(stderr, "kestrelbay-helperctl: %s\n", e.what());
    return EX_SOFTWARE;
}
