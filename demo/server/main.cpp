// corvidale-demo-server: serves the demo web application over https on
// loopback, plus the few endpoints a static folder cannot provide (a forced
// attachment, a type no web view can show, and the page's own beacons).
//
//   corvidale-demo-server --root <dir> --cert <pem> --key <pem> --port <n> [--other-port <m>]
//
// Port 0 picks a free port; the URL actually served is printed once the
// sockets are listening, so a script can start the server and read it back.
// --other-port serves the same content on a second port of the same host, so
// the demo can show that the shell treats "same host, other port" as its own.

#include <httplib.h>

#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace {

constexpr const char* kProgram = "corvidale-demo-server";
constexpr std::size_t kMaxLoggedBytes = 400;

struct Options {
    std::string root;
    std::string cert;
    std::string key;
    int port = -1;
    std::optional<int> otherPort;
};

// Ports as actually bound, read by handlers on other threads.
struct Ports {
    std::atomic<int> main{0};
    std::atomic<int> other{0};
};

void usage(std::FILE* out) {
    std::fprintf(out,
                 "usage: %s --root <dir> --cert <pem> --key <pem> --port <n> [--other-port <m>]\n"
                 "  Serves <dir> over https on 127.0.0.1 only. Port 0 picks a free port.\n"
                 "  --other-port also serves it on a second port of the same host.\n",
                 kProgram);
}

std::optional<int> parsePort(std::string_view text) {
    if (text.empty() || text.size() > 5) return std::nullopt;
    int value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + (c - '0');
    }
    if (value > 65535) return std::nullopt;
    return value;
}

// Returns nullopt (after saying why) when the command line is unusable.
std::optional<Options> parseOptions(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string_view name = argv[i];
        if (name == "--help" || name == "-h") {
            usage(stdout);
            std::exit(0);
        }
        const bool known = name == "--root" || name == "--cert" || name == "--key" || name == "--port" ||
                           name == "--other-port";
        if (!known) {
            std::fprintf(stderr, "%s: unknown option %s\n", kProgram, argv[i]);
            return std::nullopt;
        }
        if (i + 1 >= argc) {
            std::fprintf(stderr, "%s: %.*s needs a value\n", kProgram, static_cast<int>(name.size()), name.data());
            return std::nullopt;
        }
        const std::string value = argv[++i];
        if (name == "--root") {
            options.root = value;
        } else if (name == "--cert") {
            options.cert = value;
        } else if (name == "--key") {
            options.key = value;
        } else {
            auto port = parsePort(value);
            if (!port) {
                std::fprintf(stderr, "%s: %s is not a port number: %s\n", kProgram, argv[i - 1], value.c_str());
                return std::nullopt;
            }
            if (name == "--port") {
                options.port = *port;
            } else {
                options.otherPort = *port;
            }
        }
    }
    if (options.root.empty() || options.cert.empty() || options.key.empty() || options.port < 0) {
        std::fprintf(stderr, "%s: --root, --cert, --key and --port are all required\n", kProgram);
        return std::nullopt;
    }
    return options;
}

bool isDirectory(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool isReadableFile(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return false;
    std::fclose(file);
    return true;
}

// Request data ends up on a terminal: keep it printable and short.
std::string printable(std::string_view text) {
    std::string out;
    for (unsigned char c : text.substr(0, kMaxLoggedBytes)) out += (c < 0x20 || c == 0x7f) ? '?' : static_cast<char>(c);
    if (text.size() > kMaxLoggedBytes) out += "…";
    return out;
}

std::string jsonString(std::string_view text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (c < 0x20) {
                    char escaped[8];
                    std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
                    out += escaped;
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    return out + "\"";
}

std::string timestamp() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return text;
}

void say(const std::string& line) {
    std::printf("%s: %s\n", kProgram, line.c_str());
    std::fflush(stdout);
}

// Pages and scripts change while the demo is being worked on; the engine
// should never show a stale copy of them.
httplib::Headers staticHeaders() {
    return {
        {"Cache-Control", "no-cache"},
        {"Content-Security-Policy",
         "default-src 'self'; img-src 'self' data: blob:; media-src 'self' blob: mediastream:; "
         "connect-src 'self'; base-uri 'none'; form-action 'self'; frame-ancestors 'none'"},
        {"Referrer-Policy", "no-referrer"},
    };
}

// The "unshowable" download: bytes that are clearly not text.
std::string binarySample() {
    static constexpr char kMagic[] = "CORVIDALE-DEMO\0\1\2\3";
    std::string bytes(kMagic, sizeof kMagic - 1);
    bytes.reserve(4096);
    std::uint32_t state = 0x2545F491u;
    while (bytes.size() < 4096) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        bytes += static_cast<char>(state & 0xff);
    }
    return bytes;
}

