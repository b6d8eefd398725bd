// `fennix station`: its options (from the command line over the config
// file), the record database, the recipe, and the station run until a stop.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "Commands.h"
#include "Station.h"
#include "StationCommands.h"
#include "StationView.h"
#include "System.h"
#include "WebServer.h"
#include "WebView.h"

namespace fennix::station {

namespace {

std::string HostName() {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0) return "station";
    return name;
}

// The file's settings with every option given on the command line over them.
StationSettings Merge(StationSettings file, const StationSettings& cli, const CLI::App& command) {
    auto given = [&](const std::string& option) { return command.count(option) > 0; };
    if (given("--socket")) file.sockets = cli.sockets;
    if (given("--auto-dir")) file.autoDirs = cli.autoDirs;
    if (given("--db")) file.db = cli.db;
    if (given("--name")) file.name = cli.name;
    if (given("--operator")) file.operatorName = cli.operatorName;
    if (given("--json")) file.json = cli.json;
    if (given("--drain-timeout")) file.drainTimeoutSeconds = cli.drainTimeoutSeconds;
    if (given("--http")) file.http = cli.http;
    if (given("--http-token")) file.httpToken = cli.httpToken;
    if (given("--http-token-file")) file.httpTokenFile = cli.httpTokenFile;
    RecipeOptions& r = file.recipe;
    const RecipeOptions& c = cli.recipe;
    if (given("--recipe")) r.name = c.name;
    if (given("--images")) r.images.directory = c.images.directory;
    if (given("--model")) r.images.model = c.images.model;
    if (given("--programmer")) r.images.programmer = c.images.programmer;
    for (const auto& role : cli::ImageRoles()) {
        const std::string name = role.option;
        if (given("--" + name)) r.files[name] = c.files.at(name);
        if (cli::CanLeaveOut(role) && given("--no-" + name)) r.leftOut[name] = c.leftOut.at(name);
    }
    if (given("--skip-check")) r.skipCheck = c.skipCheck;
    if (given("--force-model")) r.forceModel = c.forceModel;
    if (given("--window")) r.streaming.window = c.streaming.window;
    if (given("--block")) r.streaming.block = c.streaming.block;
    if (given("--items")) r.items = c.items;
    if (given("--backups")) r.backups = c.backups;
    if (given("--out")) r.out = c.out;
    if (given("--in")) r.in = c.in;
    if (given("--duck")) r.duck = c.duck;
    return file;
}

std::atomic<int> gSignals{0};

int RunStation(const CLI::App& command, const StationSettings& cli, const std::string& configPath) {
    StationSettings settings = cli;
    if (!configPath.empty()) {
        StationSettings file;
        std::string error;
        if (!LoadStationConfig(configPath, &file, &error))
            return cli::UsageError(cli.json, "fennix station: " + configPath + ": " + error);
        settings = Merge(std::move(file), cli, command);
    }
    const bool json = settings.json;
    if (settings.sockets.empty())
        return cli::UsageError(json, "fennix station: no socket to serve (--socket PATH or auto)");
    if (settings.db.empty()) return cli::UsageError(json, "fennix station: the record database is needed (--db FILE)");
    if (settings.name.empty()) settings.name = HostName();
    if (settings.operatorName.empty())
        if (const char* user = std::getenv("USER")) settings.operatorName = user;
    if (settings.drainTimeoutSeconds < 0)
        return cli::UsageError(json, "fennix station: --drain-timeout must not be negative");

    web::WebOptions webOptions;
    if (settings.http) {
        std::string error;
        if (!web::ParseHttpAddress(*settings.http, &webOptions.host, &webOptions.port, &error))
            return cli::UsageError(json, "fennix station: --http: " + error);
        webOptions.token = settings.httpToken;
        if (webOptions.token.empty() && !settings.httpTokenFile.empty() &&
            !web::ReadTokenFile(settings.httpTokenFile, &webOptions.token, &error))
            return cli::UsageError(json, "fennix station: --http-token-file: " + error);
        if (webOptions.token.empty() && !web::IsLoopback(webOptions.host))
            return cli::UsageError(json, "fennix station: --http " + webOptions.host +
                                             " is reachable from other machines: give it a token "
                                             "(--http-token TOKEN or --http-token-file FILE), or serve the "
                                             "loopback (127.0.0.1)");
    }

    Recipe recipe;
    std::string error;
    if (!BuildRecipe(settings.recipe, &recipe, &error)) return cli::UsageError(json, "fennix station: " + error);
    std::unique_ptr<records::RecordDb> db = records::RecordDb::Open(settings.db, false, &error);
    if (!db) {
        std::fprintf(stderr, "fennix station: %s: %s\n", settings.db.c_str(), error.c_str());
        return cli::kExitFailed;
    }
    // The second signal cancels the runs; only a third ends the process where it stands.
    cli::InstallInterruptHandler(&gSignals, 2);
    std::unique_ptr<StationView> view = MakeStationView(json                      ? cli::OutputMode::Json
                                                        : cli::StdoutIsTerminal() ? cli::OutputMode::Terminal
                                                                                  : cli::OutputMode::Plain);
    std::unique_ptr<web::WebServer> server;
    if (settings.http) {
        server = std::make_unique<web::WebServer>(webOptions, *db);
        if (!server->Start(&error)) {
            std::fprintf(stderr, "fennix station: --http: %s\n", error.c_str());
            return cli::kExitFailed;
        }
        view = web::MakeWebStationView(std::move(view), *server);
    }
    Station station(settings, recipe, *db, *view);
    if (db->AbortedAtOpen() > 0)
        station.Notice({}, std::to_string(db->AbortedAtOpen()) +
                               " run(s) left running by a station that ended without closing them are marked aborted.");
    return station.Run(gSignals);
}

}  // namespace

