#include <filesystem>
#include <functional>
#include <map>
#include <toml++/toml.h>

#include "ImageSet.h"
#include "StationSettings.h"

namespace fennix::station {

namespace {

namespace fs = std::filesystem;

// Reads one table's keys into the settings. Every message starts with the
// line of what it is about; the caller names the file.
class ConfigReader {
public:
    explicit ConfigReader(fs::path folder) : folder_(std::move(folder)) {}

    using Handler = std::function<bool(const toml::node&, const std::string& key)>;

    bool ReadTable(const toml::table& table, const std::string& prefix, const std::map<std::string, Handler>& keys) {
        for (const auto& [key, node] : table) {
            const std::string name = prefix + std::string(key.str());
            const auto handler = keys.find(std::string(key.str()));
            if (handler == keys.end()) return Fail(key.source(), "unknown key \"" + name + "\"");
            if (!handler->second(node, name)) return false;
        }
        return true;
    }

    Handler Text(std::string* out) {
        return [this, out](const toml::node& node, const std::string& key) {
            if (!node.is_string()) return WrongType(node, key, "a string");
            *out = node.as_string()->get();
            return true;
        };
    }

    // A word or a whole number, kept as the command line would give it: window = "auto", window = 8.
    Handler WordOrNumber(std::string* out) {
        return [this, out](const toml::node& node, const std::string& key) {
            if (node.is_integer()) {
                *out = std::to_string(node.as_integer()->get());
                return true;
            }
            if (!node.is_string()) return WrongType(node, key, "a string or a whole number");
            *out = node.as_string()->get();
            return true;
        };
    }

    // A path: one relative to the config file's folder, wherever the station starts.
    Handler Path(std::string* out) {
        return [this, out](const toml::node& node, const std::string& key) {
            if (!node.is_string()) return WrongType(node, key, "a string (a path)");
            *out = Resolve(node.as_string()->get());
            return true;
        };
    }

    Handler Flag(bool* out) {
        return [this, out](const toml::node& node, const std::string& key) {
            if (!node.is_boolean()) return WrongType(node, key, "true or false");
            *out = node.as_boolean()->get();
            return true;
        };
    }

    Handler Seconds(double* out) {
        return [this, out](const toml::node& node, const std::string& key) {
            const std::optional<double> value = node.value<double>();
            if (!node.is_number() || !value || *value < 0)
                return WrongType(node, key, "a number of seconds, 0 or more");
            *out = *value;
            return true;
        };
    }

    // A list of paths; `word` (if any) alone stands for itself: sockets = "auto".
    Handler Paths(std::vector<std::string>* out, const char* word) {
        return [this, out, word](const toml::node& node, const std::string& key) {
            if (word && node.is_string() && node.as_string()->get() == word) {
                *out = {word};
                return true;
            }
            const std::string expected =
                word ? std::string("a list of paths, or \"") + word + "\"" : std::string("a list of paths");
            const toml::array* list = node.as_array();
            if (!list) return WrongType(node, key, expected);
            std::vector<std::string> paths;
            for (const toml::node& item : *list) {
                if (!item.is_string()) return WrongType(item, key, expected);
                const std::string& text = item.as_string()->get();
                paths.push_back(word && text == word ? text : Resolve(text));
            }
            *out = std::move(paths);
            return true;
        };
    }

    bool Fail(const toml::source_region& where, const std::string& text) {
        error_ = "line " + std::to_string(where.begin.line) + ": " + text;
        return false;
    }
    const std::string& Error() const { return error_; }

private:
    bool WrongType(const toml::node& node, const std::string& key, const std::string& expected) {
        return Fail(node.source(), "\"" + key + "\" must be " + expected);
    }
    std::string Resolve(const std::string& path) const {
        if (path.empty() || fs::path(path).is_absolute()) return path;
        return (folder_ / path).lexically_normal().string();
    }

    fs::path folder_;
    std::string error_;
};

}  // namespace

bool LoadStationConfig(const std::string& path, StationSettings* settings, std::string* error) {
    toml::table document;
    try {
        document = toml::parse_file(path);
    } catch (const toml::parse_error& e) {
        if (!std::filesystem::is_regular_file(path)) {
            *error = "cannot read the file";
        } else {
            *error = "line " + std::to_string(e.source().begin.line) + ": " + std::string(e.description());
        }
        return false;
    }
    std::error_code ec;
    const fs::path absolute = fs::absolute(path, ec);
    ConfigReader reader((ec ? fs::path(path) : absolute).parent_path());

    // Read into a copy: a file with a fault changes nothing.
    StationSettings loaded = *settings;
    RecipeOptions& recipe = loaded.recipe;
    std::map<std::string, ConfigReader::Handler> recipeKeys{
        {"name", reader.Text(&recipe.name)},
        {"images", reader.Path(&recipe.images.directory)},
        {"model", reader.Text(&recipe.images.model)},
        {"programmer", reader.Path(&recipe.images.programmer)},
        {"skip_check", reader.Flag(&recipe.skipCheck)},
        {"force_model", reader.Flag(&recipe.forceModel)},
        {"window", reader.WordOrNumber(&recipe.streaming.window)},
        {"block", reader.WordOrNumber(&recipe.streaming.block)},
        {"items", reader.Path(&recipe.items)},
        {"backups", reader.Path(&recipe.backups)},
        {"out", reader.Path(&recipe.out)},
        {"in", reader.Path(&recipe.in)},
        {"duck", reader.Path(&recipe.duck)},
    };
    // One key per file of the image set, named like its option: amss = "...", no_cefs = true.
    for (const auto& role : cli::ImageRoles()) {
        recipeKeys.emplace(role.option, reader.Path(&recipe.files[role.option]));
        if (cli::CanLeaveOut(role))
            recipeKeys.emplace(std::string("no_") + role.option, reader.Flag(&recipe.leftOut[role.option]));
    }

    const std::map<std::string, ConfigReader::Handler> keys{
        {"name", reader.Text(&loaded.name)},
        {"operator", reader.Text(&loaded.operatorName)},
        {"db", reader.Path(&loaded.db)},
        {"sockets", reader.Paths(&loaded.sockets, "auto")},
        {"auto_dirs", reader.Paths(&loaded.autoDirs, nullptr)},
        {"json", reader.Flag(&loaded.json)},
        {"drain_timeout", reader.Seconds(&loaded.drainTimeoutSeconds)},
        {"http",
         [&](const toml::node& node, const std::string& key) {
             if (!node.is_string())
                 return reader.Fail(node.source(), "\"" + key + "\" must be a string (\"127.0.0.1:8080\")");
             loaded.http = node.as_string()->get();
             return true;
         }},
        {"http_token_file", reader.Path(&loaded.httpTokenFile)},
        {"recipe",
         [&](const toml::node& node, const std::string& key) {
             if (!node.is_table()) return reader.Fail(node.source(), "\"" + key + "\" must be a table ([recipe])");
             return reader.ReadTable(*node.as_table(), key + ".", recipeKeys);
         }},
    };
    if (!reader.ReadTable(document, "", keys)) {
        *error = reader.Error();
        return false;
    }
    *settings = std::move(loaded);
    return true;
}

}  // namespace fennix::station
