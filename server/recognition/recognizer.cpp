#include "server/recognition/recognizer.h"

#include <pocketsphinx.h>

#include <iterator>
#include <mutex>
#include <stdexcept>
#include <sys/stat.h>

namespace speech_server {
namespace {

// The decoder's log file is process-wide and reopened by every ps_init, so loads
// must not overlap.
std::mutex g_loadMutex;

bool FileExists(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0;
}

}  // namespace

std::string ModelPaths::MissingFileMessage() const {
    for (const std::string* path : {&acoustic_model, &language_model, &dictionary}) {
        if (!FileExists(*path))
            return "speech model file " + *path + " not found (" + MissingModelAdvice() + ")";
    }
    return {};
}

struct SpeechRecognizer::Decoder {
    cmd_ln_t* config = nullptr;
    ps_decoder_t* decoder = nullptr;

    ~Decoder() {
        if (decoder) ps_free(decoder);
        if (config) cmd_ln_free_r(config);
    }
};

SpeechRecognizer::SpeechRecognizer(const ModelPaths& paths) : decoder_(std::make_unique<Decoder>()) {
    // Every option is given here: setting numeric options after parsing is unsafe in
    // this version of the library.
    std::string args[] = {"-hmm",  paths.acoustic_model, "-lm",    paths.language_model,
                          "-dict", paths.dictionary,     "-logfn", DiscardedLogPath()};
    char* argv[std::size(args)];
    for (std::size_t i = 0; i < std::size(args); ++i) argv[i] = args[i].data();

    std::lock_guard<std::mutex> lock(g_loadMutex);
    decoder_->config = cmd_ln_parse_r(nullptr, ps_args(), static_cast<int>(std::size(args)), argv, TRUE);
    if (!decoder_->config) throw std::runtime_error("speech model options rejected");
    decoder_->decoder = ps_init(decoder_->config);
    if (!decoder_->decoder) throw std::runtime_error("speech model could not be loaded from " + paths.acoustic_model);
}

SpeechRecognizer::~SpeechRecognizer() = default;

std::string SpeechRecognizer::Recognize(const std::int16_t* samples, std::size_t count) {
    ps_decoder_t* ps = decoder_->decoder;
    // Each upload is heard as if it were the first: a new stream forgets the noise
    // level that spectral subtraction and silence detection learnt from earlier audio.
    ps_start_stream(ps);
    if (ps_start_utt(ps) < 0) throw std::runtime_error("recogniser could not start an utterance");
    // The whole utterance in one call: the decoder then takes the cepstral mean from
    // this audio alone. Audio fed in parts would switch it, for good, to a running mean
    // carried over from earlier uploads, which hears worse and depends on their order.
    const int processed = ps_process_raw(ps, samples, count, FALSE, TRUE);
    const int ended = ps_end_utt(ps);
    if (processed < 0 || ended < 0) throw std::runtime_error("recogniser failed on the audio");
    const char* hypothesis = ps_get_hyp(ps, nullptr);
    return hypothesis ? hypothesis : "";
}

}  // namespace speech_server
