// The Unity game translator shuts its endpoint down after five failed requests in a row and
// sends one line at a time. Its line waits here, a while, for workers that are still starting
// or busy, rather than being failed at once: a game that opens while the engine starts would
// otherwise lose its translator for the session. Part of PoolExchange; the I/O thread.
#include "http_session.h"

namespace server::web {
namespace {

constexpr auto kHoldFor = std::chrono::seconds(20);
constexpr auto kTryEvery = std::chrono::milliseconds(200);

}  // namespace

bool PoolExchange::HoldForEngine(const std::shared_ptr<Batch>& batch, Shape shape) {
    if (m_session.m_client != "xunity" || shape != Shape::kText) return false;
    const Clock::time_point now = Clock::now();
    if (m_holdUntil == Clock::time_point{}) m_holdUntil = now + kHoldFor;
    if (now >= m_holdUntil) {
        m_holdUntil = {};
        return false;
    }
    auto timer = std::make_shared<asio::steady_timer>(m_session.m_stream.get_executor(), kTryEvery);
    timer->async_wait(
        [self = m_session.shared_from_this(), timer, batch, shape](beast::error_code ec) {
            if (ec) return;
            self->Guarded([&] {
                Prepared p;
                p.batch = batch;
                p.shape = shape;
                self->m_exchange.Submit(std::move(p));
            });
        });
    m_session.m_deadline = Clock::time_point::max();
    return true;
}

}  // namespace server::web