void configure(httplib::Server& server, const Options& options, std::shared_ptr<Ports> ports) {
    server.set_keep_alive_timeout(1);  // an idle keep-alive connection holds up shutdown this long
    server.set_payload_max_length(64 * 1024);
    server.set_default_headers({{"X-Content-Type-Options", "nosniff"}});

    server.Get("/api/info", [ports](const httplib::Request& request, httplib::Response& response) {
        const int other = ports->other.load();
        std::string body = "{\"port\":" + std::to_string(ports->main.load()) +
                           ",\"otherPort\":" + (other > 0 ? std::to_string(other) : std::string("null")) +
                           ",\"userAgent\":" + jsonString(request.get_header_value("User-Agent")) +
                           ",\"serverTime\":" + jsonString(timestamp()) + "}";
        response.set_header("Cache-Control", "no-store");
        response.set_content(body, "application/json");
    });

    // The page reports here once it is on screen; scripts wait for this line.
    server.Post("/api/loaded", [](const httplib::Request& request, httplib::Response& response) {
        say("page loaded on " + printable(request.get_header_value("Host")) + " " + printable(request.body));
        say("page user agent: " + printable(request.get_header_value("User-Agent")));
        response.status = 204;
    });

    // A type the web view could show, sent as an attachment: the shell must
    // save it instead of displaying it.
    server.Get("/download/notes.txt", [](const httplib::Request&, httplib::Response& response) {
        response.set_header("Content-Disposition", "attachment; filename=\"corvidale-demo-notes.txt\"");
        response.set_header("Cache-Control", "no-store");
        response.set_content("Corvidale demo notes\n"
                             "====================\n\n"
                             "The server sent this file with Content-Disposition: attachment,\n"
                             "so the shell saved it to your Downloads folder instead of showing it.\n\n"
                             "Served at " +
                                 timestamp() + "\n",
                             "text/plain; charset=utf-8");
    });

    // No Content-Disposition at all: the type alone makes it a download.
    server.Get("/download/corvidale-demo.bin", [](const httplib::Request&, httplib::Response& response) {
        response.set_header("Cache-Control", "no-store");
        response.set_content(binarySample(), "application/octet-stream");
    });

    server.set_error_handler([](const httplib::Request&, httplib::Response& response) {
        if (!response.body.empty()) return;
        const std::string status = std::to_string(response.status);
        response.set_content("<!doctype html><meta charset=utf-8><title>" + status +
                                 "</title><p>" + status + " — nothing here. <a href=\"/\">Back to the demo</a></p>",
                             "text/html; charset=utf-8");
    });

    server.set_logger([](const httplib::Request& request, const httplib::Response& response) {
        say(request.method + " " + printable(request.path) + " → " + std::to_string(response.status));
    });

    if (!server.set_mount_point("/", options.root, staticHeaders())) {
        say("cannot serve " + options.root);
        std::exit(1);
    }
    server.set_file_extension_and_mimetype_mapping("svg", "image/svg+xml");
    server.set_file_extension_and_mimetype_mapping("js", "text/javascript");
}

}  // namespace

int main(int argc, char** argv) {
    const auto options = parseOptions(argc, argv);
    if (!options) {
        usage(stderr);
        return 2;
    }
    if (!isDirectory(options->root)) {
        std::fprintf(stderr, "%s: --root is not a folder: %s\n", kProgram, options->root.c_str());
        return 2;
    }
    if (!isReadableFile(options->cert) || !isReadableFile(options->key)) {
        std::fprintf(stderr, "%s: cannot read the certificate or key (%s, %s)\n", kProgram, options->cert.c_str(),
                     options->key.c_str());
        return 2;
    }

    // Signals are taken by one thread with sigwait, so stopping is ordinary
    // code rather than work inside a signal handler. Every thread started
    // from here on inherits the mask.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    ::signal(SIGPIPE, SIG_IGN);  // a client hanging up mid-response is not our death

    auto ports = std::make_shared<Ports>();
    std::vector<std::unique_ptr<httplib::SSLServer>> servers;
    auto bind = [&](int port) -> int {
        auto server = std::make_unique<httplib::SSLServer>(options->cert.c_str(), options->key.c_str());
        if (!server->is_valid()) {
            std::fprintf(stderr, "%s: the certificate and key do not make a usable TLS setup (%s, %s)\n", kProgram,
                         options->cert.c_str(), options->key.c_str());
            std::exit(1);
        }
        configure(*server, *options, ports);
        // Loopback only: the demo certificate authority is thrown away after
        // each run, and nothing here is meant for the network.
        int bound = -1;
        if (port == 0) {
            bound = server->bind_to_any_port("127.0.0.1");
        } else if (server->bind_to_port("127.0.0.1", port)) {
            bound = port;
        }
        if (bound <= 0) {
            std::fprintf(stderr, "%s: cannot listen on 127.0.0.1:%d (in use?)\n", kProgram, port);
            std::exit(1);
        }
        servers.push_back(std::move(server));
        return bound;
    };
    ports->main = bind(options->port);
    if (options->otherPort) ports->other = bind(*options->otherPort);

    std::atomic<int> running{static_cast<int>(servers.size())};
    std::vector<std::thread> listeners;
    for (auto& server : servers) {
        listeners.emplace_back([&server, &running] {
            server->listen_after_bind();
            --running;
        });
    }

    // The sockets already accept connections (they queue until the threads
    // above take them), so the URL can be announced now.
    say("serving " + options->root);
    if (ports->other > 0) say("other port https://localhost:" + std::to_string(ports->other) + "/");
    say("ready at https://localhost:" + std::to_string(ports->main) + "/");

    int received = 0;
    sigwait(&stopSignals, &received);
    say("stopping");
    // stop() is a no-op until a server has entered its accept loop, so keep
    // asking until every listener has returned.
    while (running > 0) {
        for (auto& server : servers) server->stop();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    for (auto& listener : listeners) listener.join();
    say("stopped");
    return 0;
}
