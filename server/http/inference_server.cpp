#include "server/http/inference_server.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>

#include <atomic>
#include <vector>

#include "server/http/connection.h"
#include "server/socket_platform.h"

namespace speech_server {

namespace asio = boost::asio;
using asio::ip::tcp;

// Connections past both limits are closed unanswered and counted; the count is logged
// at most once a second.
constexpr auto kUnansweredReportPeriod = std::chrono::seconds(1);
// After an accept that failed for want of sockets or memory, before the next.
constexpr auto kAcceptRetryPause = std::chrono::milliseconds(100);

struct InferenceServer::Impl {
    Impl(ServerSettings settings, RequestLogger log)
        : settings(std::move(settings)),
          log(std::move(log)),
          budget(this->settings.answer_budget),
          state{this->settings, this->log, budget, nullptr, false, {}, 0},
          acceptor(io),
          report_timer(io),
          retry_timer(io) {}

    void Accept();
    void OnAccept(const boost::system::error_code& error, tcp::socket socket);
    void CloseUnanswered(tcp::socket& socket);
    void ReportUnanswered();
    void StopServing();

    const ServerSettings settings;
    const RequestLogger log;
    AnswerBudget budget;
    ServerState state;
    asio::io_context io{1};
    tcp::acceptor acceptor;
    asio::steady_timer report_timer;
    asio::steady_timer retry_timer;
    std::size_t unanswered = 0;
    bool failed = false;
    int port = 0;
};

void InferenceServer::Impl::Accept() {
    if (state.stopping) return;
    acceptor.async_accept([this](const boost::system::error_code& error, tcp::socket socket) {
        OnAccept(error, std::move(socket));
    });
}

void InferenceServer::Impl::OnAccept(const boost::system::error_code& error, tcp::socket socket) {
    if (state.stopping) return;
    if (error == asio::error::operation_aborted || error == asio::error::bad_descriptor) {
        // Only Stop closes the listening socket: anything else ending the loop is a failure.
        log("listening ended: " + error.message());
        failed = true;
        return StopServing();
    }
    if (error) {
        // A client that reset before its accept, or a shortage of sockets: the server goes on.
        log("accept failed: " + error.message() + "; still listening");
        const bool shortage = error == asio::error::no_descriptors || error == asio::error::no_buffer_space ||
                              error == asio::error::no_memory;
        if (!shortage) return Accept();
        retry_timer.expires_after(kAcceptRetryPause);
        retry_timer.async_wait([this](const boost::system::error_code& cancelled) {
            if (!cancelled) Accept();
        });
        return;
    }
    const std::size_t serving = state.open.size() - state.refusing;
    const bool refusing = serving >= settings.max_connections;
    if (refusing && state.refusing >= settings.max_refused) {
        CloseUnanswered(socket);
    } else {
        auto connection = std::make_shared<Connection>(std::move(socket), state, refusing);
        state.open.insert(connection);
        if (refusing) ++state.refusing;
        connection->Start();
    }
    Accept();
}

void InferenceServer::Impl::CloseUnanswered(tcp::socket& socket) {
    boost::system::error_code ignored;
    socket.close(ignored);
    if (unanswered++ > 0) return;
    report_timer.expires_after(kUnansweredReportPeriod);
    report_timer.async_wait([this](const boost::system::error_code&) { ReportUnanswered(); });
}

void InferenceServer::Impl::ReportUnanswered() {
    if (unanswered == 0) return;
    log("closed " + std::to_string(unanswered) + " connection" + (unanswered == 1 ? "" : "s") + " unanswered: " +
        std::to_string(settings.max_connections) + " served and " + std::to_string(settings.max_refused) +
        " refused at once were already open");
    unanswered = 0;
}

// Stops accepting, closes every connection that waits for a head or a body, and
// drops the uploads queued for recognition (they hear 503); what remains are the
// recognitions in progress, whose answers end the I/O loop.
void InferenceServer::Impl::StopServing() {
    if (state.stopping) return;
    state.stopping = true;
    boost::system::error_code ignored;
    acceptor.close(ignored);
    retry_timer.cancel();
    report_timer.cancel();
    ReportUnanswered();
    if (state.queue) state.queue->Stop();
    const std::vector<std::shared_ptr<Connection>> open(state.open.begin(), state.open.end());
    for (const auto& connection : open) connection->OnStop();
}

InferenceServer::InferenceServer(ServerSettings settings, RequestLogger log)
    : impl_(std::make_unique<Impl>(std::move(settings), std::move(log))) {}

InferenceServer::~InferenceServer() = default;

bool InferenceServer::Bind(const std::string& host, int port, std::string& error) {
    boost::system::error_code failure;
    const auto address = asio::ip::make_address(host, failure);
    tcp::acceptor& acceptor = impl_->acceptor;
    if (!failure) acceptor.open(address.is_v6() ? tcp::v6() : tcp::v4(), failure);
    if (!failure) MakePortExclusive(acceptor);
    if (!failure) acceptor.bind({address, static_cast<unsigned short>(port)}, failure);
    if (!failure) acceptor.listen(asio::socket_base::max_listen_connections, failure);
    if (failure) {
        error = "cannot listen on " + host + ":" + std::to_string(port) + ": " + failure.message();
        acceptor.close(failure);
        return false;
    }
    impl_->port = acceptor.local_endpoint().port();
    return true;
}

int InferenceServer::port() const { return impl_->port; }

bool InferenceServer::Run(RecognizerPool& pool) {
    RecognitionQueue queue(pool);
    asio::post(impl_->io, [this, &queue] {
        impl_->state.queue = &queue;
        impl_->Accept();
    });
    impl_->io.run();
    return !impl_->failed;
}

void InferenceServer::Stop() {
    asio::post(impl_->io, [impl = impl_.get()] { impl->StopServing(); });
}

}  // namespace speech_server
