#include "server/server_options.h"

#include "server/http/inference_server.h"
#include "server/termination_signals.h"
#include "server/upload/upload.h"

#include <cstdlib>
#include <optional>

namespace speech_server {
namespace {

// Whole decimal numbers only: no sign, no spaces, no trailing text.
std::optional<int> ParseBoundedInt(const std::string& text, int low, int high) {
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    const int value = std::atoi(text.c_str());
    if (value < low || value > high) return std::nullopt;
    return value;
}

ParsedCommandLine Error(std::string message) {
    ParsedCommandLine parsed;
    parsed.action = ParsedCommandLine::Action::kError;
    parsed.error = std::move(message);
    return parsed;
}

}  // namespace

ParsedCommandLine ParseCommandLine(const std::vector<std::string>& args) {
    ParsedCommandLine parsed;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::optional<std::string> value;
        if (const auto equals = name.find('='); name.rfind("--", 0) == 0 && equals != std::string::npos) {
            value = name.substr(equals + 1);
            name.resize(equals);
        }
        if (name == "--help" || name == "-h") {
            if (value) return Error("option " + name + " takes no value");
            parsed.action = ParsedCommandLine::Action::kHelp;
            return parsed;
        }
        if (name != "--host" && name != "--port" && name != "--workers")
            return Error(name.rfind("-", 0) == 0 ? "unknown option " + name : "unexpected argument " + name);
        if (!value) {
            if (i + 1 == args.size()) return Error("option " + name + " needs a value");
            value = args[++i];
        }
        if (name == "--host") {
            if (value->empty()) return Error("--host needs a non-empty address");
            parsed.options.host = *value;
        } else if (name == "--port") {
            const auto port = ParseBoundedInt(*value, 0, 65535);
            if (!port) return Error("--port must be a number from 0 to 65535, not \"" + *value + "\"");
            parsed.options.port = *port;
        } else {
            const auto workers = ParseBoundedInt(*value, 1, kMaxWorkers);
            if (!workers)
                return Error("--workers must be a number from 1 to " + std::to_string(kMaxWorkers) + ", not \"" +
                             *value + "\"");
            parsed.options.workers = *workers;
        }
    }
    return parsed;
}

std::string UsageText(const std::string& program) {
    const ServerOptions defaults;
    const UploadLimits limits;
    const std::string body_limit = DescribeByteCount(limits.max_body_bytes);
    const std::string audio_limit = std::to_string(limits.max_audio_samples / kSampleRate) + " s";
    const std::string answer_budget =
        std::to_string(std::chrono::duration_cast<std::chrono::seconds>(ServerSettings{}.answer_budget).count()) + " s";
    return "Usage: " + program + " [--host ADDRESS] [--port N] [--workers N]\n"
           "\n"
           "A local speech-recognition server for Valdrin Live. English only (pocketsphinx,\n"
           "Debian's pocketsphinx-en-us model).\n"
           "\n"
           "Options:\n"
           "  --host ADDRESS  address to listen on (default " + defaults.host + ")\n"
           "  --port N        TCP port, 0 for any free port (default " + std::to_string(defaults.port) + ")\n"
           "  --workers N     recognisers, i.e. uploads decoded at once, 1 to " + std::to_string(kMaxWorkers) +
           " (default " + std::to_string(defaults.workers) + ");\n"
           "                  each takes about 100 MiB of memory\n"
           "  -h, --help      show this text and exit\n"
           "\n"
           "Endpoints:\n"
           "  POST /inference  multipart/form-data with the parts \"file\" (MP3 audio, best\n"
           "                   16 kHz mono, up to " + audio_limit + ") and \"language\" (\"en\" or \"auto\"; absent\n"
           "                   means \"auto\"). Answers 200 {\"text\": \"...\"}.\n"
           "  GET /health      answers 200 {\"status\": \"ok\"}.\n"
           "Refusals are JSON {\"error\": \"...\"}: 400 malformed form, 404 unknown path,\n"
           "405 wrong method, 413 upload over " + body_limit + " or audio over " + audio_limit + ",\n"
           "415 not MP3 or not multipart, 422 unsupported language (e.g. \"zh\"), 503 all\n"
           "recognisers busy for longer than an answer within " + answer_budget + " allows.\n"
           "\n"
           "One line per request goes to standard error. " + StopUsageText();
}

}  // namespace speech_server
