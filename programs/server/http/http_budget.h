// What connections may hold for requests not yet answered: each its own kOwnBytes, then a
// share of kSharedBytes for all. A connection's read buffer, parser and body allocate through
// Counted, so a request that would hold more is refused (OverBudget) instead of growing.
#pragma once

#include <boost/beast/http.hpp>

#include <atomic>
#include <cstddef>
#include <memory>
#include <new>

#include "http_config.h"

namespace server::web {

// Connections are released on other threads only when the plug-in's thread or the end of
// the program drops them, hence the atomic.
class SharedBytes {
  public:
    bool Take(std::size_t n) {
        std::size_t used = m_used.load(std::memory_order_relaxed);
        do {
            if (used > kSharedBytes || n > kSharedBytes - used) return false;
        } while (!m_used.compare_exchange_weak(used, used + n, std::memory_order_relaxed));
        return true;
    }
    void Force(std::size_t n) { m_used.fetch_add(n, std::memory_order_relaxed); }
    void Give(std::size_t n) { m_used.fetch_sub(n, std::memory_order_relaxed); }

  private:
    std::atomic<std::size_t> m_used{0};
};

struct OverBudget : std::bad_alloc {
    const char* what() const noexcept override { return "requests in progress hold too much"; }
};

// One connection's bytes: its own allowance first, then the shared ones. Used by its
// connection's thread only.
class Account {
  public:
    explicit Account(SharedBytes& shared) : m_shared(shared) {}
    ~Account() { m_shared.Give(Beyond(m_held)); }
    Account(const Account&) = delete;
    Account& operator=(const Account&) = delete;

    void Take(std::size_t n) {
        if (n > kSharedBytes) throw OverBudget();
        const std::size_t extra = Beyond(m_held + n) - Beyond(m_held);
        if (extra && !m_shared.Take(extra)) throw OverBudget();
        m_held += n;
    }
    // For an answer already made: counted, so that new requests wait for it, never refused.
    void Force(std::size_t n) {
        m_shared.Force(Beyond(m_held + n) - Beyond(m_held));
        m_held += n;
    }
    void Give(std::size_t n) {
        m_shared.Give(Beyond(m_held) - Beyond(m_held - n));
        m_held -= n;
    }

  private:
    static std::size_t Beyond(std::size_t held) { return held > kOwnBytes ? held - kOwnBytes : 0; }
    SharedBytes& m_shared;
    std::size_t m_held = 0;
};

template <class T>
class Counted {
  public:
    using value_type = T;
    explicit Counted(Account& account) noexcept : m_account(&account) {}
    template <class U>
    Counted(const Counted<U>& other) noexcept : m_account(other.m_account) {}

    T* allocate(std::size_t n) {
        if (n > kSharedBytes / sizeof(T)) throw OverBudget();
        m_account->Take(n * sizeof(T));
        try {
            return std::allocator<T>().allocate(n);
        } catch (...) {
            m_account->Give(n * sizeof(T));
            throw;
        }
    }
    void deallocate(T* p, std::size_t n) noexcept {
        std::allocator<T>().deallocate(p, n);
        m_account->Give(n * sizeof(T));
    }
    template <class U>
    bool operator==(const Counted<U>& other) const noexcept {
        return m_account == other.m_account;
    }

  private:
    template <class U>
    friend class Counted;
    Account* m_account;
};

using Alloc = Counted<char>;
using Body = boost::beast::http::basic_string_body<char, std::char_traits<char>, Alloc>;
using Request = boost::beast::http::request<Body, boost::beast::http::basic_fields<Alloc>>;
using RequestParser = boost::beast::http::request_parser<Body, Alloc>;
using CountedString = Body::value_type;

}  // namespace server::web