void AddStationCommand(CLI::App& app, int& exitCode) {
    auto* command = app.add_subcommand(
        "station", "Serve sockets unattended: run a recipe on each device that arrives, record every run (Linux)");
    struct State {
        StationSettings settings;
        std::string config, http;
    };
    auto state = std::make_shared<State>();
    StationSettings& s = state->settings;
    command
        ->add_option("--socket", s.sockets,
                     "A port path to serve, normally a /dev/serial/by-path link (repeat it); auto: every entry "
                     "that appears in the auto folders")
        ->type_name("PATH");
    command
        ->add_option("--auto-dir", s.autoDirs,
                     "A folder whose entries --socket auto serves (default /dev/serial/by-path)")
        ->type_name("DIR");
    AddRecipeOptions(command, s.recipe);
    command->add_option("--db", s.db, "The record database (SQLite; made when missing)")->type_name("FILE");
    command->add_option("--name", s.name, "The station's name in its records (default: the host name)");
    command->add_option("--operator", s.operatorName, "Who runs the station, for the records (default: $USER)");
    command->add_flag("--json", s.json, "One JSON object per event on standard output");
    command
        ->add_option("--drain-timeout", s.drainTimeoutSeconds,
                     "After a first stop signal, how long running runs may go on before they are cancelled")
        ->type_name("SECONDS");
    command
        ->add_option("--http", state->http,
                     "Serve the dashboard and the JSON interface on ADDRESS:PORT (alone: 127.0.0.1:8080); an "
                     "address other than the loopback needs a token")
        ->expected(0, 1)
        ->type_name("ADDRESS:PORT");
    command
        ->add_option("--http-token", s.httpToken,
                     "Every web request must carry TOKEN (Authorization: Bearer, or the cookie /?token=TOKEN sets)")
        ->type_name("TOKEN");
    command->add_option("--http-token-file", s.httpTokenFile, "The web token from the first line of FILE")
        ->type_name("FILE");
    command->add_option("--config", state->config, "A TOML file of these settings; options given here win")
        ->type_name("FILE");
    command->callback([command, state, &exitCode] {
        if (command->count("--http") > 0) state->settings.http = state->http;
        exitCode = RunStation(*command, state->settings, state->config);
    });
}

}  // namespace fennix::station
