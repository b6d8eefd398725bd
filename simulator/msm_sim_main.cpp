// msm-sim: serves N virtual MSM devices on pseudo-terminals, prints the stable
// path of each (one per line) and keeps serving until stdin closes or the
// process gets SIGINT or SIGTERM. With --row each path is a socket that
// devices are plugged into one after another.
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "DeviceRow.h"
#include "LinkModel.h"

using namespace fennix::sim;

namespace {

const char kUsage[] =
    "usage: msm-sim [options]\n"
    "  -n, --count N                 devices to serve (default 1, at most 64)\n"
    "  --mode at|diag|download       starting mode (default diag)\n"
    "  --dir DIR                     directory of the stable paths (default: a temporary one)\n"
    "  --name NAME                   stable path name; repeat once per device (default ttyMSM<n>)\n"
    "  --platform TEXT               platform ID of the build-ID reply (default Q6250)\n"
    "  --version-dir TEXT            version directory of the version reply (default dvr4162)\n"
    "  --build-tail TEXT --model TEXT   build ID text after the platform ID, model text (build ID reply)\n"
    "  --compile-date TEXT --compile-time TEXT --release-date TEXT --release-time TEXT   version reply texts\n"
    "  --knob id.esn=N id.imei=DIGITS id.meid=N   identity items 0, 550, 1943 (unset: distinct per device)\n"
    "  --reject bad-command|bad-parameter   how unknown DIAG requests are refused\n"
    "  --rf-mode N --online-state N --offline-state N --offline-after N   status behaviour\n"
    "  --vanish-ms N                 how long the port stays away (default 300)\n"
    "  --diag-switch-vanish never|always|platform       on at$qcdmg (default always)\n"
    "  --download-switch-vanish never|always|platform   on DIAG 0x3A (default platform)\n"
    "  --switch-after-close          DIAG 0x3A takes effect once the host closes the port\n"
    "  --unsolicited-ms N            unsolicited DIAG traffic every N ms until quieted\n"
    "  --silent --wrong-first-byte --corrupt-crc --delay-ms N   answer faults\n"
    "  --only-command N --spoil N    restrict answer faults to one command / the next N answers\n"
    "  --stay-vanished --offline-never-settles\n"
    "  --knob NAME=VALUE             a protocol fault or quirk (repeatable), e.g. one injected fault:\n"
    "                                fault.kind=K fault.mode=M fault.command=C fault.nth=N\n"
    "  --link none|usb-fs|usb-hs     the USB link of every device (knob link.profile): none (default), full\n"
    "                                speed (1 ms each way, 1.1 MB/s), high speed (125 us each way, 35 MB/s)\n"
    "  --list-knobs                  list every knob: name, type, range, default, help\n"
    "  --row N                       each path is a socket that N devices take in turn (default 1); device k\n"
    "                                of socket s has identity place s + k * count\n"
    "  --appear-after-ms N           the devices appear after N ms (default 0)\n"
    "  --leave-idle-ms N             a device is taken out when the host has left its used port closed N ms\n"
    "                                (default 1500 with --row, else never; 0 never)\n"
    "  --gap-ms N                    between one device leaving its socket and the next appearing (default 500)\n"
    "  --row-knob K:NAME=VALUE       a knob for the K-th device (from 1) of every socket (repeatable)\n"
    "  --no-stdin                    serve until a signal; ignore stdin (for background jobs)\n"
    "  --dump                        print what each device saw to stderr on exit\n";

bool ParseNumber(const char* text, long long* value) {
    char* end = nullptr;
    errno = 0;
    *value = std::strtoll(text, &end, 0);
    return errno == 0 && end != text && *end == '\0';
}

bool ParseVanish(const std::string& text, VanishPolicy* policy) {
    if (text == "never")
        *policy = VanishPolicy::Never;
    else if (text == "always")
        *policy = VanishPolicy::Always;
    else if (text == "platform")
        *policy = VanishPolicy::ByPlatform;
    else
        return false;
    return true;
}

struct RowKnob {
    long long device = 1;  // from 1
    std::string name;
    long long value = 0;
};

struct Settings {
    long long count = 1;
    long long row = 1;
    bool rowGiven = false;
    long long appearAfterMs = 0;
    long long leaveIdleMs = -1;  // -1: the default
    long long gapMs = 500;
    std::vector<RowKnob> rowKnobs;
    DeviceOptions options;
    std::vector<std::string> names;
    bool dump = false;
    bool watchStdin = true;
};

// Returns 0 on success, 2 on a usage error (with a message printed).
int ParseArguments(int argc, char** argv, Settings* s) {
    auto fail = [](const std::string& message) {
        std::fprintf(stderr, "msm-sim: %s\n%s", message.c_str(), kUsage);
        return 2;
    };
    DeviceOptions& o = s->options;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        auto value = [&](const char** out) {
            if (i + 1 >= argc) return false;
            *out = argv[++i];
            return true;
        };
        auto number = [&](long long low, long long high, long long* out) {
            const char* text = nullptr;
            return value(&text) && ParseNumber(text, out) && *out >= low && *out <= high;
        };
        const char* text = nullptr;
        long long n = 0;
        if (arg == "-h" || arg == "--help") {
            std::fputs(kUsage, stdout);
            std::exit(0);
        } else if (arg == "-n" || arg == "--count") {
            if (!number(1, 64, &s->count)) return fail("--count needs a number from 1 to 64");
        } else if (arg == "--mode") {
            if (!value(&text) || !ParseModeName(text, &o.mode)) return fail("--mode needs at, diag or download");
        } else if (arg == "--dir") {
            if (!value(&text)) return fail("--dir needs a directory");
            o.directory = text;
        } else if (arg == "--name") {
            if (!value(&text) || !*text || std::strchr(text, '/')) return fail("--name needs a file name");
            s->names.push_back(text);
        } else if (arg == "--platform") {
            if (!value(&text)) return fail("--platform needs a text");
            o.platformId = text;
        } else if (arg == "--version-dir") {
            if (!value(&text)) return fail("--version-dir needs a text");
            o.versionDirectory = text;
        } else if (std::string* identityText = arg == "--build-tail"     ? &o.buildIdTail
                                               : arg == "--model"        ? &o.model
                                               : arg == "--compile-date" ? &o.compileDate
                                               : arg == "--compile-time" ? &o.compileTime
                                               : arg == "--release-date" ? &o.releaseDate
                                               : arg == "--release-time" ? &o.releaseTime
                                                                         : nullptr) {
            if (!value(&text)) return fail(arg + " needs a text");
            *identityText = text;
        } else if (arg == "--reject") {
            if (!value(&text)) return fail("--reject needs bad-command or bad-parameter");
            if (std::string(text) == "bad-command")
                o.rejectForm = DiagRejectForm::BadCommand;
            else if (std::string(text) == "bad-parameter")
                o.rejectForm = DiagRejectForm::BadParameter;
            else
                return fail("--reject needs bad-command or bad-parameter");
        } else if (arg == "--rf-mode" || arg == "--online-state" || arg == "--offline-state") {
            if (!number(0, 0xFFFF, &n)) return fail(arg + " needs a number from 0 to 65535");
            uint16_t v = static_cast<uint16_t>(n);
            (arg == "--rf-mode" ? o.rfMode : arg == "--online-state" ? o.onlineState : o.offlineState) = v;
        } else if (arg == "--offline-after") {
            if (!number(0, 1000000, &n)) return fail("--offline-after needs a number");
            o.offlineAfterPolls = static_cast<uint32_t>(n);
        } else if (arg == "--vanish-ms") {
            if (!number(0, 600000, &n)) return fail("--vanish-ms needs a number of milliseconds");
            o.vanishMs = static_cast<uint32_t>(n);
        } else if (arg == "--diag-switch-vanish" || arg == "--download-switch-vanish") {
            VanishPolicy p;
            if (!value(&text) || !ParseVanish(text, &p)) return fail(arg + " needs never, always or platform");
            (arg == "--diag-switch-vanish" ? o.vanishOnDiagSwitch : o.vanishOnDownloadSwitch) = p;
        } else if (arg == "--switch-after-close") {
            o.switchAfterHostCloses = true;
        } else if (arg == "--unsolicited-ms") {
            if (!number(0, 600000, &n)) return fail("--unsolicited-ms needs a number of milliseconds");
            o.unsolicitedEveryMs = static_cast<uint32_t>(n);
        } else if (arg == "--silent") {
            o.faults.silent = true;
        } else if (arg == "--wrong-first-byte") {
            o.faults.wrongFirstByte = true;
        } else if (arg == "--corrupt-crc") {
            o.faults.corruptCrc = true;
        } else if (arg == "--delay-ms") {
            if (!number(0, 600000, &n)) return fail("--delay-ms needs a number of milliseconds");
            o.faults.replyDelayMs = static_cast<uint32_t>(n);
        } else if (arg == "--only-command") {
            if (!number(0, 255, &n)) return fail("--only-command needs a command code from 0 to 255");
            o.faults.onlyCommand = static_cast<int>(n);
        } else if (arg == "--spoil") {
            if (!number(0, 0x7FFFFFFF, &n)) return fail("--spoil needs a count");
            o.faults.answersToSpoil = static_cast<int32_t>(n);
        } else if (arg == "--stay-vanished") {
            o.faults.stayVanished = true;
        } else if (arg == "--offline-never-settles") {
            o.faults.offlineNeverSettles = true;
        } else if (arg == "--knob") {
            const char* eq = value(&text) ? std::strchr(text, '=') : nullptr;
            if (!eq || eq == text || !ParseNumber(eq + 1, &n)) return fail("--knob needs NAME=NUMBER");
            if (KnobCheck check = o.knobs.Set(std::string(text, eq), n); !check.Ok())
                return fail(check.Message() + " (msm-sim --list-knobs lists the knobs)");
        } else if (arg == "--link") {
            if (!value(&text)) return fail("--link needs none, usb-fs or usb-hs");
            const int profile = LinkProfileNumber(text);
            if (profile < 0) return fail(std::string("--link takes none, usb-fs or usb-hs, not ") + text);
            o.knobs.Set("link.profile", profile);
        } else if (arg == "--row") {
            if (!number(1, 1000, &s->row)) return fail("--row needs a number from 1 to 1000");
            s->rowGiven = true;
        } else if (arg == "--appear-after-ms" || arg == "--leave-idle-ms" || arg == "--gap-ms") {
            if (!number(0, 600000, &n)) return fail(arg + " needs a number of milliseconds");
            (arg == "--appear-after-ms" ? s->appearAfterMs : arg == "--leave-idle-ms" ? s->leaveIdleMs : s->gapMs) = n;
        } else if (arg == "--row-knob") {
            const char* colon = value(&text) ? std::strchr(text, ':') : nullptr;
            const char* eq = colon ? std::strchr(colon, '=') : nullptr;
            RowKnob knob;
            if (!eq || eq == colon + 1 || !ParseNumber(std::string(text, colon).c_str(), &knob.device) ||
                knob.device < 1 || !ParseNumber(eq + 1, &knob.value))
                return fail("--row-knob needs K:NAME=NUMBER, K from 1");
            knob.name.assign(colon + 1, eq);
            KnobValues check;
            if (KnobCheck result = check.Set(knob.name, knob.value); !result.Ok())
                return fail(result.Message() + " (msm-sim --list-knobs lists the knobs)");
            s->rowKnobs.push_back(knob);
        } else if (arg == "--list-knobs") {
            std::fputs(KnobListText().c_str(), stdout);
            std::exit(0);
        } else if (arg == "--no-stdin") {
            s->watchStdin = false;
        } else if (arg == "--dump") {
            s->dump = true;
        } else {
            return fail("unknown option " + arg);
        }
    }
    if (!s->names.empty() && static_cast<long long>(s->names.size()) != s->count)
        return fail("give one --name per device");
    for (const RowKnob& k : s->rowKnobs)
        if (k.device > s->row) return fail("--row-knob " + std::to_string(k.device) + ": the row has fewer devices");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    Settings settings;
    if (int rc = ParseArguments(argc, argv, &settings)) return rc;

