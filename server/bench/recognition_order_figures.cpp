// Prints whether what the server hears depends on what it heard before. The ten read-
// speech clips of Debian's test data (LibriVox and cards) are posted as 16 kHz MP3 to a
// server with one recogniser in three orders: word error rate per order and per set, and
// the clips whose text differs between orders. Then the first order again with 4 s of
// quiet brown noise posted before each clip: how many noise uploads gave words.
// Usage: recognition_order_figures [NOISE_VOLUME, sox's brownnoise vol: 0.05 (-31 dBFS RMS)]
#include <httplib.h>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <cstdlib>
#include <future>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "server/http/inference_server.h"
#include "server/recognition/recognizer_pool.h"
#include "server/tests/support/mp3_encoding.h"
#include "server/tests/support/speech_samples.h"
#include "server/tests/support/word_error_rate.h"

namespace {

using namespace speech_server;

struct Clip {
    std::string name;
    std::string transcript;
    std::string mp3;
};

std::string Mp3(const std::vector<std::int16_t>& samples) {
    const auto mp3 = testing::EncodeMp3(samples, 16000, 1);
    return {mp3.begin(), mp3.end()};
}

std::vector<Clip> LoadClips() {
    std::vector<Clip> clips;
    for (const auto& set : {testing::LibrivoxClips(), testing::CardsClips()})
        for (const auto& clip : set) clips.push_back({clip.name, clip.transcript, Mp3(clip.samples)});
    return clips;
}

// The text the server answers for `mp3`; throws on any other answer.
std::string Post(int port, const std::string& mp3) {
    httplib::Client client("127.0.0.1", port);
    client.set_read_timeout(60, 0);
    const auto result = client.Post("/inference", httplib::MultipartFormDataItems{
                                                      {"file", mp3, "audio_16k_mono.mp3", "audio/mpeg"},
                                                      {"language", "en", "", ""}});
    if (!result || result->status != 200)
        throw std::runtime_error("upload failed: " + (result ? result->body : httplib::to_string(result.error())));
    return nlohmann::json::parse(result->body).at("text");
}

struct Errors {
    std::size_t errors = 0;
    std::size_t words = 0;
    void Add(const Clip& clip, const std::string& heard) {
        errors += testing::WordErrors(clip.transcript, heard);
        words += testing::WordCount(clip.transcript);
    }
    double percent() const { return words ? 100.0 * static_cast<double>(errors) / static_cast<double>(words) : 0; }
};

// Posts the clips in `order`, each after `before` when that is not empty; the text
// heard per clip name. Prints the error rates, and how many `before` uploads gave words.
std::map<std::string, std::string> RunOrder(int port, const std::vector<Clip>& clips, const std::vector<int>& order,
                                            const std::string& label, const std::string& before = {}) {
    std::map<std::string, std::string> heard;
    std::map<bool, Errors> by_set;  // true: LibriVox
    std::size_t noisy = 0;
    Errors all;
    for (const int index : order) {
        const Clip& clip = clips[static_cast<std::size_t>(index)];
        if (!before.empty()) {
            const std::string noise_text = Post(port, before);
            if (!noise_text.empty()) {
                ++noisy;
                std::printf("    noise before %s heard as \"%s\"\n", clip.name.c_str(), noise_text.c_str());
            }
        }
        heard[clip.name] = Post(port, clip.mp3);
        all.Add(clip, heard[clip.name]);
        by_set[clip.name.rfind("cards-", 0) != 0].Add(clip, heard[clip.name]);
    }
    std::printf("%-22s WER %5.1f %% (%zu/%zu words)  LibriVox %5.1f %%  cards %5.1f %%", label.c_str(), all.percent(),
                all.errors, all.words, by_set[true].percent(), by_set[false].percent());
    if (!before.empty()) std::printf("  noise uploads with words: %zu of %zu", noisy, order.size());
    std::printf("\n");
    return heard;
}

}  // namespace

int main(int argc, char** argv) {
    const double noise_volume = argc > 1 ? std::atof(argv[1]) : 0.05;
    if (argc > 2 || noise_volume <= 0 || noise_volume > 1) {
        std::fprintf(stderr, "usage: %s [NOISE_VOLUME, above 0 and at most 1]\n", argv[0]);
        return 2;
    }
    const std::vector<Clip> clips = LoadClips();
    const std::string noise = Mp3(testing::BrownNoise(4.0, noise_volume));
    RecognizerPool pool(1, ModelPaths{});
    InferenceServer server(ServerSettings{}, [](const std::string&) {});
    std::string error;
    if (!server.Bind("127.0.0.1", 0, error)) {
        std::fprintf(stderr, "cannot listen: %s\n", error.c_str());
        return 1;
    }
    auto running = std::async(std::launch::async, [&server, &pool] { server.Run(pool); });

    const std::vector<std::pair<std::string, std::vector<int>>> orders = {
        {"in order", {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}},
        {"reversed", {9, 8, 7, 6, 5, 4, 3, 2, 1, 0}},
        {"interleaved", {5, 0, 6, 1, 7, 2, 8, 3, 9, 4}},
    };
    std::printf("%zu clips posted as MP3 to one recogniser\n", clips.size());
    std::vector<std::map<std::string, std::string>> texts;
    for (const auto& [label, order] : orders) texts.push_back(RunOrder(server.port(), clips, order, label));
    std::size_t changed = 0;
    for (const Clip& clip : clips) {
        bool differs = false;
        for (const auto& run : texts) differs |= run.at(clip.name) != texts.front().at(clip.name);
        if (!differs) continue;
        ++changed;
        std::printf("  %s differs between orders:\n", clip.name.c_str());
        for (const auto& run : texts) std::printf("    \"%s\"\n", run.at(clip.name).c_str());
    }
    std::printf("clips whose text changes between orders: %zu of %zu\n", changed, clips.size());
    RunOrder(server.port(), clips, orders.front().second, "after 4 s brown noise", noise);

    server.Stop();
    running.wait();
    return 0;
}
