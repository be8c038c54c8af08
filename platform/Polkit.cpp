#include "platform/Polkit.h"

#include <dlfcn.h>
#include <systemd/sd-bus.h>

#include <memory>

#include "platform/SystemError.h"

namespace kb {
namespace {

constexpr std::uint32_t allowUserInteraction = 1;

// The bus client of libsystemd, loaded on the first question: a helper that never asks
// polkit (most requests act on the caller's own files) starts without it and the six
// libraries it pulls in, which is most of its start-up time.
struct BusLibrary {
    decltype(&::sd_bus_open_system) openSystem;
    decltype(&::sd_bus_new) create;
    decltype(&::sd_bus_set_address) setAddress;
    decltype(&::sd_bus_set_bus_client) setBusClient;
    decltype(&::sd_bus_start) start;
    decltype(&::sd_bus_flush_close_unref) flushCloseUnref;
    decltype(&::sd_bus_message_new_method_call) newMethodCall;
    decltype(&::sd_bus_message_open_container) openContainer;
    decltype(&::sd_bus_message_close_container) closeContainer;
    decltype(&::sd_bus_message_append) append;
    decltype(&::sd_bus_call) call;
    decltype(&::sd_bus_message_enter_container) enterContainer;
    decltype(&::sd_bus_message_read) read;
    decltype(&::sd_bus_message_unref) messageUnref;
    decltype(&::sd_bus_error_free) errorFree;
};

template <class F>
bool resolve(void* library, const char* name, F& function) {
    function = reinterpret_cast<F>(::dlsym(library, name));
    return function != nullptr;
}

Result<BusLibrary, std::string> loadBusLibrary() {
    // Never closed: the library stays for the life of the process.
    void* library = ::dlopen("libsystemd.so.0", RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        const char* why = ::dlerror();
        return fail("cannot load libsystemd: " + std::string(why != nullptr ? why : "unknown"));
    }
    BusLibrary bus{};
    if (resolve(library, "sd_bus_open_system", bus.openSystem) &&
        resolve(library, "sd_bus_new", bus.create) &&
        resolve(library, "sd_bus_set_address", bus.setAddress) &&
        resolve(library, "sd_bus_set_bus_client", bus.setBusClient) &&
        resolve(library, "sd_bus_start", bus.start) &&
        resolve(library, "sd_bus_flush_close_unref", bus.flushCloseUnref) &&
        resolve(library, "sd_bus_message_new_method_call", bus.newMethodCall) &&
        resolve(library, "sd_bus_message_open_container", bus.openContainer) &&
        resolve(library, "sd_bus_message_close_container", bus.closeContainer) &&
        resolve(library, "sd_bus_message_append", bus.append) &&
        resolve(library, "sd_bus_call", bus.call) &&
        resolve(library, "sd_bus_message_enter_container", bus.enterContainer) &&
        resolve(library, "sd_bus_message_read", bus.read) &&
        resolve(library, "sd_bus_message_unref", bus.messageUnref) &&
        resolve(library, "sd_bus_error_free", bus.errorFree)) {
        return bus;
    }
    return fail(std::string("libsystemd lacks a bus function"));
}

// Loaded once for the process, from whichever thread asks first.
const Result<BusLibrary, std::string>& busLibrary() {
    static const Result<BusLibrary, std::string> library = loadBusLibrary();
    return library;
}

const BusLibrary& sd() {
    return *busLibrary();
}

struct BusUnref {
    void operator()(sd_bus* bus) const { sd().flushCloseUnref(bus); }
};
struct MessageUnref {
    void operator()(sd_bus_message* message) const { sd().messageUnref(message); }
};
using Bus = std::unique_ptr<sd_bus, BusUnref>;
using Message = std::unique_ptr<sd_bus_message, MessageUnref>;

Failure<std::string> failure(const std::string& step, int negativeErrno) {
    return fail(step + ": " + errorText(-negativeErrno));
}

Result<Bus, std::string> openBus(const std::string& address) {
    sd_bus* raw = nullptr;
    if (address.empty()) {
        if (const int r = sd().openSystem(&raw); r < 0) {
            return failure("cannot reach the system bus", r);
        }
        return Bus(raw);
    }
    if (int r = sd().create(&raw); r < 0) {
        return failure("cannot create a bus connection", r);
    }
    Bus bus(raw);
    int r = sd().setAddress(bus.get(), address.c_str());
    if (r >= 0) {
        r = sd().setBusClient(bus.get(), 1);
    }
    if (r >= 0) {
        r = sd().start(bus.get());
    }
    if (r < 0) {
        return failure("cannot reach the bus at " + address, r);
    }
    return bus;
}

int appendSubject(sd_bus_message* m, const PolkitSubject& subject) {
    int r = sd().openContainer(m, 'r', "sa{sv}");
    if (r >= 0)
        r = sd().append(m, "s", "unix-process");
    if (r >= 0) {
        r = sd().append(m, "a{sv}", 3, "pid", "u", static_cast<std::uint32_t>(subject.pid),
                        "start-time", "t", subject.startTicks, "uid", "i",
                        static_cast<std::int32_t>(subject.uid));
    }
    if (r >= 0)
        r = sd().closeContainer(m);
    return r;
}

}  // namespace

Result<PolkitAnswer, std::string> checkAuthorization(const PolkitSubject& subject,
                                                     const PolkitQuery& query) {
    if (!busLibrary()) {
        return fail(busLibrary().error());
    }
    auto bus = openBus(query.busAddress);
    if (!bus) {
        return fail(bus.error());
    }
    sd_bus_message* raw = nullptr;
    int r = sd().newMethodCall(bus->get(), &raw, "org.freedesktop.PolicyKit1",
                               "/org/freedesktop/PolicyKit1/Authority",
                               "org.freedesktop.PolicyKit1.Authority", "CheckAuthorization");
    if (r < 0) {
        return failure("cannot build the authorization request", r);
    }
    Message call(raw);
    r = appendSubject(call.get(), subject);
    if (r >= 0)
        r = sd().append(call.get(), "s", query.actionId.c_str());
    if (r >= 0)
        r = sd().append(call.get(), "a{ss}", 0);
    if (r >= 0)
        r = sd().append(call.get(), "us", allowUserInteraction, "");
    if (r < 0) {
        return failure("cannot build the authorization request", r);
    }
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_message* rawReply = nullptr;
    const auto usec = static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::microseconds>(query.timeout).count());
    r = sd().call(bus->get(), call.get(), usec == 0 ? 1 : usec, &error, &rawReply);
    Message reply(rawReply);
    if (r < 0) {
        std::string text = "polkit did not answer: ";
        text += error.message != nullptr ? error.message : errorText(-r);
        sd().errorFree(&error);
        return fail(std::move(text));
    }
    int isAuthorized = 0;
    int isChallenge = 0;
    r = sd().enterContainer(reply.get(), 'r', "bba{ss}");
    if (r > 0)
        r = sd().read(reply.get(), "bb", &isAuthorized, &isChallenge);
    if (r <= 0) {
        return fail(std::string("polkit's answer is malformed"));
    }
    return isAuthorized != 0 ? PolkitAnswer::authorized : PolkitAnswer::notAuthorized;
}

}  // namespace kb