    // One directory for all devices when none is given.
    std::string ownDirectory;
    if (settings.options.directory.empty()) {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/msm-sim-XXXXXX";
        if (!mkdtemp(pattern.data())) {
            std::fprintf(stderr, "msm-sim: cannot make a directory: %s\n", std::strerror(errno));
            return 1;
        }
        settings.options.directory = ownDirectory = pattern;
    }

    // Signals are taken through a descriptor so that the wait below sleeps
    // in poll() on stdin and the signals together.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);  // before any device thread starts
    int signalFd = signalfd(-1, &signals, SFD_CLOEXEC);

    std::vector<std::unique_ptr<CDeviceRow>> sockets;
    int rc = 0;
    for (long long i = 0; i < settings.count; ++i) {
        DeviceRowOptions row;
        row.directory = settings.options.directory;
        if (!settings.names.empty()) row.name = settings.names[static_cast<size_t>(i)];
        row.appearAfterMs = static_cast<uint32_t>(settings.appearAfterMs);
        row.gapMs = static_cast<uint32_t>(settings.gapMs);
        row.leaveAfterIdleMs = static_cast<uint32_t>(settings.leaveIdleMs >= 0 ? settings.leaveIdleMs
                                                     : settings.rowGiven       ? 1500
                                                                               : 0);
        for (long long k = 0; k < settings.row; ++k) {
            DeviceOptions options = settings.options;
            options.identityPlace = static_cast<uint32_t>(i + k * settings.count);
            for (const RowKnob& knob : settings.rowKnobs)
                if (knob.device == k + 1) options.knobs.Set(knob.name, knob.value);
            row.devices.push_back(std::move(options));
        }
        auto socket = std::make_unique<CDeviceRow>(std::move(row));
        if (int error = socket->Start()) {
            std::fprintf(stderr, "msm-sim: device %lld cannot start: %s\n", i + 1, std::strerror(error));
            rc = 1;
            break;
        }
        sockets.push_back(std::move(socket));
    }
    if (rc == 0) {
        for (const auto& socket : sockets) std::printf("%s\n", socket->Path().c_str());
        std::fflush(stdout);

        pollfd fds[2] = {{settings.watchStdin ? STDIN_FILENO : -1, POLLIN, 0}, {signalFd, POLLIN, 0}};
        char buffer[256];
        for (;;) {
            if (::poll(fds, 2, -1) < 0) {
                if (errno == EINTR) continue;
                break;
            }
            if (fds[1].revents & POLLIN) break;
            if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
                ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
                if (n <= 0) break;  // stdin closed
            }
            if (fds[0].revents & POLLNVAL) fds[0].fd = -1;  // no stdin at all: wait for a signal
        }
    }
    for (size_t i = 0; i < sockets.size(); ++i) {
        sockets[i]->Stop();
        if (int error = sockets[i]->Error())
            std::fprintf(stderr, "msm-sim: a device of socket %zu cannot start: %s\n", i + 1, std::strerror(error));
        // Numbered by identity place, from 1.
        for (size_t k = 0; settings.dump && k < sockets[i]->Served(); ++k) {
            const CRecording& recording = sockets[i]->Device(k).Recording();
            const CRecording::StreamWindowSeen window = recording.StreamWindow();
            std::fprintf(stderr, "== device %zu\n%sstream writes outstanding at most: %d, largest block: %zu\n",
                         i + k * static_cast<size_t>(settings.count) + 1, recording.Dump().c_str(),
                         window.mostOutstanding, window.largestBlock);
        }
    }
    sockets.clear();
    if (!ownDirectory.empty()) rmdir(ownDirectory.c_str());
    if (signalFd >= 0) close(signalFd);
    return rc;
}
